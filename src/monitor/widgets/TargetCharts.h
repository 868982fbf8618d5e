#pragma once
// The target page's two charts composed: the energy chart, the range chart with its
// state band, and the tooltips of both. Borrows the two chart windows and the
// parameter record; holds no worker, no controls and no status text, so that a page
// or a tool only creates the windows, calls SetupCharts and RefreshParams on the UI
// thread and hands each report to AppendReport.
//
// Threads: everything on the UI thread except AppendReport, which the acquisition
// worker's sink calls on the worker thread.

#include "monitor/TargetChartSettings.h"
#include "monitor/widgets/EnergyChart.h"
#include "monitor/widgets/RangeChart.h"
#include "monitor/widgets/StateBandPainter.h"
#include "monitor/widgets/TargetChartTooltips.h"

class WaveChart;
struct ParamSetting;

class TargetCharts {
public:
    TargetCharts(WaveChart& energy, WaveChart& range);
    TargetCharts(const TargetCharts&) = delete;
    TargetCharts& operator=(const TargetCharts&) = delete;

    // Loaded and saved by the owner (ObjectInfo element); applied by SetupCharts.
    TargetChartSettings settings;

    // The record of the thresholds and the detection range; nullptr = the default record.
    void SetParamSetting(const ParamSetting* params);
    // Where the state band's history comes from (StateBandSourceOf(worker), say).
    void SetBandSource(StateBandSource source) { band_.SetSource(std::move(source)); }

    // Configures both charts at the scale. The energy curve is cleared and the
    // thresholds of the last RefreshParams are drawn again; the range curve and the
    // state band survive.
    void SetupCharts(double uiScale);
    // Takes the record's thresholds (clearing the energy curve) and detection range.
    void RefreshParams();
    // The displays of a new run: the energy curve at 0 dB under the thresholds, the
    // range curve at 0 m, the band black.
    void ResetDisplays();
    // Any thread: the chart effects of one decoded report.
    void AppendReport(const TargetReport& report);

    [[nodiscard]] EnergyChart& Energy() { return energy_; }
    [[nodiscard]] RangeChart& Range() { return range_; }
    [[nodiscard]] StateBandPainter& Band() { return band_; }
    [[nodiscard]] double UiScale() const { return uiScale_; }

private:
    [[nodiscard]] const ParamSetting& Params() const;

    EnergyChart energy_;
    RangeChart range_;
    StateBandPainter band_;
    TargetChartTooltips tooltips_;
    const ParamSetting* params_ = nullptr;
    double uiScale_ = 1.0;
};
