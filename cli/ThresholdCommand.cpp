// threshold: the sensor's own threshold generation, followed by a read-back of both tables.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

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

int RunThreshold(const ThresholdOptions& options) {
    int trigger = 0;
    int hold = 0;
    int scan = 0;
    if (!TakeInput("--trigger", options.trigger, SENSING_COEFFICIENT_MIN, SENSING_COEFFICIENT_MAX, trigger) ||
        !TakeInput("--hold", options.hold, SENSING_COEFFICIENT_MIN, SENSING_COEFFICIENT_MAX, hold) ||
        !TakeInput("--scan", options.scan, SENSING_SCAN_TIME_MIN, SENSING_SCAN_TIME_MAX, scan)) {
        return EXIT_USAGE;
    }

    DeviceSession session;
    if (const int rc = session.Open(options.port); rc != EXIT_OK) return rc;
    TAVO_RadarDeviceHandle device = session.Handle();

    GenerationSink sink;
    CSensingGenerateWorker worker(device, sink);
    InstallInterruptHandler();
    sink.Bar().SetMaximum(100);
    if (!worker.Start(trigger, hold, scan)) {
        PrintError(Text(TEXT_GENERATE_FAILED));
        return EXIT_FAILED;
    }
    bool timedOut = false;
    const bool finished = sink.Wait(options.timeoutSeconds, timedOut);
    worker.Stop();
    sink.Bar().Finish();
    if (!finished) {
        PrintError(timedOut ? Text(TEXT_GENERATION_TIMEOUT, options.timeoutSeconds) : Text(TEXT_STOPPED));
    }
    if (!finished || !sink.Success()) {
        PrintError(Text(TEXT_GENERATE_FAILED));
        return EXIT_FAILED;
    }
    PrintError(Text(TEXT_GENERATED));

    // Unlike the page, which shows whatever the record holds, a failed read-back is
    // reported: old tables must not pass for the generated ones.
    ParamSetting record;
    InitParamSetting(record);
    {
        CommandModeScope mode(device);
        int result = RadarOperatorConfig_ReadTriggerThreshold(device, record);
        if (result == OPERATOR_OK) result = RadarOperatorConfig_ReadHoldThreshold(device, record);
        if (result != OPERATOR_OK) {
            PrintOperatorFailure(result, TEXT_READ_PARAMS_FAILED, mode.Entered());
            return EXIT_FAILED;
        }
    }
    if (options.json) {
        std::vector<std::string> triggerValues;
        std::vector<std::string> holdValues;
        for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
            triggerValues.push_back(JsonNumber(static_cast<long long>(record.GateTriggerThreshold[g])));
            holdValues.push_back(JsonNumber(static_cast<long long>(record.GateHoldThreshold[g])));
        }
        PrintLine(JsonObject()
                      .Raw("GateTriggerThreshold", JsonArray(triggerValues))
                      .Raw("GateHoldThreshold", JsonArray(holdValues))
                      .Text());
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
    threshold->add_option("--trigger", options->trigger, "Trigger threshold coefficient, 0-10 dB")->capture_default_str();
    threshold->add_option("--hold", options->hold, "Hold threshold coefficient, 0-10 dB")->capture_default_str();
    threshold->add_option("--scan", options->scan, "Scan time, 120-240 s")->capture_default_str();
    threshold->add_option("--timeout", options->timeoutSeconds, "Fail when generation takes longer than this, s")
        ->check(CLI::NonNegativeNumber);
    threshold->add_flag("--json", options->json, "Print JSON");
    commands.push_back({threshold, [options] { return RunThreshold(*options); }});
}
