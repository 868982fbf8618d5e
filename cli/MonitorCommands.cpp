// monitor, replay: target reports of the acquisition worker, live or from a record file.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "app/StringIds.h"
#include "Commands.h"
#include "Output.h"
#include "PortWait.h"
#include "ReportFormat.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "common/FileUtils.h"
#include "common/Version.h"
#include "monitor/AcquisitionWorker.h"
#include "monitor/CurrentEstimate.h"
#include "monitor/RecordSidecar.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class RunEnd { None, Count, ReplayEnd, DeviceLost, Interrupted, OutputClosed, WorkerEnded, Timeout };

// Prints each decoded report as it arrives (on the worker thread) and tells the
// waiting main thread how the run ended.
//
// The line writer belongs to the worker thread while the run goes on and to the
// main thread once the worker is joined (Flush). A report costs no lock and no
// clock read: the end is an atomic, and the silence timeout is judged by the main
// thread from the count of printed reports.
class ReportPrinter : public IAcquisitionSink {
public:
    // mode: how the lines are written (LineWriter): in blocks for a replay without
    // pauses, per read for a live run, each by itself for a paced replay.
    // stamped: each JSON line carries the time it was read (a live run).
    ReportPrinter(ReportFormat format, long long count, const ParamSetting& setting, const CurrentConstants& constants,
                  LineWriter::Mode mode, bool stamped = false)
        : format_(format), count_(count), setting_(setting), constants_(constants), mode_(mode), stamped_(stamped),
          writer_(mode), formatter_(format), runStart_(Clock::now()) {
        // The estimate depends on the state alone: one value per state a report can carry.
        for (size_t s = 0; s < currents_.size(); ++s)
            currents_[s] = EstimateCurrent(static_cast<int>(s), setting_, constants_);
        if (format_ == ReportFormat::Csv) {
            writer_.Line() += ReportCsvHeader();
            writer_.EndLine();
        }
    }

    void OnNewReport(const TargetReport& report) override {
        if (end_.load(std::memory_order_acquire) != RunEnd::None) return;  // nothing after the count or a stop
        const double current = report.state >= 0 && static_cast<size_t>(report.state) < currents_.size()
                                   ? currents_[static_cast<size_t>(report.state)]
                                   : EstimateCurrent(report.state, setting_, constants_);
        if (stamped_) {
            const ReportStamp stamp = MakeReportStamp(runStart_);
            formatter_.Append(writer_.Line(), report, current, static_cast<unsigned long long>(printed_), &stamp);
        } else {
            formatter_.Append(writer_.Line(), report, current, static_cast<unsigned long long>(printed_));
        }
        if (!writer_.EndLine()) {
            Finish(RunEnd::OutputClosed);
            return;
        }
        const long long printed = printed_ + 1;
        printed_ = printed;
        printedCount_.store(printed, std::memory_order_relaxed);
        if (printed >= count_ && count_ > 0) Finish(RunEnd::Count);
    }
    // The lines of one read go out together, as soon as it is scanned.
    void OnChunkDone() override {
        if (end_.load(std::memory_order_acquire) == RunEnd::None && mode_ == LineWriter::BATCH && !writer_.Flush())
            Finish(RunEnd::OutputClosed);
    }
    // Writes the lines still gathered; false when standard output is gone. Only
    // once the worker has been stopped.
    bool Flush() { return writer_.Flush(); }
    void OnReplayEnd() override { Finish(RunEnd::ReplayEnd); }
    void OnDeviceLost() override { Finish(RunEnd::DeviceLost); }
    // Takes reports again after a lost line came back (the worker is stopped); the
    // count goes on.
    void Resume() {
        std::lock_guard<std::mutex> lock(mutex_);
        RunEnd lost = RunEnd::DeviceLost;
        end_.compare_exchange_strong(lost, RunEnd::None, std::memory_order_acq_rel);
    }
    // Said at once; the run goes on without recording and ends with a failure code.
    void OnRecordFailed() override {
        recordFailed_ = true;
        if (worker_) {
            const RecordFailureInfo failure = worker_->RecordFailure();
            PrintError(Text(TEXT_RECORD_FAILED, failure.path.c_str(), failure.reason.c_str()));
        }
    }
    // The worker whose record failures are reported.
    void SetWorker(const CAcquisitionWorker* worker) { worker_ = worker; }
    [[nodiscard]] bool RecordFailed() const { return recordFailed_.load(); }

