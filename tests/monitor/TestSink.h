#pragma once
// An acquisition sink that records what the worker tells it, for the monitor tests.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "monitor/AcquisitionWorker.h"

class RecordingSink : public IAcquisitionSink {
public:
    using Clock = std::chrono::steady_clock;

    void OnNewReport(const TargetReport& report) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reports.push_back(report);
        times.push_back(Clock::now());
        changed_.notify_all();
    }
    void OnReplayEnd() override {
        std::lock_guard<std::mutex> lock(mutex_);
        replayEnds += 1;
        changed_.notify_all();
    }
    void OnDeviceLost() override {
        std::lock_guard<std::mutex> lock(mutex_);
        deviceLost += 1;
        changed_.notify_all();
    }
    void OnRawChunk(const uint8_t* bytes, size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        raw.insert(raw.end(), bytes, bytes + length);
    }

    // Waits until pred() holds (under the sink's lock) or the time-out passes.
    template <class Pred>
    bool WaitFor(Pred pred, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
    }
    std::vector<TargetReport> Reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports;
    }
    std::vector<uint8_t> Raw() {
        std::lock_guard<std::mutex> lock(mutex_);
        return raw;
    }

    // Guarded by mutex_; read through WaitFor predicates or the copies above.
    std::vector<TargetReport> reports;
    std::vector<Clock::time_point> times;
    std::vector<uint8_t> raw;
    int replayEnds = 0;
    int deviceLost = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};
