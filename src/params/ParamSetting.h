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

// The gate of a distance: distance / resolution truncated toward zero, in double precision.
[[nodiscard]] int GateOfDistance(double distance, double resolution);

// Reads the record's attributes from the ParamSetting element; a missing or empty
// attribute leaves its field unchanged. No range is checked.
void LoadParamSetting(XMLNode node, ParamSetting& setting);
// Writes every field as an attribute of the element (existing ones updated, missing ones appended).
void SaveParamSetting(XMLNode node, const ParamSetting& setting);
