#include "common/Version.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef PALO_VERSION_TEXT
#define PALO_VERSION_TEXT "0.0.0"
#endif

const char* PaloVersionText() { return PALO_VERSION_TEXT; }

const char* PaloBuildDateText() {
    // __DATE__ is "Mmm dd yyyy" (day padded with a blank).
    static const std::string text = [] {
        const std::string date = __DATE__;
        static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        int month = 0;
        for (int m = 0; m < 12; ++m) {
            if (date.compare(0, 3, MONTHS[m]) == 0) month = m + 1;
        }
        char out[16];
        std::snprintf(out, sizeof out, "%s-%02d-%02d", date.substr(7, 4).c_str(), month,
                      std::atoi(date.substr(4, 2).c_str()));
        return std::string(out);
    }();
    return text.c_str();
}
