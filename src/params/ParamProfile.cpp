#include "params/ParamProfile.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>

#include <nlohmann/json.hpp>

#include "app/StringIds.h"
#include "app/StringTable.h"
#include "common/ValueParse.h"
#include "params/ParamFileSection.h"

namespace {

using Json = nlohmann::ordered_json;

// ---------------------------------------------------------------- fields

const char* const FIELD_NAMES[PROFILE_FIELD_COUNT] = {
    "RangeResolution", "DetectRangeMin",  "DetectRangeMax",            "ResponseFreq",         "StateReportFreq",
    "RangeReportFreq", "ObjectDisappearReportTime", "GateTriggerThreshold", "GateHoldThreshold",
};

// Keys a profile may hold besides the parameters.
constexpr const char* KEY_FORMAT = "format";
constexpr const char* KEY_VERSION = "version";
constexpr const char* KEY_FIRMWARE = "firmware_version";
constexpr const char* KEY_SERIAL = "serial_number";
constexpr const char* KEY_NOTES = "notes";

int Index(ProfileField field) { return static_cast<int>(field); }

bool IsTable(ProfileField field) {
    return field == ProfileField::GateTriggerThreshold || field == ProfileField::GateHoldThreshold;
}

bool IsDistance(ProfileField field) {
    return field == ProfileField::RangeResolution || field == ProfileField::DetectRangeMin ||
           field == ProfileField::DetectRangeMax;
}

double* DecimalField(ParamSetting& record, ProfileField field) {
    switch (field) {
    case ProfileField::RangeResolution: return &record.RangeResolution;
    case ProfileField::DetectRangeMin: return &record.DetectRangeMin;
    case ProfileField::DetectRangeMax: return &record.DetectRangeMax;
    case ProfileField::ResponseFreq: return &record.ResponseFreq;
    case ProfileField::StateReportFreq: return &record.StateReportFreq;
    case ProfileField::RangeReportFreq: return &record.RangeReportFreq;
    default: return nullptr;
    }
}

uint32_t* TableOf(ParamSetting& record, ProfileField field) {
    return field == ProfileField::GateTriggerThreshold ? record.GateTriggerThreshold : record.GateHoldThreshold;
}

// The value of a field that is not a table.
double ScalarOf(const ParamSetting& record, ProfileField field) {
    if (field == ProfileField::ObjectDisappearReportTime) return record.ObjectDisappearReportTime;
    return *DecimalField(const_cast<ParamSetting&>(record), field);
}

// ---------------------------------------------------------------- writing

std::string Shortest(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// A distance as the page shows it, read back: the value Write would send.
double ShownDistance(double value) { return ParseDigitalText(FormatDistance(value)); }

std::string JsonString(const std::string& text) {
    return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// ---------------------------------------------------------------- reading

// At most this much of a refused value is quoted back.
constexpr size_t PROFILE_QUOTED_MAX = 40;

bool ReadWhole(const Json& value, uint32_t& out) {
    if (!value.is_number_unsigned() && !value.is_number_integer()) return false;
    if (value.is_number_integer() && !value.is_number_unsigned() && value.get<int64_t>() < 0) return false;
    const uint64_t v = value.get<uint64_t>();
    if (v > UINT32_MAX) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool ReadNumber(const Json& value, double& out) {
    if (!value.is_number()) return false;
    const double v = value.get<double>();
    if (!std::isfinite(v) || v < 0) return false;
    out = v;
    return true;
}

// Reads one parameter key into the profile. False after noting why.
bool ReadField(ProfileField field, const Json& value, ProfileRead& out) {
    const auto refuse = [&](ProfileProblem problem) {
        out.problem = problem;
        out.key = FIELD_NAMES[Index(field)];
        out.value = value.dump(-1, ' ', false, Json::error_handler_t::replace);
        return false;
    };
    ParamSetting& record = out.profile.record;
    if (IsTable(field)) {
        if (!value.is_array() || value.size() != PARAM_GATE_COUNT) return refuse(ProfileProblem::NotTable);
        uint32_t gates[PARAM_GATE_COUNT];
        for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
            if (!ReadWhole(value[g], gates[g])) return refuse(ProfileProblem::NotTable);
        }
        std::memcpy(TableOf(record, field), gates, sizeof gates);
    } else if (field == ProfileField::ObjectDisappearReportTime) {
        if (!ReadWhole(value, record.ObjectDisappearReportTime)) return refuse(ProfileProblem::NotWholeNumber);
    } else {
        double v = 0;
        if (!ReadNumber(value, v)) return refuse(ProfileProblem::NotNumber);
        // The rules and the gate arithmetic assume the sensor's gate.
        if (field == ProfileField::RangeResolution) {
            if (std::fabs(v - SENSOR_RANGE_RESOLUTION) > BOUNDARY_TOLERANCE)
                return refuse(ProfileProblem::OtherResolution);
            v = SENSOR_RANGE_RESOLUTION;
        }
        *DecimalField(record, field) = v;
    }
    out.profile.has[Index(field)] = true;
    return true;
}

}  // namespace

const char* ProfileFieldName(ProfileField field) { return FIELD_NAMES[Index(field)]; }

const char* ProfileFieldUnit(ProfileField field) {
    if (IsDistance(field)) return "m";
    if (field == ProfileField::ObjectDisappearReportTime) return "s";
    if (IsTable(field)) return "dB";
    return "Hz";
}

ParamProfile ProfileOfRecord(const ParamSetting& record, const std::string& firmwareVersion,
                             const std::string& serialNumber) {
    ParamProfile profile;
    profile.record = record;
    for (bool& has : profile.has) has = true;
    profile.fromSensor = true;
    profile.firmwareVersion = firmwareVersion;
    profile.serialNumber = serialNumber;
    return profile;
}

std::string ProfileText(const ParamProfile& profile) {
    std::vector<std::string> members;
    members.push_back("\"format\": " + JsonString(PROFILE_FORMAT));
    members.push_back("\"version\": " + std::to_string(PROFILE_VERSION));
    if (!profile.firmwareVersion.empty()) members.push_back("\"firmware_version\": " + JsonString(profile.firmwareVersion));
    if (!profile.serialNumber.empty()) members.push_back("\"serial_number\": " + JsonString(profile.serialNumber));
    members.push_back("\"notes\": " + JsonString(profile.notes));
    for (int i = 0; i < PROFILE_FIELD_COUNT; ++i) {
        if (!profile.has[i]) continue;
        const auto field = static_cast<ProfileField>(i);
        std::string line = std::string("\"") + FIELD_NAMES[i] + "\": ";
        if (IsTable(field)) {
            const uint32_t* table = TableOf(const_cast<ParamSetting&>(profile.record), field);
            line += "[";
            for (int g = 0; g < PARAM_GATE_COUNT; ++g) line += (g ? ", " : "") + std::to_string(table[g]);
            line += "]";
        } else if (field == ProfileField::ObjectDisappearReportTime) {
            line += std::to_string(profile.record.ObjectDisappearReportTime);
        } else {
            const double value = ScalarOf(profile.record, field);
            line += Shortest(IsDistance(field) ? ShownDistance(value) : value);
        }
        members.push_back(std::move(line));
    }
    std::string text = "{\n";
    for (size_t i = 0; i < members.size(); ++i) text += "  " + members[i] + (i + 1 < members.size() ? ",\n" : "\n");
    text += "}\n";
    return text;
}

ProfileRead ReadProfileText(const std::string& text) {
    ProfileRead out;
    InitParamSetting(out.profile.record);
    Json doc;
    // A key given twice, as a careless merge leaves it, would have one of its values
    // dropped without a word: the first such key of the top level is noted.
    std::set<std::string> keys;
    std::string duplicate;
    const Json::parser_callback_t noteKeys = [&](int depth, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::key && depth == 1 && parsed.is_string() &&
            !keys.insert(parsed.get<std::string>()).second && duplicate.empty())
            duplicate = parsed.get<std::string>();
        return true;
    };
    try {
        doc = Json::parse(text, noteKeys);
    } catch (const Json::exception& error) {
        out.problem = ProfileProblem::NotJson;
        // "[json.exception.parse_error.101] parse error at line 3, column 5: …" without its tag.
        std::string why = error.what();
        if (const size_t tag = why.find("] "); why.rfind("[json.", 0) == 0 && tag != std::string::npos)
            why.erase(0, tag + 2);
        out.value = why;
        return out;
    }
    if (!doc.is_object()) {
        out.problem = ProfileProblem::NotObject;
        return out;
    }
    if (!duplicate.empty()) {
        out.problem = ProfileProblem::DuplicateKey;
        out.key = duplicate;
        return out;
    }
    const auto dumped = [](const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); };

