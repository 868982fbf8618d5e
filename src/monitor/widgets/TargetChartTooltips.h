#pragma once
// Tooltip texts of both target charts, told apart by the context value
// (TARGET_CHART_ENERGY, TARGET_CHART_RANGE). Called by the charts on the UI thread.

#include "chart/widgets/WaveChart.h"

class TargetChartTooltips : public IWaveChartTooltipListener {
public:
    QString GetTooltipText(int waveIndex, int sampleIndex, int scrollOffset, int sampleCount, double value,
                           uint64_t context) override;
};
