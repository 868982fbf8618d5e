#include "common/ValueParse.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text without surrounding blanks, or empty.
std::string Trimmed(const char* text, size_t length) {
    size_t end = strnlen(text, length);
    size_t begin = 0;
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return std::string(text + begin, end - begin);
}

bool ParseSigned(const std::string& s, long long& out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || end != s.c_str() + s.size()) return false;
    out = v;
    return true;
}

bool ParseUnsigned(const std::string& s, unsigned long long& out) {
    if (s.empty() || s[0] == '-' || s[0] == '+') return false;
    int base = 10;
    const char* start = s.c_str();
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        start += 2;
        if (*start == '-' || *start == '+' || IsBlank(*start)) return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(start, &end, base);
    if (errno != 0 || end == start || end != s.c_str() + s.size()) return false;
    out = v;
    return true;
}

}  // namespace

bool DigtalStringToValue(const char* text, size_t length, void* target, int type) {
    if (!text || !target) return false;
    const std::string s = Trimmed(text, length);
    switch (type) {
        case DIGITAL_VALUE_FLAG: {
            long long v = 0;
            if (!ParseSigned(s, v)) return false;
            *static_cast<int32_t*>(target) = v != 0 ? 1 : 0;
            return true;
        }
        case DIGITAL_VALUE_INT32: {
            long long v = 0;
            if (!ParseSigned(s, v) || v < std::numeric_limits<int32_t>::min() ||
                v > std::numeric_limits<int32_t>::max())
                return false;
            *static_cast<int32_t*>(target) = static_cast<int32_t>(v);
            return true;
        }
        case DIGITAL_VALUE_UINT32: {
            unsigned long long v = 0;
            if (!ParseUnsigned(s, v) || v > std::numeric_limits<uint32_t>::max()) return false;
            *static_cast<uint32_t*>(target) = static_cast<uint32_t>(v);
            return true;
        }
        case DIGITAL_VALUE_DOUBLE: {
            if (s.empty()) return false;
            errno = 0;
            char* end = nullptr;
            const double v = std::strtod(s.c_str(), &end);
            if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
            *static_cast<double*>(target) = v;
            return true;
        }
        default:
            return false;
    }
}

int GetSuitableDecimalFormatCount(double value, int maximum) {
    if (maximum < 0) maximum = 0;
    for (int decimals = 0; decimals < maximum; ++decimals) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        if (std::fabs(std::strtod(text, nullptr) - value) <= 1e-9) return decimals;
    }
    return maximum;
}

// ---------------------------------------------------------------- typed text

namespace {

// Past leading blanks and one '+': from_chars takes neither.
const char* SkipSignAndBlanks(const char* begin, const char* end) {
    while (begin != end && (*begin == ' ' || *begin == '\t')) ++begin;
    if (begin != end && *begin == '+') ++begin;
    return begin;
}

}  // namespace

double ParseDigitalText(const std::string& text) {
    const char* end = text.c_str() + text.size();
    const char* begin = SkipSignAndBlanks(text.c_str(), end);
    double value = 0.0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop == begin || !std::isfinite(value)) return 0.0;
    return value;
}

int32_t ParseLeadingInt32(const std::string& text) {
    const char* end = text.c_str() + text.size();
    const char* begin = SkipSignAndBlanks(text.c_str(), end);
    long long value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (stop == begin) return 0;
    if (error == std::errc::result_out_of_range)
        return begin != end && *begin == '-' ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    if (error != std::errc()) return 0;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

bool ParseDecimalText(const std::string& text, double& value) {
    double parsed = 0.0;
    if (!DigtalStringToValue(text.c_str(), text.size(), &parsed, DIGITAL_VALUE_DOUBLE)) return false;
    if (!std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool ParseWholeNumberText(const std::string& text, double& value) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const double parsed = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool IsPrintableAscii(const std::string& text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}