    // The format and its version first: a newer profile may use keys this tool does not know.
    const auto format = doc.find(KEY_FORMAT);
    if (format == doc.end()) {
        out.problem = ProfileProblem::NoFormat;
        return out;
    }
    if (!format->is_string() || format->get<std::string>() != PROFILE_FORMAT) {
        out.problem = ProfileProblem::OtherFormat;
        out.key = KEY_FORMAT;
        out.value = dumped(*format);
        return out;
    }
    const auto version = doc.find(KEY_VERSION);
    uint32_t number = 0;
    if (version == doc.end() || !ReadWhole(*version, number) || number < 1) {
        out.problem = ProfileProblem::BadVersion;
        out.key = KEY_VERSION;
        out.value = version == doc.end() ? "null" : dumped(*version);
        return out;
    }
    if (number > PROFILE_VERSION) {
        out.problem = ProfileProblem::NewerVersion;
        out.key = KEY_VERSION;
        out.value = dumped(*version);
        return out;
    }

    for (const auto& [key, value] : doc.items()) {
        if (key == KEY_FORMAT || key == KEY_VERSION) continue;
        std::string* target = key == KEY_FIRMWARE ? &out.profile.firmwareVersion
                              : key == KEY_SERIAL ? &out.profile.serialNumber
                              : key == KEY_NOTES  ? &out.profile.notes
                                                  : nullptr;
        if (target) {
            if (!value.is_string() && !value.is_null()) {
                out.problem = ProfileProblem::NotText;
                out.key = key;
                out.value = dumped(value);
                return out;
            }
            if (value.is_string()) *target = value.get<std::string>();
            continue;
        }
        int field = 0;
        while (field < PROFILE_FIELD_COUNT && key != FIELD_NAMES[field]) ++field;
        // A misspelt key would otherwise leave its parameter unchanged without a word.
        if (field == PROFILE_FIELD_COUNT) {
            out.problem = ProfileProblem::UnknownKey;
            out.key = key;
            return out;
        }
        if (!ReadField(static_cast<ProfileField>(field), value, out)) return out;
    }
    return out;
}

