#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTest>

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
    wnd.SetFrameColor(QColor::fromRgb(FRAME));
    wnd.SetPlotBackground(Qt::black);
    wnd.SetDoubleSamples();
    wnd.SetSampleCount(samples);
    wnd.SetWholeBlocksOnly(0);
    wnd.ShowStrip(WaveChart::STRIP_LEFT, 50);
    wnd.ShowStrip(WaveChart::STRIP_BOTTOM, 24);
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
    int OnDrawWave(const WaveWndSurface&, const ChartRect&, int, const std::vector<WavePoint>& p, int, const QColor&,
                   int, uint64_t) override {
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
    wnd.SetFrameColor(QColor::fromRgb(FRAME));
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
    wnd.WaveBuffer(0).Append(&v, 1);
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
    EXPECT_EQ(wnd.PlotRect(), (ChartRect{50, 0, 300, 176}));
    EXPECT_EQ(wnd.Strip(WaveChart::STRIP_LEFT).area, (ChartRect{0, 0, 50, 176}));
    EXPECT_EQ(wnd.Strip(WaveChart::STRIP_BOTTOM).area, (ChartRect{50, 176, 300, 200}));
    EXPECT_EQ(wnd.Strip(WaveChart::STRIP_TOP).size, 0);
    EXPECT_EQ(wnd.Strip(WaveChart::STRIP_RIGHT).size, 0);
    EXPECT_EQ(wnd.PlotBuffer().size(), QSize(250, 176));
    const QImage image = Grab(wnd);
    EXPECT_EQ(image.pixel(299, 0), 0xFF000000u) << "plot reaches the top right corner";
    EXPECT_EQ(image.pixel(1, 199), FRAME) << "the corner below the left strip is frame";

    // Margins shrink the strip, not the plot.
    wnd.ShowStrip(WaveChart::STRIP_LEFT, 50, {2, 3, 4, 5});
    EXPECT_EQ(wnd.Strip(WaveChart::STRIP_LEFT).area, (ChartRect{2, 3, 46, 171}));
    EXPECT_EQ(wnd.Strip(WaveChart::STRIP_LEFT).axis.area, wnd.Strip(WaveChart::STRIP_LEFT).area);
    EXPECT_EQ(wnd.PlotRect(), (ChartRect{50, 0, 300, 176}));

    // Hiding a strip at run time: its axis keeps no area and the window is painted again.
    QApplication::processEvents();
    PaintCounter counter;
    wnd.installEventFilter(&counter);
    wnd.HideStrip(WaveChart::STRIP_LEFT);
    QApplication::processEvents();
    EXPECT_TRUE(wnd.Strip(WaveChart::STRIP_LEFT).area.IsEmpty());
    EXPECT_TRUE(wnd.Strip(WaveChart::STRIP_LEFT).axis.area.IsEmpty());
    EXPECT_EQ(wnd.PlotRect(), (ChartRect{0, 0, 300, 176}));
    EXPECT_GT(counter.paints, 0);
}

TEST(WaveWnd, AutoScaleFitsOneAndAHalfSpansAroundZero) {
    WaveChart wnd;
    Basic(wnd, 300, 200, 16);
    wnd.SetAutoScale(true);
    wnd.SetValueRange(0, 100);
    const std::vector<double> fives(16, 5.0);
    wnd.WaveBuffer(0).Append(fives.data(), 16);
    Grab(wnd);
    EXPECT_DOUBLE_EQ(wnd.ViewMin(), -1.25);
    EXPECT_DOUBLE_EQ(wnd.ViewMax(), 6.25);
    EXPECT_DOUBLE_EQ(wnd.Strip(WaveChart::STRIP_LEFT).axis.minValue, -1.25);
    EXPECT_DOUBLE_EQ(wnd.Strip(WaveChart::STRIP_LEFT).axis.maxValue, 6.25);
    Grab(wnd);
    EXPECT_DOUBLE_EQ(wnd.ViewMax(), 6.25) << "an already fitted view stays";

    // Without autoScale the view stays as set.
    WaveChart fixed;
    Basic(fixed, 300, 200, 16);
    fixed.SetValueRange(0, 100);
    fixed.WaveBuffer(0).Append(fives.data(), 16);
    Grab(fixed);
    EXPECT_EQ(fixed.ViewMax(), 100.0);
}

