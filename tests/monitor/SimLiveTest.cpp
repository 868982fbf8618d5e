// Live runs against the virtual sensor on a pseudo-terminal: reports, recording,
// replay of the recording, stopping and losing the device.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "ReportStream.h"
#include "TestSink.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"
#include "sim/VirtualSensor.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool SameReport(const TargetReport& a, const TargetReport& b) {
    if (a.state != b.state || a.distanceCm != b.distanceCm) return false;
    for (int g = 0; g < TARGET_GATE_COUNT; ++g)
        if (a.gateRaw[g] != b.gateRaw[g] || a.gateEnergyDb[g] != b.gateEnergyDb[g]) return false;
    return true;
}

class SimLive : public ::testing::Test {
protected:
    void StartSensor(VirtualSensorOptions options) {
        sim = std::make_unique<VirtualSensor>(options);
        std::string error;
        if (!sim->Start(&error)) GTEST_SKIP() << "virtual sensor not available: " << error;
        device = TAVO_Interface_RadarDevice_Serial_Create();
        ASSERT_NE(TAVO_Interface_RadarDevice_Serial_OpenByPath(device, sim->PortPath().c_str(), 256000, 2, 0, 0, 0,
                                                              2000),
                  0);
        worker = std::make_unique<CAcquisitionWorker>(device, sink);
    }
    // Report frequencies in Hz, written as the parameter page would.
    void SetReportFrequencies(double state, double range) {
        ParamSetting s;
        s.StateReportFreq = state;
        s.RangeReportFreq = range;
        TAVO_Interface_RadarDevice_StartCmdMode(device, 2, 150);
        ASSERT_EQ(RadarOperatorConfig_WriteDetectSetting(device, s), OPERATOR_OK);
        TAVO_Interface_RadarDevice_StopCmdMode(device);
    }
    void TearDown() override {
        if (worker) worker->Stop();
        worker.reset();
        if (device) {
            TAVO_Interface_RadarDevice_Serial_Close(device);
            TAVO_Interface_RadarDevice_Serial_Destroy(device);
        }
        if (sim) sim->Stop();
    }

    TempDir dir;
    std::unique_ptr<VirtualSensor> sim;
    TAVO_RadarDeviceHandle device = nullptr;
    RecordingSink sink;
    std::unique_ptr<CAcquisitionWorker> worker;
};

TEST_F(SimLive, RecordFileHoldsEveryByteReadAndReplaysToTheSameReports) {
    VirtualSensorOptions options;
    options.streamTimeScale = 10.0;        // 40 reports per second
    options.noiseBytesBetweenFrames = 3;   // damaged bytes belong in the record too
    options.corruptByteRate = 0.0005;
    StartSensor(options);
    const std::string folder = dir.File("not/yet/there");
    worker->saveData = 1;
    worker->saveDataPath = folder;
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    ASSERT_TRUE(sink.WaitFor([&] { return sink.reports.size() >= 30; }, 10000));
    EXPECT_TRUE(sim->ReportOutputOn());

    // Let the sensor fall quiet so that every byte read has been scanned before the stop.
    sim->SetSilent(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    worker->Stop();
    sim->SetSilent(false);

    const std::string record = worker->RecordFilePath();
    ASSERT_FALSE(record.empty());
    const std::string name = std::filesystem::path(record).filename().string();
    EXPECT_EQ(std::filesystem::path(record).parent_path(), std::filesystem::path(folder));
    EXPECT_EQ(name.rfind("RadarData_", 0), 0u) << name;
    EXPECT_EQ(std::filesystem::path(record).extension(), ".dat");
    const std::vector<uint8_t> raw = sink.Raw();
    const std::string stored = ReadWholeFile(record);
    ASSERT_EQ(stored.size(), raw.size());
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), stored.begin(),
                           [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));

    const auto live = sink.Reports();
    RecordingSink replaySink;
    CAcquisitionWorker replay(nullptr, replaySink);
    replay.replayMode = 1;
    replay.replayInterval = 0;
    replay.lastReplayFile = record;
    ASSERT_EQ(replay.Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(replaySink.WaitFor([&] { return replaySink.replayEnds > 0; }, 10000));
    replay.Stop();
    const auto replayed = replaySink.Reports();
    ASSERT_EQ(replayed.size(), live.size());
    for (size_t k = 0; k < live.size(); ++k) ASSERT_TRUE(SameReport(live[k], replayed[k])) << "report " << k;
}

TEST_F(SimLive, OutputIsSwitchedOnForTheRunAndOffAfterIt) {
    VirtualSensorOptions options;
    options.reportOutputOn = false;
    options.streamTimeScale = 10.0;
    StartSensor(options);
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.reports.empty(); }, 5000));
    EXPECT_TRUE(sim->ReportOutputOn());
    worker->Stop();
    EXPECT_FALSE(sim->ReportOutputOn());
    EXPECT_TRUE(worker->RecordFilePath().empty());  // not recording
}

TEST_F(SimLive, ReplaySwitchesTheOutputOnAndOffToo) {
    VirtualSensorOptions options;
    options.reportOutputOn = false;
    StartSensor(options);
    const std::string path = dir.File("replay.dat");
    const Bytes frames = Join({ReportFrame(2, 10), ReportFrame(2, 20)});
    ASSERT_TRUE(WriteWholeFile(path, std::string(frames.begin(), frames.end())));
    worker->replayMode = 1;
    worker->replayInterval = 10000;
    worker->lastReplayFile = path;
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.reports.empty(); }, 5000));
    EXPECT_TRUE(sim->ReportOutputOn());
    worker->Stop();
    EXPECT_FALSE(sim->ReportOutputOn());
    EXPECT_EQ(sink.Reports().size(), 1u);  // the file's frames, not the sensor's stream
}

TEST_F(SimLive, StopDuringABlockedLiveReadEndsWithin100Ms) {
    StartSensor({});
    SetReportFrequencies(0.5, 0.5);  // one report every 2 s: the worker waits in its read
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.reports.empty(); }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    worker->Stop();
    EXPECT_LT(MsSince(start), 100);
    EXPECT_FALSE(worker->IsWorkerActive());
    EXPECT_EQ(worker->LastReport().state, 0);
}

TEST_F(SimLive, HangUpEndsTheRunAndTellsTheOwner) {
    VirtualSensorOptions options;
    options.streamTimeScale = 10.0;
    StartSensor(options);
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.reports.empty(); }, 5000));
    sim->HangUp();
    ASSERT_TRUE(sink.WaitFor([&] { return sink.deviceLost > 0; }, 3000));
    for (int i = 0; i < 100 && worker->IsWorkerActive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(worker->IsWorkerActive());
    EXPECT_TRUE(worker->IsRunning());  // until the owner stops it
    worker->Stop();
    EXPECT_FALSE(worker->IsRunning());
    EXPECT_EQ(sink.replayEnds, 0);
}

}  // namespace
