#pragma once
// The target page's range chart: the target distance in metres over the last
// STATE_HISTORY_LENGTH reports (shown as the last 60 seconds), drawn over the state
// band that its draw listener paints into the background layer.
//
// Borrows the chart window; owns nothing. Setup and SetDetectRange run on the UI
// thread; AppendReport may be called from the acquisition worker.

#include <atomic>

#include "chart/widgets/WaveChart.h"
#include "monitor/FrameScanner.h"
#include "monitor/TargetChartSettings.h"

struct ParamSetting;

class RangeChart {
public:
    explicit RangeChart(WaveChart& wnd);
    RangeChart(const RangeChart&) = delete;
    RangeChart& operator=(const RangeChart&) = delete;

    // Configures the window as the page's chart at the scale (pixel and font sizes
    // times uiScale, truncated), with the value range of the record's detection
    // range. The band painter and the tooltips get context TARGET_CHART_RANGE. The
    // samples are kept, so that a new scale keeps the curve.
    void Setup(const TargetChartSettings& settings, double uiScale, const ParamSetting& params,
               IWaveChartDrawListener* band, IWaveChartTooltipListener* tooltips);
    // The value range follows the record's DetectRangeMin .. DetectRangeMax.
    void SetDetectRange(const ParamSetting& params);

    // Any thread: appends the report's distance in metres and has the background
    // (the state band) rendered again at the next paint, unless the band is all this
    // report's state already. Nothing before the first Setup.
    void AppendReport(const TargetReport& report);
    // Empties the curve (it lies at 0 m again) and has the band painted anew.
    void Clear();

    [[nodiscard]] WaveChart& Window() { return wnd_; }

private:
    WaveChart& wnd_;
    std::atomic<bool> ready_{false};  // set once the window is configured for doubles
    // The state code of the last reports and how many in a row had it (up to one more
    // than the band holds); Clear starts the count again.
    std::atomic<int> sameStateCode_{-1};
    std::atomic<int> sameStateRun_{0};
};
