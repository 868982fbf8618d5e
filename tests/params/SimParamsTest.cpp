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

    void StartCmd() { EXPECT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device, 2, SETUP_REPLY_TIMEOUT_MS), 1); }
    void StopCmd() { TAVO_Interface_RadarDevice_StopCmdMode(device); }

    SimulatedSensor sim;
    const TAVO_RadarDeviceHandle device = sim.Device();
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
    CSensingGenerateWorker worker(device, sink);
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
    CSensingGenerateWorker worker(device, sink);
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
    TAVO_RadarDeviceHandle device = TAVO_Interface_RadarDevice_Serial_Create();  // never opened
    GenerationNotices sink;
    {
        CSensingGenerateWorker worker(device, sink);
        ASSERT_TRUE(worker.Start(2, 1, 120));
        ASSERT_TRUE(sink.WaitFinished(HANG_GUARD_MS));
        worker.Stop();
        EXPECT_TRUE(sink.Progress().empty());
        EXPECT_EQ(sink.Finished(), std::vector<int>{0});
    }
    TAVO_Interface_RadarDevice_Serial_Destroy(device);
}

}  // namespace
