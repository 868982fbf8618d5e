#pragma once
// A named worker thread running the body of an IThreadFuncInterface.
//
// StopThread only joins: the owner first makes the body return (stop flag,
// cancelled reads, signalled events), then calls StopThread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class IThreadFuncInterface {
public:
    virtual ~IThreadFuncInterface() = default;
    // Runs on the new thread with the parameter given to StartThread.
    virtual void ThreadFunc(uint64_t param) = 0;
};

class CBaseThread {
public:
    CBaseThread() = default;
    ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    // Non-zero when started; 0 when a body still runs or the thread cannot start.
    // Priority, stack size and flags are accepted for the callers' sake and ignored:
    // the system's defaults serve every worker here.
    int StartThread(const char* name, IThreadFuncInterface* body, uint64_t param, int priority = 0,
                    int stackSize = 0x400000, int flags = 0);
    // Waits for the body to return. Safe to call when nothing runs.
    void StopThread();
    // Non-zero when no body runs.
    [[nodiscard]] int IsThreadExit() const;

private:
    std::thread thread_;
    std::shared_ptr<std::atomic<bool>> running_;  //!< Set by the thread itself when its body returns.
};