std::string ProfileProblemText(const ProfileRead& read, std::string (*visible)(const std::string&)) {
    const auto shown = [visible](std::string text) {
        const bool cut = text.size() > PROFILE_QUOTED_MAX;
        if (cut) text.resize(PROFILE_QUOTED_MAX);
        if (visible) text = visible(text);
        if (cut) text += "...";
        return text;
    };
    const std::string key = visible ? visible(read.key) : read.key;
    const std::string value = shown(read.value);
    switch (read.problem) {
    case ProfileProblem::NotJson:
        return FormatStringText(TEXT_PROFILE_NOT_JSON, (visible ? visible(read.value) : read.value).c_str());
    case ProfileProblem::NotObject: return FormatStringText(TEXT_PROFILE_NOT_OBJECT);
    case ProfileProblem::NoFormat: return FormatStringText(TEXT_PROFILE_NO_FORMAT, PROFILE_FORMAT);
    case ProfileProblem::OtherFormat: return FormatStringText(TEXT_PROFILE_OTHER_FORMAT, value.c_str(), PROFILE_FORMAT);
    case ProfileProblem::BadVersion: return FormatStringText(TEXT_PROFILE_BAD_VERSION, value.c_str());
    case ProfileProblem::NewerVersion:
        return FormatStringText(TEXT_PROFILE_NEWER_VERSION, value.c_str(), PROFILE_VERSION);
    case ProfileProblem::UnknownKey: return FormatStringText(TEXT_PROFILE_UNKNOWN_KEY, shown(read.key).c_str());
    case ProfileProblem::DuplicateKey: return FormatStringText(TEXT_PROFILE_DUPLICATE_KEY, shown(read.key).c_str());
    case ProfileProblem::NotText: return FormatStringText(TEXT_PROFILE_NOT_TEXT, key.c_str(), value.c_str());
    case ProfileProblem::NotWholeNumber: return FormatStringText(TEXT_PROFILE_NOT_WHOLE, key.c_str(), value.c_str());
    case ProfileProblem::NotNumber: return FormatStringText(TEXT_PROFILE_NOT_NUMBER, key.c_str(), value.c_str());
    case ProfileProblem::NotTable: return FormatStringText(TEXT_PROFILE_NOT_TABLE, key.c_str(), value.c_str());
    case ProfileProblem::OtherResolution:
        return FormatStringText(TEXT_PROFILE_OTHER_RESOLUTION, value.c_str(), SENSOR_RANGE_RESOLUTION);
    case ProfileProblem::None: break;
    }
    return {};
}

