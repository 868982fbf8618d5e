// Replay controls of the acquisition worker: seek, pause and step, speed, skipped reports.
#include <gtest/gtest.h>

#include <string>

#include "ReplayFixture.h"
#include "common/FileUtils.h"

namespace {

constexpr int RUN_HANG_GUARD_MS = 10000;
constexpr size_t FRAME_SIZE = TARGET_REPORT_LENGTH + FRAME_OVERHEAD;  // 80

// Frame i reports distance 100 + i and gate g's raw energy 300 * (i + 1) + g, so
// every field of a report says which frame it came from.
// (up to 200 frames, so that no energy passes 65535).
Bytes NumberedFrames(int count) {
    Bytes all;
    for (int i = 0; i < count; ++i) {
        const Bytes frame = ReportFrame(2, static_cast<uint16_t>(100 + i), static_cast<uint16_t>(300 * (i + 1)));
        all.insert(all.end(), frame.begin(), frame.end());
    }
    return all;
}

// The frame a report came from, or -1 when its fields do not all belong to one frame.
int FrameOf(const TargetReport& report) {
    const int i = report.distanceCm - 100;
    if (report.state != 2 || i < 0) return -1;
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
        if (report.gateRaw[g] != 300 * (i + 1) + g) return -1;
    }
    return i;
}

class ReplayControls : public ReplayFixture {
protected:
    bool WaitForReports(size_t count) {
        return sink.WaitFor([&](const RecordingSink::Record& r) { return r.reports.size() >= count; }, RUN_HANG_GUARD_MS);
    }
};

TEST_F(ReplayControls, SeekGoesOnAtTheFirstWholeFrameAtOrAfterTheOffset) {
    struct Case {
        uint64_t offset;
        int firstFrame;
    };
    const Case cases[] = {
        {5 * FRAME_SIZE + 37, 6},  // the middle of frame 5: its rest is never shown
        {10 * FRAME_SIZE, 10},     // exactly on a frame's first byte
        {10 * FRAME_SIZE - 1, 10}, // the last byte of frame 9
        {3 * FRAME_SIZE + 1, 4},   // just after a header byte
        {0, 0},                    // back to the start
    };
    // A long pause after each report: every seek lands while the worker waits.
    StartReplay(NumberedFrames(30), 60000);
    ASSERT_TRUE(WaitForReports(1));
    size_t seen = 1;
    for (const Case& c : cases) {
        worker.SeekReplay(c.offset);
        ASSERT_TRUE(WaitForReports(seen + 1)) << "offset " << c.offset;
        const std::vector<TargetReport> reports = sink.Reports();
        seen = reports.size();
        EXPECT_EQ(FrameOf(reports.back()), c.firstFrame) << "offset " << c.offset;
        EXPECT_EQ(worker.ReplayPosition(), (static_cast<uint64_t>(c.firstFrame) + 1) * FRAME_SIZE)
            << "offset " << c.offset;
    }
    for (const TargetReport& report : sink.Reports()) EXPECT_GE(FrameOf(report), 0) << "a report mixed from two frames";
}

TEST_F(ReplayControls, SeekingToRandomPlacesNeverShowsAMixedReport) {
    // The sink moves the replay to a pseudo-random offset after each of its first 300 reports.
    class SeekingSink : public RecordingSink {
    public:
        CAcquisitionWorker* worker = nullptr;
        uint64_t size = 0;
        uint64_t state = 1;
        void OnNewReport(const TargetReport& report) override {
            RecordingSink::OnNewReport(report);
            if (Reports().size() > 300) return;
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            worker->SeekReplay((state >> 20) % (size / 2));  // the first half: the end comes after the seeks
        }
    };
    SeekingSink seeking;
    CAcquisitionWorker own(&line, seeking);
    const Bytes content = NumberedFrames(200);
    seeking.worker = &own;
    seeking.size = content.size();
    own.lastReplayFile = WriteRecord("seeks.dat", content);
    own.replayInterval = 0;
    own.replayMode = 1;
    ASSERT_EQ(own.Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(seeking.WaitFor([&](const RecordingSink::Record& r) { return r.replayEnds > 0; }, RUN_HANG_GUARD_MS));
    own.Stop();
    const std::vector<TargetReport> reports = seeking.Reports();
    ASSERT_GT(reports.size(), 300u);
    for (const TargetReport& report : reports) EXPECT_GE(FrameOf(report), 0);
}

TEST_F(ReplayControls, APausedReplayShowsOneReportPerStepAndGoesOnWhenResumed) {
    // The sink pauses the replay from the worker's own thread after the third report.
    class PausingSink : public RecordingSink {
    public:
        CAcquisitionWorker* worker = nullptr;
        void OnNewReport(const TargetReport& report) override {
            if (Reports().size() == 2) worker->SetPaused(true);
            RecordingSink::OnNewReport(report);
        }
    };
    PausingSink pausing;
    CAcquisitionWorker own(&line, pausing);
    pausing.worker = &own;
    own.lastReplayFile = WriteRecord("steps.dat", NumberedFrames(10));
    own.replayInterval = 0;
    own.replayMode = 1;
    ASSERT_EQ(own.Start(), ACQUISITION_STARTED);

    ASSERT_TRUE(pausing.WaitFor([&](const RecordingSink::Record& r) { return r.reports.size() >= 3; }, RUN_HANG_GUARD_MS));
    EXPECT_TRUE(own.IsPaused());
    own.StepReport();
    ASSERT_TRUE(pausing.WaitFor([&](const RecordingSink::Record& r) { return r.reports.size() >= 4; }, RUN_HANG_GUARD_MS));
    // Still paused: no fifth report comes by itself and the file does not end.
    EXPECT_FALSE(pausing.WaitFor([&](const RecordingSink::Record& r) { return r.reports.size() >= 5 || r.replayEnds > 0; }, 200));
    EXPECT_TRUE(own.IsWorkerActive());

    own.SetPaused(false);
    ASSERT_TRUE(pausing.WaitFor([&](const RecordingSink::Record& r) { return r.replayEnds > 0; }, RUN_HANG_GUARD_MS));
    const std::vector<TargetReport> reports = pausing.Reports();
    ASSERT_EQ(reports.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(FrameOf(reports[static_cast<size_t>(i)]), i);
    own.Stop();
}

TEST_F(ReplayControls, StopEndsAPausedReplay) {
    worker.replayInterval = 0;
    StartReplay(NumberedFrames(5), 0);
    worker.SetPaused(true);
    worker.Stop();  // returns only once the worker has ended
    EXPECT_FALSE(worker.IsWorkerActive());
}

TEST_F(ReplayControls, TheFastestSpeedSkipsTheConfiguredPause) {
    // An hour per report at speed 1; at speed 0 the file ends without any pause.
    worker.SetReplaySpeed(0);
    StartReplay(NumberedFrames(20), 3600000);
    ASSERT_TRUE(sink.WaitFor([&](const RecordingSink::Record& r) { return r.replayEnds > 0; }, RUN_HANG_GUARD_MS));
    EXPECT_EQ(sink.Reports().size(), 20u);
}

TEST_F(ReplayControls, SkippedReportsAreNeitherShownNorCounted) {
    worker.replaySkipReports = 4;
    StartReplay(NumberedFrames(10), 0);
    ASSERT_TRUE(sink.WaitFor([&](const RecordingSink::Record& r) { return r.replayEnds > 0; }, RUN_HANG_GUARD_MS));
    const std::vector<TargetReport> reports = sink.Reports();
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_EQ(FrameOf(reports.front()), 4);
    EXPECT_EQ(worker.ReportCount(), 6u);
}

}  // namespace