    // Waits until the run ends by itself, Ctrl+C is pressed, the worker is gone or no
    // report came for timeoutSeconds (0 = no limit), or the run has lasted durationSeconds
    // (0 = no limit; it then ends as after its count). Later reports are not printed.
    RunEnd Wait(const CAcquisitionWorker& worker, int timeoutSeconds, double durationSeconds = 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        long long seen = printedCount_.load(std::memory_order_relaxed);
        Clock::time_point lastReport = Clock::now();
        while (end_.load() == RunEnd::None) {
            changed_.wait_for(lock, std::chrono::milliseconds(50));
            if (end_.load() != RunEnd::None) break;
            const Clock::time_point now = Clock::now();
            if (const long long printed = printedCount_.load(std::memory_order_relaxed); printed != seen) {
                seen = printed;
                lastReport = now;
            }
            if (InterruptRequested()) {
                Finish(RunEnd::Interrupted, lock);
            } else if (!worker.IsWorkerActive()) {
                Finish(RunEnd::WorkerEnded, lock);
            } else if (timeoutSeconds > 0 && now - lastReport > std::chrono::seconds(timeoutSeconds)) {
                Finish(RunEnd::Timeout, lock);
            } else if (durationSeconds > 0 && now - runStart_ >= std::chrono::duration<double>(durationSeconds)) {
                Finish(RunEnd::Count, lock);
            }
        }
        return end_.load();
    }

private:
    // The first end decides; the waiting thread is woken.
    void Finish(RunEnd end) {
        std::unique_lock<std::mutex> lock(mutex_);
        Finish(end, lock);
    }
    void Finish(RunEnd end, std::unique_lock<std::mutex>& /*held*/) {
        RunEnd none = RunEnd::None;
        end_.compare_exchange_strong(none, end, std::memory_order_acq_rel);
        changed_.notify_all();
    }

    const ReportFormat format_;
    const long long count_;
    const ParamSetting setting_;
    const CurrentConstants constants_;
    const LineWriter::Mode mode_;
    const bool stamped_;
    LineWriter writer_;               // worker thread during the run, then the main thread
    ReportLineFormatter formatter_;   // worker thread
    const Clock::time_point runStart_;
    std::array<double, 256> currents_{};
    long long printed_ = 0;           // worker thread
    std::atomic<long long> printedCount_{0};  // printed_, for the main thread's timeout
    std::mutex mutex_;  //!< Protects the waits on changed_ (end_ changes under it, so no wake is missed).
    std::condition_variable changed_;
    std::atomic<RunEnd> end_{RunEnd::None};
    std::atomic<bool> recordFailed_{false};
    const CAcquisitionWorker* worker_ = nullptr;
};

struct MonitorOptions {
    PortOptions port;
    bool json = false;
    long long count = 0;
    std::string recordFolder;
    std::string configPath;
    int timeoutSeconds = 0;
    bool reconnect = false;
    double durationSeconds = 0;  // --duration; 0 = until the count or Ctrl+C
};

struct ReplayOptions {
    std::string file;
    bool json = false;
    std::string format = "text";
    long long count = 0;
    long long from = 0;
    int intervalMs = 0;
    double speed = 1.0;
    std::string configPath;
};

ReportFormat FormatOf(const std::string& name) {
    if (name == "jsonl" || name == "json") return ReportFormat::JsonLine;
    if (name == "csv") return ReportFormat::Csv;
    return ReportFormat::Text;
}

