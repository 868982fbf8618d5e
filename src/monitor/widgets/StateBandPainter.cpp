#include "monitor/widgets/StateBandPainter.h"

#include <QPainter>

#include <algorithm>

StateBandSource StateBandSourceOf(CAcquisitionWorker& worker) {
    return [&worker](StateHistory& history) {
        if (!worker.TakeBandDirty()) return false;
        history = worker.GetStateHistory();
        return true;
    };
}

StateBandPainter::StateBandPainter() {
    history_.fill(STATE_NO_REPORT);
    SetStyle(TargetChartSettings{}, 1.0);
}

void StateBandPainter::SetStyle(const TargetChartSettings& settings, double uiScale) {
    colors_[BAND_NO_REPORT] = Qt::black;
    colors_[BAND_NOBODY] = QColor::fromRgba(settings.DistanceWaveWnd_NobodyColor);
    colors_[BAND_MOTION] = QColor::fromRgba(settings.DistanceWaveWnd_MotionColor);
    colors_[BAND_MOTIONLESS] = QColor::fromRgba(settings.DistanceWaveWnd_MotionlessColor);
    // In doubles first: a huge configured height must not wrap to a negative one.
    const double height = static_cast<double>(settings.DistanceWaveWnd_StateHeight) * uiScale;
    bandHeight_ = height <= 0 ? 0 : height >= 1 << 20 ? 1 << 20 : static_cast<int>(height);
}

void StateBandPainter::OnDrawBackground(const WaveWndSurface& plot, const ChartRect& rect, uint64_t context) {
    if (context != TARGET_CHART_RANGE || !plot.painter) return;
    StateHistory fresh;
    if (source_ && source_(fresh)) history_ = fresh;

    const int height = std::min(bandHeight_, rect.Height());
    if (height <= 0) return;
    QPainter& painter = *plot.painter;
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (const StateBandSegment& segment : StateBandSegments(history_.data(), STATE_HISTORY_LENGTH, rect.Width()))
        painter.fillRect(QRect(rect.left + segment.start, rect.top, segment.end - segment.start, height),
                         colors_[segment.cls]);
    painter.restore();
}
