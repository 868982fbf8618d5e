#include "ParamEdits.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "CliStrings.h"
#include "Output.h"
#include "Session.h"
#include "common/ValueParse.h"
#include "params/ParamRules.h"
#include "params/RadarOperatorConfig.h"

namespace {

// Limits of the page's numeric edits.
constexpr long long kThresholdMin = 10;
constexpr long long kThresholdMax = 95;
constexpr long long kAbsenceMin = 10;
constexpr long long kAbsenceMax = 255;

// A correction that rewrites the same edit re-runs the rule; a corrected value
// settles after one or two runs, the cap only guards against a rule that never does.
constexpr int kMaxNestedCommits = 8;

const char* FieldName(RangeField field) {
    return field == RangeField::DetectRangeMin ? "DetectRangeMin" : "DetectRangeMax";
}

// What a range edit's text parses back to (a text that is no number gives 0, as in the page).
double ParseEditText(const std::string& text) {
    double value = 0.0;
    if (!DigtalStringToValue(text.c_str(), text.size(), &value, DIGITAL_VALUE_DOUBLE)) return 0.0;
    return value;
}

}  // namespace

std::string FormatDistance(double value) {
    const int decimals = GetSuitableDecimalFormatCount(value, 2);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

ParamEditSession::ParamEditSession(const ParamSetting& start) : record_(start) {
    minText_ = FormatDistance(record_.DetectRangeMin);
    maxText_ = FormatDistance(record_.DetectRangeMax);
    // The range list always offers 0.5-8.0; the state list depends on the range frequency.
    Snap("RangeReportFreq", ReportFreqList(), record_.RangeReportFreq);
    SnapStateReportFreq();
    // The radio buttons show only Normal or Fast.
    const double shown = ResponseFreqOfSpeed(IsFastResponse(record_.ResponseFreq));
    if (shown != record_.ResponseFreq) {
        notices_.push_back({"ResponseFreq", -1, 0, Text(CLI_TEXT_FREQ_SNAPPED, record_.ResponseFreq, shown)});
        record_.ResponseFreq = shown;
    }
}

void ParamEditSession::Snap(const char* field, const std::vector<std::string>& list, double& value) {
    const double before = value;
    if (SelectNearestFreq(list, value) < 0) return;
    if (value != before) notices_.push_back({field, -1, 0, Text(CLI_TEXT_FREQ_SNAPPED, before, value)});
}

void ParamEditSession::SnapStateReportFreq() {
    Snap("StateReportFreq", FillStateReportFreqList(record_.RangeReportFreq), record_.StateReportFreq);
}

void ParamEditSession::CommitRangeMin(const std::string& text, double value) {
    minText_ = text;
    record_.DetectRangeMin = value;
    CommitRange(true, 0);
}

void ParamEditSession::CommitRangeMax(const std::string& text, double value) {
    maxText_ = text;
    record_.DetectRangeMax = value;
    CommitRange(false, 0);
}

void ParamEditSession::CommitRange(bool minimum, int depth) {
    const std::vector<RangeNotice> notices = minimum ? ::CommitRangeMin(record_) : ::CommitRangeMax(record_);
    const RangeField committed = minimum ? RangeField::DetectRangeMin : RangeField::DetectRangeMax;
    for (const RangeNotice& notice : notices) {
        notices_.push_back({FieldName(notice.field), -1, notice.key, notice.text});
        // The corrected field's edit shows its new value; when that is the edit being
        // committed, the page sees the change at once and runs the rule again.
        const bool isMin = notice.field == RangeField::DetectRangeMin;
        std::string& text = isMin ? minText_ : maxText_;
        double& field = isMin ? record_.DetectRangeMin : record_.DetectRangeMax;
        text = FormatDistance(field);
        if (notice.field == committed && depth < kMaxNestedCommits) {
            field = ParseEditText(text);
            CommitRange(minimum, depth + 1);
        }
    }
}

void ParamEditSession::SelectRangeReportFreq(double value) {
    Snap("RangeReportFreq", ReportFreqList(), value);
    record_.RangeReportFreq = value;
    SnapStateReportFreq();
}

void ParamEditSession::SelectStateReportFreq(double value) {
    record_.StateReportFreq = value;
    SnapStateReportFreq();
}

void ParamEditSession::SelectResponse(bool fast) { record_.ResponseFreq = ResponseFreqOfSpeed(fast); }

void ParamEditSession::CommitAbsence(double typed) {
    const LimitCorrection result = ApplyEditLimits(typed, kAbsenceMin, kAbsenceMax);
    if (result.corrected) notices_.push_back({"ObjectDisappearReportTime", -1, result.key, result.text});
    record_.ObjectDisappearReportTime = static_cast<uint32_t>(result.value);
}

void ParamEditSession::CommitGate(const char* field, int gate, double typed, uint32_t& target) {
    const LimitCorrection result = ApplyEditLimits(typed, kThresholdMin, kThresholdMax);
    if (result.corrected) notices_.push_back({field, gate, result.key, result.text});
    target = static_cast<uint32_t>(result.value);
}

void ParamEditSession::CommitTriggerThreshold(int gate, double typed) {
    CommitGate("GateTriggerThreshold", gate, typed, record_.GateTriggerThreshold[gate]);
}

void ParamEditSession::CommitHoldThreshold(int gate, double typed) {
    CommitGate("GateHoldThreshold", gate, typed, record_.GateHoldThreshold[gate]);
}

ParamSetting ParamEditSession::Result() const {
    ParamSetting out = record_;
    // Write takes the distances from the edits' texts, not from the record: a
    // distance read as gate × 0.7 (2.0999999999999996) is written back as the
    // text shows it (2.1), which keeps its gate.
    out.DetectRangeMin = ParseEditText(minText_);
    out.DetectRangeMax = ParseEditText(maxText_);
    out.ResponseFreq = ResponseFreqOfSpeed(IsFastResponse(record_.ResponseFreq));
    return out;
}

void WireValuesOfWrite(const ParamSetting& setting, uint32_t values[6]) { DetectSettingToValues(setting, values); }

void WireValuesOfRead(const ParamSetting& setting, uint32_t values[6]) {
    DetectSettingToValues(setting, values);
    if (setting.RangeResolution > 0.0) {
        values[0] = static_cast<uint32_t>(std::llround(setting.DetectRangeMin / setting.RangeResolution));
        values[1] = static_cast<uint32_t>(std::llround(setting.DetectRangeMax / setting.RangeResolution));
    }
    values[2] = static_cast<uint32_t>(std::llround(setting.ResponseFreq * 10.0));
    values[3] = static_cast<uint32_t>(std::llround(setting.StateReportFreq * 10.0));
    values[4] = static_cast<uint32_t>(std::llround(setting.RangeReportFreq * 10.0));
}
