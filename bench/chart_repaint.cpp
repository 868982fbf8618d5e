// Repaint cost of the wave window: a full repaint at full-HD size (3 waves of 240
// samples, the monitoring page's strips and text items, every layer rendered
// again), and the common case of one new sample arriving on a range chart, for
// each data shape at the default chart size and at full HD.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "chart/widgets/WaveChart.h"

#include "ChartShapes.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_chart_repaint";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: Qt's own statics go first at exit, and an application torn
    // down after a shown window would crash there.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::unique_ptr<WaveChart> MakeChart() {
    App();
    auto wnd = std::make_unique<WaveChart>();
    wnd->SetFrameColor(QColor(0x2A, 0x32, 0x3C));
    wnd->SetPlotBackground(Qt::black);
    wnd->SetLineWidth(5);
    wnd->SetWaveCount(3);
    wnd->SetDoubleSamples();
    wnd->SetValueRange(0, 100);
    wnd->SetSampleCount(240);
    wnd->SetWholeBlocksOnly(0);
    wnd->SetText(0, "Range VS Time", 15, Qt::white, 1, 0);
    wnd->SetText(1, "Range (m)", 10, Qt::white, 0, 0);
    wnd->SetText(2, "Time (sec.)", 10, Qt::white, 2, 2);
    wnd->ShowStrip(WaveChart::STRIP_LEFT, 50);
    wnd->ShowStrip(WaveChart::STRIP_BOTTOM, 24);
    wnd->SetYAxisFont(8, 1);
    wnd->SetXAxisFont(8);
    wnd->SetXRange(60, 0, -1);
    wnd->resize(1920, 1080);
    wnd->Initialize();
    for (int w = 0; w < 3; ++w) {
        std::vector<double> values(240);
        for (int i = 0; i < 240; ++i) values[i] = 50 + 40 * std::sin(i * 0.05 + w);
        wnd->WaveBuffer(w).Append(values.data(), 240);
    }
    return wnd;
}

void BM_FullRepaint(benchmark::State& state) {
    auto wnd = MakeChart();
    QImage screen(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        wnd->MarkLayersDirty();
        QPainter painter(&screen);
        wnd->Paint(painter);
    }
}
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMillisecond);

// A chart set up as the range chart is (one red curve 5 pixels wide, 240 samples,
// the band's background rendered again with every report) and shown, so that a
// repaint goes through the widget's backing store and its flush as on screen.
std::unique_ptr<WaveChart> MakeRangeLikeChart(const QSize& size) {
    App();
    auto wnd = std::make_unique<WaveChart>();
    wnd->SetFrameColor(QColor(0x2A, 0x32, 0x3C));
    wnd->SetPlotBackground(Qt::black);
    wnd->SetLineWidth(5);
    wnd->SetWaveCount(1);
    wnd->SetWaveColor(0, Qt::red);
    wnd->SetDoubleSamples();
    wnd->SetValueRange(0, SHAPE_RANGE_MAX);
    wnd->SetSampleCount(240);
    wnd->SetWholeBlocksOnly(0);
    wnd->SetText(0, "Range VS Time", 15, Qt::white, 1, 0);
    wnd->SetText(1, "Range (m)", 10, Qt::white, 0, 0);
    wnd->SetText(2, "Time (sec.)", 10, Qt::white, 2, 2);
    wnd->ShowStrip(WaveChart::STRIP_LEFT, 50);
    wnd->ShowStrip(WaveChart::STRIP_BOTTOM, 24);
    wnd->SetYAxisFont(8, 1);
    wnd->SetXAxisFont(8);
    wnd->SetXRange(60, 0, -1);
    wnd->resize(size);
    wnd->show();
    wnd->Initialize();
    return wnd;
}

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// One new sample, then what the event loop does with it: the queued repaint, the
// paint of what changed and the flush of the backing store. Repaints come at most
// once a frame interval, so each turn waits for its paint, idle: the CPU column is
// one sample's and one repaint's work; the wall time is mostly the frame interval.
void BM_RepaintAfterOneSample(benchmark::State& state) {
    const auto shape = static_cast<ChartShape>(state.range(0));
    const QSize size = state.range(1) ? QSize(1920, 1080) : QSize(428, 206);
    auto wnd = MakeRangeLikeChart(size);
    std::mt19937 random(7);
    int64_t n = 0;
    for (; n < 240; ++n) {
        const double v = ShapeValue(shape, n, random);
        wnd->WaveBuffer(0).Append(&v, 1);
    }
    QCoreApplication::processEvents();
    PaintCounter counter;
    wnd->installEventFilter(&counter);
    for (auto _ : state) {
        const double v = ShapeValue(shape, n++, random);
        wnd->WaveBuffer(0).Append(&v, 1);
        wnd->MarkBackgroundDirty();
        wnd->RequestRepaint();
        // The queued request marks the widget dirty once the frame is due; the next
        // turn paints and flushes it.
        const int before = counter.paints;
        while (counter.paints == before) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
    }
    state.counters["paints_per_report"] =
        benchmark::Counter(static_cast<double>(counter.paints) / static_cast<double>(state.iterations()));
    state.SetLabel(ShapeName(shape));
}
BENCHMARK(BM_RepaintAfterOneSample)->Apply(ShapeSizeArgs)->Iterations(50)->Unit(benchmark::kMillisecond);

// What a worker holds a buffer's lock for: one append of a report's value.
void BM_AppendOneValue(benchmark::State& state) {
    CWaveBuffer buffer;
    buffer.SetSampleType(WAVE_SAMPLE_DOUBLE);
    buffer.SetBlockLength(240);
    buffer.SetBlockCount(1);
    double v = 1.0;
    for (auto _ : state) {
        buffer.Append(&v, 1);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_AppendOneValue);

// What a paint holds it for, plus turning the window into points for 1870 columns.
void BM_ComputePoints(benchmark::State& state) {
    CWaveBuffer buffer;
    buffer.SetSampleType(WAVE_SAMPLE_DOUBLE);
    buffer.SetBlockLength(240);
    buffer.SetBlockCount(1);
    std::vector<double> values(480, 3.0);
    buffer.Append(values.data(), 480);
    std::vector<WavePoint> points;
    points.reserve(2000);
    for (auto _ : state) {
        points.clear();
        double lo = 0, hi = 0;
        buffer.ComputePoints({50, 0, 1920, 1056}, 0, 100, 0, 1.0, points, lo, hi);
        benchmark::DoNotOptimize(points.data());
    }
}
BENCHMARK(BM_ComputePoints);

}  // namespace
