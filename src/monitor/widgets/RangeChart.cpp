#include "monitor/widgets/RangeChart.h"

#include <algorithm>

#include "app/StringIds.h"
#include "monitor/AcquisitionWorker.h"
#include "monitor/widgets/TargetChartText.h"
#include "params/ParamSetting.h"

RangeChart::RangeChart(WaveChart& wnd) : wnd_(wnd) {}

void RangeChart::Setup(const TargetChartSettings& settings, double uiScale, const ParamSetting& params,
                        IWaveChartDrawListener* band, IWaveChartTooltipListener* tooltips) {
    const auto scaled = [uiScale](int size) { return static_cast<int>(size * uiScale); };
    WaveChart& r = wnd_;
    r.SetDrawListener(band, TARGET_CHART_RANGE);
    r.SetTooltipListener(tooltips, TARGET_CHART_RANGE);
    r.SetFrameColor(QColor::fromRgba(TARGET_CHART_FRAME_COLOR));
    r.SetWaveCount(1);
    r.SetWaveVisible(0, true);
    r.SetWaveColor(0, Qt::red);
    r.SetPlotBackground(Qt::black);
    r.SetLineWidth(scaled(settings.DistanceWaveWnd_WaveLineWidth));

    r.SetDoubleSamples();
    r.SetValueRange(params.DetectRangeMin, params.DetectRangeMax);
    r.SetSampleCount(STATE_HISTORY_LENGTH);
    r.SetWholeBlocksOnly(0);
    ready_.store(true);

    r.SetText(0, ChartText(TEXT_RANGE_CHART_TITLE), scaled(15), Qt::white, 1, 0);
    r.SetText(1, ChartText(TEXT_RANGE_CHART_Y_AXIS), scaled(10), Qt::white, 0, 0);
    r.SetText(2, ChartText(TEXT_RANGE_CHART_X_AXIS), scaled(10), Qt::white, 2, 2);

    r.ShowStrip(WaveChart::STRIP_LEFT, scaled(50));
    r.SetYAxisFont(scaled(8), 1);
    r.SetYLabelCount(5);
    r.ShowStrip(WaveChart::STRIP_BOTTOM, scaled(24));
    r.SetXAxisFont(scaled(8));

    // Time runs from T0-60 at the left to T0 (the newest report) at the right.
    r.SetXRange(60, 0, -1);
    r.SetXLabels({"T0-60", "T0-45", "T0-30", "T0-15", "T0"});

    r.Initialize();
}

void RangeChart::SetDetectRange(const ParamSetting& params) {
    wnd_.SetValueRange(params.DetectRangeMin, params.DetectRangeMax);
}

void RangeChart::AppendReport(const TargetReport& report) {
    if (!ready_.load()) return;
    const double metres = report.distanceCm / 100.0;
    wnd_.WaveBuffer(0).Append(&metres, 1);
    // The band shows the states of the last STATE_HISTORY_LENGTH reports: once they
    // are all this report's state, one more of it leaves the band as it is.
    const int code = report.state & 0xFF;
    const int run = code == sameStateCode_.load() ? sameStateRun_.load() + 1 : 1;
    sameStateCode_.store(code);
    sameStateRun_.store(std::min(run, STATE_HISTORY_LENGTH + 1));
    if (run <= STATE_HISTORY_LENGTH) wnd_.MarkBackgroundDirty();
    wnd_.RequestRepaint();
}

void RangeChart::Clear() {
    sameStateRun_.store(0);
    wnd_.ClearData();
    wnd_.MarkBackgroundDirty();
    wnd_.RequestRepaint();
}
