#include "monitor/RecordSidecar.h"

#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <limits>
#include <sys/stat.h>

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

// Ranges a description's values must lie in to be used. They are wider than the
// parameter page allows, since a description holds what a sensor stored, but keep
// every division, axis and estimate finite.
constexpr double MIN_RANGE_RESOLUTION = 0.05;  // m
constexpr double MAX_RANGE_RESOLUTION = 2.0;   // m
constexpr double MIN_FREQUENCY = 0.1;          // Hz: the sensor keeps tenths
constexpr double MAX_FREQUENCY = 100.0;        // Hz
constexpr uint64_t MAX_DISAPPEAR_TIME = 65535; // s
constexpr uint64_t MAX_THRESHOLD_DB = 255;
constexpr double MAX_CURRENT_CONSTANT = 1000.0;  // ms or mA
constexpr uint64_t MAX_BAUD_RATE = 4000000;

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

// Reads the members of one object, noting each that is present but unusable.
class MemberReader {
public:
    MemberReader(const json& object, std::vector<std::string>* replaced) : object_(object), replaced_(replaced) {}

    void Text(const char* name, std::string& field) {
        if (const json* value = Find(name)) {
            if (value->is_string()) field = value->get<std::string>();
            else Replaced(name, *value);
        }
    }
    void Flag(const char* name, bool& field) {
        if (const json* value = Find(name)) {
            if (value->is_boolean()) field = value->get<bool>();
            else Replaced(name, *value);
        }
    }
    // A finite number within [min, max]; false when the member is missing or replaced.
    bool Real(const char* name, double& field, double min, double max) {
        const json* value = Find(name);
        if (!value) return false;
        if (value->is_number() && std::isfinite(value->get<double>()) && value->get<double>() >= min &&
            value->get<double>() <= max) {
            field = value->get<double>();
            return true;
        }
        Replaced(name, *value);
        return false;
    }
    template <typename T>
    void Whole(const char* name, T& field, uint64_t max) {
        if (const json* value = Find(name)) {
            uint64_t number = 0;
            if (WholeNumber(*value, std::min<uint64_t>(max, std::numeric_limits<T>::max()), number))
                field = static_cast<T>(number);
            else
                Replaced(name, *value);
        }
    }
    void Gates(const char* name, uint32_t (&gates)[PARAM_GATE_COUNT]) {
        const json* value = Find(name);
        if (!value) return;
        if (!value->is_array() || value->size() != PARAM_GATE_COUNT) {
            Replaced(name, *value);
            return;
        }
        for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
            uint64_t number = 0;
            if (WholeNumber((*value)[g], MAX_THRESHOLD_DB, number))
                gates[g] = static_cast<uint32_t>(number);
            else
                Replaced(std::string(name) + "[" + std::to_string(g) + "]", (*value)[g]);
        }
    }
    void Replaced(const std::string& name, const json& value) {
        if (replaced_) replaced_->push_back(name + " " + value.dump(-1, ' ', false, json::error_handler_t::replace));
    }
    [[nodiscard]] const json* Find(const char* name) const {
        const auto it = object_.find(name);
        return it == object_.end() ? nullptr : &*it;
    }

private:
    const json& object_;
    std::vector<std::string>* replaced_;
};

void ReadParams(const json& object, ParamSetting& p, std::vector<std::string>* replaced) {
    MemberReader member(object, replaced);
    member.Real("RangeResolution", p.RangeResolution, MIN_RANGE_RESOLUTION, MAX_RANGE_RESOLUTION);
    // The sensor has 16 gates; the range must not be empty.
    const double farthest = PARAM_GATE_COUNT * p.RangeResolution + BOUNDARY_TOLERANCE;
    const ParamSetting defaults;
    double min = defaults.DetectRangeMin;
    double max = defaults.DetectRangeMax;
    const bool minGiven = member.Real("DetectRangeMin", min, 0.0, farthest);
    const bool maxGiven = member.Real("DetectRangeMax", max, 0.0, farthest);
    if (min < max) {
        p.DetectRangeMin = min;
        p.DetectRangeMax = max;
    } else {
        if (minGiven) member.Replaced("DetectRangeMin", *member.Find("DetectRangeMin"));
        if (maxGiven) member.Replaced("DetectRangeMax", *member.Find("DetectRangeMax"));
    }
    // A range the file leaves out keeps the default, which must fit the file's gates
    // too: when it does not, the gate length is what cannot be right.
    if (p.DetectRangeMax > farthest) {
        if (const json* resolution = member.Find("RangeResolution")) member.Replaced("RangeResolution", *resolution);
        p.RangeResolution = defaults.RangeResolution;
    }
    member.Real("ResponseFreq", p.ResponseFreq, MIN_FREQUENCY, MAX_FREQUENCY);
    member.Real("StateReportFreq", p.StateReportFreq, MIN_FREQUENCY, MAX_FREQUENCY);
    member.Real("RangeReportFreq", p.RangeReportFreq, MIN_FREQUENCY, MAX_FREQUENCY);
    member.Whole("ObjectDisappearReportTime", p.ObjectDisappearReportTime, MAX_DISAPPEAR_TIME);
    member.Gates("GateTriggerThreshold", p.GateTriggerThreshold);
    member.Gates("GateHoldThreshold", p.GateHoldThreshold);
}

