#include "common/ValueParse.h"

#include <cerrno>
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
