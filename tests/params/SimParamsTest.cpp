// The parameter operations and threshold generation against the virtual sensor
// on a pseudo-terminal.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "GenerationNotices.h"
#include "app/StringTable.h"
#include "common/DbgOutput.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"
#include "params/ThresholdGeneration.h"
#include "support/SimulatedSensor.h"

namespace {

using Clock = std::chrono::steady_clock;

std::mutex gLineMutex;
std::vector<std::string> gLines;  // guarded by gLineMutex

void CollectLine(void*, uint64_t, const char* text, size_t length) {
    std::lock_guard<std::mutex> lock(gLineMutex);
    gLines.emplace_back(text, length);
}

bool Logged(const std::string& line) {
    std::lock_guard<std::mutex> lock(gLineMutex);
    for (const auto& l : gLines)
        if (l.size() >= line.size() && l.compare(l.size() - line.size(), line.size(), line) == 0) return true;
    return false;
}

std::array<uint32_t, 16> ToArray(const uint32_t (&table)[16]) {
    std::array<uint32_t, 16> a{};
    for (int g = 0; g < 16; ++g) a[g] = table[g];
    return a;
}

class SimParams : public ::testing::Test {
protected:
    SimParams() {
        {
            std::lock_guard<std::mutex> lock(gLineMutex);
            gLines.clear();
        }
        DbgOutputAddCallback(CollectLine, nullptr);
    }
    ~SimParams() override { DbgOutputDelCallback(CollectLine); }

    void StartCmd() { EXPECT_EQ(device.StartCmdMode(SETUP_REPLY_TIMEOUT_MS), true); }
    void StopCmd() { device.StopCmdMode(); }

