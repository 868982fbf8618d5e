#include "common/TimeUtils.h"

#include <chrono>
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
