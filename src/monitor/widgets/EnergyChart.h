#pragma once
// The target page's energy chart: the 16 range-gate energies of the last report
// (wave 0) against the trigger (wave 1) and hold (wave 2) thresholds, one point per
// gate, with the gates beyond the detection range shaded over the curves.
//
// Borrows the chart window and the parameter record; owns neither. Setup,
// SetThresholds, SetParamSetting and the painting run on the UI thread;
// AppendReport may be called from the acquisition worker.

#include <atomic>

#include "chart/widgets/WaveChart.h"
#include "monitor/FrameScanner.h"
#include "monitor/TargetChartSettings.h"

struct ParamSetting;

class EnergyChart : public IWaveChartDrawListener {
public:
    explicit EnergyChart(WaveChart& wnd);
    EnergyChart(const EnergyChart&) = delete;
    EnergyChart& operator=(const EnergyChart&) = delete;

    // Configures the window as the page's chart at the scale (every pixel and font
    // size times uiScale, truncated): this object draws the shading, tooltips come
    // from the listener given (context TARGET_CHART_ENERGY). Clears the energy curve
    // and shows the thresholds last taken by SetThresholds (0 dB before that).
    void Setup(const TargetChartSettings& settings, double uiScale, IWaveChartTooltipListener* tooltips);
    // Takes the record's gate thresholds, clears the energy curve (it drops to 0 dB
    // until the next report) and shows the thresholds.
    void SetThresholds(const ParamSetting& params);
    // The record whose DetectRangeMax and RangeResolution decide the shading, read at
    // every paint; nullptr = the default record.
    void SetParamSetting(const ParamSetting* params) { params_ = params; }

    // Any thread: shows the report's gate energies (nothing before the first Setup).
    void AppendReport(const TargetReport& report);

    [[nodiscard]] WaveChart& Window() { return wnd_; }
    // Left edge of the shading in client coordinates; the plot's right edge when nothing is shaded.
    [[nodiscard]] int InactiveLeft() const { return InactiveLeft(wnd_.PlotRect()); }

    void OnDrawEnd(const WaveWndSurface& back, const ChartRect& plotRect, uint64_t context) override;

private:
    void ShowThresholds();
    [[nodiscard]] int InactiveLeft(const ChartRect& plot) const;

    WaveChart& wnd_;
    const ParamSetting* params_ = nullptr;
    QColor inactiveColor_ = QColor::fromRgba(TargetChartSettings{}.EnergyWaveWnd_InactiveColor);
    double triggerDb_[TARGET_GATE_COUNT] = {};
    double holdDb_[TARGET_GATE_COUNT] = {};
    std::atomic<bool> ready_{false};  // set once the window is configured for doubles
};