// Parameters and current constants of a configuration file; sections that are
// missing keep the defaults. False after printing why the file could not be used.
bool LoadEstimateInputs(const std::string& path, ParamSetting* setting, CurrentConstants& constants) {
    XMLParser doc;
    if (!LoadConfigFile(path, doc)) return false;
    const XMLNode root = doc.FindElement("AppConfig");
    if (setting) {
        if (const XMLNode section = root.FindChild("ParamSetting")) LoadParamSetting(section, *setting);
    }
    if (const XMLNode objectInfo = root.FindChild("ObjectInfo")) LoadCurrentConstants(objectInfo, constants);
    return true;
}

int FinishRun(RunEnd end, CAcquisitionWorker& worker, ReportPrinter& printer, bool recording) {
    // Stop cancels the read, joins the worker and switches the report output off.
    worker.Stop();
    printer.Flush();
    // A failed recording was reported when it happened; the run still fails.
    if (recording && !printer.RecordFailed() && !worker.RecordFilePath().empty())
        PrintError(Text(TEXT_RECORDED, worker.RecordFilePath().c_str()));
    int rc = EXIT_OK;
    switch (end) {
    case RunEnd::Interrupted: PrintError(Text(TEXT_STOPPED)); break;
    case RunEnd::DeviceLost: PrintError(Text(TEXT_DEVICE_LOST)); rc = EXIT_FAILED; break;
    default: break;
    }
    return printer.RecordFailed() ? EXIT_FAILED : rc;
}

