#include "common/BaseThread.h"

#include <pthread.h>
#include <string>

CBaseThread::~CBaseThread() { StopThread(); }

int CBaseThread::StartThread(const char* name, IThreadFuncInterface* body, uint64_t param, int, int, int) {
    if (!body || !IsThreadExit()) return 0;
    if (thread_.joinable()) thread_.join();
    auto running = std::make_shared<std::atomic<bool>>(true);
    running_ = running;
    std::string threadName = name ? name : "";
    try {
        thread_ = std::thread([body, param, running, threadName]() {
            if (!threadName.empty()) pthread_setname_np(pthread_self(), threadName.substr(0, 15).c_str());
            body->ThreadFunc(param);
            running->store(false);
        });
    } catch (...) {
        running->store(false);
        return 0;
    }
    return 1;
}

void CBaseThread::StopThread() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

int CBaseThread::IsThreadExit() const { return !running_ || !running_->load() ? 1 : 0; }
