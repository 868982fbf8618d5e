#include "monitor/widgets/CTargetCharts.h"

#include "params/ParamSetting.h"

CTargetCharts::CTargetCharts(CWaveWnd& energy, CWaveWnd& range) : energy_(energy), range_(range) {}

const ParamSetting& CTargetCharts::Params() const {
    static const ParamSetting defaults;
    return params_ ? *params_ : defaults;
}

void CTargetCharts::SetParamSetting(const ParamSetting* params) {
    params_ = params;
    energy_.SetParamSetting(params);
}

void CTargetCharts::SetupCharts(double uiScale) {
    uiScale_ = uiScale;
    energy_.Setup(settings, uiScale, &tooltips_);
    band_.SetStyle(settings, uiScale);
    range_.Setup(settings, uiScale, Params(), &band_, &tooltips_);
}

void CTargetCharts::RefreshParams() {
    energy_.SetThresholds(Params());
    range_.SetDetectRange(Params());
}

void CTargetCharts::ResetDisplays() {
    RefreshParams();
    StateHistory empty;
    empty.fill(STATE_NO_REPORT);
    band_.SetHistory(empty);
    range_.Clear();
}

void CTargetCharts::AppendReport(const TargetReport& report) {
    energy_.AppendReport(report);
    range_.AppendReport(report);
}