// --reconnect: after the line was lost, waits for the port to come back, opens it
// and starts the worker again (a recording goes on in a new file). RunEnd::None
// when the run goes on; Interrupted when Ctrl+C came first.
RunEnd Reconnect(const PortOptions& port, SensorSession& sensor, SensorSession::LineClaim& claim,
                 CAcquisitionWorker& worker, ReportPrinter& printer) {
    worker.Stop();
    printer.Flush();
    if (worker.saveData && !printer.RecordFailed() && !worker.RecordFilePath().empty())
        PrintError(Text(TEXT_RECORDED, worker.RecordFilePath().c_str()));
    claim.Release();
    sensor.Close();
    PrintError(Text(TEXT_LINE_LOST_WAITING, VisibleText(port.port).c_str()));
    for (;;) {
        if (!WaitForPortToReturn(port.port)) return RunEnd::Interrupted;
        // The node of a replugged adapter may show before it can be opened (udev is
        // still setting its permissions): try again until it opens.
        if (sensor.Open(port.port, port.baud)) break;
        if (InterruptRequested()) return RunEnd::Interrupted;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    claim = sensor.ClaimLine();
    printer.Resume();
    if (worker.Start() != ACQUISITION_STARTED) return RunEnd::DeviceLost;
    PrintError(Text(TEXT_LINE_BACK, VisibleText(port.port).c_str()));
    return RunEnd::None;
}

int RunMonitor(const MonitorOptions& options) {
    ParamSetting setting;
    InitParamSetting(setting);
    CurrentConstants constants;
    if (!options.configPath.empty() && !LoadEstimateInputs(options.configPath, nullptr, constants)) return EXIT_FAILED;
    // A folder that cannot take the record fails now, not after the run.
    if (std::string why; !options.recordFolder.empty() && !PrepareWritableFolder(options.recordFolder, &why)) {
        PrintError(Text(TEXT_RECORD_FOLDER_UNUSABLE, options.recordFolder.c_str(), why.c_str()));
        return EXIT_FAILED;
    }

    DeviceSession session;
    if (const int rc = session.Open(options.port); rc != EXIT_OK) return rc;
    SensorSession& sensor = session.Sensor();
    // The current estimate follows the sensor's own configuration.
    if (const SensorResult read = sensor.ReadParameters(setting); !read) {
        PrintSensorFailure(read, TEXT_READ_PARAMS_FAILED);
        return EXIT_FAILED;
    }

    ReportPrinter printer(options.json ? ReportFormat::JsonLine : ReportFormat::Text, options.count, setting, constants,
                          LineWriter::BATCH, true);
    SensorSession::LineClaim claim = sensor.ClaimLine();
    CAcquisitionWorker worker(&claim.Line(), printer);
    printer.SetWorker(&worker);
    worker.replayMode = 0;
    worker.decodeDecibels = false;
    worker.keepLastReport = false;
    if (!options.recordFolder.empty()) {
        worker.saveData = 1;
        worker.saveDataPath = std::filesystem::absolute(options.recordFolder).lexically_normal().string();
        // The description beside the record lets a replay show what this run shows.
        sensor.ReadIdentity();
        RecordSidecar description;
        description.toolVersion = PaloVersionText();
        description.port = options.port.port;
        description.baudRate = options.port.baud;
        description.firmwareVersion = sensor.Version();
        description.serialNumber = sensor.SerialNumber();
        description.params = setting;
        description.constants = constants;
        worker.recordDescription = description;
    }
    InstallInterruptHandler();
    if (worker.Start() != ACQUISITION_STARTED) {
        PrintError(Text(TEXT_DEVICE_NOT_CONNECTED));
        return EXIT_FAILED;
    }
    PrintError(Text(TEXT_MONITORING, options.port.port.c_str()));
    RunEnd end = printer.Wait(worker, options.timeoutSeconds, options.durationSeconds);
    while (end == RunEnd::DeviceLost && options.reconnect) {
        end = Reconnect(options.port, sensor, claim, worker, printer);
        if (end == RunEnd::None) end = printer.Wait(worker, options.timeoutSeconds, options.durationSeconds);
    }
    const int rc = FinishRun(end, worker, printer, worker.saveData != 0);
    if (end == RunEnd::Timeout) {
        PrintError(Text(TEXT_NO_REPORT_TIMEOUT, options.timeoutSeconds));
        return EXIT_FAILED;
    }
    if (end == RunEnd::WorkerEnded) return EXIT_FAILED;
    return rc;
}

int RunReplay(const ReplayOptions& options) {
    ParamSetting setting;
    InitParamSetting(setting);
    CurrentConstants constants;
    const std::string path = std::filesystem::absolute(options.file).lexically_normal().string();
    // Checked without opening: the worker opens the file once and streams it, so a
    // FIFO's writer loses nothing.
    if (std::error_code ec; std::filesystem::is_directory(path, ec) || access(path.c_str(), R_OK) != 0) {
        PrintError(Text(TEXT_RECORD_UNREADABLE, path.c_str()));
        return EXIT_FAILED;
    }
    // The recording's own description gives the parameters and constants of the live
    // run; a --config given here still decides.
    const ReplayDescription description = LoadReplayDescription(path);
    ReportDescriptionProblems(description);
    if (description.usable) {
        setting = description.sidecar.params;
        constants = description.sidecar.constants;
    }
    if (!options.configPath.empty() && !LoadEstimateInputs(options.configPath, &setting, constants)) return EXIT_FAILED;

    // Replay needs no sensor: the worker has no line.
    // Without pauses the lines go out in blocks; a paced replay shows each as it comes.
    const bool paced = options.intervalMs > 0 && options.speed > 0;
    ReportPrinter printer(options.json ? ReportFormat::JsonLine : FormatOf(options.format), options.count, setting,
                          constants, paced ? LineWriter::EACH_LINE : LineWriter::BLOCKS);
    CAcquisitionWorker worker(nullptr, printer);
    worker.replayMode = 1;
    // The lines are made from the raw values; nobody reads the last report.
    worker.decodeDecibels = false;
    worker.keepLastReport = false;
    worker.replayInterval = options.intervalMs;
    worker.SetReplaySpeed(options.speed);
    worker.replaySkipReports = static_cast<uint64_t>(options.from);
    worker.lastReplayFile = path;
    InstallInterruptHandler();
    if (worker.Start() != ACQUISITION_STARTED) {
        PrintError(Text(TEXT_RECORD_UNREADABLE, path.c_str()));
        return EXIT_FAILED;
    }
    const RunEnd end = printer.Wait(worker, 0);
    if (end == RunEnd::WorkerEnded) {
        worker.Stop();
        PrintError(Text(TEXT_RECORD_UNREADABLE, path.c_str()));
        return EXIT_FAILED;
    }
    return FinishRun(end, worker, printer, false);
}

}  // namespace

