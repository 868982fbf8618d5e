#include "common/BaseEvent.h"

#include <chrono>

void CBaseEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    if (manualReset_) changed_.notify_all();
    else changed_.notify_one();
}

void CBaseEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool CBaseEvent::Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto isSet = [this] { return signalled_; };
    if (timeoutMs < 0) changed_.wait(lock, isSet);
    else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet)) return false;
    if (!manualReset_) signalled_ = false;
    return true;
}
