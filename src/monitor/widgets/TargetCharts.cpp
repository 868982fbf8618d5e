#include "monitor/widgets/TargetCharts.h"

#include "params/ParamSetting.h"

TargetCharts::TargetCharts(WaveChart& energy, WaveChart& range) : energy_(energy), range_(range) {}

const ParamSetting& TargetCharts::Params() const {
    static const ParamSetting defaults;
    return params_ ? *params_ : defaults;
}

void TargetCharts::SetParamSetting(const ParamSetting* params) {
    params_ = params;
    energy_.SetParamSetting(params);
}

void TargetCharts::SetupCharts(double uiScale) {
    uiScale_ = uiScale;
    energy_.Setup(settings, uiScale, &tooltips_);
    band_.SetStyle(settings, uiScale);
    range_.Setup(settings, uiScale, Params(), &band_, &tooltips_);
}

void TargetCharts::RefreshParams() {
    energy_.SetThresholds(Params());
    range_.SetDetectRange(Params());
}

void TargetCharts::ResetDisplays() {
    RefreshParams();
    StateHistory empty;
    empty.fill(STATE_NO_REPORT);
    band_.SetHistory(empty);
    range_.Clear();
}

void TargetCharts::AppendReport(const TargetReport& report) {
    energy_.AppendReport(report);
    range_.AppendReport(report);
}
