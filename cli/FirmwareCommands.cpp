// fw info, fw flash: the bootloader procedures with their log lines and a progress bar.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <CLI/CLI.hpp>

#include "CliStrings.h"
#include "Commands.h"
#include "Output.h"
#include "app/StringTable.h"
#include "common/FileUtils.h"
#include "device/SerialPortRegistry.h"
#include "firmware/Bootloader.h"

namespace {

constexpr int kMessageOpenFailed = 10504;

// The firmware page's outputs on a terminal: log lines on standard output (or
// standard error when JSON goes to standard output), message boxes on standard
// error, the progress bar on a terminal.
class TerminalBootSink : public IBootloaderSink {
public:
    explicit TerminalBootSink(bool logToStderr) : logToStderr_(logToStderr) {}

    void ShowMessage(int stringId, const std::string& text) override {
        // A port that will not open is explained with its reason by the caller.
        if (stringId == kMessageOpenFailed) {
            openFailed_ = true;
            return;
        }
        bar_.Finish();
        PrintError(CleanText(text));
    }
    void AppendLog(int stringId, const std::string& text) override { Log(text, IsFailure(stringId)); }
    void SetLabel(BootLabel label, const std::string& text) override {
        switch (label) {
        case BootLabel::RunningMode:
        case BootLabel::FileSize:
        case BootLabel::FileVerifyNum: Log(text); break;
        case BootLabel::DeviceId:              // the same text went to the log
        case BootLabel::DownloadProgressText:  // the bar shows it
            break;
        }
    }
    void SetProgressRange(uint32_t maximum) override { bar_.SetMaximum(maximum); }
    void SetProgressValue(uint32_t value) override { bar_.SetValue(value); }
    void SetBusyVisible(bool visible) override {
        if (!visible) bar_.Finish();
    }
    void SetPartitionList(const std::vector<PartitionItem>& items, int /*selected*/) override { partitions_ = items; }
    void ScrollLogToEnd() override {}
    void OnRunningMode(uint32_t mode) override { runningMode_ = mode; }
    void OnDeviceId(uint32_t deviceId) override { deviceId_ = deviceId; }

    [[nodiscard]] bool OpenFailed() const { return openFailed_; }
    [[nodiscard]] const std::vector<PartitionItem>& Partitions() const { return partitions_; }
    // "BootLoader", "App0", "App1", or "Unknown" for any other code or none read.
    [[nodiscard]] const char* RunningMode() const { return RunningModeName(runningMode_.value_or(0)); }
    // -1 when the sensor did not say.
    [[nodiscard]] long long DeviceId() const { return deviceId_ ? static_cast<long long>(*deviceId_) : -1; }
    void FinishBar() { bar_.Finish(); }

private:
    // The log lines that report a failed step; they go where errors go.
    static bool IsFailure(int stringId) {
        return (stringId >= 10506 && stringId <= 10509) || (stringId >= 10512 && stringId <= 10514) ||
               stringId == 10520;
    }
    void Log(const std::string& text, bool failure = false) {
        const std::string line = CleanText(text);
        if (line.empty()) return;
        bar_.Finish();
        if (logToStderr_ || failure) {
            PrintError(line);
        } else {
            PrintLine(line);
        }
    }