void ReportDescriptionProblems(const ReplayDescription& description) {
    if (description.found && !description.usable) {
        PrintError(Text(TEXT_DESCRIPTION_UNUSABLE, VisibleText(description.path).c_str(),
                        VisibleText(description.error).c_str()));
    } else if (!description.replaced.empty()) {
        std::string list;
        for (const std::string& item : description.replaced) list += (list.empty() ? "" : ", ") + item;
        PrintError(Text(TEXT_DESCRIPTION_VALUES_REPLACED, VisibleText(description.path).c_str(), VisibleText(list).c_str()));
    }
}

void AddMonitorCommands(CLI::App& app, CommandList& commands) {
    {
        CLI::App* monitor = app.add_subcommand("monitor", "Print live target reports");
        auto options = std::make_shared<MonitorOptions>();
        AddPortOptions(monitor, options->port);
        monitor->add_flag("--json", options->json, "One JSON object per report");
        monitor->add_option("-n,--count", options->count, "Stop after this many reports")->check(CLI::PositiveNumber);
        CLI::Option* record =
            monitor->add_option("--record", options->recordFolder, "Record the raw stream into a file in this folder");
        monitor->add_option("--config", options->configPath, "appConfig.xml whose ObjectInfo supplies the current constants")
            ->check(CLI::ExistingFile);
        monitor->add_flag("--reconnect", options->reconnect,
                          "Keep going when the line is lost: wait for the port to come back and go on");
        monitor->add_option("--timeout", options->timeoutSeconds, "Fail when no report arrives for this many seconds")
            ->check(CLI::NonNegativeNumber);
        monitor->add_option("--duration", options->durationSeconds, "Stop after this many seconds (success)")
            ->check(CLI::PositiveNumber);
        commands.push_back({monitor, [options, record] {
            // An empty folder name would run without recording while the user asked for a record.
            if (record->count() > 0 && options->recordFolder.empty()) {
                PrintError(Text(TEXT_RECORD_FOLDER_EMPTY));
                return EXIT_USAGE;
            }
            return RunMonitor(*options);
        }});
    }
    {
        CLI::App* replay = app.add_subcommand("replay", "Decode a record file");
        auto options = std::make_shared<ReplayOptions>();
        replay->add_option("FILE", options->file, "Record file (RadarData_*.dat)")->required()->check(CLI::ExistingFile);
        CLI::Option* json = replay->add_flag("--json", options->json, "One JSON object per report (--format jsonl)");
        replay->add_option("--format", options->format, "Output: text, jsonl or csv (with a header line)")
            ->capture_default_str()
            ->check(CLI::IsMember({"text", "jsonl", "csv"}))
            ->excludes(json);
        replay->add_option("-n,--count", options->count, "Stop after this many reports")->check(CLI::PositiveNumber);
        replay->add_option("--interval", options->intervalMs, "Pause after each report frame, ms")
            ->capture_default_str()
            ->check(CLI::Range(0, 3600000));
        replay->add_option("--from", options->from, "Skip this many reports first")->check(CLI::NonNegativeNumber);
        replay->add_option("--speed", options->speed, "Play this many times faster than --interval (0 = no pause)")
            ->capture_default_str()
            ->check(CLI::Range(0.0, 1000.0));
        replay->add_option("--config", options->configPath,
                           "appConfig.xml with the parameters for the current estimate (instead of the recording's own)")
            ->check(CLI::ExistingFile);
        commands.push_back({replay, [options] { return RunReplay(*options); }});
    }
}
