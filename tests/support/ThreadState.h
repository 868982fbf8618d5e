#pragma once
// What another thread of this process is doing, read from /proc: a test that must
// act while a thread is blocked in a read waits until it is, not for a fixed time.

#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <string>

// The calling thread's id, for ThreadWaitsInPoll.
inline pid_t CurrentThreadId()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// True while the thread is blocked in poll or ppoll (the waits of the serial line).
inline bool ThreadWaitsInPoll(pid_t threadId)
{
    // "running" while the thread runs, else the number of the system call it waits in.
    std::ifstream file("/proc/self/task/" + std::to_string(threadId) + "/syscall");
    long number = -1;
    if (!(file >> number)) {
        return false;
    }
#ifdef SYS_poll
    if (number == SYS_poll) {
        return true;
    }
#endif
    return number == SYS_ppoll;
}
