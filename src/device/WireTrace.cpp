#include "device/WireTrace.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

std::mutex gTraceMutex;                //!< Protects gTrace.
std::shared_ptr<WireTrace> gTrace;

std::string TimeText(std::chrono::system_clock::time_point when)
{
    const auto since = when.time_since_epoch();
    const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    const long micros = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(since).count() % 1000000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06ld", local.tm_hour, local.tm_min, local.tm_sec, micros);
    return text;
}

// The port as one field: no spaces, no control bytes.
std::string PortField(const std::string& port)
{
    std::string out;
    for (const char c : port) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '%') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    return out.empty() ? "-" : out;
}

void AppendHex(std::string& out, const uint8_t* data, size_t length)
{
    if (length == 0) {
        out += '-';
        return;
    }
    static const char DIGITS[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += DIGITS[data[i] >> 4];
        out += DIGITS[data[i] & 0x0F];
    }
}

const char* OutcomeText(TraceOutcome outcome)
{
    switch (outcome) {
    case TraceOutcome::Ok: return "ok";
    case TraceOutcome::NoReplyWanted: return "sent";
    case TraceOutcome::Timeout: return "timeout";
    case TraceOutcome::WriteFailed: return "write-failed";
    case TraceOutcome::LineLost: return "line-lost";
    case TraceOutcome::NotOpen: return "not-open";
    }
    return "?";
}

}  // namespace

std::shared_ptr<WireTrace> WireTrace::Create(const std::string& path, std::string* why)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        if (why != nullptr) {
            *why = std::strerror(errno);
        }
        return nullptr;
    }
    std::shared_ptr<WireTrace> trace(new WireTrace(file, path));
    trace->WriteLine("# palo520g wire trace: TIME PORT WORD NAME > SENT < RECEIVED = RESULT");
    return trace;
}

WireTrace::WireTrace(std::FILE* file, std::string path) : path_(std::move(path)), file_(file) {}

WireTrace::~WireTrace()
{
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void WireTrace::WriteLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool written = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
                         std::fputc('\n', file_) != EOF && std::fflush(file_) == 0;
    if (!written && writeError_ == 0) {
        writeError_ = errno != 0 ? errno : EIO;
    }
}

int WireTrace::WriteError()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return writeError_;
}

void WireTrace::Exchange(const std::string& port, uint16_t command, std::chrono::system_clock::time_point started,
                         const std::vector<uint8_t>& sent, const std::vector<uint8_t>& received, TraceOutcome outcome,
                         int waitedMs)
{
    char word[8];
    std::snprintf(word, sizeof word, "%04X", command);
    std::string line = TimeText(started) + ' ' + PortField(port) + ' ' + word + ' ' + CommandWordName(command) + " > ";
    AppendHex(line, sent.data(), sent.size());
    line += " < ";
    AppendHex(line, received.data(), received.size());
    line += " = ";
    line += OutcomeText(outcome);
    if (outcome != TraceOutcome::NoReplyWanted && outcome != TraceOutcome::NotOpen) {
        line += ' ' + std::to_string(waitedMs) + " ms";
    }
    WriteLine(line);
}

void WireTrace::Stream(const std::string& port, std::chrono::system_clock::time_point when, const uint8_t* data,
                       size_t length)
{
    std::string line = TimeText(when) + ' ' + PortField(port) + " ---- stream > - < ";
    AppendHex(line, data, length);
    line += " = " + std::to_string(length) + " bytes";
    WriteLine(line);
}

void WireTrace::Event(const std::string& port, const std::string& what)
{
    WriteLine(TimeText(std::chrono::system_clock::now()) + ' ' + PortField(port) + " ---- " + what + " > - < - = -");
}

const char* CommandWordName(uint16_t command)
{
    switch (command) {
    case 0x00FF: return "enter-command-mode";
    case 0x00FE: return "leave-command-mode";
    case 0x0000: return "read-version";
    case 0x0011: return "read-serial-number";
    case 0x0009: return "generate-thresholds";
    case 0x0060: return "read-running-mode";
    case 0x0061: return "read-partitions";
    case 0x0062: return "announce-image";
    case 0x0063: return "image-packet";
    case 0x0064: return "reset-to-bootloader";
    case 0x0065: return "read-device-id";
    case 0x0070: return "write-detection";
    case 0x0071: return "read-detection";
    case 0x0072: return "write-trigger-table";
    case 0x0073: return "read-trigger-table";
    case 0x0074: return "write-appear-table";
    case 0x0075: return "read-appear-table";
    case 0x0076: return "write-hold-table";
    case 0x0077: return "read-hold-table";
    case 0x007A: return "report-output";
    default: return "command";
    }
}

void SetWireTrace(std::shared_ptr<WireTrace> trace)
{
    std::lock_guard<std::mutex> lock(gTraceMutex);
    gTrace = std::move(trace);
}

std::shared_ptr<WireTrace> CurrentWireTrace()
{
    std::lock_guard<std::mutex> lock(gTraceMutex);
    return gTrace;
}
