#include "monitor/widgets/TargetChartTooltips.h"

#include "monitor/AcquisitionWorker.h"
#include "monitor/TargetChartSettings.h"

QString TargetChartTooltips::GetTooltipText(int waveIndex, int sampleIndex, int /*scrollOffset*/,
                                             int /*sampleCount*/, double value, uint64_t context) {
    // The range chart's window is the state history's length, whatever the chart holds.
    return QString::fromStdString(TargetChartTooltip(context, waveIndex, sampleIndex, value, STATE_HISTORY_LENGTH));
}
