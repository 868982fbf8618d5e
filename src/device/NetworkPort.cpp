// Network ports: a TCP connection that carries the line's bytes, raw or inside
// Telnet with the COM-PORT option (RFC 2217, TelnetComPort.h), behind the serial
// line's interface. POSIX sockets; NetworkPortWin32.cpp is the Winsock version.

#include "device/NetworkPort.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "common/DbgOutput.h"
#include "device/CancelEvent.h"
#include "device/TelnetComPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long a connect and the line-settings answer of an RFC 2217 server may take.
constexpr int CONNECT_TIMEOUT_MS = 3000;
constexpr int SETTINGS_REPLY_TIMEOUT_MS = 3000;

int LeftMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool ConnectOne(int fd, const addrinfo* address)
{
    if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        DbgOutputA(2, "Network port connect failed: errno %d\r\n", errno);
        return false;
    }
    pollfd pfd{fd, POLLOUT, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(CONNECT_TIMEOUT_MS);
    for (;;) {
        const int ready = ::poll(&pfd, 1, LeftMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            DbgOutputA(2, "Network port connect: no answer within %d ms\r\n", CONNECT_TIMEOUT_MS);
            return false;
        }
        break;
    }
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) {
        DbgOutputA(2, "Network port connect failed: errno %d\r\n", error);
    }
    return error == 0;
}

class NetworkSerialPort final : public SerialPort {
public:
    ~NetworkSerialPort() override
    {
        Close();
    }

    SerialOpenResult Open(const std::string& path, int baudRate) override
    {
        Close();
        ClearCancel();
        NetworkPortName name;
        if (!ParseNetworkPortName(path, name)) {
            return SerialOpenResult::NoSuchPort;
        }
        if (baudRate <= 0) {
            return SerialOpenResult::BadBaudRate;
        }
        const SerialOpenResult connected = Connect(name);
        if (connected != SerialOpenResult::Ok) {
            return connected;
        }
        telnet_ = name.scheme == NetworkScheme::Rfc2217;
        reader_.Reset();
        data_.clear();
        open_.store(true);
        if (telnet_) {
            const SerialOpenResult settled = SendLineSettings(static_cast<uint32_t>(baudRate));
            if (settled != SerialOpenResult::Ok) {
                Close();
                return settled;
            }
        }
        return SerialOpenResult::Ok;
    }

    void Close() override
    {
        open_.store(false);
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        data_.clear();
    }

    bool IsOpen() const override { return open_.load(); }

    bool Write(const uint8_t* data, size_t length, int timeoutMs) override
    {
        if (fd_ < 0) {
            return false;
        }
        if (!telnet_) {
            return SendAll(data, length, timeoutMs);
        }
        const std::vector<uint8_t> escaped = EscapeTelnetData(data, length);
        return SendAll(escaped.data(), escaped.size(), timeoutMs);
    }

    int Read(uint8_t* buffer, size_t capacity, int timeoutMs, bool cancellable) override
    {
        if (fd_ < 0) {
            return -1;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            if (!data_.empty()) {
                return TakeData(buffer, capacity);
            }
            pollfd pfds[2] = {{fd_, POLLIN, 0}, {cancel_.Fd(), POLLIN, 0}};
            const int ready = ::poll(pfds, cancellable ? 2 : 1, LeftMs(deadline));
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
            if (pfds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                if (!Receive()) {
                    return -1;
                }
            } else if (pfds[0].revents & POLLNVAL) {
                HangUp("poll", EBADF);
                return -1;
            }
        }
    }

    void DiscardInput() override
    {
        // What the server has sent so far; Telnet commands in it are still answered.
        data_.clear();
        while (fd_ >= 0) {
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, 0) <= 0 || !(pfd.revents & POLLIN)) {
                break;
            }
            if (!Receive()) {
                break;
            }
            data_.clear();
        }
    }

    bool CheckLine() override
    {
        if (fd_ < 0) {
            return false;
        }
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, 0) > 0) {
            if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                HangUp("check", EIO);
                return false;
            }
            uint8_t byte = 0;
            if ((pfd.revents & POLLIN) && ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
                HangUp("check", ECONNRESET);
                return false;
            }
        }
        return true;
    }

    void CancelRead() override { cancel_.Signal(); }

    void ClearCancel() override { cancel_.Consume(); }

    bool WaitForCancel(int timeoutMs) override { return cancel_.Wait(timeoutMs); }

