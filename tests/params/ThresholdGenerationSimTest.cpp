// How a generation run ends against the virtual sensor: a progress value above 100
// is a success, and a line that hangs up ends the run as a failure instead of
// leaving it waiting for progress that cannot come.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "GenerationNotices.h"
#include "params/ThresholdGeneration.h"
#include "support/SimulatedSensor.h"

namespace {

class GenerationEnd : public ::testing::Test {
protected:
    // A sensor that scans in real time, so that its own progress stays far below 100.
    void SetUp() override {
        ASSERT_TRUE(sim.StartAndOpen());
        worker = std::make_unique<CSensingGenerateWorker>(&sim.Line(), notices);
        ASSERT_TRUE(worker->Start(DEFAULT_TRIGGER_COEFFICIENT, DEFAULT_HOLD_COEFFICIENT, DEFAULT_SCAN_TIME));
        ASSERT_TRUE(notices.WaitProgress(HANG_GUARD_MS));
    }
    void TearDown() override {
        if (worker) worker->Stop();
        worker.reset();
    }

    SimulatedSensor sim;
    GenerationNotices notices;
    std::unique_ptr<CSensingGenerateWorker> worker;
};

TEST_F(GenerationEnd, ProgressAboveHundredIsASuccess) {
    const std::vector<uint8_t> frame = {0xF4, 0xF3, 0xF2, 0xF1, 3, 0, 3, 250, 0, 0xF8, 0xF7, 0xF6, 0xF5};
    sim->InjectBytes(frame);
    ASSERT_TRUE(notices.WaitFinished(HANG_GUARD_MS));
    EXPECT_EQ(notices.Finished(), std::vector<int>{1});
    EXPECT_EQ(notices.Progress().back(), 250);
    EXPECT_EQ(worker->Success(), 1);
}

TEST_F(GenerationEnd, HangUpEndsTheRunAsAFailure) {
    sim->HangUp();
    ASSERT_TRUE(notices.WaitFinished(HANG_GUARD_MS));
    EXPECT_EQ(notices.Finished(), std::vector<int>{0});
    EXPECT_TRUE(WaitUntil([&] { return !worker->IsRunning(); }));
    EXPECT_EQ(worker->Success(), 0);
}

}  // namespace
