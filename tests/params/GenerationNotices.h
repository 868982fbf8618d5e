#pragma once
// Records a generation worker's progress and finish notices and lets a test wait for them.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "params/ThresholdGeneration.h"

class GenerationNotices : public ISensingGenerateSink {
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