private:
    SerialOpenResult Connect(const NetworkPortName& name)
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int looked = ::getaddrinfo(name.host.c_str(), name.service.c_str(), &hints, &found);
        if (looked != 0 || found == nullptr) {
            DbgOutputA(2, "Network port %s: %s\r\n", name.host.c_str(), gai_strerror(looked));
            return SerialOpenResult::NoSuchPort;
        }
        SerialOpenResult result = SerialOpenResult::NoServer;
        for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
            const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                    address->ai_protocol);
            if (fd < 0) {
                continue;
            }
            if (ConnectOne(fd, address)) {
                const int one = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                fd_ = fd;
                result = SerialOpenResult::Ok;
                break;
            }
            ::close(fd);
        }
        ::freeaddrinfo(found);
        return result;
    }

    // Offers COM-PORT, binary and no go-ahead, sends 8N1 without flow control at
    // the rate, and waits for the server to answer the rate.
    SerialOpenResult SendLineSettings(uint32_t baudRate)
    {
        const std::vector<uint8_t> out = LineSettingsRequest(baudRate);
        if (!SendAll(out.data(), out.size(), SETTINGS_REPLY_TIMEOUT_MS)) {
            return SerialOpenResult::NoServer;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(SETTINGS_REPLY_TIMEOUT_MS);
        while (!reader_.BaudReplied()) {
            pollfd pfd{fd_, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, LeftMs(deadline));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                DbgOutputA(2, "RFC 2217 server did not answer the baud rate within %d ms\r\n", SETTINGS_REPLY_TIMEOUT_MS);
                return SerialOpenResult::NoComPortControl;
            }
            if (!Receive()) {
                // It took the connection and closed it: not a server of this kind.
                return SerialOpenResult::NoComPortControl;
            }
        }
        // Bytes the line delivered before the rate was set belong to no exchange.
        data_.clear();
        if (reader_.BaudReply() != baudRate) {
            DbgOutputA(2, "RFC 2217 server set %u baud instead of %u\r\n", reader_.BaudReply(), baudRate);
            return SerialOpenResult::BadBaudRate;
        }
        return SerialOpenResult::Ok;
    }

    bool SendAll(const uint8_t* data, size_t length, int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        size_t done = 0;
        while (done < length) {
            const ssize_t n = ::send(fd_, data + done, length - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                HangUp("send", errno);
                return false;
            }
            pollfd pfd{fd_, POLLOUT, 0};
            const int left = LeftMs(deadline);
            if (left == 0) {
                return false;
            }
            const int ready = ::poll(&pfd, 1, left);
            if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                HangUp("send", EIO);
                return false;
            }
        }
        return true;
    }

    // Reads what the socket holds into data_ (Telnet commands taken out and
    // answered); false when the server has gone (the port is then closed).
    bool Receive()
    {
        uint8_t chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return true;
        }
        if (n <= 0) {
            HangUp("recv", n == 0 ? ECONNRESET : errno);
            return false;
        }
        if (!telnet_) {
            data_.insert(data_.end(), chunk, chunk + n);
            return true;
        }
        std::vector<uint8_t> answers;
        reader_.Feed(chunk, static_cast<size_t>(n), data_, answers);
        if (!answers.empty()) {
            return SendAll(answers.data(), answers.size(), SETTINGS_REPLY_TIMEOUT_MS) || fd_ >= 0;
        }
        return true;
    }

    int TakeData(uint8_t* buffer, size_t capacity)
    {
        const size_t n = std::min(capacity, data_.size());
        std::memcpy(buffer, data_.data(), n);
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int>(n);
    }

    void HangUp(const char* where, int error)
    {
        DbgOutputA(2, "Network line lost (%s, errno %d), port closed\r\n", where, error);
        Close();
    }

    int fd_ = -1;                    //!< Used only by the thread that holds the device handle's I/O lock.
    bool telnet_ = false;            //!< RFC 2217: Telnet framing on the connection; as fd_.
    TelnetReader reader_;            //!< As fd_.
    std::vector<uint8_t> data_;      //!< Line bytes received but not yet read; as fd_.
    CancelEvent cancel_;             //!< CancelRead signals it from any thread.
    std::atomic<bool> open_{false};  //!< What IsOpen reports to any thread.
};

}  // namespace

bool PortPresent(const std::string& name)
{
    NetworkPortName parsed;
    if (!ParseNetworkPortName(name, parsed)) {
        struct stat st {};
        return !IsNetworkPortName(name) && ::stat(name.c_str(), &st) == 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(parsed.host.c_str(), parsed.service.c_str(), &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    bool accepted = false;
    for (addrinfo* address = found; address != nullptr && !accepted; address = address->ai_next) {
        const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                address->ai_protocol);
        if (fd >= 0) {
            accepted = ConnectOne(fd, address);
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    return accepted;
}

std::unique_ptr<SerialPort> CreateNetworkPort()
{
    return std::make_unique<NetworkSerialPort>();
}
