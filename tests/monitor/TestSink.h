#pragma once
// An acquisition sink that records what the worker tells it, for the monitor tests.
// The worker calls it on its own thread; the test reads copies taken under the lock.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "monitor/AcquisitionWorker.h"
#include "support/WaitUntil.h"

class RecordingSink : public IAcquisitionSink {
public:
    using Clock = std::chrono::steady_clock;

    // Everything the worker told the sink, in order.
    struct Record {
        std::vector<TargetReport> reports;
        std::vector<Clock::time_point> times;  // when each report came
        std::vector<uint8_t> raw;              // every chunk read, joined
        int replayEnds = 0;
        int deviceLost = 0;
    };

    void OnNewReport(const TargetReport& report) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.reports.push_back(report);
        record_.times.push_back(Clock::now());
        changed_.notify_all();
    }
    void OnReplayEnd() override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.replayEnds += 1;
        changed_.notify_all();
    }
    void OnDeviceLost() override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.deviceLost += 1;
        changed_.notify_all();
    }
    void OnRawChunk(const uint8_t* bytes, size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.raw.insert(record_.raw.end(), bytes, bytes + length);
        changed_.notify_all();
    }

    // Waits until done(record) holds, looked at under the sink's lock after each
    // notice; false when timeoutMs passed first.
    template <class Pred>
    bool WaitFor(Pred done, int timeoutMs = HANG_GUARD_MS) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done(record_); });
    }
    // Copies taken under the lock.
    Record Snapshot() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return record_;
    }
    std::vector<TargetReport> Reports() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return record_.reports;
    }
    std::vector<uint8_t> Raw() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return record_.raw;
    }

private:
    mutable std::mutex mutex_;  //!< Protects record_.
    std::condition_variable changed_;
    Record record_;
};
