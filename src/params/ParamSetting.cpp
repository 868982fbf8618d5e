#include "params/ParamSetting.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "app/AppConfig.h"
#include "app/XMLParser.h"
#include "common/ValueParse.h"

void InitParamSetting(ParamSetting& setting) { setting = ParamSetting{}; }

double WholeUnitsOf(double value, double unit) {
    const double quotient = value / unit;
    const double nearest = std::round(quotient);
    if (std::fabs(value - nearest * unit) <= BOUNDARY_TOLERANCE) return nearest;
    return std::trunc(quotient);
}

int GateOfDistance(double distance, double resolution) {
    const double gate = WholeUnitsOf(distance, resolution);
    // A zero or negative resolution only comes from a hand-edited file; keep the
    // conversion defined instead of letting an infinite quotient reach the cast.
    if (!std::isfinite(gate)) return gate < 0 ? -1 : 1 << 30;
    if (gate > 1e9) return 1 << 30;
    if (gate < -1e9) return -(1 << 30);
    return static_cast<int>(gate);
}

namespace {

struct DoubleAttribute {
    const char* name;
    double ParamSetting::*field;
    const char* format;
};

const DoubleAttribute DOUBLE_ATTRIBUTES[] = {
    {"RangeResolution", &ParamSetting::RangeResolution, "%.2f"},
    {"DetectRangeMin", &ParamSetting::DetectRangeMin, "%.2f"},
    {"DetectRangeMax", &ParamSetting::DetectRangeMax, "%.2f"},
    {"ResponseFreq", &ParamSetting::ResponseFreq, "%.1f"},
    {"StateReportFreq", &ParamSetting::StateReportFreq, "%.1f"},
    {"RangeReportFreq", &ParamSetting::RangeReportFreq, "%.1f"},
};

std::string GateAttributeName(const char* pattern, int gate) {
    char name[48];
    std::snprintf(name, sizeof name, pattern, gate);
    return name;
}

}  // namespace

void LoadParamSetting(XMLNode node, ParamSetting& setting) {
    if (!node) return;
    for (const auto& attribute : DOUBLE_ATTRIBUTES)
        ReadConfigValue(node, attribute.name, (setting.*attribute.field));
    ReadConfigValue(node, "ObjectDisappearReportTime", setting.ObjectDisappearReportTime);
    for (int k = 0; k < PARAM_GATE_COUNT; ++k)
        ReadConfigValue(node, GateAttributeName("Gate%dTriggerThreshold", k).c_str(), setting.GateTriggerThreshold[k]);
    for (int k = 0; k < PARAM_GATE_COUNT; ++k)
        ReadConfigValue(node, GateAttributeName("Gate%dHoldThreshold", k).c_str(), setting.GateHoldThreshold[k]);
}

void SaveParamSetting(XMLNode node, const ParamSetting& setting) {
    if (!node) return;
    for (const auto& attribute : DOUBLE_ATTRIBUTES)
        node.SetAttributeDouble(attribute.name, setting.*attribute.field, attribute.format);
    node.SetAttributeUInt64("ObjectDisappearReportTime", setting.ObjectDisappearReportTime);
    for (int k = 0; k < PARAM_GATE_COUNT; ++k)
        node.SetAttributeUInt64(GateAttributeName("Gate%dTriggerThreshold", k).c_str(),
                                setting.GateTriggerThreshold[k]);
    for (int k = 0; k < PARAM_GATE_COUNT; ++k)
        node.SetAttributeUInt64(GateAttributeName("Gate%dHoldThreshold", k).c_str(), setting.GateHoldThreshold[k]);
}
