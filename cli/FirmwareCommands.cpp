// fw info, fw flash: the bootloader procedures with their log lines and a progress bar.
// fw versions, fetch, update: the update server's catalogue, a verified fetch, and
// fetch-then-flash. fw publish: a version added to a catalogue folder.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>
#include <functional>

#include <CLI/CLI.hpp>

#include "app/AppConfig.h"
#include "app/StringIds.h"
#include "Commands.h"
#include "Output.h"
#include "PortWait.h"
#include "PortList.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "common/FileUtils.h"
#include "common/ValueParse.h"
#include "device/SerialPortRegistry.h"
#include "firmware/Bootloader.h"
#include "firmware/SensorVersion.h"
#include "session/SensorSession.h"
#include "upgrade/CUpgradeClient.h"
#include "upgrade/CataloguePublisher.h"
#include "upgrade/FirmwareFetch.h"

namespace {

// The firmware page's outputs on a terminal: log lines on standard output (or
// standard error when JSON goes to standard output), message boxes on standard
// error, the progress bar on a terminal.
class TerminalBootSink : public IBootloaderSink {
public:
    explicit TerminalBootSink(bool logToStderr) : logToStderr_(logToStderr) {}

    void ShowMessage(int stringId, const std::string& text) override {
        // A port that will not open is explained with its reason by the caller.
        if (stringId == TEXT_PORT_OPEN_FAILED) {
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
    void OnImageInfo(uint32_t length, uint32_t checksum) override {
        imageLength_ = length;
        imageChecksum_ = checksum;
    }

    [[nodiscard]] bool OpenFailed() const { return openFailed_; }
    [[nodiscard]] const std::vector<PartitionItem>& Partitions() const { return partitions_; }
    // "BootLoader", "App0", "App1", or "Unknown" for any other code or none read.
    [[nodiscard]] const char* RunningMode() const { return RunningModeName(runningMode_.value_or(0)); }
    // -1 when the sensor did not say.
    [[nodiscard]] long long DeviceId() const { return deviceId_ ? static_cast<long long>(*deviceId_) : -1; }
    [[nodiscard]] uint32_t ImageLength() const { return imageLength_; }
    [[nodiscard]] uint32_t ImageChecksum() const { return imageChecksum_; }
    void FinishBar() { bar_.Finish(); }
    // A notice from another thread (the Ctrl+C relay), on a clean line.
    void Notice(const std::string& text) {
        bar_.Finish();
        PrintError(text);
    }

private:
    // The log lines that report a failed step; they go where errors go.
    static bool IsFailure(int stringId) {
        return (stringId >= TEXT_BOOT_ENABLE_FAILED && stringId <= TEXT_BOOT_PARTITIONS_FAILED) || (stringId >= TEXT_BOOT_RESET_FAILED && stringId <= TEXT_BOOT_PACKET_FAILED) ||
               stringId == TEXT_BOOT_PACKET_TOO_SMALL;
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
    uint32_t imageLength_ = 0;
    uint32_t imageChecksum_ = 0;
};

// ---- Ctrl+C during fw flash and fw update
// A download that stops half-way leaves the sensor in its bootloader without an
// application. Until the sensor is sent into its bootloader, Ctrl+C stops at once
// and the sensor is unchanged. From then on the first Ctrl+C only says that the
// image is finished first; a second one interrupts before the next packet, and the
// command says where that leaves the sensor. A third ends the program at once.

volatile std::sig_atomic_t gFlashInterrupts = 0;

extern "C" void OnFlashInterrupt(int) {
    gFlashInterrupts = gFlashInterrupts + 1;
    if (gFlashInterrupts >= 2) std::signal(SIGINT, SIG_DFL);
}

void InstallFlashInterruptHandler() {
    gFlashInterrupts = 0;
    HandleInterruptsWith(OnFlashInterrupt);
}

[[nodiscard]] int FlashInterrupts() { return gFlashInterrupts; }

// Every port's download sees the same Ctrl+C; the notice is printed once.
std::atomic<bool> gFinishingNoticePrinted{false};

// Hands Ctrl+C to one download: a stop request when it may stop, the notice when
// it finishes first.
class InterruptRelay {
public:
    InterruptRelay(CBootloader& boot, TerminalBootSink& sink) : thread_([this, &boot, &sink] {
        bool stopped = false;
        while (!done_.load()) {
            const int presses = FlashInterrupts();
            if (!stopped && (presses >= 2 || (presses == 1 && !boot.InBootloaderPhase()))) {
                boot.RequestStop();
                stopped = true;
            } else if (!stopped && presses == 1 && !gFinishingNoticePrinted.exchange(true)) {
                sink.Notice(Text(TEXT_FLASH_FINISHING));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
        PrintError(CleanText(PortOpenFailureText(port.port, boot.Line()->LastOpenError())));
        return EXIT_PORT_ERROR;
    }
    return EXIT_FAILED;
}

// Milliseconds a download waits for the sensor to restart into its bootloader, when
// set to a whole number up to a minute; a real sensor's time otherwise.
constexpr const char* BOOT_RESET_WAIT_ENVIRONMENT = "PALO520G_BOOT_RESET_WAIT_MS";

void Configure(CBootloader& boot, const PortOptions& port) {
    boot.portNumber = RegisterSerialPortPath(port.port);
    boot.baudRate = port.baud;
    if (const char* env = std::getenv(BOOT_RESET_WAIT_ENVIRONMENT); env && *env) {
        char* end = nullptr;
        const long ms = std::strtol(env, &end, 10);
        if (*end == '\0' && ms >= 0 && ms <= 60000) boot.resetWaitMs = static_cast<int>(ms);
    }
}

int RunFirmwareInfo(const PortOptions& port, bool json) {
    if (!WaitForPortToAppear(port.port)) return EXIT_PORT_ERROR;
    TerminalBootSink sink(json);
    SensorSession sensor;
    SensorSession::LineClaim claim = sensor.ClaimLine();
    CBootloader boot(sink, &claim.Line());
    Configure(boot, port);
    if (const int rc = QueryInfo(boot, sink, port); rc != EXIT_OK) return rc;
    if (json) {
        Json partitions = Json::array();
        for (const PartitionItem& item : sink.Partitions()) partitions.push_back(item.tag);
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(std::max(0LL, sink.DeviceId())));
        PrintLine(JsonText({{"running_mode", sink.RunningMode()},
                            {"in_bootloader", static_cast<bool>(boot.inBootloader)},
                            {"device_id", sink.DeviceId()},
                            {"device_id_hex", hex},
                            {"partitions", partitions}}));
    } else if (sink.Partitions().empty()) {
        PrintLine(Text(TEXT_NO_PARTITIONS));
    } else {
        PrintLine(Text(TEXT_PARTITIONS, PartitionNames(sink.Partitions()).c_str()));
    }
    return EXIT_OK;
}

// Queries the sensor, checks that the partition can be programmed, downloads the
// image. The exit code, with every failure printed; with json the log goes to
// standard error and a download that succeeded prints its object on standard output.
// Ctrl+C as above (InstallFlashInterruptHandler first).
int QueryAndFlash(const PortOptions& port, const std::function<std::string()>& imageForPartition, int partition,
                  bool json) {
    if (!WaitForPortToAppear(port.port)) return EXIT_PORT_ERROR;
    TerminalBootSink sink(json);
    SensorSession sensor;
    SensorSession::LineClaim claim = sensor.ClaimLine();
    CBootloader boot(sink, &claim.Line());
    Configure(boot, port);
    InterruptRelay relay(boot, sink);
    // The query tells whether the sensor already runs its bootloader (then no reset
    // is sent) and which partitions it lets us program.
    if (const int rc = QueryInfo(boot, sink, port); rc != EXIT_OK) return rc;
    const std::string modeBefore = sink.RunningMode();
    const auto& items = sink.Partitions();
    if (std::none_of(items.begin(), items.end(), [&](const PartitionItem& item) { return item.tag == partition; })) {
        PrintError(Text(TEXT_PARTITION_NOT_PROGRAMMABLE, partition, PartitionNames(items).c_str()));
        return EXIT_FAILED;
    }
    if (FlashInterrupts() > 0) {
        PrintError(Text(TEXT_STOPPED));
        return EXIT_FAILED;
    }
    const std::string image = imageForPartition();
    if (image.empty()) return EXIT_FAILED;
    boot.selectedPartition = partition;
    const bool ok = boot.DownloadFW(partition, image);
    sink.FinishBar();
    if (ok) {
        if (FlashInterrupts() > 0) PrintError(Text(TEXT_FLASH_COMPLETED_AFTER_CTRL_C));
        if (json) {
            char checksum[16];
            std::snprintf(checksum, sizeof checksum, "0x%08x", sink.ImageChecksum());
            PrintLine(JsonText({{"image", image},
                                {"partition", partition},
                                {"size", sink.ImageLength()},
                                {"checksum", checksum},
                                {"running_mode_before", modeBefore}}));
        }
        return EXIT_OK;
    }
    if (sink.OpenFailed()) {
        PrintError(CleanText(PortOpenFailureText(port.port, boot.Line()->LastOpenError())));
        return EXIT_PORT_ERROR;
    }
    // Where the download left the sensor, and how to recover it.
    if (boot.LeftInBootloader()) {
        PrintError(Text(boot.WasInterrupted() ? TEXT_FLASH_INTERRUPTED : TEXT_FLASH_FAILED_IN_BOOTLOADER, port.port.c_str()));
    } else if (boot.WasInterrupted() || FlashInterrupts() > 0) {
        PrintError(Text(TEXT_STOPPED));
    }
    return EXIT_FAILED;
}

int RunFlash(const PortOptions& port, const std::string& image, int partition, bool json) {
    // Checked before the port is taken: a FIFO or a device would block or never end.
    if (std::string why; !IsReadableRegularFile(image, &why)) {
        PrintError(Text(TEXT_IMAGE_UNREADABLE, image.c_str(), why.c_str()));
        return EXIT_FAILED;
    }
    return QueryAndFlash(port, [&] { return image; }, partition, json);
}

// ------------------------------------------------------------------ update server

struct UpdateOptions {
    std::string url;      // --update-url
    std::string dataDir;  // --data-dir
};

void AddUpdateOptions(CLI::App* command, UpdateOptions& options, bool withDataDir) {
    command->add_option("--update-url", options.url,
                        "Update address (a URL ending in /; overrides PALO520G_UPDATE_URL and appConfig.xml)");
    if (withDataDir) {
        command->add_option("--data-dir", options.dataDir, "Data folder that receives FW_Image (default: the program's)");
    }
}

// The client of the address the settings give; its Logon explains a missing one.
CUpgradeClient MakeClient(const UpdateOptions& options) {
    if (!options.dataDir.empty()) SetProgramPathOverride(options.dataDir);
    SetUpdateUrlOverride(options.url);
    XMLParser doc;
    // The data folder's configuration may name the address, as it does for the window.
    uint8_t* data = nullptr;
    const size_t length = ReadFileData(GetAppConfigPath(), &data);
    if (length > 0) doc.LoadBuffer(data, length);
    ReleaseFileData(data);
    return CUpgradeClient(UpdateAddressFromSettings(doc.FindElement("AppConfig")));
}

// The reason may quote the server: a version name, an archive path, a status text.
void PrintServerFailure(int messageId, const CUpgradeClient& client, const std::string& reason) {
    PrintError(Text(messageId));
    PrintError(client.Address().empty() ? Text(TEXT_NO_UPDATE_ADDRESS_CLI)
                                        : Text(TEXT_REASON, VisibleText(reason).c_str()));
}

// Fetch progress: the bar on a terminal, Ctrl+C cancels.
class FetchProgress : public INetFileCopyProgressListener {
public:
    explicit FetchProgress(std::function<bool()> interrupted) : interrupted_(std::move(interrupted)) {}
    int OnProgress(void*, uint64_t done, uint64_t total, double) override {
        bar_.SetMaximum(total > 0 ? total : 1);
        bar_.SetValue(done);
        return interrupted_() ? 0 : 1;
    }
    void Finish() { bar_.Finish(); }

private:
    std::function<bool()> interrupted_;
    ProgressBar bar_;
};

// Fetches the version into the firmware folder; false after printing why. Ctrl+C
// is asked through interrupted (its handler installed by the caller).
bool FetchVersion(CUpgradeClient& client, const std::string& version, FirmwareFetchResult& result,
                  const std::function<bool()>& interrupted) {
    FetchProgress progress(interrupted);
    result = FetchFirmwareVersion(client, version, FirmwareFolder(), &progress);
    progress.Finish();
    if (result.Ok()) return true;
    PrintServerFailure(result.MessageId(), client, result.reason);
    return false;
}

int RunVersions(const UpdateOptions& options, const std::string& portPath, int baud, bool json) {
    CUpgradeClient client = MakeClient(options);
    if (!client.Logon()) {
        PrintServerFailure(TEXT_SERVER_LOGON_FAILED, client, client.LastError());
        return EXIT_FAILED;
    }
    std::string history;
    if (!client.GetHistoryVersion(history)) {
        PrintServerFailure(TEXT_SERVER_VERSION_LIST_FAILED, client, client.LastError());
        return EXIT_FAILED;
    }
    std::optional<std::string> sensorVersion;
    if (!portPath.empty()) {
        SensorSession sensor;
        SensorSession::LineClaim claim = sensor.ClaimLine();
        sensorVersion = ReadSensorVersionForUpdate(claim.Line(), RegisterSerialPortPath(portPath), baud);
    }
    const std::vector<std::string> newer = sensorVersion ? NewerVersions(history, *sensorVersion) : std::vector<std::string>{};
    const auto isNewer = [&](const std::string& v) { return std::find(newer.begin(), newer.end(), v) != newer.end(); };

    if (json) {
        Json out;
        out["address"] = client.Address();
        out["sensor_version"] = sensorVersion ? Json(*sensorVersion) : Json();
        out["versions"] = Json::array();
        for (const CatalogueEntry& entry : client.Catalogue().versions) {
            Json item;
            item["version"] = entry.version;
            item["size"] = entry.size;
            item["sha256"] = entry.sha256;
            item["notes"] = entry.notes;
            if (sensorVersion) item["newer"] = isNewer(entry.version);
            out["versions"].push_back(std::move(item));
        }
        PrintLine(JsonText(out));
        return EXIT_OK;
    }
    // Everything below comes from the server or the sensor and reaches a terminal.
    PrintLine(Text(TEXT_UPDATE_ADDRESS, VisibleText(client.Address()).c_str()));
    if (sensorVersion) {
        const std::string shown = IsPrintableAscii(*sensorVersion)
                                      ? *sensorVersion
                                      : Text(TEXT_SUSPICIOUS_TEXT, VisibleText(*sensorVersion).c_str());
        PrintLine(sensorVersion->empty() ? Text(TEXT_SENSOR_FIRMWARE_UNKNOWN) : Text(TEXT_SENSOR_FIRMWARE, shown.c_str()));
    }
    if (client.Catalogue().versions.empty()) {
        PrintLine(Text(TEXT_CATALOGUE_EMPTY));
        return EXIT_OK;
    }
    std::vector<std::vector<std::string>> rows;
    rows.push_back({Text(TEXT_COLUMN_VERSION), Text(TEXT_COLUMN_SIZE)});
    if (sensorVersion) rows.back().push_back(Text(TEXT_COLUMN_NEWER));
    rows.back().push_back(Text(TEXT_COLUMN_NOTES));
    for (const CatalogueEntry& entry : client.Catalogue().versions) {
        rows.push_back({VisibleText(entry.version), std::to_string(entry.size)});
        if (sensorVersion) rows.back().push_back(isNewer(entry.version) ? Text(TEXT_YES) : "");
        rows.back().push_back(VisibleText(entry.notes));
    }
    for (const std::string& line : FormatTable(rows)) PrintLine(line);
    return EXIT_OK;
}

int RunFetch(const UpdateOptions& options, const std::string& version, bool json) {
    CUpgradeClient client = MakeClient(options);
    FirmwareFetchResult result;
    InstallInterruptHandler();
    if (!FetchVersion(client, version, result, [] { return InterruptRequested(); })) return EXIT_FAILED;
    if (json) {
        Json out;
        out["version"] = version;
        out["folder"] = result.versionFolder;
        out["archive"] = FirmwareArchivePath(FirmwareFolder());
        out["images"] = result.images;
        PrintLine(JsonText(out));
    } else {
        // The image names come from the archive.
        PrintLine(Text(TEXT_FETCHED_INTO, VisibleText(version).c_str(), VisibleText(result.versionFolder).c_str()));
        for (const std::string& image : result.images)
            PrintLine("  " + VisibleText(CombinePathName(result.versionFolder, image)));
    }
    return EXIT_OK;
}

int RunUpdate(const UpdateOptions& options, const std::string& version, int partition, const PortOptions& port,
              bool json) {
    CUpgradeClient client = MakeClient(options);
    InstallFlashInterruptHandler();
    return QueryAndFlash(
        port,
        [&]() -> std::string {
            FirmwareFetchResult result;
            if (!FetchVersion(client, version, result, [] { return FlashInterrupts() > 0; })) return {};
            const std::string image = PartitionImagePath(result.versionFolder, partition);
            if (!IsFileExist(image)) {
                PrintError(Text(TEXT_BIN_FILE_ERROR));
                PrintError(Text(TEXT_NO_IMAGE_FOR_PARTITION, VisibleText(version).c_str(), partition, partition));
                return {};
            }
            // With --json standard output holds only the flash's object.
            const std::string fetched = Text(TEXT_FETCHED_INTO, VisibleText(version).c_str(), VisibleText(image).c_str());
            if (json) PrintError(fetched);
            else PrintLine(fetched);
            return image;
        },
        partition, json);
}

int RunPublish(const std::string& folder, const std::string& version, const std::vector<std::string>& images,
               const std::vector<std::string>& byPartition, const std::string& notes, bool json) {
    std::vector<std::pair<int, std::string>> list;
    for (size_t i = 0; i < images.size(); ++i) list.emplace_back(static_cast<int>(i), images[i]);
    for (const std::string& item : byPartition) {
        const size_t equals = item.find('=');
        int partition = -1;
        try {
            size_t used = 0;
            if (equals != std::string::npos) partition = std::stoi(item.substr(0, equals), &used);
            if (used != equals) partition = -1;
        } catch (const std::exception&) {
            partition = -1;
        }
        if (partition < 0 || equals + 1 >= item.size()) {
            PrintError(Text(TEXT_BAD_PARTITION_OPTION, item.c_str()));
            return EXIT_USAGE;
        }
        list.emplace_back(partition, item.substr(equals + 1));
    }
    PublishedVersion published;
    std::string error;
    if (!PublishFirmwareVersion(folder, version, list, notes, &published, &error)) {
        PrintError(error);
        return EXIT_FAILED;
    }
    if (json)
        PrintLine(JsonText({{"version", version},
                            {"archive", published.archivePath},
                            {"size", published.size},
                            {"sha256", published.sha256},
                            {"catalogue", CombinePathName(folder, "catalogue.json")}}));
    else
        PrintLine(Text(TEXT_PUBLISHED, version.c_str(), published.archivePath.c_str(),
                       static_cast<unsigned long long>(published.size), published.sha256.c_str()));
    return EXIT_OK;
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
        commands.push_back({info, [port, json] { return RunFirmwareInfo(*port, *json); }});
    }
    {
        CLI::App* flash = fw->add_subcommand("flash", "Download a firmware image into a partition");
        auto port = std::make_shared<PortListOptions>();
        auto image = std::make_shared<std::string>();
        auto partition = std::make_shared<int>(-1);
        auto json = std::make_shared<bool>(false);
        AddPortListOptions(flash, *port);
        flash->add_option("IMAGE", *image, "Firmware image (APPn.bin)")->required()->check(CLI::ExistingFile);
        flash->add_option("--partition", *partition, "Partition index (0 = App0)")->required()->check(CLI::Range(0, 31));
        flash->add_flag("--json", *json, "Print JSON (the log lines go to standard error)");
        commands.push_back({flash, [port, image, partition, json] {
            // One handler for every port's download: each sees the same Ctrl+C.
            InstallFlashInterruptHandler();
            return RunOnEveryPort(*port, *json,
                                  [&](const PortOptions& one) { return RunFlash(one, *image, *partition, *json); });
        }});
    }
    {
        CLI::App* versions = fw->add_subcommand("versions", "The update server's firmware versions");
        auto options = std::make_shared<UpdateOptions>();
        auto port = std::make_shared<std::string>();
        auto baud = std::make_shared<int>(115200);
        auto json = std::make_shared<bool>(false);
        AddUpdateOptions(versions, *options, false);
        versions->add_option("-p,--port", *port, "Also read the sensor's version and mark the newer ones");
        versions->add_option("-b,--baud", *baud, "Baud rate")->capture_default_str()->check(CLI::Range(1, 4000000));
        versions->add_flag("--json", *json, "Print JSON");
        commands.push_back({versions, [=] { return RunVersions(*options, *port, *baud, *json); }});
    }
    {
        CLI::App* fetch = fw->add_subcommand("fetch", "Fetch, verify and unpack a version into FW_Image");
        auto options = std::make_shared<UpdateOptions>();
        auto version = std::make_shared<std::string>();
        auto json = std::make_shared<bool>(false);
        AddUpdateOptions(fetch, *options, true);
        fetch->add_option("VERSION", *version, "Version name as the catalogue lists it")->required();
        fetch->add_flag("--json", *json, "Print JSON");
        commands.push_back({fetch, [=] { return RunFetch(*options, *version, *json); }});
    }
    {
        CLI::App* update = fw->add_subcommand("update", "Fetch a version and download its image into a partition");
        auto options = std::make_shared<UpdateOptions>();
        auto port = std::make_shared<PortOptions>();
        auto version = std::make_shared<std::string>();
        auto partition = std::make_shared<int>(-1);
        AddUpdateOptions(update, *options, true);
        AddPortOptions(update, *port);
        update->add_option("VERSION", *version, "Version name as the catalogue lists it")->required();
        update->add_option("--partition", *partition, "Partition index (APP<N>.bin of the version)")
            ->required()
            ->check(CLI::Range(0, 31));
        auto json = std::make_shared<bool>(false);
        update->add_flag("--json", *json, "Print JSON (the log lines go to standard error)");
        commands.push_back({update, [=] { return RunUpdate(*options, *version, *partition, *port, *json); }});
    }
    {
        CLI::App* publish = fw->add_subcommand("publish", "Add a version to a catalogue folder (for the firmware's maker)");
        auto folder = std::make_shared<std::string>();
        auto version = std::make_shared<std::string>();
        auto images = std::make_shared<std::vector<std::string>>();
        auto byPartition = std::make_shared<std::vector<std::string>>();
        auto notes = std::make_shared<std::string>();
        publish->add_option("--catalogue", *folder, "Catalogue folder (holds catalogue.json)")->required();
        publish->add_option("VERSION", *version, "Version name (1.0.3)")->required();
        publish->add_option("IMAGE", *images, "Images in partition order: APP0.bin, APP1.bin, ...")
            ->check(CLI::ExistingFile);
        publish->add_option("--partition", *byPartition, "N=FILE: the image of partition N")->allow_extra_args(false);
        publish->add_option("--notes", *notes, "Release notes shown with the version");
        auto json = std::make_shared<bool>(false);
        publish->add_flag("--json", *json, "Print JSON");
        commands.push_back({publish, [=] {
            if (images->empty() && byPartition->empty()) {
                PrintError("fw publish: give at least one image");
                return EXIT_USAGE;
            }
            return RunPublish(*folder, *version, *images, *byPartition, *notes, *json);
        }});
    }
}
