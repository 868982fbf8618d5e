#include "device/TelnetComPort.h"

namespace {

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
constexpr uint8_t COM_PORT_PARITY_NONE = 1;
constexpr uint8_t COM_PORT_STOPSIZE_ONE = 1;
constexpr uint8_t COM_PORT_CONTROL_NO_FLOW = 1;
// Longest subnegotiation kept; a server's COM-PORT answers are a few bytes.
constexpr size_t MAX_SUBNEGOTIATION = 64;

bool TelnetWanted(uint8_t option)
{
    return option == OPTION_BINARY || option == OPTION_SUPPRESS_GO_AHEAD || option == OPTION_COM_PORT;
}

// The options this side offered and asked for at open are already agreed; any
// other is refused, so that neither side waits for it.
void TelnetAnswer(uint8_t verb, uint8_t option, std::vector<uint8_t>& answers)
{
    if (verb == TELNET_DO && !TelnetWanted(option)) {
        answers.insert(answers.end(), {TELNET_IAC, TELNET_WONT, option});
    } else if (verb == TELNET_WILL && !TelnetWanted(option)) {
        answers.insert(answers.end(), {TELNET_IAC, TELNET_DONT, option});
    }
}

void AppendComPortSubnegotiation(std::vector<uint8_t>& out, uint8_t command, const std::vector<uint8_t>& value)
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

}  // namespace

void TelnetReader::Reset()
{
    state_ = State::Data;
    sub_.clear();
    baudReply_ = 0;
    baudReplied_ = false;
}

void TelnetReader::Feed(const uint8_t* in, size_t length, std::vector<uint8_t>& out, std::vector<uint8_t>& answers)
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
            TelnetAnswer(verb_, byte, answers);
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

void TelnetReader::EndSubnegotiation()
{
    if (sub_.size() >= 6 && sub_[0] == OPTION_COM_PORT &&
        sub_[1] == COM_PORT_SERVER_OFFSET + COM_PORT_SET_BAUDRATE) {
        baudReply_ = (static_cast<uint32_t>(sub_[2]) << 24) | (static_cast<uint32_t>(sub_[3]) << 16) |
                     (static_cast<uint32_t>(sub_[4]) << 8) | sub_[5];
        baudReplied_ = true;
    }
}

std::vector<uint8_t> LineSettingsRequest(uint32_t baudRate)
{
    std::vector<uint8_t> out = {TELNET_IAC, TELNET_WILL, OPTION_COM_PORT,          TELNET_IAC, TELNET_WILL,
                                OPTION_BINARY, TELNET_IAC, TELNET_DO, OPTION_BINARY, TELNET_IAC,
                                TELNET_WILL, OPTION_SUPPRESS_GO_AHEAD, TELNET_IAC, TELNET_DO,
                                OPTION_SUPPRESS_GO_AHEAD};
    AppendComPortSubnegotiation(out, COM_PORT_SET_BAUDRATE,
                         {static_cast<uint8_t>(baudRate >> 24), static_cast<uint8_t>(baudRate >> 16),
                          static_cast<uint8_t>(baudRate >> 8), static_cast<uint8_t>(baudRate)});
    AppendComPortSubnegotiation(out, COM_PORT_SET_DATASIZE, {8});
    AppendComPortSubnegotiation(out, COM_PORT_SET_PARITY, {COM_PORT_PARITY_NONE});
    AppendComPortSubnegotiation(out, COM_PORT_SET_STOPSIZE, {COM_PORT_STOPSIZE_ONE});
    AppendComPortSubnegotiation(out, COM_PORT_SET_CONTROL, {COM_PORT_CONTROL_NO_FLOW});
    return out;
}

std::vector<uint8_t> EscapeTelnetData(const uint8_t* data, size_t length)
{
    std::vector<uint8_t> escaped;
    escaped.reserve(length + 8);
    for (size_t i = 0; i < length; ++i) {
        escaped.push_back(data[i]);
        if (data[i] == TELNET_IAC) {
            escaped.push_back(TELNET_IAC);
        }
    }
    return escaped;
}
