// Repaint cost of the wave window at full-HD size: 3 waves of 240 samples, the
// monitoring page's strips and text items. "Full" renders every layer again;
// "waves only" is the common case of new samples arriving.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <memory>
#include <vector>

#include "chart/widgets/WaveChart.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_chart_repaint";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
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

void BM_WavesOnlyRepaint(benchmark::State& state) {
    auto wnd = MakeChart();
    QImage screen(1920, 1080, QImage::Format_RGB32);
    {
        QPainter painter(&screen);
        wnd->Paint(painter);  // every layer once
    }
    int t = 240;
    for (auto _ : state) {
        // Each wave goes on with its own curve, one new sample per repaint.
        for (int w = 0; w < 3; ++w) {
            const double v = 50 + 40 * std::sin(t * 0.05 + w);
            wnd->WaveBuffer(w).Append(&v, 1);
        }
        ++t;
        QPainter painter(&screen);
        wnd->Paint(painter);
    }
}
BENCHMARK(BM_WavesOnlyRepaint)->Unit(benchmark::kMillisecond);

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
