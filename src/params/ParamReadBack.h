#pragma once
// What the sensor stores of a record that was written to it. The sensor keeps a
// distance as a whole gate and a frequency in tenths of a hertz, so a value written
// between two steps (a minimum of 7.35 m is gate 10.5) reads back as the step below
// (7.00 m, gate 10). The parameter page's Write and `palo520g params write --verify`
// both read the record back after a write and show these differences.

#include <string>
#include <vector>

#include "params/ParamSetting.h"

// Balloon key of a stored-value message.
constexpr int STORED_VALUE_BALLOON_KEY = 1002;

struct StoredDifference {
    std::string field;   // record field name ("DetectRangeMin", "GateTriggerThreshold")
    int gate = -1;       // gate index of a threshold table, else -1
    double written = 0;  // the value as written
    double stored = 0;   // the value the sensor reports
    std::string text;    // what the sensor stores, in the user-interface language
};

// Every field whose read-back differs from what was written, in record order.
// Distances and frequencies closer than BOUNDARY_TOLERANCE count as equal (a gate
// read back is gate x resolution, a hair off the typed value).
[[nodiscard]] std::vector<StoredDifference> CompareStored(const ParamSetting& written, const ParamSetting& stored);
