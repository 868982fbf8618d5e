#include "monitor/widgets/EnergyChart.h"

#include <algorithm>

#include <QPainter>

#include "app/StringIds.h"
#include "monitor/widgets/TargetChartText.h"
#include "params/ParamSetting.h"

namespace {

const ParamSetting& DefaultParams() {
    static const ParamSetting defaults;
    return defaults;
}

}  // namespace

EnergyChart::EnergyChart(WaveChart& wnd) : wnd_(wnd) {}

void EnergyChart::Setup(const TargetChartSettings& settings, double uiScale, IWaveChartTooltipListener* tooltips) {
    const auto scaled = [uiScale](int size) { return static_cast<int>(size * uiScale); };
    WaveChart& e = wnd_;
    inactiveColor_ = QColor::fromRgba(settings.EnergyWaveWnd_InactiveColor);
    e.SetDrawListener(this, TARGET_CHART_ENERGY);
    e.SetTooltipListener(tooltips, TARGET_CHART_ENERGY);
    e.SetFrameColor(QColor::fromRgba(TARGET_CHART_FRAME_COLOR));
    e.SetWaveCount(3);
    const QColor colors[3] = {Qt::green, Qt::red, Qt::yellow};  // target energy, trigger, hold threshold
    for (int i = 0; i < 3; ++i) {
        e.SetWaveVisible(i, true);
        e.SetWaveColor(i, colors[i]);
    }
    e.SetPlotBackground(QColor::fromRgba(settings.EnergyWaveWnd_ActiveColor));
    e.SetLineWidth(scaled(settings.EnergyWaveWnd_WaveLineWidth));

    e.SetDoubleSamples();
    e.SetAutoScale(settings.EnergyWaveWnd_ValueAutoScale != 0);
    e.SetValueRange(0, settings.EnergyWaveWnd_ValueDisplayMax);
    e.SetSampleCount(TARGET_GATE_COUNT);
    e.SetWholeBlocksOnly(1);
    e.ClearData();
    ready_.store(true);

    e.SetText(0, ChartText(TEXT_ENERGY_CHART_TITLE), scaled(15), Qt::white, 1, 0);
    e.SetText(1, ChartText(TEXT_ENERGY_CHART_Y_AXIS), scaled(10), Qt::white, 0, 0);
    e.SetText(2, ChartText(TEXT_ENERGY_CHART_X_AXIS), scaled(10), Qt::white, 2, 2);

    e.ShowStrip(WaveChart::STRIP_LEFT, scaled(50));
    e.ShowStrip(WaveChart::STRIP_BOTTOM, scaled(24));
    e.SetXAxisFont(scaled(8));
    e.SetYAxisFont(scaled(8), 0);
    e.SetXLabelCount(7);
    e.SetXRange(0, TARGET_GATE_COUNT - 1, -1);
    e.SetYLabelCount(5);

    e.Initialize();

    // The legend, right-aligned in the plot, one line under the other.
    ChartRect legend = e.PlotRect();
    legend.top += scaled(10);
    e.SetText(3, ChartText(TEXT_ENERGY_LEGEND_ENERGY), scaled(10), colors[0], 2, 0, &legend);
    legend.top += scaled(20);
    e.SetText(4, ChartText(TEXT_ENERGY_LEGEND_TRIGGER), scaled(10), colors[1], 2, 0, &legend);
    legend.top += scaled(20);
    e.SetText(5, ChartText(TEXT_ENERGY_LEGEND_HOLD), scaled(10), colors[2], 2, 0, &legend);

    ShowThresholds();
}

void EnergyChart::SetThresholds(const ParamSetting& params) {
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
        triggerDb_[g] = params.GateTriggerThreshold[g];
        holdDb_[g] = params.GateHoldThreshold[g];
    }
    wnd_.ClearData();
    ShowThresholds();
}

void EnergyChart::ShowThresholds() {
    wnd_.WaveBuffer(1).Append(triggerDb_, TARGET_GATE_COUNT);
    wnd_.RequestRepaint();
    wnd_.WaveBuffer(2).Append(holdDb_, TARGET_GATE_COUNT);
    wnd_.RequestRepaint();
}

void EnergyChart::AppendReport(const TargetReport& report) {
    if (!ready_.load()) return;
    wnd_.WaveBuffer(0).Append(report.gateEnergyDb, TARGET_GATE_COUNT);
    wnd_.RequestRepaint();
}

int EnergyChart::InactiveLeft(const ChartRect& plot) const {
    const ParamSetting& params = params_ ? *params_ : DefaultParams();
    const int first = FirstInactiveGate(params.DetectRangeMax, params.RangeResolution);
    if (first < 0) return plot.right;
    // first * width / 16 in doubles: a first gate of 16 or more leaves nothing to shade.
    const double offset = first * (plot.Width() * 0.0625);
    if (offset >= plot.Width()) return plot.right;
    return std::max(plot.left, plot.left + static_cast<int>(offset));
}

void EnergyChart::OnDrawEnd(const WaveWndSurface& back, const ChartRect& plotRect, uint64_t context) {
    if (context != TARGET_CHART_ENERGY || !back.painter) return;
    const int x0 = InactiveLeft(plotRect);
    if (x0 >= plotRect.right) return;
    back.painter->save();
    back.painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    // In slices of 64 rows: Qt hands a translucent fill of more than 95 rows to its
    // thread pool, which at 25 frames a second costs two thread wake-ups a frame for
    // a fill that takes microseconds.
    for (int top = plotRect.top; top < plotRect.bottom; top += 64)
        back.painter->fillRect(QRect(x0, top, plotRect.right - x0, std::min(64, plotRect.bottom - top)), inactiveColor_);
    back.painter->restore();
}