TEST(WaveWnd, TooltipTakesTheNearestWaveAndTiesGoToTheLowerIndex) {
    WaveChart wnd;
    Basic(wnd, 300, 200, 16);
    wnd.SetWaveCount(3);
    wnd.SetValueRange(0, 100);
    RecordingTooltips tips;
    wnd.SetTooltipListener(&tips, 5);
    const std::vector<double> low(16, 20.0), high(16, 80.0);
    wnd.WaveBuffer(0).Append(high.data(), 16);
    wnd.WaveBuffer(1).Append(low.data(), 16);
    wnd.WaveBuffer(2).Append(low.data(), 16);  // the same row as wave 1

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
    wnd.SetWaveTooltipEnabled(1, false);
    MoveMouse(wnd, QPoint(50 + 10, lowRow));
    EXPECT_EQ(tips.lastWave, 2);
    wnd.SetWaveVisible(2, false);
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
        wnd.SetWaveColor(0, Qt::green);
        const std::vector<double> values(static_cast<size_t>(samples), 5.0);
        wnd.WaveBuffer(0).Append(values.data(), samples);
        const int drawn = CountOther(Grab(wnd), wnd.PlotRect(), 0xFF000000);
        if (samples == 1)
            EXPECT_EQ(drawn, 0) << "one point is no line";
        else
            EXPECT_GT(drawn, 250) << "two points span the plot";
    }
}

TEST(WaveWnd, ListenersLayersAndDirtyFlags) {
    WaveChart wnd;
    CountingListener listener;
    wnd.SetWaveCount(2);
    wnd.SetDrawListener(&listener, 7);
    Basic(wnd, 300, 200, 16);
    wnd.SetValueRange(0, 16);
    std::vector<double> ramp(16);
    for (int i = 0; i < 16; ++i) ramp[static_cast<size_t>(i)] = i;
    wnd.WaveBuffer(0).Append(ramp.data(), 16);

    Grab(wnd);
    EXPECT_EQ(listener.background, 1);
    EXPECT_EQ(listener.wave, 2);
    EXPECT_EQ(listener.end, 1);
    ASSERT_EQ(listener.points[0].size(), 16u);
    EXPECT_EQ(listener.points[0].back().x, wnd.PlotRect().right - 1) << "the last sample sits at the right edge";

    // Waves changed only: the background layer is not rendered again.
    wnd.WaveBuffer(0).Append(ramp.data(), 16);
    const QImage before = Grab(wnd);
    EXPECT_EQ(listener.background, 1);
    EXPECT_EQ(listener.wave, 4);
    wnd.SetText(0, "Title", 12, Qt::white, 1, 0);
    Grab(wnd);
    EXPECT_EQ(listener.background, 2);
    wnd.MarkBackgroundDirty();
    Grab(wnd);
    EXPECT_EQ(listener.background, 3);

    // A strip is drawn again only once its axis changed.
    EXPECT_FALSE(wnd.Strip(WaveChart::STRIP_LEFT).dirty);
    wnd.SetValueRange(0, 999);
    EXPECT_TRUE(wnd.Strip(WaveChart::STRIP_LEFT).dirty);
    EXPECT_FALSE(wnd.Strip(WaveChart::STRIP_BOTTOM).dirty);
    EXPECT_NE(Grab(wnd).copy(0, 0, 50, 176), before.copy(0, 0, 50, 176));
    EXPECT_FALSE(wnd.Strip(WaveChart::STRIP_LEFT).dirty);

    // A listener that draws the waves itself replaces the built-in curves.
    listener.drawItself = 1;
    wnd.SetText(0, "", 12, Qt::white, 1, 0);
    EXPECT_EQ(CountOther(Grab(wnd), wnd.PlotRect(), 0xFF000000), 0);
}

