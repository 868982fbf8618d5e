// Network ports in Windows builds: the TCP connection over Winsock, raw or inside
// Telnet with the COM-PORT option (TelnetComPort.h), behind the serial line's
// interface, as NetworkPort.cpp does with POSIX sockets. A read waits on the
// socket's event (WSAEventSelect) and the cancel event together.

#include "device/NetworkPort.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "common/DbgOutput.h"
#include "device/TelnetComPort.h"

namespace {

using NetClock = std::chrono::steady_clock;

// How long a connect and the line-settings answer of an RFC 2217 server may take.
constexpr int NET_CONNECT_TIMEOUT_MS = 3000;
constexpr int NET_SETTINGS_REPLY_TIMEOUT_MS = 3000;

int NetLeftMs(NetClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - NetClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Winsock is started once per process and left running until it ends.
bool StartWinsock()
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

// Waits up to timeoutMs for the socket to become writable (write) or readable;
// 1 when it did, 0 on a time-out, -1 when the socket reported an error.
int WaitSocket(SOCKET socket, bool write, int timeoutMs)
{
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
    if (n == SOCKET_ERROR || FD_ISSET(socket, &failed)) {
        return -1;
    }
    return n > 0 ? 1 : 0;
}

// Connects a non-blocking socket within the connect time-out.
bool ConnectSocket(SOCKET socket, const addrinfo* address)
{
    if (connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) {
        return true;
    }
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        DbgOutputA(2, "Network port connect failed: error %d\r\n", error);
        return false;
    }
    // A refused connect shows in the "failed" set (Windows) or as writable with SO_ERROR set (Wine).
    if (WaitSocket(socket, true, NET_CONNECT_TIMEOUT_MS) <= 0) {
        DbgOutputA(2, "Network port connect: refused or no answer within %d ms\r\n", NET_CONNECT_TIMEOUT_MS);
        return false;
    }
    int soError = 0;
    int size = sizeof soError;
    getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size);
    if (soError != 0) {
        DbgOutputA(2, "Network port connect failed: error %d\r\n", soError);
    }
    return soError == 0;
}