    SimulatedSensor sim;
    SensorLine& device = sim.Line();
};

TEST_F(SimParams, ReadAfterWriteReturnsWhatWasWritten) {
    ASSERT_TRUE(sim.StartAndOpen());
    ParamSetting written;
    written.DetectRangeMin = 1.4;  // gate 2
    written.DetectRangeMax = 5.6;  // gate 8
    written.ResponseFreq = 1.0;
    written.StateReportFreq = 6.0;
    written.RangeReportFreq = 2.0;
    written.ObjectDisappearReportTime = 120;
    for (int g = 0; g < 16; ++g) {
        written.GateTriggerThreshold[g] = 20 + g;
        written.GateHoldThreshold[g] = 60 - g;
    }
    StartCmd();
    ASSERT_EQ(WriteAllParams(device, written), OPERATOR_OK);
    ParamSetting read;
    ASSERT_EQ(ReadAllParams(device, read), OPERATOR_OK);
    StopCmd();

    EXPECT_EQ(read.DetectRangeMin, 2 * 0.7);
    EXPECT_EQ(read.DetectRangeMax, 8 * 0.7);
    EXPECT_DOUBLE_EQ(read.ResponseFreq, 1.0);
    EXPECT_DOUBLE_EQ(read.StateReportFreq, 6.0);
    EXPECT_DOUBLE_EQ(read.RangeReportFreq, 2.0);
    EXPECT_EQ(read.ObjectDisappearReportTime, 120u);
    EXPECT_EQ(ToArray(read.GateTriggerThreshold), ToArray(written.GateTriggerThreshold));
    EXPECT_EQ(ToArray(read.GateHoldThreshold), ToArray(written.GateHoldThreshold));
    // What the sensor holds under each key.
    EXPECT_EQ(sim->ConfigValue(10), 2u);
    EXPECT_EQ(sim->ConfigValue(5), 8u);
    EXPECT_EQ(sim->ConfigValue(11), 10u);
    EXPECT_EQ(sim->ConfigValue(2), 60u);
    EXPECT_EQ(sim->ConfigValue(12), 20u);
    EXPECT_EQ(sim->ConfigValue(6), 120u);
    EXPECT_TRUE(Logged("RadarOperatorConfig_WriteDetectSetting, result: Success\r\n"));
    EXPECT_TRUE(Logged("RadarOperatorConfig_ReadHoldThreshold, result: Success\r\n"));
}

TEST_F(SimParams, ResetWritesTheDefaultsAndTheFactoryTables) {
    ASSERT_TRUE(sim.StartAndOpen());
    ParamSetting setting;
    for (auto& v : setting.GateHoldThreshold) v = 90;
    StartCmd();
    ASSERT_EQ(WriteAllParams(device, setting), OPERATOR_OK);
    InitParamSetting(setting);
    ASSERT_EQ(FactoryResetSequence(device, setting), OPERATOR_OK);
    ParamSetting read;
    ASSERT_EQ(ReadAllParams(device, read), OPERATOR_OK);
    StopCmd();

    EXPECT_EQ(sim->GateTable(114), ToArray(ParamSetting{}.GateTriggerThreshold));
    EXPECT_EQ(sim->GateTable(116), ToArray(APPEAR_THRESHOLD_TABLE));
    EXPECT_EQ(sim->GateTable(118), ToArray(MOTION_THRESHOLD_TABLE));
    // The hold table read back is the motion table, while the record keeps its defaults.
    EXPECT_EQ(ToArray(read.GateHoldThreshold), ToArray(MOTION_THRESHOLD_TABLE));
    EXPECT_EQ(ToArray(setting.GateHoldThreshold), ToArray(ParamSetting{}.GateHoldThreshold));
    for (int k = 0; k < PRIV_CONFIG_COUNT; ++k)
        EXPECT_EQ(sim->ConfigValue(PRIV_CONFIG_KEYS[k]), PRIV_CONFIG_VALUES[k]) << "key " << PRIV_CONFIG_KEYS[k];
    EXPECT_EQ(sim->ConfigValue(5), 12u);
    for (const char* op : {"RadarOperatorConfig_WritePrivConfig", "RadarOperatorConfig_WriteAppearThreshold",
                           "RadarOperatorConfig_WriteMotionThreshold"})
        EXPECT_TRUE(Logged(std::string(op) + ", result: Success\r\n")) << op;
}

TEST_F(SimParams, SilentSensorFailsAndLeavesTheRecord) {
    ASSERT_TRUE(sim.StartAndOpen());
    sim->SetSilent(true);
    ParamSetting s;
    s.DetectRangeMin = 3.3;
    EXPECT_EQ(RadarOperatorConfig_ReadDetectSetting(device, s), OPERATOR_FAILED);
    EXPECT_DOUBLE_EQ(s.DetectRangeMin, 3.3);
    EXPECT_TRUE(Logged("RadarOperatorConfig_ReadDetectSetting, result: Failed.\r\n"));
    EXPECT_EQ(WriteAllParams(device, s), OPERATOR_FAILED);  // stops after the first failure
    EXPECT_TRUE(Logged("RadarOperatorConfig_WriteDetectSetting, result: Failed\r\n"));
    EXPECT_FALSE(Logged("RadarOperatorConfig_WriteTriggerThreshold, result: Failed\r\n"));
}

// ---- plausibility of replies --------------------------------------------------

TEST(OperatorPlausibility, ValuesTheSensorCannotHoldAreNamed) {
    SetUiLanguage(UiLanguage::English);
    struct Case {
        uint16_t id;
        uint16_t key;
        uint32_t value;
        const char* problem;  // nullptr: plausible
    };
    const Case cases[] = {
        {113, DETECT_KEY_RANGE_MIN, 0, nullptr},
        {113, DETECT_KEY_RANGE_MAX, 16, nullptr},
        {113, DETECT_KEY_RANGE_MAX, 17, "DetectRangeMax is 17, expected 0-16"},
        {113, DETECT_KEY_RANGE_MIN, 0x80000000u, "DetectRangeMin is 2147483648, expected 0-16"},
        {113, DETECT_KEY_RESPONSE_FREQ, 5, nullptr},
        {113, DETECT_KEY_RESPONSE_FREQ, 10, nullptr},
        {113, DETECT_KEY_RESPONSE_FREQ, 7, "ResponseFreq is 0.7 Hz, expected 0.5/1.0 Hz"},
        {113, DETECT_KEY_STATE_REPORT_FREQ, 80, nullptr},
        {113, DETECT_KEY_STATE_REPORT_FREQ, 0, "StateReportFreq is 0.0 Hz, expected 0.5, 1.0 ... 8.0 Hz"},
        {113, DETECT_KEY_RANGE_REPORT_FREQ, 5, nullptr},
        {113, DETECT_KEY_RANGE_REPORT_FREQ, 33, "RangeReportFreq is 3.3 Hz, expected 0.5, 1.0 ... 8.0 Hz"},
        {113, DETECT_KEY_RANGE_REPORT_FREQ, 85, "RangeReportFreq is 8.5 Hz, expected 0.5, 1.0 ... 8.0 Hz"},
        {113, DETECT_KEY_DISAPPEAR_TIME, 65535, nullptr},
        {113, DETECT_KEY_DISAPPEAR_TIME, 65536, "ObjectDisappearReportTime is 65536, expected 0-65535"},
        {113, 99, 0xFFFFFFFFu, nullptr},  // a key without a known meaning
        {115, 3, 100, nullptr},
        {115, 3, 101, "GateTriggerThreshold[3] is 101, expected 0-100"},
        {119, 15, 212, "GateHoldThreshold[15] is 212, expected 0-100"},
        {0x7A, 0, 7, nullptr},  // the report switch is not read back
    };
    for (const Case& c : cases) {
        std::string why;
        const bool plausible = PlausibleParameterValues(c.id, 1, &c.key, &c.value, &why);
        EXPECT_EQ(plausible, c.problem == nullptr) << c.id << "/" << c.key << " = " << c.value;
        if (c.problem != nullptr) {
            EXPECT_EQ(why, c.problem);
        }
    }
    // The first wrong value of several is the one named.
    const uint16_t keys[3] = {0, 1, 2};
    const uint32_t values[3] = {30, 140, 150};
    std::string why;
    EXPECT_FALSE(PlausibleParameterValues(115, 3, keys, values, &why));
    EXPECT_EQ(why, "GateTriggerThreshold[1] is 140, expected 0-100");
}

// A reply with its last value's top bit flipped (the envelope intact) is asked for
// again; flipped twice, the read fails as malformed and names the value.
TEST_F(SimParams, AnImplausibleReplyIsAskedForOnceMoreThenRefused) {
    SetUiLanguage(UiLanguage::English);
    struct Case {
        uint16_t readId;
        int garbled;
        int expected;
        const char* detail;
    };
    const Case cases[] = {
        {113, 1, OPERATOR_OK, nullptr},
        {115, 1, OPERATOR_OK, nullptr},
        {113, 2, OPERATOR_MALFORMED_REPLY, "ObjectDisappearReportTime is 2147483688, expected 0-65535"},
        {115, 2, OPERATOR_MALFORMED_REPLY, "GateTriggerThreshold[15] is 2147483679, expected 0-100"},
        {119, 2, OPERATOR_MALFORMED_REPLY, "GateHoldThreshold[15] is 2147483676, expected 0-100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.readId << ", garbled " << c.garbled);
        VirtualSensorOptions options = FastSensorOptions();
        options.garbleReplyCommand = c.readId;
        options.garbleReplyCount = c.garbled;
        ASSERT_TRUE(sim.StartAndOpen(options));
        {
            std::lock_guard<std::mutex> lock(gLineMutex);
            gLines.clear();
        }
        StartCmd();
        ParamSetting read;
        read.ObjectDisappearReportTime = 77;
        read.GateTriggerThreshold[15] = 77;
        read.GateHoldThreshold[15] = 77;
        const int result = ReadAllParams(device, read);
        StopCmd();
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(sim->Counters().repliesGarbled, static_cast<uint64_t>(c.garbled));
        if (c.expected == OPERATOR_OK) {
            // The second answer is the sensor's own: the defaults it starts with.
            EXPECT_EQ(read.ObjectDisappearReportTime, 40u);
            EXPECT_EQ(read.GateTriggerThreshold[15], 31u);
            EXPECT_EQ(read.GateHoldThreshold[15], 28u);
            EXPECT_EQ(OperatorFailureDetail(), "");
        } else {
            EXPECT_EQ(OperatorFailureDetail(),
                      std::string("The sensor's reply was implausible twice (malformed reply, 0xA004): ") + c.detail +
                          ".");
            // Nothing of the implausible reply reaches the record.
            const uint32_t* field = c.readId == 113   ? &read.ObjectDisappearReportTime
                                    : c.readId == 115 ? &read.GateTriggerThreshold[15]
                                                      : &read.GateHoldThreshold[15];
            EXPECT_EQ(*field, 77u);
            EXPECT_TRUE(Logged(std::string("implausible reply (") + c.detail + "), asking again\r\n"));
        }
    }
}

// ---- threshold generation -----------------------------------------------------

TEST_F(SimParams, GenerationRunsToSuccessAndTheTablesReadBackChanged) {
    VirtualSensorOptions options;
    options.timeScale = 100.0;  // 120 s of scanning in 1.2 s
    ASSERT_TRUE(sim.StartAndOpen(options));
    ParamSetting before;
    StartCmd();
    ASSERT_EQ(WriteAllParams(device, before), OPERATOR_OK);
    StopCmd();

    GenerationNotices sink;
    CSensingGenerateWorker worker(&device, sink);
    ASSERT_TRUE(worker.Start(DEFAULT_TRIGGER_COEFFICIENT, DEFAULT_HOLD_COEFFICIENT, DEFAULT_SCAN_TIME));
    ASSERT_TRUE(sink.WaitFinished(HANG_GUARD_MS + 10000));
    worker.Stop();
    EXPECT_EQ(sink.Finished(), std::vector<int>{1});
    EXPECT_EQ(worker.Success(), 1);
    const auto progress = sink.Progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_GE(progress.back(), 100);
    for (size_t k = 1; k < progress.size(); ++k) EXPECT_LE(progress[k - 1], progress[k]) << k;
    EXPECT_TRUE(Logged("process=" + std::to_string(progress.back()) + "\r\n"));

    ParamSetting after = before;
    StartCmd();
    EXPECT_EQ(RadarOperatorConfig_ReadTriggerThreshold(device, after), OPERATOR_OK);
    EXPECT_EQ(RadarOperatorConfig_ReadHoldThreshold(device, after), OPERATOR_OK);
    StopCmd();
    EXPECT_NE(ToArray(after.GateTriggerThreshold), ToArray(before.GateTriggerThreshold));
    EXPECT_NE(ToArray(after.GateHoldThreshold), ToArray(before.GateHoldThreshold));
    EXPECT_EQ(ToArray(after.GateTriggerThreshold), sim->GateTable(114));
    EXPECT_EQ(ToArray(after.GateHoldThreshold), sim->GateTable(118));
}

// A stopped run does not wait for the rest of its 120 s scan.
TEST_F(SimParams, StopDuringGenerationEndsTheRunAsAFailure) {
    ASSERT_TRUE(sim.StartAndOpen());  // real time: 120 s of scanning
    GenerationNotices sink;
    CSensingGenerateWorker worker(&device, sink);
    ASSERT_TRUE(worker.Start(2, 1, 120));
    ASSERT_TRUE(sink.WaitProgress(HANG_GUARD_MS));
    const auto start = Clock::now();
    worker.Stop();
    EXPECT_LT(MsSince(start), HANG_GUARD_MS);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(sink.Finished(), std::vector<int>{0});
    EXPECT_EQ(worker.Success(), 0);
}

TEST(ThresholdGeneration, RefusedCommandFinishesAtOnceAsAFailure) {
    SensorLine device;  // never opened
    GenerationNotices sink;
    {
        CSensingGenerateWorker worker(&device, sink);
        ASSERT_TRUE(worker.Start(2, 1, 120));
        ASSERT_TRUE(sink.WaitFinished(HANG_GUARD_MS));
        worker.Stop();
        EXPECT_TRUE(sink.Progress().empty());
        EXPECT_EQ(sink.Finished(), std::vector<int>{0});
    }
}

}  // namespace
