// How a generation run ends against the virtual sensor: a progress value above 100
// is a success, and a line that hangs up ends the run as a failure instead of
// leaving it waiting for progress that cannot come.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GenerationNotices.h"
#include "params/ThresholdGeneration.h"
#include "sim/VirtualSensor.h"

namespace {

class GenerationEnd : public ::testing::Test {
protected:
    // A sensor that scans in real time, so that its own progress stays far below 100.
    void SetUp() override {
        sim = std::make_unique<VirtualSensor>();
        std::string error;
        if (!sim->Start(&error)) GTEST_SKIP() << "virtual sensor not available: " << error;
        device = TAVO_Interface_RadarDevice_Serial_Create();
        ASSERT_NE(TAVO_Interface_RadarDevice_Serial_OpenByPath(device, sim->PortPath().c_str(), 256000, 2, 0, 0, 0,
                                                              2000),
                  0);
        worker = std::make_unique<CSensingGenerateWorker>(device, notices);
        ASSERT_TRUE(worker->Start(DEFAULT_TRIGGER_COEFFICIENT, DEFAULT_HOLD_COEFFICIENT, DEFAULT_SCAN_TIME));
        ASSERT_TRUE(notices.WaitProgress(5000));
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

    std::unique_ptr<VirtualSensor> sim;
    TAVO_RadarDeviceHandle device = nullptr;
    GenerationNotices notices;
    std::unique_ptr<CSensingGenerateWorker> worker;
};

TEST_F(GenerationEnd, ProgressAboveHundredIsASuccess) {
    const std::vector<uint8_t> frame = {0xF4, 0xF3, 0xF2, 0xF1, 3, 0, 3, 250, 0, 0xF8, 0xF7, 0xF6, 0xF5};
    sim->InjectBytes(frame);
    ASSERT_TRUE(notices.WaitFinished(5000));
    EXPECT_EQ(notices.Finished(), std::vector<int>{1});
    EXPECT_EQ(notices.Progress().back(), 250);
    EXPECT_EQ(worker->Success(), 1);
}

TEST_F(GenerationEnd, HangUpEndsTheRunAsAFailure) {
    sim->HangUp();
    ASSERT_TRUE(notices.WaitFinished(5000));
    EXPECT_EQ(notices.Finished(), std::vector<int>{0});
    for (int i = 0; i < 100 && worker->IsRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(worker->IsRunning());
    EXPECT_EQ(worker->Success(), 0);
}

}  // namespace
