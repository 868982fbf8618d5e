#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "chart/widgets/WaveChart.h"

namespace {

constexpr QRgb FRAME = 0xFF2A323C;

QImage Grab(WaveChart& wnd) { return wnd.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Pixels of the rectangle that differ from the colour.
int CountOther(const QImage& image, const ChartRect& r, QRgb colour) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += (image.pixel(x, y) | 0xFF000000) != (colour | 0xFF000000);
    return n;
}

int CountBright(const QImage& image, const ChartRect& r) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += qGray(image.pixel(x, y)) > 150;
    return n;
}

void MoveMouse(QWidget& w, QPoint p) {
    QMouseEvent move(QEvent::MouseMove, QPointF(p), w.mapToGlobal(QPointF(p)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
}

// A chart of doubles with S samples, only the left and bottom strips, shown at a size.
void Basic(WaveChart& wnd, int w, int h, int samples) {
    wnd.frameColor = 0x2A323C;
    wnd.plotBackgroundColor = 0xFF000000;
    wnd.SetDoubleSamples();
    wnd.SetSampleCount(samples);
    wnd.SetWholeBlocksOnly(0);
    wnd.left.visible = 1;
    wnd.left.size = 50;
    wnd.bottom.visible = 1;
    wnd.bottom.size = 24;
    wnd.resize(w, h);
    wnd.show();
    wnd.Initialize();
}

struct CountingListener : IWaveChartDrawListener {
    int background = 0, wave = 0, end = 0;
    int drawItself = 0;
    std::vector<std::vector<WavePoint>> points;
    void OnDrawBackground(const WaveWndSurface& plot, const ChartRect& rect, uint64_t context) override {
        ++background;
        EXPECT_EQ(context, 7u);
        EXPECT_EQ(rect.right, plot.width);
        EXPECT_EQ(plot.stride, plot.width * 4);
    }
    int OnDrawWave(const WaveWndSurface&, const ChartRect&, int, const std::vector<WavePoint>& p, int, uint32_t, int,
                   uint64_t) override {
        ++wave;
        points.push_back(p);
        return drawItself;
    }
    void OnDrawEnd(const WaveWndSurface&, const ChartRect&, uint64_t) override { ++end; }
};

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

struct RecordingTooltips : IWaveChartTooltipListener {
    int lastWave = -1, lastSample = -1, lastCount = -1;
    double lastValue = 0;
    QString GetTooltipText(int wave, int sample, int offset, int count, double value, uint64_t context) override {
        EXPECT_EQ(offset, 0);
        lastWave = wave;
        lastSample = sample;
        lastCount = count;
        lastValue = value;
        return QString("wave %1 sample %2 ctx %3").arg(wave).arg(sample).arg(context);
    }
};

}  // namespace

TEST(WaveWnd, ZeroSizeHasNoBuffersAndResumesAfterResize) {
    WaveChart wnd;
    wnd.frameColor = 0x2A323C;
    wnd.resize(0, 120);
    wnd.show();
    wnd.Initialize();
    EXPECT_TRUE(wnd.BackBuffer().isNull());
    EXPECT_TRUE(wnd.PlotBuffer().isNull());
    QImage target(10, 10, QImage::Format_RGB32);
    target.fill(0xFF123456);
    {
        QPainter p(&target);
        wnd.Paint(p);  // nothing to draw, and no crash
    }
    EXPECT_EQ(target.pixel(5, 5), 0xFF123456u);
    const double v = 3.0;
    wnd.waves[0].buffer.Append(&v, 1);
    wnd.resize(200, 0);
    EXPECT_TRUE(wnd.BackBuffer().isNull());

    wnd.resize(200, 120);
    ASSERT_FALSE(wnd.BackBuffer().isNull());
    EXPECT_EQ(wnd.BackBuffer().size(), QSize(200, 120));
    const QImage image = Grab(wnd);
    EXPECT_EQ(image.pixel(100, 60), 0xFF000000u) << "default plot background, drawn again";
}

TEST(WaveWnd, HiddenStripsTakeNoRoom) {
    WaveChart wnd;
    Basic(wnd, 300, 200, 16);
    EXPECT_EQ(wnd.plotRect, (ChartRect{50, 0, 300, 176}));
    EXPECT_EQ(wnd.left.area, (ChartRect{0, 0, 50, 176}));
    EXPECT_EQ(wnd.bottom.area, (ChartRect{50, 176, 300, 200}));
    EXPECT_EQ(wnd.top.size, 0);
    EXPECT_EQ(wnd.right.size, 0);
    EXPECT_EQ(wnd.PlotBuffer().size(), QSize(250, 176));
    const QImage image = Grab(wnd);
    EXPECT_EQ(image.pixel(299, 0), 0xFF000000u) << "plot reaches the top right corner";
    EXPECT_EQ(image.pixel(1, 199), FRAME) << "the corner below the left strip is frame";

    // Margins shrink the strip, not the plot.
    wnd.left.margins = {2, 3, 4, 5};
    wnd.Layout();
    EXPECT_EQ(wnd.left.area, (ChartRect{2, 3, 46, 171}));
    EXPECT_EQ(wnd.left.axis.area, wnd.left.area);
    EXPECT_EQ(wnd.plotRect, (ChartRect{50, 0, 300, 176}));

    // Hiding a strip at run time: its axis keeps no area and the window is painted again.
    QApplication::processEvents();
    PaintCounter counter;
    wnd.installEventFilter(&counter);
    wnd.left.visible = 0;
    wnd.Layout();
    QApplication::processEvents();
    EXPECT_TRUE(wnd.left.area.IsEmpty());
    EXPECT_TRUE(wnd.left.axis.area.IsEmpty());
    EXPECT_EQ(wnd.plotRect, (ChartRect{0, 0, 300, 176}));
    EXPECT_GT(counter.paints, 0);
}

TEST(WaveWnd, AutoScaleFitsOneAndAHalfSpansAroundZero) {
    WaveChart wnd;
    Basic(wnd, 300, 200, 16);
    wnd.autoScale = 1;
    wnd.SetValueRange(0, 100);
    const std::vector<double> fives(16, 5.0);
    wnd.waves[0].buffer.Append(fives.data(), 16);
    Grab(wnd);
    EXPECT_DOUBLE_EQ(wnd.viewMin, -1.25);
    EXPECT_DOUBLE_EQ(wnd.viewMax, 6.25);
    EXPECT_DOUBLE_EQ(wnd.left.axis.minValue, -1.25);
    EXPECT_DOUBLE_EQ(wnd.left.axis.maxValue, 6.25);
    Grab(wnd);
    EXPECT_DOUBLE_EQ(wnd.viewMax, 6.25) << "an already fitted view stays";

    // Without autoScale the view stays as set.
    WaveChart fixed;
    Basic(fixed, 300, 200, 16);
    fixed.SetValueRange(0, 100);
    fixed.waves[0].buffer.Append(fives.data(), 16);
    Grab(fixed);
    EXPECT_EQ(fixed.viewMax, 100.0);
}

TEST(WaveWnd, TooltipTakesTheNearestWaveAndTiesGoToTheLowerIndex) {
    WaveChart wnd;
    Basic(wnd, 300, 200, 16);
    wnd.waveCount = 3;
    wnd.SetValueRange(0, 100);
    RecordingTooltips tips;
    wnd.SetTooltipListener(&tips, 5);
    const std::vector<double> low(16, 20.0), high(16, 80.0);
    wnd.waves[0].buffer.Append(high.data(), 16);
    wnd.waves[1].buffer.Append(low.data(), 16);
    wnd.waves[2].buffer.Append(low.data(), 16);  // the same row as wave 1

    const int lowRow = 176 - static_cast<int>(176 * 0.2 + 0.5);  // row of 20 in a 176-high plot
    MoveMouse(wnd, QPoint(50 + 125, lowRow));  // 125 * 15 / 249 = 7.53: sample 8
    EXPECT_EQ(tips.lastWave, 1);
    EXPECT_EQ(tips.lastSample, 8);
    EXPECT_EQ(tips.lastCount, 16);
    EXPECT_EQ(tips.lastValue, 20.0);
    EXPECT_EQ(wnd.TooltipText().toStdString(), "wave 1 sample 8 ctx 5");
    EXPECT_TRUE(wnd.IsTooltipActive());

    MoveMouse(wnd, QPoint(50 + 126, 30));
    EXPECT_EQ(tips.lastWave, 0) << "wave 0 is nearer to the top";

    // A wave that opts out of tooltips is skipped; so is a hidden one.
    wnd.waves[1].tooltipEnabled = 0;
    MoveMouse(wnd, QPoint(50 + 10, lowRow));
    EXPECT_EQ(tips.lastWave, 2);
    wnd.waves[2].visible = 0;
    MoveMouse(wnd, QPoint(50 + 11, lowRow));
    EXPECT_EQ(tips.lastWave, 0);

    // Leaving the plot deactivates the tooltip.
    MoveMouse(wnd, QPoint(10, 10));
    EXPECT_FALSE(wnd.IsTooltipActive());
}

TEST(WaveWnd, SinglePointDrawsNothingVisible) {
    for (int samples : {1, 2}) {
        WaveChart wnd;
        Basic(wnd, 300, 200, samples);
        wnd.SetValueRange(0, 10);
        wnd.waves[0].color = 0x00FF00;
        const std::vector<double> values(static_cast<size_t>(samples), 5.0);
        wnd.waves[0].buffer.Append(values.data(), samples);
        const int drawn = CountOther(Grab(wnd), wnd.plotRect, 0xFF000000);
        if (samples == 1)
            EXPECT_EQ(drawn, 0) << "one point is no line";
        else
            EXPECT_GT(drawn, 250) << "two points span the plot";
    }
}

TEST(WaveWnd, ListenersLayersAndDirtyFlags) {
    WaveChart wnd;
    CountingListener listener;
    wnd.waveCount = 2;
    wnd.SetDrawListener(&listener, 7);
    Basic(wnd, 300, 200, 16);
    wnd.SetValueRange(0, 16);
    std::vector<double> ramp(16);
    for (int i = 0; i < 16; ++i) ramp[static_cast<size_t>(i)] = i;
    wnd.waves[0].buffer.Append(ramp.data(), 16);

    Grab(wnd);
    EXPECT_EQ(listener.background, 1);
    EXPECT_EQ(listener.wave, 2);
    EXPECT_EQ(listener.end, 1);
    ASSERT_EQ(listener.points[0].size(), 16u);
    EXPECT_EQ(listener.points[0].back().x, wnd.plotRect.right - 1) << "the last sample sits at the right edge";

    // Waves changed only: the background layer is not rendered again.
    wnd.waves[0].buffer.Append(ramp.data(), 16);
    const QImage before = Grab(wnd);
    EXPECT_EQ(listener.background, 1);
    EXPECT_EQ(listener.wave, 4);
    wnd.SetText(0, "Title", 12, 0xFFFFFFFF, 1, 0);
    Grab(wnd);
    EXPECT_EQ(listener.background, 2);
    wnd.MarkBackgroundDirty();
    Grab(wnd);
    EXPECT_EQ(listener.background, 3);

    // A strip that is not dirty keeps what the back buffer holds.
    wnd.left.axis.maxValue = 999;
    const QImage same = Grab(wnd);
    EXPECT_EQ(same.copy(0, 0, 50, 176), before.copy(0, 0, 50, 176));
    wnd.left.dirty = 1;
    EXPECT_NE(Grab(wnd).copy(0, 0, 50, 176), before.copy(0, 0, 50, 176));

    // A listener that draws the waves itself replaces the built-in curves.
    listener.drawItself = 1;
    wnd.SetText(0, "", 12, 0xFFFFFFFF, 1, 0);
    EXPECT_EQ(CountOther(Grab(wnd), wnd.plotRect, 0xFF000000), 0);
}

TEST(WaveWnd, TextItemsAreSortedAndFitted) {
    WaveChart wnd;
    Basic(wnd, 300, 200, 16);
    wnd.SetText(5, "five", 10, 0xFFFFFFFF, 0, 0);
    wnd.SetText(1, "one", 10, 0xFFFFFFFF, 0, 0);
    wnd.SetText(5, "FIVE", 10, 0xFFFF0000, 2, 2);
    auto texts = wnd.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].index, 1);
    EXPECT_EQ(texts[1].text, "FIVE");
    EXPECT_EQ(texts[1].color, 0xFFFF0000u);

    // A negative size fits the text into its rectangle, up to the limit.
    const ChartRect narrow{60, 10, 110, 60};
    wnd.SetText(2, "A long caption", -20, 0xFFFFFFFF, 0, 0, &narrow);
    const ChartRect wide{60, 10, 290, 60};
    wnd.SetText(3, "A long caption", -20, 0xFFFFFFFF, 0, 0, &wide);
    texts = wnd.Texts();
    EXPECT_GT(texts[1].pointSize, 0);
    EXPECT_LT(texts[1].pointSize, texts[2].pointSize);
    EXPECT_LE(texts[2].pointSize, 20);

    // Text is drawn into the plot, in its rectangle.
    const QImage image = Grab(wnd);
    EXPECT_GT(CountBright(image, wide), 0);
}

