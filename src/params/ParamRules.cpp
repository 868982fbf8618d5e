#include "params/ParamRules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/StringTable.h"
#include "params/ParamSetting.h"

namespace {

std::string FormatDistance(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}


// A span of exactly half a gate is enough: the comparisons allow for the rounding of
// two-decimal distances (3.99 + 0.35 is a hair above 4.34 in doubles), so that a
// range the rule itself set is not corrected again when committed once more.

// The gate numbers of the rules are fixed by the sensor's 8.4 m limit; they do
// not follow RangeResolution.
constexpr int LAST_MIN_GATE = 11;
constexpr double LAST_MIN_GATE_POSITION = 10.5;

}  // namespace

void CommitRangeMin(ParamSetting& setting, const RangeNoticeSink& apply) {
    const double r = setting.RangeResolution;
    if (setting.DetectRangeMin < 0.0) {
        setting.DetectRangeMin = 0.0;
        apply({RangeField::DetectRangeMin, LoadStringText(TEXT_RANGE_MIN_AT_LEAST_ZERO), RANGE_NOTICE_KEY_TOO_SMALL});
    } else if (setting.DetectRangeMin > MAX_DETECT_RANGE - r) {
        setting.DetectRangeMin = MAX_DETECT_RANGE - r;
        apply({RangeField::DetectRangeMin, FormatStringText(TEXT_RANGE_MIN_AT_MOST, MAX_DETECT_RANGE - r),
               RANGE_NOTICE_KEY_TOO_LARGE});
    }

    const int gMin = GateOfDistance(setting.DetectRangeMin, r);
    const int gMax = GateOfDistance(setting.DetectRangeMax, r);
    if (gMin == gMax) {
        if (gMin >= LAST_MIN_GATE) {
            setting.DetectRangeMin = LAST_MIN_GATE_POSITION * r;
            apply({RangeField::DetectRangeMin, FormatStringText(TEXT_RANGE_MIN_AT_MOST, setting.DetectRangeMin),
                   RANGE_NOTICE_KEY_TOO_LARGE});
        } else {
            setting.DetectRangeMax = (gMin + 1.5) * r;
            apply({RangeField::DetectRangeMax, FormatStringText(TEXT_RANGE_MAX_AT_LEAST, (gMin + 1) * r),
                   RANGE_NOTICE_KEY_TOO_SMALL});
        }
    } else if (setting.DetectRangeMin + r / 2 > setting.DetectRangeMax + BOUNDARY_TOLERANCE) {
        setting.DetectRangeMax = setting.DetectRangeMin + r / 2;
        apply({RangeField::DetectRangeMax, FormatStringText(TEXT_RANGE_SPAN_AT_LEAST, r / 2), RANGE_NOTICE_KEY_SPAN});
    }
}

void CommitRangeMax(ParamSetting& setting, const RangeNoticeSink& apply) {
    const double r = setting.RangeResolution;
    if (setting.DetectRangeMax < r) {
        setting.DetectRangeMax = r;
        apply({RangeField::DetectRangeMax, FormatStringText(TEXT_RANGE_MAX_AT_LEAST, r), RANGE_NOTICE_KEY_TOO_SMALL});
    } else if (setting.DetectRangeMax > MAX_DETECT_RANGE) {
        setting.DetectRangeMax = MAX_DETECT_RANGE;
        apply({RangeField::DetectRangeMax, LoadStringText(TEXT_RANGE_MAX_AT_MOST_LIMIT), RANGE_NOTICE_KEY_TOO_LARGE});
    }

    const int gMin = GateOfDistance(setting.DetectRangeMin, r);
    const int gMax = GateOfDistance(setting.DetectRangeMax, r);
    if (gMin == gMax) {
        setting.DetectRangeMin = std::max(0.0, (gMax - 1.5) * r);
        apply({RangeField::DetectRangeMin, FormatStringText(TEXT_RANGE_MIN_AT_MOST, (gMax - 1) * r),
               RANGE_NOTICE_KEY_TOO_LARGE});
    } else if (setting.DetectRangeMin > setting.DetectRangeMax - r / 2 + BOUNDARY_TOLERANCE) {
        setting.DetectRangeMin = setting.DetectRangeMax - r / 2;
        apply({RangeField::DetectRangeMin, FormatStringText(TEXT_RANGE_SPAN_AT_LEAST, r / 2), RANGE_NOTICE_KEY_SPAN});
    }
}

std::vector<RangeNotice> CommitRangeMin(ParamSetting& setting) {
    std::vector<RangeNotice> notices;
    CommitRangeMin(setting, [&notices](const RangeNotice& notice) { notices.push_back(notice); });
    return notices;
}

std::vector<RangeNotice> CommitRangeMax(ParamSetting& setting) {
    std::vector<RangeNotice> notices;
    CommitRangeMax(setting, [&notices](const RangeNotice& notice) { notices.push_back(notice); });
    return notices;
}

std::vector<std::string> ReportFreqList() {
    std::vector<std::string> list;
    for (double v = 0.5; v <= 8.1; v += 0.5) list.push_back(FormatDistance("%.1f", v));
    return list;
}

std::vector<std::string> FillStateReportFreqList(double rangeReportFreq) {
    std::vector<std::string> list;
    for (double v = 0.5; v <= 8.1; v += 0.5) {
        const double q = v / rangeReportFreq;
        if (std::fabs(q - std::trunc(q)) <= 0.001) list.push_back(FormatDistance("%.1f", v));
    }
    return list;
}

int SelectNearestFreq(const std::vector<std::string>& list, double& field) {
    int chosen = -1;
    double chosenValue = 0.0;
    double bestDifference = 0.0;
    for (size_t i = 0; i < list.size(); ++i) {
        const double value = std::strtod(list[i].c_str(), nullptr);
        const double difference = std::fabs(value - field);
        if (chosen < 0 || difference < bestDifference) {
            chosen = static_cast<int>(i);
            chosenValue = value;
            bestDifference = difference;
        }
    }
    if (chosen >= 0) field = chosenValue;
    return chosen;
}

double ResponseFreqOfSpeed(bool fast) { return fast ? RESPONSE_FREQ_FAST : RESPONSE_FREQ_NORMAL; }

bool IsFastResponse(double responseFreq) { return std::fabs(responseFreq - RESPONSE_FREQ_FAST) < 0.1; }
