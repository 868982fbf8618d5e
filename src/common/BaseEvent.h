#pragma once
// An event a thread waits on and another signals; auto-reset unless asked otherwise.

#include <condition_variable>
#include <mutex>

class CBaseEvent {
public:
    // A manual-reset event stays signalled until Reset; an auto-reset one wakes one Wait.
    explicit CBaseEvent(bool manualReset = false, bool initiallySet = false)
        : manualReset_(manualReset), signalled_(initiallySet) {}

    void Set();
    void Reset();
    // True when the event was signalled within the time-out (ms; negative waits forever).
    bool Wait(int timeoutMs);

private:
    std::mutex mutex_;  //!< Protects signalled_.
    std::condition_variable changed_;
    const bool manualReset_;
    bool signalled_;
};