TEST(WaveWnd, EnergyChartConfigurationDrawsItsLabels) {
    // The monitoring page's energy chart: 16 gates, 0..100 dB.
    WaveChart wnd;
    wnd.frameColor = 0x2A323C;
    wnd.waveCount = 3;
    wnd.waves[0].color = 0x00FF00;
    wnd.waves[1].color = 0x0000FF;
    wnd.waves[2].color = 0x00FFFF;
    wnd.plotBackgroundEnabled = 1;
    wnd.plotBackgroundColor = 0xFF000000;
    wnd.lineWidth = 5;
    wnd.SetDoubleSamples();
    wnd.autoScale = 0;
    wnd.SetValueRange(0, 100);
    wnd.SetSampleCount(16);
    wnd.SetWholeBlocksOnly(1);
    wnd.ClearData();
    wnd.SetText(0, "FP VS RG", 15, 0xFFFFFFFF, 1, 0);
    wnd.left.visible = 1;
    wnd.left.size = 50;
    wnd.Layout();
    wnd.bottom.visible = 1;
    wnd.bottom.size = 24;
    wnd.Layout();
    wnd.SetXAxisFont(8);
    wnd.SetYAxisFont(8, 0);
    wnd.top.axis.labelCount = wnd.bottom.axis.labelCount = 7;
    wnd.SetXRange(0, 15, -1);
    wnd.left.axis.labelCount = wnd.right.axis.labelCount = 5;
    wnd.resize(560, 300);
    wnd.show();
    wnd.Initialize();
    wnd.RecreateBuffers();
    std::vector<double> trigger(16, 40.0), hold(16, 30.0);
    wnd.waves[1].buffer.Append(trigger.data(), 16);
    wnd.waves[2].buffer.Append(hold.data(), 16);

    const auto bottomLabels = wnd.bottom.axis.ComputeLabels();
    const auto leftLabels = wnd.left.axis.ComputeLabels();
    std::vector<std::string> bottomTexts, leftTexts;
    for (const auto& l : bottomLabels) bottomTexts.push_back(l.text);
    for (const auto& l : leftLabels) leftTexts.push_back(l.text);
    EXPECT_EQ(bottomTexts, (std::vector<std::string>{"0", "3", "5", "8", "10", "13", "15"}));
    EXPECT_EQ(leftTexts, (std::vector<std::string>{"100", "75", "50", "25", "0"}));

    const QImage image = Grab(wnd);
    // Every label leaves white ink in its own rectangle of the strip.
    for (const auto& l : bottomLabels) EXPECT_GT(CountBright(image, l.rect), 3) << "bottom label " << l.text;
    for (const auto& l : leftLabels) EXPECT_GT(CountBright(image, l.rect), 3) << "left label " << l.text;
    // The strips are frame coloured around the labels.
    EXPECT_EQ(image.pixel(1, 150), FRAME);
    // The trigger threshold (red) runs at 40 dB across the plot.
    const int row = wnd.plotRect.bottom - static_cast<int>(wnd.plotRect.Height() * 0.4);
    int red = 0;
    for (int y = row - 4; y <= row + 4; ++y) red += qRed(image.pixel(wnd.plotRect.left + 200, y)) > 200;
    EXPECT_GT(red, 2);
}

