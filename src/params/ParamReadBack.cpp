#include "params/ParamReadBack.h"

#include <cmath>

#include "app/StringTable.h"

namespace {

bool Differs(double written, double stored) { return !(std::fabs(written - stored) <= BOUNDARY_TOLERANCE); }

}  // namespace

std::vector<StoredDifference> CompareStored(const ParamSetting& written, const ParamSetting& stored) {
    std::vector<StoredDifference> differences;
    const double r = stored.RangeResolution;
    const std::pair<const char*, double ParamSetting::*> distances[] = {
        {"DetectRangeMin", &ParamSetting::DetectRangeMin},
        {"DetectRangeMax", &ParamSetting::DetectRangeMax},
    };
    for (const auto& [name, field] : distances) {
        if (!Differs(written.*field, stored.*field)) continue;
        differences.push_back(
            {name, -1, written.*field, stored.*field,
             FormatStringText(TEXT_STORED_DISTANCE, stored.*field, GateOfDistance(stored.*field, r))});
    }
    const std::pair<const char*, double ParamSetting::*> frequencies[] = {
        {"ResponseFreq", &ParamSetting::ResponseFreq},
        {"StateReportFreq", &ParamSetting::StateReportFreq},
        {"RangeReportFreq", &ParamSetting::RangeReportFreq},
    };
    for (const auto& [name, field] : frequencies) {
        if (!Differs(written.*field, stored.*field)) continue;
        differences.push_back(
            {name, -1, written.*field, stored.*field, FormatStringText(TEXT_STORED_FREQUENCY, stored.*field)});
    }
    if (written.ObjectDisappearReportTime != stored.ObjectDisappearReportTime) {
        differences.push_back({"ObjectDisappearReportTime", -1, static_cast<double>(written.ObjectDisappearReportTime),
                               static_cast<double>(stored.ObjectDisappearReportTime),
                               FormatStringText(TEXT_STORED_SECONDS, stored.ObjectDisappearReportTime)});
    }
    const std::pair<const char*, uint32_t(ParamSetting::*)[PARAM_GATE_COUNT]> tables[] = {
        {"GateTriggerThreshold", &ParamSetting::GateTriggerThreshold},
        {"GateHoldThreshold", &ParamSetting::GateHoldThreshold},
    };
    for (const auto& [name, table] : tables) {
        for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
            const uint32_t w = (written.*table)[g];
            const uint32_t s = (stored.*table)[g];
            if (w == s) continue;
            differences.push_back(
                {name, g, static_cast<double>(w), static_cast<double>(s), FormatStringText(TEXT_STORED_DECIBELS, s)});
        }
    }
    return differences;
}
