#include "common/TimeUtils.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

uint64_t MS_GetTime() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void MS_Sleep(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string IsoLocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0) return {};
    // strftime writes the zone as +hhmm; ISO 8601's extended form wants +hh:mm.
    const std::string iso = text;
    if (iso.size() < 5) return iso;
    return iso.substr(0, iso.size() - 2) + ':' + iso.substr(iso.size() - 2);
}

bool ParseIsoTime(const std::string& text, long long& epochSeconds) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second,
                    &consumed) != 6)
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
    const std::string zone = text.substr(static_cast<size_t>(consumed));
    long long offset = 0;
    if (zone != "Z") {
        int zh = 0, zm = 0;
        char sign = 0;
        if (std::sscanf(zone.c_str(), "%c%2d:%2d", &sign, &zh, &zm) != 3 &&
            std::sscanf(zone.c_str(), "%c%2d%2d", &sign, &zh, &zm) != 3)
            return false;
        if (sign != '+' && sign != '-') return false;
        offset = (sign == '-' ? -1 : 1) * (zh * 3600LL + zm * 60LL);
    }
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    epochSeconds = static_cast<long long>(timegm(&utc)) - offset;
    return true;
}