void ReadConstants(const json& object, CurrentConstants& c, std::vector<std::string>* replaced) {
    MemberReader member(object, replaced);
    member.Real("CurrentDetectTimeMS", c.CurrentDetectTimeMS, 0.0, MAX_CURRENT_CONSTANT);
    member.Real("CurrentDetectValueMA", c.CurrentDetectValueMA, 0.0, MAX_CURRENT_CONSTANT);
    member.Real("CurrentLPValueMA", c.CurrentLPValueMA, 0.0, MAX_CURRENT_CONSTANT);
    member.Real("CurrentReportTimeMS", c.CurrentReportTimeMS, 0.0, MAX_CURRENT_CONSTANT);
    member.Real("CurrentReportValueMA", c.CurrentReportValueMA, 0.0, MAX_CURRENT_CONSTANT);
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

bool ReadRecordSidecar(const std::string& path, RecordSidecar& s, std::string* error,
                       std::vector<std::string>* replaced) {
    std::string text;
    if (!ReadRegularFile(path, MAX_SIDECAR_SIZE, text, error)) return false;
    const json doc = json::parse(text, nullptr, false);
    // A "format" of another kind is no description either (and must not throw).
    const auto format = doc.is_object() ? doc.find("format") : doc.end();
    if (doc.is_discarded() || !doc.is_object() || format == doc.end() || !format->is_string() || *format != FORMAT) {
        if (error) *error = "not a record description";
        return false;
    }
    RecordSidecar read = s;
    std::vector<std::string> notes;
    MemberReader member(doc, &notes);
    member.Text("tool_version", read.toolVersion);
    member.Text("port", read.port);
    member.Whole("baud_rate", read.baudRate, MAX_BAUD_RATE);
    member.Text("firmware_version", read.firmwareVersion);
    member.Text("serial_number", read.serialNumber);
    if (const json* p = member.Find("param_setting")) {
        if (p->is_object()) ReadParams(*p, read.params, &notes);
        else member.Replaced("param_setting", *p);
    }
    if (const json* c = member.Find("current_constants")) {
        if (c->is_object()) ReadConstants(*c, read.constants, &notes);
        else member.Replaced("current_constants", *c);
    }
    member.Text("start_time", read.startTime);
    member.Text("end_time", read.endTime);
    member.Whole("bytes_written", read.bytesWritten, UINT64_MAX);
    member.Whole("reports_written", read.reportsWritten, UINT64_MAX);
    std::string status = read.status;
    member.Text("status", status);
    if (status == SIDECAR_RECORDING || status == SIDECAR_COMPLETE || status == SIDECAR_INCOMPLETE)
        read.status = status;
    else
        member.Replaced("status", *member.Find("status"));
    member.Flag("ended_normally", read.endedNormally);
    member.Text("error", read.error);
    s = std::move(read);
    if (replaced) *replaced = std::move(notes);
    return true;
}

ReplayDescription LoadReplayDescription(const std::string& recordPath) {
    ReplayDescription d;
    d.path = SidecarPathOf(recordPath);
    struct stat st {};
    d.found = stat(d.path.c_str(), &st) == 0 || errno != ENOENT;
    if (!d.found) return d;
    d.usable = ReadRecordSidecar(d.path, d.sidecar, &d.error, &d.replaced);
    if (!d.usable) d.sidecar = RecordSidecar();
    return d;
}
