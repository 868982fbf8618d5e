// Serial line on Linux: termios2 for arbitrary baud rates (BOTHER), TIOCEXCL plus
// an advisory lock for exclusive use, poll on the line and an eventfd for reads
// another thread can cancel.

#include "device/SerialPort.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>

#include "common/DbgOutput.h"
#include "device/CancelEvent.h"

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

SerialOpenResult ResultFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return SerialOpenResult::NoSuchPort;
    case EBUSY:
    case EWOULDBLOCK:
        return SerialOpenResult::Busy;
    case EACCES:
    case EPERM:
        return SerialOpenResult::PermissionDenied;
    case EISDIR:
        return SerialOpenResult::IsFolder;
    default:
        return SerialOpenResult::Other;
    }
}

class PosixSerialPort final : public SerialPort {
public:
    ~PosixSerialPort() override
    {
        Close();
    }

    SerialOpenResult Open(const std::string& path, int baudRate) override
    {
        Close();
        ClearCancel();
        if (path.empty()) {
            return SerialOpenResult::NoSuchPort;
        }
        if (baudRate <= 0) {
            return SerialOpenResult::BadBaudRate;
        }
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            DbgOutputA(2, "Serial open %s failed: errno %d\r\n", path.c_str(), error);
            return ResultFromErrno(error);
        }
        if (!::isatty(fd)) {
            ::close(fd);
            return SerialOpenResult::NotSerialPort;
        }
        // The terminal this program runs in (/dev/tty or its real name): frames sent
        // there would land on the user's screen.
        pid_t session = -1;
        if (::ioctl(fd, TIOCGSID, &session) == 0 && session >= 0 && session == ::getsid(0)) {
            ::close(fd);
            DbgOutputA(2, "Serial open %s refused: the controlling terminal\r\n", path.c_str());
            return SerialOpenResult::ControllingTerminal;
        }
        // TIOCEXCL keeps out other users' opens, but root passes it (and a
        // pseudo-terminal's owner may too), so cooperating programs also take the lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            return error == EWOULDBLOCK ? SerialOpenResult::Busy : ResultFromErrno(error);
        }
        ::ioctl(fd, TIOCEXCL);

        struct termios2 tio {};
        if (::ioctl(fd, TCGETS2, &tio) != 0) {
            ::close(fd);
            return SerialOpenResult::Other;
        }
        // Put back at close, so the line is left as it was found.
        saved_ = tio;
        tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
        tio.c_oflag &= ~OPOST;
        tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
        tio.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
        tio.c_ispeed = static_cast<speed_t>(baudRate);
        tio.c_ospeed = static_cast<speed_t>(baudRate);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::ioctl(fd, TCSETS2, &tio) != 0) {
            const int error = errno;
            ::close(fd);
            DbgOutputA(2, "Serial %s refused %d baud: errno %d\r\n", path.c_str(), baudRate, error);
            return error == EINVAL ? SerialOpenResult::BadBaudRate : SerialOpenResult::Other;
        }
        ::ioctl(fd, TCFLSH, TCIOFLUSH);
        fd_ = fd;
        open_.store(true);
        return SerialOpenResult::Ok;
    }

    void Close() override
    {
        open_.store(false);
        if (fd_ >= 0) {
            ::ioctl(fd_, TCSETS2, &saved_);
            ::ioctl(fd_, TIOCNXCL);
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
            fd_ = -1;
        }
    }

    bool IsOpen() const override { return open_.load(); }

    bool Write(const uint8_t* data, size_t length, int timeoutMs) override
    {
        if (fd_ < 0) {
            return false;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t done = 0;
        while (done < length) {
            const ssize_t n = ::write(fd_, data + done, length - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                HangUp("write", errno);
                return false;
            }
            // The driver's queue is full: wait until it drains a little.
            pollfd pfd{fd_, POLLOUT, 0};
            const int left = RemainingMs(deadline);
            if (left == 0) {
                return false;
            }
            const int ready = ::poll(&pfd, 1, left);
            if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                HangUp("write", EIO);
                return false;
            }
        }
        return true;
    }

    int Read(uint8_t* buffer, size_t capacity, int timeoutMs, bool cancellable) override
    {
        if (fd_ < 0) {
            return -1;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            pollfd pfds[2] = {{fd_, POLLIN, 0}, {cancel_.Fd(), POLLIN, 0}};
            const int ready = ::poll(pfds, cancellable ? 2 : 1, RemainingMs(deadline));
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                HangUp("poll", errno);
                return -1;
            }
            if (ready == 0) {
                return 0;
            }
            if (cancellable && (pfds[1].revents & POLLIN)) {
                cancel_.Consume();
                return 0;
            }
            const short events = pfds[0].revents;
            if (events & POLLIN) {
                const ssize_t n = ::read(fd_, buffer, capacity);
                if (n > 0) {
                    return static_cast<int>(n);
                }
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    continue;
                }
                // Readable yet nothing to read (end of file) or EIO: the other end is gone.
                HangUp("read", n == 0 ? EIO : errno);
                return -1;
            }
            if (events & (POLLHUP | POLLERR | POLLNVAL)) {
                HangUp("poll", EIO);
                return -1;
            }
        }
    }

    void DiscardInput() override
    {
        if (fd_ >= 0) {
            ::ioctl(fd_, TCFLSH, TCIFLUSH);
        }
    }

    bool CheckLine() override
    {
        if (fd_ < 0) {
            return false;
        }
        pollfd pfd{fd_, 0, 0};
        if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            HangUp("check", EIO);
            return false;
        }
        return true;
    }

    void CancelRead() override { cancel_.Signal(); }

    void ClearCancel() override { cancel_.Consume(); }

    bool WaitForCancel(int timeoutMs) override { return cancel_.Wait(timeoutMs); }

private:
    void HangUp(const char* where, int error)
    {
        DbgOutputA(2, "Serial line lost (%s, errno %d), port closed\r\n", where, error);
        Close();
    }

    int fd_ = -1;                    //!< Used only by the thread that holds the device handle's I/O lock.
    struct termios2 saved_ {};  // the line's settings before Open
    CancelEvent cancel_;             //!< CancelRead signals it from any thread.
    std::atomic<bool> open_{false};  //!< What IsOpen reports to any thread.
};

}  // namespace

std::unique_ptr<SerialPort> CreateSerialPort()
{
    return std::make_unique<PosixSerialPort>();
}
