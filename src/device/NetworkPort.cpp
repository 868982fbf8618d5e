// Network ports: a TCP connection that carries the line's bytes, raw or inside
// Telnet with the COM-PORT option (RFC 2217), behind the serial line's interface.

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

namespace {

using Clock = std::chrono::steady_clock;

// How long a connect and the line-settings answer of an RFC 2217 server may take.
constexpr int CONNECT_TIMEOUT_MS = 3000;
constexpr int SETTINGS_REPLY_TIMEOUT_MS = 3000;

// Telnet (RFC 854) and its COM-PORT option (RFC 2217).
constexpr uint8_t TELNET_IAC = 255;
constexpr uint8_t TELNET_DONT = 254;
constexpr uint8_t TELNET_DO = 253;
constexpr uint8_t TELNET_WONT = 252;
constexpr uint8_t TELNET_WILL = 251;
constexpr uint8_t TELNET_SB = 250;
constexpr uint8_t TELNET_SE = 240;
constexpr uint8_t OPTION_BINARY = 0;
constexpr uint8_t OPTION_SUPPRESS_GO_AHEAD = 3;
constexpr uint8_t OPTION_COM_PORT = 44;
constexpr uint8_t COM_PORT_SET_BAUDRATE = 1;
constexpr uint8_t COM_PORT_SET_DATASIZE = 2;
constexpr uint8_t COM_PORT_SET_PARITY = 3;
constexpr uint8_t COM_PORT_SET_STOPSIZE = 4;
constexpr uint8_t COM_PORT_SET_CONTROL = 5;
constexpr uint8_t COM_PORT_SERVER_OFFSET = 100;  // a server's answer carries the command + 100
constexpr uint8_t PARITY_NONE = 1;
constexpr uint8_t STOPSIZE_ONE = 1;
constexpr uint8_t CONTROL_NO_FLOW = 1;
// Longest subnegotiation kept; a server's COM-PORT answers are a few bytes.
constexpr size_t MAX_SUBNEGOTIATION = 64;

int LeftMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Splits Telnet commands off the bytes a server sends: Feed gives the line's bytes;
// negotiation requests are answered through `answers`, COM-PORT answers are kept.
class TelnetReader {
public:
    void Reset()
    {
        state_ = State::Data;
        sub_.clear();
        baudReply_ = 0;
        baudReplied_ = false;
    }

    // Appends the data bytes of `in` to `out` and the negotiation answers to `answers`.
    void Feed(const uint8_t* in, size_t length, std::vector<uint8_t>& out, std::vector<uint8_t>& answers)
    {
        for (size_t i = 0; i < length; ++i) {
            const uint8_t byte = in[i];
            switch (state_) {
            case State::Data:
                if (byte == TELNET_IAC) {
                    state_ = State::Command;
                } else {
                    out.push_back(byte);
                }
                break;
            case State::Command:
                if (byte == TELNET_IAC) {
                    out.push_back(byte);  // an escaped 0xFF of the line
                    state_ = State::Data;
                } else if (byte >= TELNET_WILL && byte <= TELNET_DONT) {
                    verb_ = byte;
                    state_ = State::Option;
                } else if (byte == TELNET_SB) {
                    sub_.clear();
                    state_ = State::Sub;
                } else {
                    state_ = State::Data;  // NOP, GA and the like carry nothing for the line
                }
                break;
            case State::Option:
                Answer(verb_, byte, answers);
                state_ = State::Data;
                break;
            case State::Sub:
                if (byte == TELNET_IAC) {
                    state_ = State::SubIac;
                } else if (sub_.size() < MAX_SUBNEGOTIATION) {
                    sub_.push_back(byte);
                }
                break;
            case State::SubIac:
                if (byte == TELNET_SE) {
                    EndSubnegotiation();
                    state_ = State::Data;
                } else {
                    if (sub_.size() < MAX_SUBNEGOTIATION) {
                        sub_.push_back(byte);  // IAC IAC inside: one 0xFF
                    }
                    state_ = State::Sub;
                }
                break;
            }
        }
    }

    [[nodiscard]] bool BaudReplied() const { return baudReplied_; }
    [[nodiscard]] uint32_t BaudReply() const { return baudReply_; }

private:
    enum class State { Data, Command, Option, Sub, SubIac };

    static bool Wanted(uint8_t option)
    {
        return option == OPTION_BINARY || option == OPTION_SUPPRESS_GO_AHEAD || option == OPTION_COM_PORT;
    }

    // The options this side offered and asked for at open are already agreed; any
    // other is refused, so that neither side waits for it.
    static void Answer(uint8_t verb, uint8_t option, std::vector<uint8_t>& answers)
    {
        if (verb == TELNET_DO && !Wanted(option)) {
            answers.insert(answers.end(), {TELNET_IAC, TELNET_WONT, option});
        } else if (verb == TELNET_WILL && !Wanted(option)) {
            answers.insert(answers.end(), {TELNET_IAC, TELNET_DONT, option});
        }
    }