TEST(WaveWnd, WorkerAppendsWhileTheUiPaints) {
    WaveChart wnd;
    Basic(wnd, 400, 200, 240);
    wnd.SetValueRange(0, 10);
    std::atomic<bool> stop{false};
    std::vector<double> appended;  // the worker's own, read after the join
    std::thread worker([&] {
        double v = 0;
        while (!stop) {
            wnd.waves[0].buffer.Append(&v, 1);
            appended.push_back(v);
            v = v > 9 ? 0 : v + 0.5;
            wnd.MarkBackgroundDirty();
            wnd.RequestRepaint();
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    for (int i = 0; i < 50; ++i) {
        QApplication::processEvents();
        Grab(wnd);
    }
    stop = true;
    worker.join();
    QApplication::processEvents();
    EXPECT_FALSE(wnd.IsRepaintPending()) << "the queued request ran";
    // Every value appended while the window painted is in the buffer, in order:
    // the newest 480 at the end of the two blocks, zeros before them if fewer came.
    CWaveBuffer& buffer = wnd.waves[0].buffer;
    const size_t capacity = 480;
    std::vector<double> expected(capacity, 0.0);
    const size_t kept = std::min(appended.size(), capacity);
    std::copy(appended.end() - static_cast<std::ptrdiff_t>(kept), appended.end(),
              expected.end() - static_cast<std::ptrdiff_t>(kept));
    ASSERT_GT(appended.size(), 20u);
    EXPECT_EQ(buffer.GetValues(), expected);
    EXPECT_EQ(buffer.GetTotalBlocks() * 240 + buffer.GetRemainder(), static_cast<int64_t>(appended.size()));
}

TEST(WaveWnd, HorizontalRangeFollowsTheFirstSampleCountUntilSetExplicitly) {
    WaveChart wnd;
    wnd.SetSampleCount(240);
    for (auto* strip : {&wnd.top, &wnd.bottom}) {
        EXPECT_EQ(strip->axis.minValue, 0.0);
        EXPECT_EQ(strip->axis.maxValue, 239.0);
        EXPECT_EQ(strip->axis.wrapMax, 239.0);
        EXPECT_EQ(strip->axis.period, 240.0);
        EXPECT_EQ(strip->dirty, 1);
    }
    EXPECT_EQ(wnd.waves[255].buffer.GetBlockLength(), 240);
    EXPECT_EQ(wnd.waves[255].buffer.GetBlockCount(), 2);
    wnd.SetSampleCount(100);
    EXPECT_EQ(wnd.bottom.axis.maxValue, 239.0) << "only the first call sets the axes";
    EXPECT_EQ(wnd.waves[0].buffer.GetBlockLength(), 100);
    wnd.SetXRange(60, 0, -1);
    EXPECT_EQ(wnd.bottom.axis.minValue, 60.0);
    EXPECT_EQ(wnd.bottom.axis.maxValue, 0.0);
    EXPECT_EQ(wnd.top.axis.period, -1.0);

    WaveChart explicitFirst;
    explicitFirst.SetXRange(0, 15, -1);
    explicitFirst.SetSampleCount(0);
    EXPECT_EQ(explicitFirst.bottom.axis.maxValue, 15.0) << "an explicit range is kept";
    EXPECT_EQ(explicitFirst.sampleCount, 1) << "at least one sample";
}
