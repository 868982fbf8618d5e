#include "Output.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "app/StringTable.h"
#include "common/Utf8Text.h"

namespace {

std::mutex gOutputMutex;  //!< Serialises whole lines on stdout and stderr.

// The calling thread's PortOutputScope, if any.
struct PortOutput {
    const std::string* prefix = nullptr;
    std::vector<std::string>* keepOutput = nullptr;
    std::vector<std::string>* keepErrors = nullptr;
};
thread_local PortOutput tPortOutput;

}  // namespace

std::string CleanText(const std::string& text) {
    std::string out = DisplayText(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

std::string Text(int id, ...) {
    va_list args;
    va_start(args, id);
    std::string out = FormatStringTextV(id, args);
    va_end(args);
    return CleanText(out);
}

PortOutputScope::PortOutputScope(const std::string& prefix, std::vector<std::string>* keepOutput,
                                 std::vector<std::string>* keepErrors) {
    tPortOutput = {&prefix, keepOutput, keepErrors};
}

PortOutputScope::~PortOutputScope() { tPortOutput = {}; }

bool PrintLine(const std::string& text) {
    if (tPortOutput.keepOutput) {
        tPortOutput.keepOutput->push_back(text);
        return true;
    }
    const std::string& line = tPortOutput.prefix ? *tPortOutput.prefix + text : text;
    std::lock_guard<std::mutex> lock(gOutputMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

LineWriter::LineWriter(Mode mode) : mode_(isatty(fileno(stdout)) ? EACH_LINE : mode) {
    buffer_.reserve(80 * 1024);
}

LineWriter::~LineWriter() { Flush(); }

bool LineWriter::EndLine() {
    buffer_ += '\n';
    if (mode_ != EACH_LINE && buffer_.size() < 64 * 1024) return true;
    return Flush();
}

bool LineWriter::Flush() {
    if (buffer_.empty()) return true;
    std::lock_guard<std::mutex> lock(gOutputMutex);
    std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
    buffer_.clear();
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

void PrintError(const std::string& text) {
    if (tPortOutput.keepErrors) tPortOutput.keepErrors->push_back(text);
    const std::string& line = tPortOutput.prefix ? *tPortOutput.prefix + text : text;
    std::lock_guard<std::mutex> lock(gOutputMutex);
    std::fflush(stdout);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// ---------------------------------------------------------------- outside text

namespace {

// Length of the well-formed UTF-8 sequence at text[i], 0 when it is not one.
size_t Utf8SequenceLength(const std::string& text, size_t i) {
    const auto byte = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) length = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) length = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    else return 0;
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

std::string VisibleText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    char escape[8];
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (const size_t length = c >= 0x80 ? Utf8SequenceLength(text, i) : 0;
                   length > 0 && !(c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
            out.append(text, i, length);  // printable beyond ASCII; C2 80-9F are the C1 controls
            i += length;
        } else {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
            ++i;
        }
    }
    return out;
}

// ---------------------------------------------------------------- JSON

namespace {

std::string DumpJsonValue(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

// The object with its "format" first, the rest in their order.
Json WithJsonFormat(const Json& value) {
    if (!value.is_object() || value.contains("format")) return value;
    Json out{{"format", JSON_FORMAT}};
    for (const auto& member : value.items()) out[member.key()] = member.value();
    return out;
}

}  // namespace

std::string JsonText(const Json& value) { return DumpJsonValue(WithJsonFormat(value)); }

namespace {

void AppendShortest(std::string& out, const Json& value) {
    switch (value.type()) {
    case Json::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& member : value.items()) {
            if (!first) out += ',';
            first = false;
            out += DumpJsonValue(member.key());
            out += ':';
            AppendShortest(out, member.value());
        }
        out += '}';
        return;
    }
    case Json::value_t::array: {
        out += '[';
        for (size_t i = 0; i < value.size(); ++i) {
            if (i) out += ',';
            AppendShortest(out, value[i]);
        }
        out += ']';
        return;
    }
    case Json::value_t::number_float: {
        const double number = value.get<double>();
        if (!std::isfinite(number)) {
            out += "null";
            return;
        }
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
        out.append(buffer, result.ptr);
        return;
    }
    default:
        out += DumpJsonValue(value);
        return;
    }
}

}  // namespace

std::string JsonTextShortest(const Json& value) {
    std::string out;
    AppendShortest(out, WithJsonFormat(value));
    return out;
}

// ---------------------------------------------------------------- tables

std::vector<std::string> FormatTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Utf8CharacterCount(row[c]));
    }
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line.append(widths[c] - Utf8CharacterCount(row[c]) + 2, ' ');
        }
        lines.push_back(line);
    }
    return lines;
}

// ---------------------------------------------------------------- progress

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

// Bars of many ports would overwrite each other on one line.
ProgressBar::ProgressBar() : enabled_(StderrIsTerminal() && tPortOutput.prefix == nullptr) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::SetMaximum(uint64_t maximum) {
    std::lock_guard<std::mutex> lock(mutex_);
    maximum_ = maximum;
    lastPercent_ = -1;
    Draw();
}

void ProgressBar::SetValue(uint64_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    value_ = value;
    Draw();
}

void ProgressBar::Draw() {
    if (!enabled_) return;
    const uint64_t value = std::min(value_, maximum_);
    const int percent = maximum_ == 0 ? 100 : static_cast<int>(value * 100 / maximum_);
    if (percent == lastPercent_) return;  // a redraw per percent is enough
    lastPercent_ = percent;
    constexpr int WIDTH = 40;
    const int filled = percent * WIDTH / 100;
    std::string bar = "\r[" + std::string(filled, '#') + std::string(WIDTH - filled, '-') + "] ";
    char number[16];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    bar += number;
    std::lock_guard<std::mutex> out(gOutputMutex);
    std::fwrite(bar.data(), 1, bar.size(), stderr);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!drawn_) return;
    drawn_ = false;
    lastPercent_ = -1;
    std::lock_guard<std::mutex> out(gOutputMutex);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
