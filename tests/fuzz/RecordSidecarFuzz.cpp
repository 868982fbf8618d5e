// Recording description under libFuzzer. The input is the content of the JSON file
// beside a record file. Checked:
// - reading returns, never throws; a text it refuses leaves every field as it was and
//   says why;
// - a whole-number field holds its member's number, or its default when the member is
//   no whole number the field can hold: never a number cut down to the field's size;
// - what reads is usable: every value within its range, the range within the 16
//   gates and not empty, the current constants finite and within reason;
// - a description that reads writes back, and the written file reads to exactly the
//   same fields (parse, write, parse), starting from the defaults.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include <nlohmann/json.hpp>

#include "FuzzCheck.h"
#include "FuzzFiles.h"
#include "SameValues.h"
#include "common/FileUtils.h"
#include "monitor/CurrentEstimate.h"
#include "monitor/RecordSidecar.h"

namespace {

bool Same(const RecordSidecar& a, const RecordSidecar& b) {
    return a.toolVersion == b.toolVersion && a.port == b.port && a.baudRate == b.baudRate &&
           a.firmwareVersion == b.firmwareVersion && a.serialNumber == b.serialNumber &&
           SameParams(a.params, b.params) && SameConstants(a.constants, b.constants) && a.startTime == b.startTime &&
           a.endTime == b.endTime && a.bytesWritten == b.bytesWritten && a.reportsWritten == b.reportsWritten &&
           a.status == b.status && a.endedNormally == b.endedNormally && a.error == b.error;
}

using json = nlohmann::json;

// The field is its default, or the member is a whole number equal to it.
template <typename T>
void CheckWhole(const json& object, const char* name, T field, T fallback) {
    if (field == fallback) return;
    const auto it = object.is_object() ? object.find(name) : object.end();
    FUZZ_CHECK(it != object.end() && it->is_number_integer() && field >= 0);
    FUZZ_CHECK(it->is_number_unsigned() ? it->get<uint64_t>() == static_cast<uint64_t>(field)
                                        : it->get<long long>() == static_cast<long long>(field));
}

void CheckWholeNumbers(const std::string& text, const RecordSidecar& read) {
    const json doc = json::parse(text, nullptr, false);
    FUZZ_CHECK(doc.is_object());
    const RecordSidecar d;
    CheckWhole(doc, "baud_rate", read.baudRate, d.baudRate);
    CheckWhole(doc, "bytes_written", read.bytesWritten, d.bytesWritten);
    CheckWhole(doc, "reports_written", read.reportsWritten, d.reportsWritten);
    const json params = doc.contains("param_setting") ? doc["param_setting"] : json();
    CheckWhole(params, "ObjectDisappearReportTime", read.params.ObjectDisappearReportTime,
               d.params.ObjectDisappearReportTime);
    for (const char* name : {"GateTriggerThreshold", "GateHoldThreshold"}) {
        const bool trigger = name[4] == 'T';
        const json gates = params.is_object() && params.contains(name) ? params[name] : json();
        for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
            const uint32_t value = trigger ? read.params.GateTriggerThreshold[g] : read.params.GateHoldThreshold[g];
            const uint32_t fallback = trigger ? d.params.GateTriggerThreshold[g] : d.params.GateHoldThreshold[g];
            json member;
            if (gates.is_array() && gates.size() == PARAM_GATE_COUNT) member["v"] = gates[g];
            CheckWhole(member, "v", value, fallback);
        }
    }
}

void CheckUsable(const RecordSidecar& read) {
    const ParamSetting& p = read.params;
    FUZZ_CHECK(p.RangeResolution >= 0.05 && p.RangeResolution <= 2.0);
    FUZZ_CHECK(p.DetectRangeMin >= 0 && p.DetectRangeMin < p.DetectRangeMax);
    FUZZ_CHECK(p.DetectRangeMax <= PARAM_GATE_COUNT * p.RangeResolution + 1e-6);
    for (const double frequency : {p.ResponseFreq, p.StateReportFreq, p.RangeReportFreq})
        FUZZ_CHECK(frequency >= 0.1 && frequency <= 100.0);
    const CurrentConstants& k = read.constants;
    for (const double constant : {k.CurrentDetectTimeMS, k.CurrentDetectValueMA, k.CurrentLPValueMA,
                                  k.CurrentReportTimeMS, k.CurrentReportValueMA})
        FUZZ_CHECK(std::isfinite(constant) && constant >= 0.0 && constant <= 1000.0);
}

bool Read(const std::string& path, RecordSidecar& sidecar, std::string& error) {
    try {
        return ReadRecordSidecar(path, sidecar, &error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reading the description threw: %s\n", e.what());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = CombinePathName(FuzzTempRoot(), "RadarData_in.json");
    static const std::string output = CombinePathName(FuzzTempRoot(), "RadarData_out.json");
    WriteWhole(input, data, size);

    const RecordSidecar defaults;
    RecordSidecar first;
    std::string error;
    if (!Read(input, first, error)) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(Same(first, defaults));
        return 0;
    }

    CheckWholeNumbers(std::string(reinterpret_cast<const char*>(data), size), first);
    CheckUsable(first);

    std::string why;
    FUZZ_CHECK(WriteRecordSidecar(output, first, &why));
    RecordSidecar second;
    FUZZ_CHECK(Read(output, second, error));
    FUZZ_CHECK(Same(second, first));
    return 0;
}