SOCKET NonBlockingSocket(const addrinfo* address)
{
    const SOCKET socket = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (socket == INVALID_SOCKET) {
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return socket;
}

class WinsockSerialPort final : public SerialPort {
public:
    WinsockSerialPort()
    {
        cancelEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        socketEvent_ = WSACreateEvent();
    }

    ~WinsockSerialPort() override
    {
        Close();
        if (cancelEvent_ != nullptr) {
            CloseHandle(cancelEvent_);
        }
        if (socketEvent_ != WSA_INVALID_EVENT) {
            WSACloseEvent(socketEvent_);
        }
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
        if (!StartWinsock() || cancelEvent_ == nullptr || socketEvent_ == WSA_INVALID_EVENT) {
            return SerialOpenResult::Other;
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
        if (socket_ != INVALID_SOCKET) {
            WSAEventSelect(socket_, socketEvent_, 0);
            closesocket(socket_);
            socket_ = INVALID_SOCKET;
            WSAResetEvent(socketEvent_);
        }
        data_.clear();
    }

    bool IsOpen() const override { return open_.load(); }

    bool Write(const uint8_t* data, size_t length, int timeoutMs) override
    {
        if (socket_ == INVALID_SOCKET) {
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
        if (socket_ == INVALID_SOCKET) {
            return -1;
        }
        const auto deadline = NetClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            if (!data_.empty()) {
                return TakeData(buffer, capacity);
            }
            const HANDLE events[2] = {socketEvent_, cancelEvent_};
            const DWORD woken = WaitForMultipleObjects(cancellable ? 2 : 1, events, FALSE,
                                                       static_cast<DWORD>(NetLeftMs(deadline)));
            if (woken == WAIT_TIMEOUT) {
                return 0;
            }
            if (woken == WAIT_OBJECT_0 + 1) {
                return 0;  // the auto-reset cancel event is consumed by the wait
            }
            if (woken != WAIT_OBJECT_0) {
                HangUp("wait", static_cast<int>(GetLastError()));
                return -1;
            }
            WSANETWORKEVENTS happened{};
            WSAEnumNetworkEvents(socket_, socketEvent_, &happened);  // resets the event
            if (happened.lNetworkEvents & (FD_READ | FD_CLOSE)) {
                if (!Receive()) {
                    return -1;
                }
            }
        }
    }

    void DiscardInput() override
    {
        // What the server has sent so far; Telnet commands in it are still answered.
        data_.clear();
        while (socket_ != INVALID_SOCKET && WaitSocket(socket_, false, 0) > 0) {
            const size_t before = received_;
            if (!Receive() || received_ == before) {
                break;
            }
            data_.clear();
        }
    }

    bool CheckLine() override
    {
        if (socket_ == INVALID_SOCKET) {
            return false;
        }
        const int ready = WaitSocket(socket_, false, 0);
        if (ready < 0) {
            HangUp("check", WSAGetLastError());
            return false;
        }
        if (ready > 0) {
            char byte = 0;
            const int n = recv(socket_, &byte, 1, MSG_PEEK);
            if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) {
                HangUp("check", n == 0 ? WSAECONNRESET : WSAGetLastError());
                return false;
            }
        }
        return true;
    }

    void CancelRead() override
    {
        if (cancelEvent_ != nullptr) {
            SetEvent(cancelEvent_);
        }
    }

    void ClearCancel() override
    {
        if (cancelEvent_ != nullptr) {
            ResetEvent(cancelEvent_);
        }
    }

    bool WaitForCancel(int timeoutMs) override
    {
        return cancelEvent_ != nullptr &&
               WaitForSingleObject(cancelEvent_, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs)) == WAIT_OBJECT_0;
    }

private:
    SerialOpenResult Connect(const NetworkPortName& name)
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* found = nullptr;
        const int looked = getaddrinfo(name.host.c_str(), name.service.c_str(), &hints, &found);
        if (looked != 0 || found == nullptr) {
            DbgOutputA(2, "Network port %s: name not found (error %d)\r\n", name.host.c_str(), looked);
            return SerialOpenResult::NoSuchPort;
        }
        SerialOpenResult result = SerialOpenResult::NoServer;
        for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
            const SOCKET socket = NonBlockingSocket(address);
            if (socket == INVALID_SOCKET) {
                continue;
            }
            if (ConnectSocket(socket, address) &&
                WSAEventSelect(socket, socketEvent_, FD_READ | FD_CLOSE) == 0) {
                const BOOL one = TRUE;
                setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
                socket_ = socket;
                result = SerialOpenResult::Ok;
                break;
            }
            closesocket(socket);
        }
        freeaddrinfo(found);
        return result;
    }

    // Sends the offer and the line settings and waits for the server to answer the rate.
    SerialOpenResult SendLineSettings(uint32_t baudRate)
    {
        const std::vector<uint8_t> out = LineSettingsRequest(baudRate);
        if (!SendAll(out.data(), out.size(), NET_SETTINGS_REPLY_TIMEOUT_MS)) {
            return SerialOpenResult::NoServer;
        }
        const auto deadline = NetClock::now() + std::chrono::milliseconds(NET_SETTINGS_REPLY_TIMEOUT_MS);
        while (!reader_.BaudReplied()) {
            const int ready = WaitSocket(socket_, false, NetLeftMs(deadline));
            if (ready == 0) {
                DbgOutputA(2, "RFC 2217 server did not answer the baud rate within %d ms\r\n",
                           NET_SETTINGS_REPLY_TIMEOUT_MS);
                return SerialOpenResult::NoComPortControl;
            }
            if (ready < 0 || !Receive()) {
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
        const auto deadline = NetClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        size_t done = 0;
        while (done < length) {
            const int n = send(socket_, reinterpret_cast<const char*>(data + done),
                               static_cast<int>(std::min<size_t>(length - done, 1 << 20)), 0);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            const int error = WSAGetLastError();
            if (n == SOCKET_ERROR && error != WSAEWOULDBLOCK) {
                HangUp("send", error);
                return false;
            }
            const int left = NetLeftMs(deadline);
            if (left == 0) {
                return false;
            }
            if (WaitSocket(socket_, true, left) < 0) {
                HangUp("send", WSAECONNRESET);
                return false;
            }
        }
        return true;
    }

    // Reads what the socket holds into data_ (Telnet commands taken out and
    // answered); false when the server has gone (the port is then closed).
    bool Receive()
    {
        char chunk[4096];
        const int n = recv(socket_, chunk, sizeof chunk, 0);
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            return true;
        }
        if (n <= 0) {
            HangUp("recv", n == 0 ? WSAECONNRESET : WSAGetLastError());
            return false;
        }
        received_ += static_cast<size_t>(n);
        const auto* bytes = reinterpret_cast<const uint8_t*>(chunk);
        if (!telnet_) {
            data_.insert(data_.end(), bytes, bytes + n);
            return true;
        }
        std::vector<uint8_t> answers;
        reader_.Feed(bytes, static_cast<size_t>(n), data_, answers);
        if (!answers.empty()) {
            return SendAll(answers.data(), answers.size(), NET_SETTINGS_REPLY_TIMEOUT_MS) || socket_ != INVALID_SOCKET;
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
        DbgOutputA(2, "Network line lost (%s, error %d), port closed\r\n", where, error);
        Close();
    }

    SOCKET socket_ = INVALID_SOCKET;  //!< Used only by the thread that holds the device handle's I/O lock.
    bool telnet_ = false;             //!< RFC 2217: Telnet framing on the connection; as socket_.
    TelnetReader reader_;             //!< As socket_.
    std::vector<uint8_t> data_;       //!< Line bytes received but not yet read; as socket_.
    size_t received_ = 0;             //!< Bytes received in all; as socket_.
    WSAEVENT socketEvent_ = WSA_INVALID_EVENT;  //!< Set by Winsock when the socket can be read or closed.
    HANDLE cancelEvent_ = nullptr;    //!< Auto-reset; CancelRead sets it from any thread.
    std::atomic<bool> open_{false};   //!< What IsOpen reports to any thread.
};

}  // namespace

bool PortPresent(const std::string& name)
{
    NetworkPortName parsed;
    if (!ParseNetworkPortName(name, parsed)) {
        std::error_code error;
        return !IsNetworkPortName(name) && std::filesystem::exists(name, error);
    }
    if (!StartWinsock()) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(parsed.host.c_str(), parsed.service.c_str(), &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    bool accepted = false;
    for (addrinfo* address = found; address != nullptr && !accepted; address = address->ai_next) {
        const SOCKET socket = NonBlockingSocket(address);
        if (socket != INVALID_SOCKET) {
            accepted = ConnectSocket(socket, address);
            closesocket(socket);
        }
    }
    freeaddrinfo(found);
    return accepted;
}

std::unique_ptr<SerialPort> CreateNetworkPort()
{
    return std::make_unique<WinsockSerialPort>();
}
