// A parameter file's section through the edit rules under libFuzzer, as `params load`
// and `params check` take it in. The first byte chooses how the rest is used:
// - even: the values of the section's attributes, one per line in the order the file
//   lists them (RangeResolution, the five distances and frequencies, the delay, then
//   the trigger and hold gates); a line that starts with 0xFF leaves its attribute out;
// - odd: a whole configuration file, whose AppConfig/ParamSetting section is read.
// Checked:
// - a refused section names one of its attributes with the text it holds, and leaves
//   the starting record and no notice;
// - a section taken in gives a record inside every rule: the sensor's range gate,
//   0 <= start < end <= 8.4 m on different gates, frequencies from the lists offered,
//   Normal or Fast, the delay 10-255 s, every threshold 10-95 dB;
// - that record is settled: saved as the tool saves it and read again, or shown in a
//   new edit session, it comes back bit for bit without a notice.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "SameValues.h"
#include "app/XMLParser.h"
#include "params/ParamEditSession.h"
#include "params/ParamFileSection.h"
#include "params/ParamRules.h"
#include "params/ParamSetting.h"

namespace {

std::vector<std::string> AttributeNames() {
    std::vector<std::string> names = {"RangeResolution", "DetectRangeMin",  "DetectRangeMax",
                                      "ResponseFreq",    "StateReportFreq", "RangeReportFreq",
                                      "ObjectDisappearReportTime"};
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) names.push_back("Gate" + std::to_string(g) + "TriggerThreshold");
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) names.push_back("Gate" + std::to_string(g) + "HoldThreshold");
    return names;
}

bool InList(const std::vector<std::string>& list, double value) {
    for (const std::string& entry : list)
        if (std::stod(entry) == value) return true;
    return false;
}

void CheckUnderRules(const ParamSetting& r) {
    FUZZ_CHECK(r.RangeResolution == SENSOR_RANGE_RESOLUTION);
    FUZZ_CHECK(r.DetectRangeMin >= 0.0);
    FUZZ_CHECK(r.DetectRangeMax <= MAX_DETECT_RANGE + BOUNDARY_TOLERANCE);
    FUZZ_CHECK(r.DetectRangeMin < r.DetectRangeMax);
    const int minGate = GateOfDistance(r.DetectRangeMin, r.RangeResolution);
    const int maxGate = GateOfDistance(r.DetectRangeMax, r.RangeResolution);
    FUZZ_CHECK(minGate >= 0 && minGate < maxGate && maxGate <= 12);
    FUZZ_CHECK(r.ResponseFreq == RESPONSE_FREQ_NORMAL || r.ResponseFreq == RESPONSE_FREQ_FAST);
    FUZZ_CHECK(InList(ReportFreqList(), r.RangeReportFreq));
    FUZZ_CHECK(InList(FillStateReportFreqList(r.RangeReportFreq), r.StateReportFreq));
    FUZZ_CHECK(r.ObjectDisappearReportTime >= PARAM_ABSENCE_MIN && r.ObjectDisappearReportTime <= PARAM_ABSENCE_MAX);
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
        FUZZ_CHECK(r.GateTriggerThreshold[g] >= PARAM_THRESHOLD_MIN && r.GateTriggerThreshold[g] <= PARAM_THRESHOLD_MAX);
        FUZZ_CHECK(r.GateHoldThreshold[g] >= PARAM_THRESHOLD_MIN && r.GateHoldThreshold[g] <= PARAM_THRESHOLD_MAX);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::string> names = AttributeNames();
    if (size == 0) return 0;
    XMLParser doc;
    if (data[0] % 2 == 0) {
        const std::string empty = "<AppConfig><ParamSetting/></AppConfig>";
        FUZZ_CHECK(doc.LoadBuffer(empty.data(), empty.size()));
        XMLNode section = doc.FindElement("AppConfig").FindChild("ParamSetting");
        std::string line;
        size_t index = 0;
        for (size_t i = 1; i <= size && index < names.size(); ++i) {
            if (i < size && data[i] != '\n') {
                line.push_back(static_cast<char>(data[i]));
                continue;
            }
            if (line.empty() || static_cast<uint8_t>(line[0]) != 0xFF) section.SetAttributeText(names[index].c_str(), line);
            line.clear();
            ++index;
        }
    } else if (!doc.LoadBuffer(data + 1, size - 1)) {
        return 0;
    }
    const XMLNode section = doc.FindElement("AppConfig").FindChild("ParamSetting");

    ParamSetting start;
    InitParamSetting(start);
    start.ObjectDisappearReportTime = 123;  // a start that is not the defaults
    const ParamFileSection read = ReadParamFileSection(section, start);
    if (read.Refused()) {
        FUZZ_CHECK(SameParams(read.record, start));
        FUZZ_CHECK(read.notices.empty());
        bool named = false;
        for (const std::string& name : names) named = named || name == read.attribute;
        FUZZ_CHECK(named);
        FUZZ_CHECK(section.GetAttributeText(read.attribute.c_str()) == read.value);
        FUZZ_CHECK(!ParamFileProblemText(read).empty());
        return 0;
    }
    CheckUnderRules(read.record);

    // Shown again, as the write path does with the record it is handed.
    const ParamEditSession shown(read.record);
    FUZZ_CHECK(shown.Notices().empty());
    FUZZ_CHECK(SameParams(shown.Result(), read.record));

    // Saved as the tool saves it, then read as a file again.
    XMLParser saved;
    const std::string empty = "<AppConfig><ParamSetting/></AppConfig>";
    FUZZ_CHECK(saved.LoadBuffer(empty.data(), empty.size()));
    XMLNode savedSection = saved.FindElement("AppConfig").FindChild("ParamSetting");
    SaveParamSetting(savedSection, read.record);
    const ParamFileSection again = ReadParamFileSection(savedSection, start);
    FUZZ_CHECK(!again.Refused());
    FUZZ_CHECK(again.notices.empty());
    FUZZ_CHECK(SameParams(again.record, read.record));
    return 0;
}