    void EndSubnegotiation()
    {
        if (sub_.size() >= 6 && sub_[0] == OPTION_COM_PORT &&
            sub_[1] == COM_PORT_SERVER_OFFSET + COM_PORT_SET_BAUDRATE) {
            baudReply_ = (static_cast<uint32_t>(sub_[2]) << 24) | (static_cast<uint32_t>(sub_[3]) << 16) |
                         (static_cast<uint32_t>(sub_[4]) << 8) | sub_[5];
            baudReplied_ = true;
        }
    }

    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_;
    uint32_t baudReply_ = 0;
    bool baudReplied_ = false;
};

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

void AppendSubnegotiation(std::vector<uint8_t>& out, uint8_t command, const std::vector<uint8_t>& value)
{
    out.insert(out.end(), {TELNET_IAC, TELNET_SB, OPTION_COM_PORT, command});
    for (const uint8_t byte : value) {
        out.push_back(byte);
        if (byte == TELNET_IAC) {
            out.push_back(TELNET_IAC);
        }
    }
    out.insert(out.end(), {TELNET_IAC, TELNET_SE});
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
        std::vector<uint8_t> escaped;
        escaped.reserve(length + 8);
        for (size_t i = 0; i < length; ++i) {
            escaped.push_back(data[i]);
            if (data[i] == TELNET_IAC) {
                escaped.push_back(TELNET_IAC);
            }
        }
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
        std::vector<uint8_t> out = {TELNET_IAC, TELNET_WILL, OPTION_COM_PORT,          TELNET_IAC, TELNET_WILL,
                                    OPTION_BINARY, TELNET_IAC, TELNET_DO, OPTION_BINARY, TELNET_IAC,
                                    TELNET_WILL, OPTION_SUPPRESS_GO_AHEAD, TELNET_IAC, TELNET_DO,
                                    OPTION_SUPPRESS_GO_AHEAD};
        AppendSubnegotiation(out, COM_PORT_SET_BAUDRATE,
                             {static_cast<uint8_t>(baudRate >> 24), static_cast<uint8_t>(baudRate >> 16),
                              static_cast<uint8_t>(baudRate >> 8), static_cast<uint8_t>(baudRate)});
        AppendSubnegotiation(out, COM_PORT_SET_DATASIZE, {8});
        AppendSubnegotiation(out, COM_PORT_SET_PARITY, {PARITY_NONE});
        AppendSubnegotiation(out, COM_PORT_SET_STOPSIZE, {STOPSIZE_ONE});
        AppendSubnegotiation(out, COM_PORT_SET_CONTROL, {CONTROL_NO_FLOW});
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

// Opens the kind of line the name asks for. Cancels go to both, so that one
// made while the other kind is being opened is not lost (Open clears it anyway).
class AnyNamePort final : public SerialPort {
public:
    AnyNamePort() : local_(CreateSerialPort()), network_(CreateNetworkPort()), active_(local_.get()) {}

    SerialOpenResult Open(const std::string& path, int baudRate) override
    {
        SerialPort* chosen = IsNetworkPortName(path) ? network_.get() : local_.get();
        SerialPort* other = chosen == local_.get() ? network_.get() : local_.get();
        other->Close();
        active_.store(chosen);
        return chosen->Open(path, baudRate);
    }
    void Close() override { active_.load()->Close(); }
    bool IsOpen() const override { return active_.load()->IsOpen(); }
    bool Write(const uint8_t* data, size_t length, int timeoutMs) override
    {
        return active_.load()->Write(data, length, timeoutMs);
    }
    int Read(uint8_t* buffer, size_t capacity, int timeoutMs, bool cancellable) override
    {
        return active_.load()->Read(buffer, capacity, timeoutMs, cancellable);
    }
    void DiscardInput() override { active_.load()->DiscardInput(); }
    bool CheckLine() override { return active_.load()->CheckLine(); }
    void CancelRead() override
    {
        local_->CancelRead();
        network_->CancelRead();
    }
    void ClearCancel() override
    {
        local_->ClearCancel();
        network_->ClearCancel();
    }
    bool WaitForCancel(int timeoutMs) override { return active_.load()->WaitForCancel(timeoutMs); }

private:
    std::unique_ptr<SerialPort> local_;
    std::unique_ptr<SerialPort> network_;
    std::atomic<SerialPort*> active_;  //!< Changed by Open only; read by any thread.
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

std::unique_ptr<SerialPort> CreatePortForAnyName()
{
    return std::make_unique<AnyNamePort>();
}