    const bool logToStderr_;
    ProgressBar bar_;
    bool openFailed_ = false;
    std::vector<PartitionItem> partitions_;
    std::optional<uint32_t> runningMode_;
    std::optional<uint32_t> deviceId_;
};

// Ctrl+C during a procedure asks the bootloader to stop before its next packet.
class InterruptRelay {
public:
    explicit InterruptRelay(CBootloader& boot) : thread_([this, &boot] {
        while (!done_.load()) {
            if (InterruptRequested()) {
                boot.RequestStop();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }) {}
    ~InterruptRelay() {
        done_.store(true);
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

std::string PartitionNames(const std::vector<PartitionItem>& items) {
    std::string names;
    for (const PartitionItem& item : items) {
        if (!names.empty()) names += ", ";
        names += item.text;
    }
    return names;
}

// Runs the information query. EXIT_OK, EXIT_PORT_ERROR or EXIT_FAILED (printed).
int QueryInfo(CBootloader& boot, TerminalBootSink& sink, const PortOptions& port) {
    if (boot.UpdateFWInfo()) return EXIT_OK;
    if (sink.OpenFailed()) {
        PrintError(PortOpenFailure(port.port, boot.Device()));
        return EXIT_PORT_ERROR;
    }
    return EXIT_FAILED;
}

void Configure(CBootloader& boot, const PortOptions& port) {
    boot.portNumber = RegisterSerialPortPath(port.port);
    boot.baudRate = port.baud;
}

int RunInfo(const PortOptions& port, bool json) {
    TerminalBootSink sink(json);
    CBootloader boot(sink);
    Configure(boot, port);
    if (const int rc = QueryInfo(boot, sink, port); rc != EXIT_OK) return rc;
    if (json) {
        std::vector<std::string> partitions;
        for (const PartitionItem& item : sink.Partitions()) partitions.push_back(JsonNumber(static_cast<long long>(item.tag)));
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(std::max(0LL, sink.DeviceId())));
        PrintLine(JsonObject()
                      .Str("running_mode", sink.RunningMode())
                      .Raw("in_bootloader", boot.inBootloader ? "true" : "false")
                      .Int("device_id", sink.DeviceId())
                      .Str("device_id_hex", hex)
                      .Raw("partitions", JsonArray(partitions))
                      .Text());
    } else if (sink.Partitions().empty()) {
        PrintLine(Text(CLI_TEXT_NO_PARTITIONS));
    } else {
        PrintLine(Text(CLI_TEXT_PARTITIONS, PartitionNames(sink.Partitions()).c_str()));
    }
    return EXIT_OK;
}

int RunFlash(const PortOptions& port, const std::string& image, int partition) {
    // Checked before the port is taken: a FIFO or a device would block or never end.
    if (std::string why; !IsReadableRegularFile(image, &why)) {
        PrintError(Text(CLI_TEXT_IMAGE_UNREADABLE, image.c_str(), why.c_str()));
        return EXIT_FAILED;
    }
    TerminalBootSink sink(false);
    CBootloader boot(sink);
    Configure(boot, port);
    InstallInterruptHandler();
    InterruptRelay relay(boot);
    // The query tells whether the sensor already runs its bootloader (then no reset
    // is sent) and which partitions it lets us program.
    if (const int rc = QueryInfo(boot, sink, port); rc != EXIT_OK) return rc;
    const auto& items = sink.Partitions();
    if (std::none_of(items.begin(), items.end(), [&](const PartitionItem& item) { return item.tag == partition; })) {
        PrintError(Text(CLI_TEXT_PARTITION_NOT_PROGRAMMABLE, partition, PartitionNames(items).c_str()));
        return EXIT_FAILED;
    }
    if (InterruptRequested()) {
        PrintError(Text(CLI_TEXT_STOPPED));
        return EXIT_FAILED;
    }
    boot.selectedPartition = partition;
    const bool ok = boot.DownloadFW(partition, image);
    sink.FinishBar();
    if (ok) return EXIT_OK;
    if (sink.OpenFailed()) {
        PrintError(PortOpenFailure(port.port, boot.Device()));
        return EXIT_PORT_ERROR;
    }
    if (InterruptRequested()) PrintError(Text(CLI_TEXT_STOPPED));
    return EXIT_FAILED;
}

}  // namespace

void AddFirmwareCommands(CLI::App& app, CommandList& commands) {
    CLI::App* fw = app.add_subcommand("fw", "Firmware information and download through the bootloader");
    fw->require_subcommand(1);
    {
        CLI::App* info = fw->add_subcommand("info", "Running mode, device ID and programmable partitions");
        auto port = std::make_shared<PortOptions>();
        auto json = std::make_shared<bool>(false);
        AddPortOptions(info, *port);
        info->add_flag("--json", *json, "Print JSON (the log lines go to standard error)");
        commands.push_back({info, [port, json] { return RunInfo(*port, *json); }});
    }
    {
        CLI::App* flash = fw->add_subcommand("flash", "Download a firmware image into a partition");
        auto port = std::make_shared<PortOptions>();
        auto image = std::make_shared<std::string>();
        auto partition = std::make_shared<int>(-1);
        AddPortOptions(flash, *port);
        flash->add_option("IMAGE", *image, "Firmware image (APPn.bin)")->required()->check(CLI::ExistingFile);
        flash->add_option("--partition", *partition, "Partition index (0 = App0)")->required()->check(CLI::Range(0, 31));
        commands.push_back({flash, [port, image, partition] { return RunFlash(*port, *image, *partition); }});
    }
}