TEST(WaveWnd, ColoursAndStripsSetAfterInitializeAreDrawn) {
    WaveChart wnd;
    Basic(wnd, 300, 200, 16);
    wnd.SetValueRange(0, 16);
    const std::vector<double> middle(16, 8.0);
    wnd.WaveBuffer(0).Append(middle.data(), 16);
    EXPECT_EQ(Grab(wnd).pixel(1, 199), FRAME);

    wnd.SetFrameColor(QColor(0x10, 0x20, 0x30));
    wnd.SetPlotBackground(QColor(0x40, 0x40, 0x40));
    wnd.SetWaveColor(0, QColor(0xFF, 0x80, 0x00));
    wnd.SetLineWidth(9);
    wnd.ShowStrip(WaveChart::STRIP_TOP, 30);
    const QImage image = Grab(wnd);
    EXPECT_EQ(image.pixel(1, 199), 0xFF102030u) << "the corner below the left strip";
    EXPECT_EQ(image.pixel(1, 100), 0xFF102030u) << "the left strip, away from its labels";
    EXPECT_EQ(wnd.PlotRect(), (ChartRect{50, 30, 300, 176}));
    EXPECT_EQ(image.pixel(150, 40), 0xFF404040u) << "the plot";
    const int curveRow = 30 + (176 - 30) / 2;
    int orange = 0;
    for (int y = curveRow - 6; y <= curveRow + 6; ++y) orange += image.pixel(150, y) == 0xFFFF8000u;
    EXPECT_GE(orange, 7) << "a 9-pixel orange line";
}

TEST(WaveWnd, TextItemsAreSortedAndFitted) {
    WaveChart wnd;
    Basic(wnd, 300, 200, 16);
    wnd.SetText(5, "five", 10, Qt::white, 0, 0);
    wnd.SetText(1, "one", 10, Qt::white, 0, 0);
    wnd.SetText(5, "FIVE", 10, Qt::red, 2, 2);
    auto texts = wnd.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].index, 1);
    EXPECT_EQ(texts[1].text, "FIVE");
    EXPECT_EQ(texts[1].color, QColor(Qt::red));

    // A negative size fits the text into its rectangle, up to the limit.
    const ChartRect narrow{60, 10, 110, 60};
    wnd.SetText(2, "A long caption", -20, Qt::white, 0, 0, &narrow);
    const ChartRect wide{60, 10, 290, 60};
    wnd.SetText(3, "A long caption", -20, Qt::white, 0, 0, &wide);
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
    wnd.SetFrameColor(QColor::fromRgb(FRAME));
    wnd.SetWaveCount(3);
    wnd.SetWaveColor(0, Qt::green);
    wnd.SetWaveColor(1, Qt::red);
    wnd.SetWaveColor(2, Qt::yellow);
    wnd.SetPlotBackground(Qt::black);
    wnd.SetLineWidth(5);
    wnd.SetDoubleSamples();
    wnd.SetAutoScale(false);
    wnd.SetValueRange(0, 100);
    wnd.SetSampleCount(16);
    wnd.SetWholeBlocksOnly(1);
    wnd.ClearData();
    wnd.SetText(0, "FP VS RG", 15, Qt::white, 1, 0);
    wnd.ShowStrip(WaveChart::STRIP_LEFT, 50);
    wnd.ShowStrip(WaveChart::STRIP_BOTTOM, 24);
    wnd.SetXAxisFont(8);
    wnd.SetYAxisFont(8, 0);
    wnd.SetXLabelCount(7);
    wnd.SetXRange(0, 15, -1);
    wnd.SetYLabelCount(5);
    wnd.resize(560, 300);
    wnd.show();
    wnd.Initialize();
    std::vector<double> trigger(16, 40.0), hold(16, 30.0);
    wnd.WaveBuffer(1).Append(trigger.data(), 16);
    wnd.WaveBuffer(2).Append(hold.data(), 16);

    const auto bottomLabels = wnd.Strip(WaveChart::STRIP_BOTTOM).axis.ComputeLabels();
    const auto leftLabels = wnd.Strip(WaveChart::STRIP_LEFT).axis.ComputeLabels();
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
    const ChartRect& plot = wnd.PlotRect();
    const int row = plot.bottom - static_cast<int>(plot.Height() * 0.4);
    int red = 0;
    for (int y = row - 4; y <= row + 4; ++y) red += qRed(image.pixel(plot.left + 200, y)) > 200;
    EXPECT_GT(red, 2);
}

