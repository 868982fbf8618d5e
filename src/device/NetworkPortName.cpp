#include "device/NetworkPort.h"

// The names of network ports, on every platform (the ports themselves are POSIX
// sockets: NetworkPort.cpp).

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (text.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsNetworkPortName(const std::string& name)
{
    return StartsWithNoCase(name, "tcp://") || StartsWithNoCase(name, "rfc2217://");
}

bool ParseNetworkPortName(const std::string& name, NetworkPortName& parsed)
{
    std::string rest;
    if (StartsWithNoCase(name, "tcp://")) {
        parsed.scheme = NetworkScheme::RawTcp;
        rest = name.substr(6);
    } else if (StartsWithNoCase(name, "rfc2217://")) {
        parsed.scheme = NetworkScheme::Rfc2217;
        rest = name.substr(10);
    } else {
        return false;
    }
    if (!rest.empty() && rest.back() == '/') {
        rest.pop_back();
    }
    size_t colon;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return false;
        }
        parsed.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon) {
            return false;
        }
        parsed.host = rest.substr(0, colon);
    }
    parsed.service = rest.substr(colon + 1);
    if (parsed.host.empty() || parsed.service.empty() || parsed.service.size() > 5 ||
        !std::all_of(parsed.service.begin(), parsed.service.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const int number = std::stoi(parsed.service);
    return number >= 1 && number <= 65535;
}
