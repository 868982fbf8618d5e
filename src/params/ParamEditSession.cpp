#include "params/ParamEditSession.h"

#include <cmath>
#include <cstdio>

#include "app/StringTable.h"
#include "common/ValueParse.h"

namespace {

// A correction that rewrites the committed edit runs the rule again; a corrected
// value settles after one or two runs, the cap only guards against a rule that never does.
constexpr int MAX_NESTED_COMMITS = 8;

const char* FieldName(RangeField field) {
    return field == RangeField::DetectRangeMin ? "DetectRangeMin" : "DetectRangeMax";
}

double& FieldOf(ParamSetting& setting, RangeField field) {
    return field == RangeField::DetectRangeMin ? setting.DetectRangeMin : setting.DetectRangeMax;
}

void CommitRangeEditAt(ParamSetting& setting, RangeField committed, IRangeEditView& view, int depth) {
    const RangeNoticeSink apply = [&](const RangeNotice& notice) {
        double& field = FieldOf(setting, notice.field);
        const std::string text = FormatDistance(field);
        view.ShowRangeText(notice, text);
        if (notice.field == committed && depth < MAX_NESTED_COMMITS) {
            field = ParseDigitalText(text);
            CommitRangeEditAt(setting, committed, view, depth + 1);
        }
        view.ShowRangeNotice(notice);
    };
    if (committed == RangeField::DetectRangeMin)
        CommitRangeMin(setting, apply);
    else
        CommitRangeMax(setting, apply);
}

}  // namespace

std::string FormatDistance(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", GetSuitableDecimalFormatCount(value, 2), value);
    return text;
}

LimitCorrection ApplyEditLimits(double typed, long long minimum, long long maximum) {
    const EditLimitCheck check = CheckEditLimits(typed, EditLimits::WholeNumbers(minimum, maximum));
    LimitCorrection result;
    result.value = std::llround(check.value);
    if (check.key != 0) {
        result.corrected = true;
        result.key = check.key;
        result.text = FormatStringText(check.key == EDIT_LIMIT_KEY_BELOW_MIN ? TEXT_MIN_VALUE_MUST : TEXT_MAX_VALUE_MUST,
                                       std::to_string(result.value).c_str());
    }
    return result;
}

void CommitRangeEdit(ParamSetting& setting, RangeField committed, IRangeEditView& view) {
    CommitRangeEditAt(setting, committed, view, 0);
}

// ---------------------------------------------------------------- session

ParamEditSession::ParamEditSession(const ParamSetting& start) : record_(start) {
    minText_ = FormatDistance(record_.DetectRangeMin);
    maxText_ = FormatDistance(record_.DetectRangeMax);
    // The range list always offers 0.5-8.0; the state list depends on the range frequency.
    Snap("RangeReportFreq", ReportFreqList(), record_.RangeReportFreq);
    SnapStateReportFreq();
    // The radio buttons show only Normal or Fast.
    const double shown = ResponseFreqOfSpeed(IsFastResponse(record_.ResponseFreq));
    if (shown != record_.ResponseFreq) {
        AddNotice({"ResponseFreq", -1, 0, FormatStringText(TEXT_FREQ_SNAPPED, record_.ResponseFreq, shown)});
        record_.ResponseFreq = shown;
    }
}

void ParamEditSession::AddNotice(ParamNotice notice) {
    // One correction is said once: a state frequency snapped when the range frequency
    // changed is snapped the same way again when the same value is chosen after it.
    for (const ParamNotice& said : notices_) {
        if (said.field == notice.field && said.gate == notice.gate && said.key == notice.key && said.text == notice.text)
            return;
    }
    notices_.push_back(std::move(notice));
}

void ParamEditSession::Snap(const char* field, const std::vector<std::string>& list, double& value) {
    const double before = value;
    if (SelectNearestFreq(list, value) < 0) return;
    if (value != before) AddNotice({field, -1, 0, FormatStringText(TEXT_FREQ_SNAPPED, before, value)});
}

void ParamEditSession::SnapStateReportFreq() {
    Snap("StateReportFreq", FillStateReportFreqList(record_.RangeReportFreq), record_.StateReportFreq);
}

void ParamEditSession::ShowRangeText(const RangeNotice& notice, const std::string& text) {
    AddNotice({FieldName(notice.field), -1, notice.key, notice.text});
    (notice.field == RangeField::DetectRangeMin ? minText_ : maxText_) = text;
}

void ParamEditSession::CommitRangeMin(const std::string& text, double value) {
    minText_ = text;
    record_.DetectRangeMin = value;
    CommitRangeEdit(record_, RangeField::DetectRangeMin, *this);
}

void ParamEditSession::CommitRangeMax(const std::string& text, double value) {
    maxText_ = text;
    record_.DetectRangeMax = value;
    CommitRangeEdit(record_, RangeField::DetectRangeMax, *this);
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
    const LimitCorrection result = ApplyEditLimits(typed, PARAM_ABSENCE_MIN, PARAM_ABSENCE_MAX);
    if (result.corrected) AddNotice({"ObjectDisappearReportTime", -1, result.key, result.text});
    record_.ObjectDisappearReportTime = static_cast<uint32_t>(result.value);
}

void ParamEditSession::CommitGate(const char* field, int gate, double typed, uint32_t& target) {
    const LimitCorrection result = ApplyEditLimits(typed, PARAM_THRESHOLD_MIN, PARAM_THRESHOLD_MAX);
    if (result.corrected) AddNotice({field, gate, result.key, result.text});
    target = static_cast<uint32_t>(result.value);
}

void ParamEditSession::CommitTriggerThreshold(int gate, double typed) {
    CommitGate("GateTriggerThreshold", gate, typed, record_.GateTriggerThreshold[gate]);
}

void ParamEditSession::CommitHoldThreshold(int gate, double typed) {
    CommitGate("GateHoldThreshold", gate, typed, record_.GateHoldThreshold[gate]);
}

void ParamEditSession::CommitShownValues() {
    CommitAbsence(record_.ObjectDisappearReportTime);
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        CommitTriggerThreshold(gate, record_.GateTriggerThreshold[gate]);
        CommitHoldThreshold(gate, record_.GateHoldThreshold[gate]);
    }
    // Copies: a commit replaces the text it is given.
    const std::string max = maxText_;
    CommitRangeMax(max, ParseDigitalText(max));
    const std::string min = minText_;
    CommitRangeMin(min, ParseDigitalText(min));
}

ParamSetting ParamEditSession::Result() const {
    ParamSetting out = record_;
    // Write takes the distances from the edits' texts, not from the record: a
    // distance read as gate x 0.7 (2.0999999999999996) is written back as the
    // text shows it (2.1), which keeps its gate.
    out.DetectRangeMin = ParseDigitalText(minText_);
    out.DetectRangeMax = ParseDigitalText(maxText_);
    out.ResponseFreq = ResponseFreqOfSpeed(IsFastResponse(record_.ResponseFreq));
    return out;
}
