#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "ReplayFixture.h"
#include "ReportStream.h"
#include "TestSink.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

class Replay : public ReplayFixture {};

TEST_F(Replay, ThreeWholeFramesAndAPartialFourthArePacedThenTheEndIsReported) {
    const Bytes fourth = ReportFrame(2, 400);
    StartReplay(Join({ReportFrame(0, 100), ReportFrame(2, 200), ReportFrame(3, 300),
                      Bytes(fourth.begin(), fourth.begin() + 40)}),
                60);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return r.replayEnds > 0; }));
    const auto reports = sink.Reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].distanceCm, 100);
    EXPECT_EQ(reports[1].state, 2);
    EXPECT_EQ(reports[2].distanceCm, 300);
    // Each report is followed by the interval's pause before the next.
    const auto times = sink.Snapshot().times;
    EXPECT_GE(MsBetween(times[0], times[2]), 110);
    EXPECT_TRUE(worker.IsRunning());  // the owner stops the run on the end notice
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.LastReport().state, 0);
    EXPECT_EQ(worker.LastReport().distanceCm, 0);
    EXPECT_EQ(worker.LastReport().gateRaw[5], 5);  // only state and distance are cleared
}

TEST_F(Replay, EmptyFileEndsAtOnce) {
    StartReplay({}, 500);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return r.replayEnds > 0; }));
    EXPECT_TRUE(sink.Reports().empty());
}

TEST_F(Replay, MissingFileEndsTheWorkerWithoutANotice) {
    worker.lastReplayFile = dir.File("absent.dat");
    worker.replayMode = 1;
    ASSERT_EQ(worker.Start(), ACQUISITION_STARTED);
    EXPECT_TRUE(WaitUntil([&] { return !worker.IsWorkerActive(); }));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(sink.Snapshot().replayEnds, 0);
}

TEST_F(Replay, ForeignTypeFrameIsPacedButNotReported) {
    const auto start = Clock::now();
    StartReplay(Join({ReportFrame(2, 1, 0, 2), ProgressFrame(50), ReportFrame(2, 2)}), 150);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return r.replayEnds > 0; }));
    const auto reports = sink.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].distanceCm, 2);
    // The type-2 frame paused once; the progress frame did not.
    EXPECT_GE(MsBetween(start, sink.Snapshot().times[0]), 140);
}

TEST_F(Replay, NegativeIntervalMeansNoPause) {
    StartReplay(Join({ReportFrame(2, 1), ReportFrame(2, 2), ReportFrame(2, 3)}), -1);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return r.replayEnds > 0; }));
    EXPECT_EQ(sink.Reports().size(), 3u);
}

TEST_F(Replay, StopDuringAPauseDoesNotWaitItOut) {
    StartReplay(Join({ReportFrame(2, 1), ReportFrame(2, 2)}), 60000);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return !r.reports.empty(); }));
    const auto start = Clock::now();
    worker.Stop();
    EXPECT_LT(MsSince(start), HANG_GUARD_MS) << "the stop waited for the minute's pause";
    EXPECT_EQ(sink.Reports().size(), 1u);
    EXPECT_FALSE(worker.IsWorkerActive());
}

TEST_F(Replay, HistoryKeepsTheLast240StatesOldestFirst) {
    Bytes content;
    for (int k = 0; k < 250; ++k) {
        const Bytes f = ReportFrame(static_cast<uint8_t>(k % 4 == 0 ? 7 : k % 4), static_cast<uint16_t>(k));
        content.insert(content.end(), f.begin(), f.end());
    }
    StartReplay(content, 0);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return r.replayEnds > 0; }));
    TargetReport last;
    StateHistory history;
    worker.GetSnapshot(last, history);
    EXPECT_EQ(last.distanceCm, 249);
    for (int i = 0; i < STATE_HISTORY_LENGTH; ++i) {
        const int k = 10 + i;
        ASSERT_EQ(history[i], k % 4 == 0 ? 7 : k % 4) << i;
    }
    EXPECT_TRUE(worker.TakeBandDirty());
    EXPECT_FALSE(worker.TakeBandDirty());
}

TEST_F(Replay, ANewRunStartsWithAnEmptyHistoryAndReport) {
    StartReplay(ReportFrame(3, 123, 500), 0);
    ASSERT_TRUE(sink.WaitFor([](const auto& r) { return r.replayEnds > 0; }));
    worker.Stop();
    EXPECT_EQ(worker.GetStateHistory().back(), 3);

    StartReplay({}, 0);
    const StateHistory history = worker.GetStateHistory();
    for (uint8_t v : history) ASSERT_EQ(v, STATE_NO_REPORT);
    EXPECT_EQ(worker.LastReport().gateRaw[0], 0);
}

TEST(AcquisitionStart, LiveStartWithoutAConnectedDeviceChangesNothing) {
    SensorLine device;  // never opened
    RecordingSink sink;
    {
        CAcquisitionWorker worker(&device, sink);
        EXPECT_EQ(worker.Start(), ACQUISITION_NOT_CONNECTED);
        EXPECT_FALSE(worker.IsRunning());
        EXPECT_FALSE(worker.IsWorkerActive());
    }
}

}  // namespace
