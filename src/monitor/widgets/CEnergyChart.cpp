#include "monitor/widgets/CEnergyChart.h"

#include <QPainter>

#include <algorithm>

#include "app/StringIds.h"
#include "monitor/widgets/TargetChartText.h"
#include "params/ParamSetting.h"

namespace {

const ParamSetting& DefaultParams() {
    static const ParamSetting defaults;
    return defaults;
}

}  // namespace

CEnergyChart::CEnergyChart(CWaveWnd& wnd) : wnd_(wnd) {}

void CEnergyChart::Setup(const TargetChartSettings& settings, double uiScale, IWaveWndTooltipListener* tooltips) {
    const auto scaled = [uiScale](int size) { return static_cast<int>(size * uiScale); };
    CWaveWnd& e = wnd_;
    inactiveColor_ = settings.EnergyWaveWnd_InactiveColor;
    e.SetDrawListener(this, TARGET_CHART_ENERGY);
    e.SetTooltipListener(tooltips, TARGET_CHART_ENERGY);
    e.frameColor = TARGET_CHART_FRAME_COLOR;
    e.waveCount = 3;
    for (int i = 0; i < 3; ++i) e.waves[static_cast<size_t>(i)].visible = 1;
    e.waves[0].color = 0x00FF00;  // target energy, green
    e.waves[1].color = 0x0000FF;  // trigger threshold, red
    e.waves[2].color = 0x00FFFF;  // hold threshold, yellow
    e.plotBackgroundEnabled = 1;
    e.plotBackgroundColor = settings.EnergyWaveWnd_ActiveColor;
    e.lineWidth = scaled(settings.EnergyWaveWnd_WaveLineWidth);

    e.SetDoubleSamples();
    e.autoScale = settings.EnergyWaveWnd_ValueAutoScale;
    e.SetValueRange(0, settings.EnergyWaveWnd_ValueDisplayMax);
    e.SetSampleCount(TARGET_GATE_COUNT);
    e.SetWholeBlocksOnly(1);
    e.ClearData();
    ready_.store(true);

    e.SetText(0, ChartText(TEXT_ENERGY_CHART_TITLE), scaled(15), 0xFFFFFFFF, 1, 0);
    e.SetText(1, ChartText(TEXT_ENERGY_CHART_Y_AXIS), scaled(10), 0xFFFFFFFF, 0, 0);
    e.SetText(2, ChartText(TEXT_ENERGY_CHART_X_AXIS), scaled(10), 0xFFFFFFFF, 2, 2);

    e.left.visible = 1;
    e.left.size = scaled(50);
    e.left.margins = {};
    e.Layout();
    e.bottom.visible = 1;
    e.bottom.size = scaled(24);
    e.bottom.margins = {};
    e.Layout();

    e.SetXAxisFont(scaled(8));
    e.SetYAxisFont(scaled(8), 0);
    e.top.axis.labelCount = e.bottom.axis.labelCount = 7;
    e.SetXRange(0, TARGET_GATE_COUNT - 1, -1);
    e.left.axis.labelCount = e.right.axis.labelCount = 5;

    e.Initialize();
    e.RecreateBuffers();

    // The legend, right-aligned in the plot, one line under the other.
    ChartRect legend = e.plotRect;
    legend.top += scaled(10);
    e.SetText(3, ChartText(TEXT_ENERGY_LEGEND_ENERGY), scaled(10), 0xFF00FF00, 2, 0, &legend);
    legend.top += scaled(20);
    e.SetText(4, ChartText(TEXT_ENERGY_LEGEND_TRIGGER), scaled(10), 0xFFFF0000, 2, 0, &legend);
    legend.top += scaled(20);
    e.SetText(5, ChartText(TEXT_ENERGY_LEGEND_HOLD), scaled(10), 0xFFFFFF00, 2, 0, &legend);

    ShowThresholds();
}

void CEnergyChart::SetThresholds(const ParamSetting& params) {
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
        triggerDb_[g] = params.GateTriggerThreshold[g];
        holdDb_[g] = params.GateHoldThreshold[g];
    }
    wnd_.ClearData();
    ShowThresholds();
}

void CEnergyChart::ShowThresholds() {
    wnd_.waves[1].buffer.Append(triggerDb_, TARGET_GATE_COUNT);
    wnd_.RequestRepaint();
    wnd_.waves[2].buffer.Append(holdDb_, TARGET_GATE_COUNT);
    wnd_.RequestRepaint();
}

void CEnergyChart::AppendReport(const TargetReport& report) {
    if (!ready_.load()) return;
    wnd_.waves[0].buffer.Append(report.gateEnergyDb, TARGET_GATE_COUNT);
    wnd_.RequestRepaint();
}

int CEnergyChart::InactiveLeft(const ChartRect& plot) const {
    const ParamSetting& params = params_ ? *params_ : DefaultParams();
    const int first = FirstInactiveGate(params.DetectRangeMax, params.RangeResolution);
    if (first < 0) return plot.right;
    // first * width / 16 in doubles: a first gate of 16 or more leaves nothing to shade.
    const double offset = first * (plot.Width() * 0.0625);
    if (offset >= plot.Width()) return plot.right;
    return std::max(plot.left, plot.left + static_cast<int>(offset));
}

void CEnergyChart::OnDrawEnd(const WaveWndSurface& back, const ChartRect& plotRect, uint64_t context) {
    if (context != TARGET_CHART_ENERGY || !back.painter) return;
    const int x0 = InactiveLeft(plotRect);
    if (x0 >= plotRect.right) return;
    back.painter->save();
    back.painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    back.painter->fillRect(QRect(x0, plotRect.top, plotRect.right - x0, plotRect.Height()),
                           QColor::fromRgba(inactiveColor_));
    back.painter->restore();
}