ProfileApplication ApplyProfile(const ParamProfile& profile, const ParamSetting& start) {
    ParamSetting record = start;
    for (int i = 0; i < PROFILE_FIELD_COUNT; ++i) {
        if (!profile.has[i]) continue;
        const auto field = static_cast<ProfileField>(i);
        if (IsTable(field)) {
            std::memcpy(TableOf(record, field), TableOf(const_cast<ParamSetting&>(profile.record), field),
                        sizeof record.GateTriggerThreshold);
        } else if (field == ProfileField::ObjectDisappearReportTime) {
            record.ObjectDisappearReportTime = profile.record.ObjectDisappearReportTime;
        } else {
            *DecimalField(record, field) = ScalarOf(profile.record, field);
        }
    }
    // As the page shows the record (the lists snap the frequencies), then the
    // profile's values committed as if typed, in the order a parameter file's are.
    // Values the profile leaves are not committed, so a sensor's own values stay.
    ParamEditSession edits(record);
    if (profile.Has(ProfileField::ObjectDisappearReportTime)) edits.CommitAbsence(record.ObjectDisappearReportTime);
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
        if (profile.Has(ProfileField::GateTriggerThreshold))
            edits.CommitTriggerThreshold(g, record.GateTriggerThreshold[g]);
        if (profile.Has(ProfileField::GateHoldThreshold)) edits.CommitHoldThreshold(g, record.GateHoldThreshold[g]);
    }
    // Both ends together, end first, as the range edits are committed for a whole
    // file: committed one by one against the sensor's other end, a range moved
    // past the old one would be corrected.
    if (profile.Has(ProfileField::DetectRangeMin) || profile.Has(ProfileField::DetectRangeMax)) {
        // Each end as its edit shows it at that moment: the end's rule may have moved the start.
        const std::string max = FormatDistance(edits.Result().DetectRangeMax);
        edits.CommitRangeMax(max, ParseDigitalText(max));
        const std::string min = FormatDistance(edits.Result().DetectRangeMin);
        edits.CommitRangeMin(min, ParseDigitalText(min));
    }
    return {edits.Result(), edits.Notices()};
}

std::vector<ProfileDifference> CompareProfiles(const ParamProfile& a, const ParamProfile& b) {
    std::vector<ProfileDifference> out;
    for (int i = 0; i < PROFILE_FIELD_COUNT; ++i) {
        const auto field = static_cast<ProfileField>(i);
        const bool inA = a.has[i];
        const bool inB = b.has[i];
        if (!inA && !inB) continue;
        if (inA != inB && (a.fromSensor || b.fromSensor)) continue;
        if (IsTable(field)) {
            const uint32_t* ta = TableOf(const_cast<ParamSetting&>(a.record), field);
            const uint32_t* tb = TableOf(const_cast<ParamSetting&>(b.record), field);
            for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
                if (inA && inB && ta[g] == tb[g]) continue;
                ProfileDifference d{field, g, {}, {}};
                if (inA) d.a = ta[g];
                if (inB) d.b = tb[g];
                out.push_back(d);
            }
            continue;
        }
        const double va = ScalarOf(a.record, field);
        const double vb = ScalarOf(b.record, field);
        if (inA && inB && std::fabs(va - vb) <= BOUNDARY_TOLERANCE) continue;
        ProfileDifference d{field, -1, {}, {}};
        if (inA) d.a = va;
        if (inB) d.b = vb;
        out.push_back(d);
    }
    return out;
}

std::string ProfileValueText(ProfileField field, double value) {
    char text[64];
    if (IsDistance(field))
        std::snprintf(text, sizeof text, "%.2f m", value);
    else if (IsTable(field))
        std::snprintf(text, sizeof text, "%.0f dB", value);
    else if (field == ProfileField::ObjectDisappearReportTime)
        std::snprintf(text, sizeof text, "%.0f s", value);
    else
        std::snprintf(text, sizeof text, "%.1f Hz", value);
    return text;
}

std::string ProfileDifferenceName(const ProfileDifference& difference) {
    std::string name = ProfileFieldName(difference.field);
    if (difference.gate >= 0) name += "[" + std::to_string(difference.gate) + "]";
    return name;
}
