// threshold: the sensor's own threshold generation, followed by a read-back of both tables.
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <tuple>

#include <CLI/CLI.hpp>

#include "app/StringIds.h"
#include "Commands.h"
#include "Output.h"
#include "common/ValueParse.h"
#include "params/ParamEditSession.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"
#include "params/ThresholdGeneration.h"

namespace {

struct ThresholdOptions {
    PortOptions port;
    std::string trigger = std::to_string(DEFAULT_TRIGGER_COEFFICIENT);
    std::string hold = std::to_string(DEFAULT_HOLD_COEFFICIENT);
    std::string scan = std::to_string(DEFAULT_SCAN_TIME);
    bool json = false;
    int timeoutSeconds = 0;
    // The old names of the coefficients, still taken: params write's --trigger and
    // --hold take whole tables, so the same words here meant something else.
    std::string oldTrigger;
    std::string oldHold;
};

// Progress into the bar; the end of the run to the waiting main thread.
class GenerationSink : public ISensingGenerateSink {
public:
    void OnSensingProgress(int progress) override {
        bar_.SetValue(progress < 0 ? 0 : static_cast<uint64_t>(progress));
    }
    void OnSensingFinished(int success) override {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        success_ = success;
        changed_.notify_all();
    }
    // True when the run finished by itself; false on Ctrl+C or the time-out.
    bool Wait(int timeoutSeconds, bool& timedOut) {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(mutex_);
        timedOut = false;
        while (!finished_) {
            changed_.wait_for(lock, std::chrono::milliseconds(50));
            if (finished_) break;
            if (InterruptRequested()) return false;
            if (timeoutSeconds > 0 && std::chrono::steady_clock::now() - start > std::chrono::seconds(timeoutSeconds)) {
                timedOut = true;
                return false;
            }
        }
        return true;
    }
    [[nodiscard]] int Success() {
        std::lock_guard<std::mutex> lock(mutex_);
        return success_;
    }
    ProgressBar& Bar() { return bar_; }

private:
    ProgressBar bar_;
    std::mutex mutex_;  //!< Protects finished_ and success_.
    std::condition_variable changed_;
    bool finished_ = false;
    int success_ = 0;
};

// The local time of day, "14:05:09".
std::string ClockText(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// "30,31,…": a table as params write --trigger and --hold take it.
std::string GateListText(const uint32_t (&gates)[PARAM_GATE_COUNT]) {
    std::string text;
    for (uint32_t value : gates) {
        if (!text.empty()) text += ',';
        text += std::to_string(value);
    }
    return text;
}

// One input as the generator's edit takes it: whole number, forced into its limits.
bool TakeInput(const char* name, const std::string& text, long long minimum, long long maximum, int& value) {
    double typed = 0.0;
    if (!ParseWholeNumberText(text, typed)) {
        PrintError(Text(TEXT_NOT_A_WHOLE_NUMBER, name, text.c_str()));
        return false;
    }
    const LimitCorrection result = ApplyEditLimits(typed, minimum, maximum);
    if (result.corrected) PrintError(Text(TEXT_NOTICE_WITH_KEY, name, result.text.c_str(), result.key));
    value = static_cast<int>(result.value);
    return true;
}

int RunThreshold(ThresholdOptions options) {
    // A notice names the option as it was typed.
    const char* triggerName = "--trigger-coefficient";
    const char* holdName = "--hold-coefficient";
    for (auto [old, name, value, target] :
         {std::tuple{"--trigger", &triggerName, &options.oldTrigger, &options.trigger},
          std::tuple{"--hold", &holdName, &options.oldHold, &options.hold}}) {
        if (value->empty()) continue;
        PrintError(Text(TEXT_OPTION_RENAMED, old, *name, old));
        *name = old;
        *target = *value;
    }
    int trigger = 0;
    int hold = 0;
    int scan = 0;
    if (!TakeInput(triggerName, options.trigger, SENSING_COEFFICIENT_MIN, SENSING_COEFFICIENT_MAX, trigger) ||
        !TakeInput(holdName, options.hold, SENSING_COEFFICIENT_MIN, SENSING_COEFFICIENT_MAX, hold) ||
        !TakeInput("--scan", options.scan, SENSING_SCAN_TIME_MIN, SENSING_SCAN_TIME_MAX, scan)) {
        return EXIT_USAGE;
    }

    DeviceSession session;
    if (const int rc = session.Open(options.port); rc != EXIT_OK) return rc;
    SensorSession& sensor = session.Sensor();

    // The tables before the run: the way back when the run is given up, since the
    // sensor finishes a scan it has begun whatever the tool does.
    ParamSetting before;
    InitParamSetting(before);
    const bool beforeKnown = static_cast<bool>(sensor.ReadThresholds(before));

    GenerationSink sink;
    SensorSession::LineClaim claim = sensor.ClaimLine();
    CSensingGenerateWorker worker(&claim.Line(), sink);
    InstallInterruptHandler();
    sink.Bar().SetMaximum(100);
    const auto started = std::chrono::system_clock::now();
    if (!worker.Start(trigger, hold, scan)) {
        PrintError(Text(TEXT_GENERATE_FAILED));
        return EXIT_FAILED;
    }
    bool timedOut = false;
    const bool finished = sink.Wait(options.timeoutSeconds, timedOut);
    worker.Stop();
    claim.Release();
    sink.Bar().Finish();
    if (!finished) {
        PrintError(timedOut ? Text(TEXT_GENERATION_TIMEOUT, options.timeoutSeconds) : Text(TEXT_STOPPED));
        // Not a failure of the sensor's: it goes on and changes both tables later.
        PrintError(Text(TEXT_GENERATION_STILL_SCANNING, ClockText(started + std::chrono::seconds(scan)).c_str()));
        if (beforeKnown) {
            PrintError(Text(TEXT_GENERATION_RESTORE_HINT, options.port.port.c_str(),
                            GateListText(before.GateTriggerThreshold).c_str(),
                            GateListText(before.GateHoldThreshold).c_str()));
        }
        return EXIT_FAILED;
    }
    if (!sink.Success()) {
        PrintError(Text(TEXT_GENERATE_FAILED));
        return EXIT_FAILED;
    }
    PrintError(Text(TEXT_GENERATED));

    // Unlike the page, which shows whatever the record holds, a failed read-back is
    // reported: old tables must not pass for the generated ones.
    ParamSetting record;
    InitParamSetting(record);
    if (const SensorResult read = sensor.ReadThresholds(record); !read) {
        PrintSensorFailure(read, TEXT_READ_PARAMS_FAILED);
        return EXIT_FAILED;
    }
    if (options.json) {
        PrintLine(JsonText({{"GateTriggerThreshold", record.GateTriggerThreshold},
                            {"GateHoldThreshold", record.GateHoldThreshold}}));
    } else {
        for (const std::string& line : GateTableLines(record)) PrintLine(line);
    }
    return EXIT_OK;
}

}  // namespace

void AddThresholdCommand(CLI::App& app, CommandList& commands) {
    CLI::App* threshold = app.add_subcommand("threshold", "Let the sensor generate its thresholds, then read them");
    auto options = std::make_shared<ThresholdOptions>();
    AddPortOptions(threshold, options->port);
    CLI::Option* trigger =
        threshold->add_option("--trigger-coefficient", options->trigger, "Trigger threshold coefficient, 0-10 dB")
            ->capture_default_str();
    CLI::Option* hold = threshold->add_option("--hold-coefficient", options->hold, "Hold threshold coefficient, 0-10 dB")
                            ->capture_default_str();
    // The old names, out of the help; each excludes its new name.
    threshold->add_option("--trigger", options->oldTrigger)->group("")->excludes(trigger);
    threshold->add_option("--hold", options->oldHold)->group("")->excludes(hold);
    threshold->add_option("--scan", options->scan, "Scan time, 120-240 s")->capture_default_str();
    threshold->add_option("--timeout", options->timeoutSeconds, "Fail when generation takes longer than this, s")
        ->check(CLI::NonNegativeNumber);
    threshold->add_flag("--json", options->json, "Print JSON");
    commands.push_back({threshold, [options] { return RunThreshold(*options); }});
}
