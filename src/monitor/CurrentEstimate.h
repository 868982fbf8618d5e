#pragma once
// The sensor's average operating current for the current configuration: a
// duty-cycle model of detection, report and low-power phases.

class XMLNode;
struct ParamSetting;

// Model constants, attributes of the ObjectInfo element.
struct CurrentConstants {
    double CurrentDetectTimeMS = 7.057;   // detection time per cycle, ms
    double CurrentDetectValueMA = 9.66;   // current during detection, mA
    double CurrentLPValueMA = 0.00712;    // low-power current, mA
    double CurrentReportTimeMS = 2.002;   // time of one additional report, ms
    double CurrentReportValueMA = 2.03;   // current during a report, mA
};

// Milliamperes for the state code: no target (0, 1) by ResponseFreq, target (2, 3)
// by the two report frequencies, 0 for any other code.
[[nodiscard]] double EstimateCurrent(int state, const ParamSetting& setting, const CurrentConstants& constants);

// Reads the constants present in the ObjectInfo element (others keep their value);
// writes all five with "%.5f".
void LoadCurrentConstants(XMLNode objectInfo, CurrentConstants& constants);
void SaveCurrentConstants(XMLNode objectInfo, const CurrentConstants& constants);
