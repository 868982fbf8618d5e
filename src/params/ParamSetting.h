#pragma once
// The sensor's parameter record, its defaults and its section of the configuration file.

#include <cstdint>

class XMLNode;

constexpr int PARAM_GATE_COUNT = 16;

// Plain record; the rules in ParamRules.h correct a user's edits, nothing here checks ranges.
struct ParamSetting {
    double RangeResolution = 0.7;          // m, length of one range gate
    double DetectRangeMin = 0.0;           // m
    double DetectRangeMax = 8.4;           // m
    double ResponseFreq = 0.5;             // Hz: 0.5 Normal, 1.0 Fast
    double StateReportFreq = 4.0;          // Hz
    double RangeReportFreq = 0.5;          // Hz
    uint32_t ObjectDisappearReportTime = 40;  // s
    uint32_t GateTriggerThreshold[PARAM_GATE_COUNT] = {48, 42, 36, 34, 32, 31, 31, 31,
                                                       31, 31, 31, 31, 31, 31, 31, 31};  // dB
    uint32_t GateHoldThreshold[PARAM_GATE_COUNT] = {45, 42, 33, 32, 28, 28, 28, 28,
                                                    28, 28, 28, 28, 28, 28, 28, 28};     // dB
};

// Sets every field to its default.
void InitParamSetting(ParamSetting& setting);

// A value within this of a whole multiple of its unit counts as that multiple: a
// distance read from the sensor is gate x 0.7 in double arithmetic, and 12 x 0.7
// (8.3999999999999995) must stay gate 12 instead of truncating to 11.
constexpr double BOUNDARY_TOLERANCE = 1e-9;

// value / unit truncated toward zero, except that a value within BOUNDARY_TOLERANCE
// of a whole multiple of unit gives that multiple. Not finite for a unit of zero.
[[nodiscard]] double WholeUnitsOf(double value, double unit);
// The gate of a distance: WholeUnitsOf(distance, resolution) as an int (a distance
// within 1e-9 m of a gate boundary lies on it).
[[nodiscard]] int GateOfDistance(double distance, double resolution);

// Reads the record's attributes from the ParamSetting element; a missing or empty
// attribute leaves its field unchanged. No range is checked.
void LoadParamSetting(XMLNode node, ParamSetting& setting);
// Writes every field as an attribute of the element (existing ones updated, missing ones appended).
void SaveParamSetting(XMLNode node, const ParamSetting& setting);
