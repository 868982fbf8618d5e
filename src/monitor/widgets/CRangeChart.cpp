#include "monitor/widgets/CRangeChart.h"

#include <string>

#include "app/StringIds.h"
#include "monitor/AcquisitionWorker.h"
#include "monitor/widgets/TargetChartText.h"
#include "params/ParamSetting.h"

CRangeChart::CRangeChart(CWaveWnd& wnd) : wnd_(wnd) {}

void CRangeChart::Setup(const TargetChartSettings& settings, double uiScale, const ParamSetting& params,
                        IWaveWndDrawListener* band, IWaveWndTooltipListener* tooltips) {
    const auto scaled = [uiScale](int size) { return static_cast<int>(size * uiScale); };
    CWaveWnd& r = wnd_;
    r.SetDrawListener(band, TARGET_CHART_RANGE);
    r.SetTooltipListener(tooltips, TARGET_CHART_RANGE);
    r.frameColor = TARGET_CHART_FRAME_COLOR;
    r.waveCount = 1;
    r.waves[0].visible = 1;
    r.waves[0].color = 0x0000FF;  // red
    r.plotBackgroundEnabled = 1;
    r.plotBackgroundColor = 0xFF000000;
    r.lineWidth = scaled(settings.DistanceWaveWnd_WaveLineWidth);

    r.SetDoubleSamples();
    r.SetValueRange(params.DetectRangeMin, params.DetectRangeMax);
    r.SetSampleCount(STATE_HISTORY_LENGTH);
    r.SetWholeBlocksOnly(0);
    ready_.store(true);

    r.SetText(0, ChartText(TEXT_RANGE_CHART_TITLE), scaled(15), 0xFFFFFFFF, 1, 0);
    r.SetText(1, ChartText(TEXT_RANGE_CHART_Y_AXIS), scaled(10), 0xFFFFFFFF, 0, 0);
    r.SetText(2, ChartText(TEXT_RANGE_CHART_X_AXIS), scaled(10), 0xFFFFFFFF, 2, 2);

    r.left.visible = 1;
    r.left.size = scaled(50);
    r.Layout();
    r.SetYAxisFont(scaled(8), 1);
    r.left.axis.labelCount = r.right.axis.labelCount = 5;
    r.bottom.visible = 1;
    r.bottom.size = scaled(24);
    r.Layout();
    r.SetXAxisFont(scaled(8));

    // Time runs from T0-60 at the left to T0 (the newest report) at the right.
    r.SetXRange(60, 0, -1);
    for (CWaveWnd::AxisStrip* strip : {&r.top, &r.bottom}) {
        strip->axis.ClearLabels();
        int index = 0;
        for (int seconds : {60, 45, 30, 15}) strip->axis.AddLabel(index++, "T0-" + std::to_string(seconds));
        strip->axis.AddLabel(4, "T0");
        strip->axis.labelCount = 5;
    }

    r.Initialize();
    r.RecreateBuffers();
}

void CRangeChart::SetDetectRange(const ParamSetting& params) {
    wnd_.SetValueRange(params.DetectRangeMin, params.DetectRangeMax);
}

void CRangeChart::AppendReport(const TargetReport& report) {
    if (!ready_.load()) return;
    const double metres = report.distanceCm / 100.0;
    wnd_.waves[0].buffer.Append(&metres, 1);
    wnd_.MarkBackgroundDirty();
    wnd_.RequestRepaint();
}

void CRangeChart::Clear() {
    wnd_.ClearData();
    wnd_.MarkBackgroundDirty();
    wnd_.RequestRepaint();
}
