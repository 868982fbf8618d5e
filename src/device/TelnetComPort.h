#pragma once
// Telnet (RFC 854) with its COM-PORT option (RFC 2217), as an rfc2217:// network
// port speaks it, apart from the socket: the bytes sent at open, the escaping of
// the line's bytes, and the split of a server's bytes into the line's bytes and
// Telnet's. Shared by the network ports of every system (NetworkPort.cpp,
// NetworkPortWin32.cpp).

#include <cstddef>
#include <cstdint>
#include <vector>

// Splits Telnet commands off the bytes a server sends: Feed gives the line's bytes;
// negotiation requests are answered through `answers`, COM-PORT answers are kept.
class TelnetReader {
public:
    void Reset();

    // Appends the data bytes of `in` to `out` and the negotiation answers to `answers`.
    void Feed(const uint8_t* in, size_t length, std::vector<uint8_t>& out, std::vector<uint8_t>& answers);

    [[nodiscard]] bool BaudReplied() const { return baudReplied_; }
    [[nodiscard]] uint32_t BaudReply() const { return baudReply_; }

private:
    enum class State { Data, Command, Option, Sub, SubIac };

    void EndSubnegotiation();

    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_;
    uint32_t baudReply_ = 0;
    bool baudReplied_ = false;
};

// What an RFC 2217 port sends at open: it offers COM-PORT, binary and no
// go-ahead, and asks for the rate and 8N1 without flow control.
[[nodiscard]] std::vector<uint8_t> LineSettingsRequest(uint32_t baudRate);
// The line's bytes as Telnet carries them: every 0xFF doubled.
[[nodiscard]] std::vector<uint8_t> EscapeTelnetData(const uint8_t* data, size_t length);
