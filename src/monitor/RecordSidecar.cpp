#include "monitor/RecordSidecar.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>

#include <nlohmann/json.hpp>

#include "common/FileUtils.h"

// Members keep the order they are written in, so the file reads top to bottom.
using json = nlohmann::ordered_json;

namespace {

constexpr const char* FORMAT = "palo520g-record";
constexpr int FORMAT_VERSION = 1;

json ParamsToJson(const ParamSetting& p) {
    json gatesTrigger = json::array();
    json gatesHold = json::array();
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
        gatesTrigger.push_back(p.GateTriggerThreshold[g]);
        gatesHold.push_back(p.GateHoldThreshold[g]);
    }
    return json{{"RangeResolution", p.RangeResolution},
                {"DetectRangeMin", p.DetectRangeMin},
                {"DetectRangeMax", p.DetectRangeMax},
                {"ResponseFreq", p.ResponseFreq},
                {"StateReportFreq", p.StateReportFreq},
                {"RangeReportFreq", p.RangeReportFreq},
                {"ObjectDisappearReportTime", p.ObjectDisappearReportTime},
                {"GateTriggerThreshold", gatesTrigger},
                {"GateHoldThreshold", gatesHold}};
}

json ConstantsToJson(const CurrentConstants& c) {
    return json{{"CurrentDetectTimeMS", c.CurrentDetectTimeMS},
                {"CurrentDetectValueMA", c.CurrentDetectValueMA},
                {"CurrentLPValueMA", c.CurrentLPValueMA},
                {"CurrentReportTimeMS", c.CurrentReportTimeMS},
                {"CurrentReportValueMA", c.CurrentReportValueMA}};
}

// A number that is whole, not negative and at most `max`: a larger one cut down to the
// field's size would be another number.
bool WholeNumber(const json& value, uint64_t max, uint64_t& out) {
    if (value.is_number_unsigned()) {
        out = value.get<uint64_t>();
    } else if (value.is_number_integer() && value.get<long long>() >= 0) {
        out = static_cast<uint64_t>(value.get<long long>());
    } else {
        return false;
    }
    return out <= max;
}

// Copies the member when it is present and of the field's kind; anything else keeps the field.
template <typename T>
void Take(const json& object, const char* name, T& field) {
    const auto it = object.find(name);
    if (it == object.end()) return;
    if constexpr (std::is_same_v<T, std::string>) {
        if (it->is_string()) field = it->template get<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (it->is_boolean()) field = it->template get<bool>();
    } else if constexpr (std::is_floating_point_v<T>) {
        if (it->is_number()) field = it->template get<T>();
    } else {
        uint64_t value = 0;
        if (WholeNumber(*it, std::numeric_limits<T>::max(), value)) field = static_cast<T>(value);
    }
}

void TakeGates(const json& object, const char* name, uint32_t (&gates)[PARAM_GATE_COUNT]) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_array() || it->size() != PARAM_GATE_COUNT) return;
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
        uint64_t value = 0;
        if (WholeNumber((*it)[g], UINT32_MAX, value)) gates[g] = static_cast<uint32_t>(value);
    }
}

}  // namespace

std::string SidecarPathOf(const std::string& recordPath) {
    const size_t slash = recordPath.find_last_of('/');
    const size_t dot = recordPath.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        return recordPath.substr(0, dot) + ".json";
    return recordPath + ".json";
}

bool WriteRecordSidecar(const std::string& path, const RecordSidecar& s, std::string* error) {
    json doc{{"format", FORMAT},
             {"format_version", FORMAT_VERSION},
             {"tool_version", s.toolVersion},
             {"port", s.port},
             {"baud_rate", s.baudRate},
             {"firmware_version", s.firmwareVersion},
             {"serial_number", s.serialNumber},
             {"param_setting", ParamsToJson(s.params)},
             {"current_constants", ConstantsToJson(s.constants)},
             {"start_time", s.startTime},
             {"end_time", s.endTime},
             {"bytes_written", s.bytesWritten},
             {"reports_written", s.reportsWritten},
             {"status", s.status},
             {"ended_normally", s.endedNormally}};
    if (!s.error.empty()) doc["error"] = s.error;
    // Texts from the sensor may hold any bytes; they are written escaped, never refused.
    const std::string text = doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    errno = 0;
    const bool ok = SaveFileSafely(path, [&text](std::FILE* file) {
        return std::fwrite(text.data(), 1, text.size(), file) == text.size();
    });
    if (!ok && error) *error = errno ? std::strerror(errno) : "write failed";
    return ok;
}

bool ReadRecordSidecar(const std::string& path, RecordSidecar& s, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = std::strerror(errno ? errno : ENOENT);
        return false;
    }
    const json doc = json::parse(in, nullptr, false);
    // A "format" of another kind is no description either (and must not throw).
    const auto format = doc.is_object() ? doc.find("format") : doc.end();
    if (doc.is_discarded() || !doc.is_object() || format == doc.end() || !format->is_string() || *format != FORMAT) {
        if (error) *error = "not a record description";
        return false;
    }
    Take(doc, "tool_version", s.toolVersion);
    Take(doc, "port", s.port);
    Take(doc, "baud_rate", s.baudRate);
    Take(doc, "firmware_version", s.firmwareVersion);
    Take(doc, "serial_number", s.serialNumber);
    if (const auto p = doc.find("param_setting"); p != doc.end() && p->is_object()) {
        Take(*p, "RangeResolution", s.params.RangeResolution);
        Take(*p, "DetectRangeMin", s.params.DetectRangeMin);
        Take(*p, "DetectRangeMax", s.params.DetectRangeMax);
        Take(*p, "ResponseFreq", s.params.ResponseFreq);
        Take(*p, "StateReportFreq", s.params.StateReportFreq);
        Take(*p, "RangeReportFreq", s.params.RangeReportFreq);
        Take(*p, "ObjectDisappearReportTime", s.params.ObjectDisappearReportTime);
        TakeGates(*p, "GateTriggerThreshold", s.params.GateTriggerThreshold);
        TakeGates(*p, "GateHoldThreshold", s.params.GateHoldThreshold);
    }
    if (const auto c = doc.find("current_constants"); c != doc.end() && c->is_object()) {
        Take(*c, "CurrentDetectTimeMS", s.constants.CurrentDetectTimeMS);
        Take(*c, "CurrentDetectValueMA", s.constants.CurrentDetectValueMA);
        Take(*c, "CurrentLPValueMA", s.constants.CurrentLPValueMA);
        Take(*c, "CurrentReportTimeMS", s.constants.CurrentReportTimeMS);
        Take(*c, "CurrentReportValueMA", s.constants.CurrentReportValueMA);
    }
    Take(doc, "start_time", s.startTime);
    Take(doc, "end_time", s.endTime);
    Take(doc, "bytes_written", s.bytesWritten);
    Take(doc, "reports_written", s.reportsWritten);
    Take(doc, "status", s.status);
    Take(doc, "ended_normally", s.endedNormally);
    Take(doc, "error", s.error);
    return true;
}
