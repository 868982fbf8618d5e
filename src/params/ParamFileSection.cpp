#include "params/ParamFileSection.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "app/StringIds.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"

namespace {

// ---------------------------------------------------------------- reading one value

// Blanks around a value are allowed; the XML parser has already turned tabs and
// line ends inside an attribute into spaces.
std::string_view TrimmedValue(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool IsFileDigit(char c) { return c >= '0' && c <= '9'; }

// Digits only, as "%llu" writes them, within 32 bits.
bool ReadWholeNumber(std::string_view text, uint32_t& value) {
    text = TrimmedValue(text);
    if (text.empty()) return false;
    uint64_t v = 0;
    for (const char c : text) {
        if (!IsFileDigit(c)) return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > UINT32_MAX) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

// Digits with at most one point ("8.40", "0.5", "7", ".5"): no sign, no exponent,
// no hexadecimal, no "nan" or "inf". Read without regard to the process locale.
bool ReadDecimal(std::string_view text, double& value) {
    text = TrimmedValue(text);
    size_t digits = 0;
    size_t points = 0;
    for (const char c : text) {
        if (IsFileDigit(c))
            ++digits;
        else if (c == '.')
            ++points;
        else
            return false;
    }
    if (digits == 0 || points > 1) return false;
    double v = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    // A value too large for a double (hundreds of digits) is no distance either.
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

// ---------------------------------------------------------------- the section's attributes

struct FileDecimalAttribute {
    const char* name;
    double ParamSetting::*field;
};

// RangeResolution is read and checked on its own.
const FileDecimalAttribute FILE_DECIMAL_ATTRIBUTES[] = {
    {"DetectRangeMin", &ParamSetting::DetectRangeMin},   {"DetectRangeMax", &ParamSetting::DetectRangeMax},
    {"ResponseFreq", &ParamSetting::ResponseFreq},       {"StateReportFreq", &ParamSetting::StateReportFreq},
    {"RangeReportFreq", &ParamSetting::RangeReportFreq},
};

std::string FileGateAttribute(const char* table, int gate) {
    return "Gate" + std::to_string(gate) + table + "Threshold";
}

// Reads the attributes in the order the file's table lists them, stopping at the
// first one that does not read. True when all did.
bool ReadAttributes(XMLNode section, ParamSetting& record, ParamFileSection& out) {
    const auto refuse = [&](ParamFileProblem problem, const std::string& name, const std::string& text) {
        out.problem = problem;
        out.attribute = name;
        out.value = text;
        return false;
    };
    const auto decimal = [&](const std::string& name, double& field) {
        const std::optional<std::string> text = section.GetAttributeText(name.c_str());
        if (!text) return true;
        return ReadDecimal(*text, field) || refuse(ParamFileProblem::NotDecimal, name, *text);
    };
    const auto whole = [&](const std::string& name, uint32_t& field) {
        const std::optional<std::string> text = section.GetAttributeText(name.c_str());
        if (!text) return true;
        return ReadWholeNumber(*text, field) || refuse(ParamFileProblem::NotWholeNumber, name, *text);
    };

    // The rules and the gate arithmetic assume the sensor's gate; a file made for
    // another would have its distances land on the wrong gates.
    double resolution = record.RangeResolution;
    if (!decimal("RangeResolution", resolution)) return false;
    if (std::fabs(resolution - SENSOR_RANGE_RESOLUTION) > BOUNDARY_TOLERANCE)
        return refuse(ParamFileProblem::OtherResolution, "RangeResolution",
                      *section.GetAttributeText("RangeResolution"));
    record.RangeResolution = SENSOR_RANGE_RESOLUTION;

    for (const FileDecimalAttribute& attribute : FILE_DECIMAL_ATTRIBUTES) {
        if (!decimal(attribute.name, record.*attribute.field)) return false;
    }
    if (!whole("ObjectDisappearReportTime", record.ObjectDisappearReportTime)) return false;
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        if (!whole(FileGateAttribute("Trigger", gate), record.GateTriggerThreshold[gate])) return false;
    }
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        if (!whole(FileGateAttribute("Hold", gate), record.GateHoldThreshold[gate])) return false;
    }
    return true;
}

// At most this much of a refused value is quoted back.
constexpr size_t QUOTED_VALUE_MAX = 40;

}  // namespace

ParamFileSection ReadParamFileSection(XMLNode section, const ParamSetting& start) {
    ParamFileSection out;
    out.record = start;
    ParamSetting record = start;
    if (!ReadAttributes(section, record, out)) return out;
    // As the page shows the record (lists and radio buttons snap the frequencies),
    // then every value committed as if typed.
    ParamEditSession edits(record);
    edits.CommitShownValues();
    out.record = edits.Result();
    out.notices = edits.Notices();
    return out;
}

std::string ParamFileProblemText(const ParamFileSection& section, std::string (*visible)(const std::string&)) {
    std::string value = section.value;
    const bool cut = value.size() > QUOTED_VALUE_MAX;
    if (cut) value.resize(QUOTED_VALUE_MAX);
    if (visible) value = visible(value);
    if (cut) value += "...";
    const std::string attribute = visible ? visible(section.attribute) : section.attribute;
    switch (section.problem) {
    case ParamFileProblem::NotWholeNumber:
        return FormatStringText(TEXT_PARAM_FILE_NOT_WHOLE, attribute.c_str(), value.c_str());
    case ParamFileProblem::NotDecimal:
        return FormatStringText(TEXT_PARAM_FILE_NOT_DECIMAL, attribute.c_str(), value.c_str());
    case ParamFileProblem::OtherResolution:
        return FormatStringText(TEXT_PARAM_FILE_OTHER_RESOLUTION, attribute.c_str(), value.c_str(),
                                SENSOR_RANGE_RESOLUTION);
    case ParamFileProblem::None:
        break;
    }
    return {};
}
