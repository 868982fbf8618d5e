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

#include "params/ThresholdGeneration.h"
#include "sim/VirtualSensor.h"

namespace {

class Notices : public ISensingGenerateSink {
public:
    void OnSensingProgress(int progress) override {
        std::lock_guard<std::mutex> lock(mutex_);
        progress_.push_back(progress);
        changed_.notify_all();
    }
    void OnSensingFinished(int success) override {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_.push_back(success);
        changed_.notify_all();
    }
    bool WaitFinished(int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !finished_.empty(); });
    }
    bool WaitProgress(int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !progress_.empty(); });
    }
    std::vector<int> Progress() {
        std::lock_guard<std::mutex> lock(mutex_);
        return progress_;
    }
    std::vector<int> Finished() {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }

private:
    std::mutex mutex_;  //!< Protects progress_ and finished_.
    std::condition_variable changed_;
    std::vector<int> progress_;
    std::vector<int> finished_;
};

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
        ASSERT_TRUE(worker->Start(kDefaultTriggerCoefficient, kDefaultHoldCoefficient, kDefaultScanTime));
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
    Notices notices;
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