TEST(WaveWnd, WorkerAppendsWhileTheUiPaints) {
    WaveChart wnd;
    Basic(wnd, 400, 200, 240);
    wnd.SetValueRange(0, 10);
    std::atomic<bool> stop{false};
    std::vector<double> appended;  // the worker's own, read after the join
    std::atomic<size_t> appendedCount{0};
    std::thread worker([&] {
        double v = 0;
        while (!stop) {
            wnd.WaveBuffer(0).Append(&v, 1);
            appended.push_back(v);
            ++appendedCount;
            v = v > 9 ? 0 : v + 0.5;
            wnd.MarkBackgroundDirty();
            wnd.RequestRepaint();
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    // At least 50 paints, and on until the worker has appended through many of them
    // (a loaded machine may give it little time).
    QElapsedTimer guard;
    guard.start();
    for (int i = 0; (i < 50 || appendedCount < 50) && guard.elapsed() < 20000; ++i) {
        QApplication::processEvents();
        Grab(wnd);
    }
    stop = true;
    worker.join();
    // The last request runs within a frame interval.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !wnd.IsRepaintPending(); }, 5000)) << "the queued request ran";
    // Every value appended while the window painted is in the buffer, in order:
    // the newest 480 at the end of the two blocks, zeros before them if fewer came.
    CWaveBuffer& buffer = wnd.WaveBuffer(0);
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
    for (WaveChart::StripSide side : {WaveChart::STRIP_TOP, WaveChart::STRIP_BOTTOM}) {
        const WaveChart::AxisStrip& strip = wnd.Strip(side);
        EXPECT_EQ(strip.axis.minValue, 0.0);
        EXPECT_EQ(strip.axis.maxValue, 239.0);
        EXPECT_EQ(strip.axis.wrapMax, 239.0);
        EXPECT_EQ(strip.axis.period, 240.0);
        EXPECT_TRUE(strip.dirty);
    }
    EXPECT_EQ(wnd.WaveBuffer(255).GetBlockLength(), 240);
    EXPECT_EQ(wnd.WaveBuffer(255).GetBlockCount(), 2);
    wnd.SetSampleCount(100);
    const CCoordinate& bottom = wnd.Strip(WaveChart::STRIP_BOTTOM).axis;
    EXPECT_EQ(bottom.maxValue, 239.0) << "only the first call sets the axes";
    EXPECT_EQ(wnd.WaveBuffer(0).GetBlockLength(), 100);
    wnd.SetXRange(60, 0, -1);
    EXPECT_EQ(bottom.minValue, 60.0);
    EXPECT_EQ(bottom.maxValue, 0.0);
    EXPECT_EQ(wnd.Strip(WaveChart::STRIP_TOP).axis.period, -1.0);

    WaveChart explicitFirst;
    explicitFirst.SetXRange(0, 15, -1);
    explicitFirst.SetSampleCount(0);
    EXPECT_EQ(explicitFirst.Strip(WaveChart::STRIP_BOTTOM).axis.maxValue, 15.0) << "an explicit range is kept";
    EXPECT_EQ(explicitFirst.SampleCount(), 1) << "at least one sample";
}

// A new sample repaints the plot only: the strips stay as they are on screen.
TEST(WaveWnd, ANewSampleRepaintsOnlyThePlot) {
    WaveChart wnd;
    Basic(wnd, 400, 200, 240);
    wnd.SetValueRange(0, 10);
    wnd.SetWaveColor(0, Qt::white);
    struct RegionRecorder : QObject {
        std::vector<QRegion> regions;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) regions.push_back(static_cast<QPaintEvent*>(event)->region());
            return false;
        }
    } recorder;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd));
    QApplication::processEvents();
    wnd.installEventFilter(&recorder);
    const ChartRect& plot = wnd.PlotRect();
    const QRect plotRect(plot.left, plot.top, plot.Width(), plot.Height());

    const double v = 7.0;
    wnd.WaveBuffer(0).Append(&v, 1);
    wnd.RequestRepaint();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.regions.empty(); }, 5000));
    EXPECT_EQ(recorder.regions.back(), QRegion(plotRect));
    // What was painted there is the new sample's curve: bright pixels at the right edge.
    const QImage shown = Grab(wnd);
    EXPECT_GT(CountBright(shown, {plot.right - 20, plot.top, plot.right, plot.bottom}), 0);

}

