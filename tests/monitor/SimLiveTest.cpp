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
#include "common/BaseBuffer.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

// The target reports a scanner finds in a whole stream.
size_t ReportsIn(const std::vector<uint8_t>& stream) {
    CBaseBuffer carry;
    const std::atomic<int> noStop{0};
    TargetReport report;
    size_t count = 0;
    const ReportHandler handler = [&](const uint8_t* payload) { count += DecodeTargetReport(payload, report); };
    ScanFrames(carry, stream.data(), stream.size(), handler, noStop);
    return count;
}

bool SameReport(const TargetReport& a, const TargetReport& b) {
    if (a.state != b.state || a.distanceCm != b.distanceCm) return false;
    for (int g = 0; g < TARGET_GATE_COUNT; ++g)
        if (a.gateRaw[g] != b.gateRaw[g] || a.gateEnergyDb[g] != b.gateEnergyDb[g]) return false;
    return true;
}

class SimLive : public ::testing::Test {
protected:
    // Starts the sensor, opens its port and makes the worker for it.
    [[nodiscard]] ::testing::AssertionResult StartSensor(const VirtualSensorOptions& options) {
        ::testing::AssertionResult ready = sim.StartAndOpen(options);
        if (ready) worker = std::make_unique<CAcquisitionWorker>(&sim.Line(), sink);
        return ready;
    }
    // Report frequencies in Hz, written as the parameter page would.
    void SetReportFrequencies(double state, double range) {
        ParamSetting s;
        s.StateReportFreq = state;
        s.RangeReportFreq = range;
        EXPECT_TRUE(sim.Line().StartCmdMode(SETUP_REPLY_TIMEOUT_MS));
        EXPECT_EQ(RadarOperatorConfig_WriteDetectSetting(sim.Line(), s), OPERATOR_OK);
        sim.Line().StopCmdMode();
    }
    void TearDown() override {
        if (worker) worker->Stop();
        worker.reset();
    }

    TempDir dir;
    SimulatedSensor sim;
    RecordingSink sink;
    std::unique_ptr<CAcquisitionWorker> worker;
};

TEST_F(SimLive, RecordFileHoldsEveryByteReadAndReplaysToTheSameReports) {
    VirtualSensorOptions options;
    options.streamTimeScale = 10.0;        // 40 reports per second
    options.noiseBytesBetweenFrames = 3;   // damaged bytes belong in the record too
    options.corruptByteRate = 0.0005;
    ASSERT_TRUE(StartSensor(options));
    const std::string folder = dir.File("not/yet/there");
    worker->saveData = 1;
    worker->saveDataPath = folder;
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    // About 30 frames of stream. Counted in bytes, not reports: a corrupted length
    // field can hold the scanner up for many frames, the replay just the same.
    const size_t frameBytes = TARGET_REPORT_LENGTH + FRAME_OVERHEAD + options.noiseBytesBetweenFrames;
    ASSERT_TRUE(sink.WaitFor([&](const auto& r) { return r.raw.size() >= 30 * frameBytes; }));
    EXPECT_TRUE(sim->ReportOutputOn());

    // Let the sensor fall quiet, and stop once the worker has read everything sent
    // after the reply that started the stream and has handed on every report in it:
    // a stop in the middle of a chunk would leave that chunk's reports out of the run.
    sim->SetSilent(true);
    ASSERT_TRUE(WaitUntil([&] {
        const VirtualSensorCounters sent = sim->Counters();
        const RecordingSink::Record seen = sink.Snapshot();
        return sent.bytesWaiting == 0 && seen.raw.size() == sent.bytesSentSinceAck &&
               seen.reports.size() == ReportsIn(seen.raw);
    })) << sim->Counters().bytesSentSinceAck << " bytes sent, " << sink.Raw().size() << " read";
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
    ASSERT_TRUE(replaySink.WaitFor([](const auto& r) { return r.replayEnds > 0; }));
    replay.Stop();
    const auto replayed = replaySink.Reports();
    ASSERT_EQ(replayed.size(), live.size());
    for (size_t k = 0; k < live.size(); ++k) ASSERT_TRUE(SameReport(live[k], replayed[k])) << "report " << k;
}

TEST_F(SimLive, OutputIsSwitchedOnForTheRunAndOffAfterIt) {
    VirtualSensorOptions options;
    options.reportOutputOn = false;
    options.streamTimeScale = 10.0;
    ASSERT_TRUE(StartSensor(options));
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return !r.reports.empty(); }));
    EXPECT_TRUE(sim->ReportOutputOn());
    worker->Stop();
    EXPECT_FALSE(sim->ReportOutputOn());
    EXPECT_TRUE(worker->RecordFilePath().empty());  // not recording
}

TEST_F(SimLive, ReplaySwitchesTheOutputOnAndOffToo) {
    VirtualSensorOptions options;
    options.reportOutputOn = false;
    ASSERT_TRUE(StartSensor(options));
    const std::string path = dir.File("replay.dat");
    const Bytes frames = Join({ReportFrame(2, 10), ReportFrame(2, 20)});
    ASSERT_TRUE(WriteWholeFile(path, std::string(frames.begin(), frames.end())));
    worker->replayMode = 1;
    worker->replayInterval = 10000;
    worker->lastReplayFile = path;
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return !r.reports.empty(); }));
    EXPECT_TRUE(sim->ReportOutputOn());
    worker->Stop();
    EXPECT_FALSE(sim->ReportOutputOn());
    EXPECT_EQ(sink.Reports().size(), 1u);  // the file's frames, not the sensor's stream
}

TEST_F(SimLive, StopDuringABlockedLiveReadEndsTheRead) {
    ASSERT_TRUE(StartSensor({}));
    SetReportFrequencies(0.5, 0.5);  // one report every 2 s: the worker waits in its read
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return !r.reports.empty(); }));
    // The worker has just begun a read that would last until the next report or
    // its own time-out. The stop ends it: the worker leaves its read and switches
    // the sensor's output off sooner than the read would have ended by itself.
    const uint64_t commandsBefore = sim->Counters().commandsReceived;
    const auto start = Clock::now();
    std::thread stopper([&] { worker->Stop(); });
    const bool heard = WaitUntil([&] { return sim->Counters().commandsReceived > commandsBefore; });
    const long long heardAfterMs = MsSince(start);
    stopper.join();
    ASSERT_TRUE(heard) << "the worker never switched the output off";
    EXPECT_LT(heardAfterMs, LIVE_READ_TIMEOUT_MS) << "the stop waited for the read to end by itself";
    EXPECT_FALSE(worker->IsWorkerActive());
    EXPECT_EQ(worker->LastReport().state, 0);
}

TEST_F(SimLive, HangUpEndsTheRunAndTellsTheOwner) {
    VirtualSensorOptions options;
    options.streamTimeScale = 10.0;
    ASSERT_TRUE(StartSensor(options));
    ASSERT_EQ(worker->Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return !r.reports.empty(); }));
    sim->HangUp();
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return r.deviceLost > 0; }));
    EXPECT_TRUE(WaitUntil([&] { return !worker->IsWorkerActive(); }));
    EXPECT_TRUE(worker->IsRunning());  // until the owner stops it
    worker->Stop();
    EXPECT_FALSE(worker->IsRunning());
    EXPECT_EQ(sink.Snapshot().replayEnds, 0);
}

}  // namespace
