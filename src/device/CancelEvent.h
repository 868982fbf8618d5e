#pragma once
// The cancel of a blocked read on a POSIX line: an eventfd that a read polls
// beside its descriptor. Signal may come from any thread; the rest belongs to the
// line's reading side. It lives as long as its line object.

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

class CancelEvent {
public:
    CancelEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~CancelEvent()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    CancelEvent(const CancelEvent&) = delete;
    CancelEvent& operator=(const CancelEvent&) = delete;

    // The descriptor a read polls for POLLIN beside its own.
    [[nodiscard]] int Fd() const { return fd_; }

    void Signal() const
    {
        const uint64_t one = 1;
        if (fd_ >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof(one));
        }
    }

    // Takes back a signal given earlier (none: nothing happens).
    void Consume() const
    {
        uint64_t count = 0;
        if (fd_ >= 0) {
            [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof(count));
        }
    }

    // True (and the signal taken) when one comes within timeoutMs.
    bool Wait(int timeoutMs) const
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd pfd{fd_, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, left > 0 ? static_cast<int>(left) : 0);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready > 0) {
                Consume();
                return true;
            }
            return false;
        }
    }

private:
    int fd_;
};
