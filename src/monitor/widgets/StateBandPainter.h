#pragma once
// Paints the state band of the range chart: the last STATE_HISTORY_LENGTH target
// states as coloured columns along the top of the plot, oldest at the left, in the
// DistanceWaveWnd_ colours (black where no report has arrived yet).
//
// The band lives in the chart's background layer, which the chart renders again
// after every report (the range chart marks it dirty) and after layout changes.
// The painter keeps its own copy of the history and takes a fresh one from its
// source only when the source says a report has arrived since the last take, so
// the band survives re-renders that no report caused. UI thread only.

#include <functional>

#include "chart/widgets/WaveChart.h"
#include "monitor/AcquisitionWorker.h"
#include "monitor/TargetChartSettings.h"

class CAcquisitionWorker;

// Fills history and returns true when a report has arrived since the last call.
using StateBandSource = std::function<bool(StateHistory& history)>;

// The worker's band dirty flag (TakeBandDirty) and, when set, a copy of its history.
[[nodiscard]] StateBandSource StateBandSourceOf(CAcquisitionWorker& worker);

class StateBandPainter : public IWaveChartDrawListener {
public:
    StateBandPainter();

    void SetSource(StateBandSource source) { source_ = std::move(source); }
    // Colours and height (DistanceWaveWnd_StateHeight times uiScale, truncated).
    void SetStyle(const TargetChartSettings& settings, double uiScale);
    // Replaces the copy painted until the source has something new (all 0xFF: black band).
    void SetHistory(const StateHistory& history) { history_ = history; }
    [[nodiscard]] const StateHistory& History() const { return history_; }
    [[nodiscard]] int BandHeight() const { return bandHeight_; }

    // Context TARGET_CHART_RANGE only.
    void OnDrawBackground(const WaveWndSurface& plot, const ChartRect& rect, uint64_t context) override;

private:
    StateBandSource source_;
    StateHistory history_;
    QColor colors_[4];  // by StateBandClass: no report, nobody, motion, motionless
    int bandHeight_ = 0;
};