// Samples coming faster than the frame rate are painted together: at most one paint
// per frame interval, and the newest sample is on screen at the end.
TEST(WaveWnd, SamplesFasterThanTheFrameRateArePaintedOncePerFrame) {
    WaveChart wnd;
    Basic(wnd, 400, 200, 240);
    wnd.SetValueRange(0, 10);
    wnd.SetWaveColor(0, Qt::white);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd));
    QApplication::processEvents();
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    wnd.installEventFilter(&counter);

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 100; ++i) {
        const double v = 1.0;
        wnd.WaveBuffer(0).Append(&v, 1);
        wnd.RequestRepaint();
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double top = 9.0;
    wnd.WaveBuffer(0).Append(&top, 1);
    wnd.RequestRepaint();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !wnd.IsRepaintPending(); }, 5000));
    QApplication::processEvents();
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(counter.paints, 1);
    EXPECT_LE(counter.paints, elapsed / WaveChart::FRAME_INTERVAL_MS + 1)
        << counter.paints << " paints in " << elapsed << " ms";
    // The last sample, near the top, was painted: bright pixels at the right edge's top.
    const ChartRect& plot = wnd.PlotRect();
    const QImage shown = Grab(wnd);
    EXPECT_GT(CountBright(shown, {plot.right - 20, plot.top, plot.right, plot.top + plot.Height() / 4}), 0);
}

namespace {

// Paints that take long stretch the frames for fast samples, but a sample that comes
// well after the last repaint, as a sensor's do, is painted at once.
TEST(WaveWnd, SlowPaintsStretchFramesOnlyForFastSamples) {
    WaveChart wnd;
    Basic(wnd, 400, 200, 240);
    wnd.SetValueRange(0, 10);
    struct SlowPaint : IWaveChartDrawListener {
        void OnDrawEnd(const WaveWndSurface&, const ChartRect&, uint64_t) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
    } slow;
    wnd.SetDrawListener(&slow, 0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd));
    const auto sample = [&] {
        const double v = 5.0;
        wnd.WaveBuffer(0).Append(&v, 1);
        wnd.RequestRepaint();
    };
    // The first repaint, and with it the time of a paint: some 4 ms, so a fast
    // sample's frame is FRAME_PAINT_SHARE times that, FRAME_INTERVAL_MAX_MS at most.
    sample();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !wnd.IsRepaintPending(); }, 5000));
    QApplication::processEvents();
    // A sample right after a repaint waits for its stretched frame (tried up to three
    // times: a machine that stalls between the two may let SLOW_SAMPLES_MS pass).
    bool waited = false;
    for (int attempt = 0; attempt < 3 && !waited; ++attempt) {
        sample();
        QApplication::processEvents();
        waited = wnd.IsRepaintPending();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !wnd.IsRepaintPending(); }, 5000));
        QApplication::processEvents();
    }
    EXPECT_TRUE(waited);
    // One that comes SLOW_SAMPLES_MS or more after the last repaint does not.
    std::this_thread::sleep_for(std::chrono::milliseconds(WaveChart::SLOW_SAMPLES_MS + 20));
    sample();
    QApplication::processEvents();
    EXPECT_FALSE(wnd.IsRepaintPending());
}

}  // namespace
