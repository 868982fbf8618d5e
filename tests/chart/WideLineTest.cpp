// A wide curve looks like Qt's own anti-aliased stroke of the same polyline.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "chart/widgets/WaveChart.h"

namespace {

// Qt's stroke of the curve as the chart drew it before: anti-aliased pen, flat caps,
// miter joins, the points kept a pen's width inside the plot.
QImage ReferenceStroke(const WaveChart& wnd, const std::vector<WavePoint>& points, int lineWidth, QRgb colour) {
    QImage image(wnd.width(), wnd.height(), QImage::Format_RGB32);
    image.fill(0xFF000000u);
    const ChartRect& plot = wnd.PlotRect();
    const int h = lineWidth / 2;
    QPolygon line(static_cast<int>(points.size()));
    for (size_t i = 0; i < points.size(); ++i) {
        int y = points[i].y;
        if (y - h - 1 < plot.top) y = plot.top + 1 + h;
        if (y + 2 + h >= plot.bottom) y = plot.bottom - h - 2;
        line.setPoint(static_cast<int>(i), points[i].x, y);
    }
    QPainter painter(&image);
    painter.setClipRect(QRect(plot.left, plot.top, plot.right - plot.left, plot.bottom - plot.top));
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor::fromRgb(colour));
    pen.setWidth(lineWidth);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawPolyline(line);
    return image;
}

int Difference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

TEST(WideLine, LooksLikeQtsAntiAliasedStroke) {
    struct Case {
        const char* name;
        int lineWidth;
        int samples;
        double (*value)(int i, std::mt19937& random);
        int width = 1200;
        int height = 700;
    } cases[] = {
        {"smooth", 5, 240, [](int i, std::mt19937&) { return 50 + 40 * std::sin(i * 0.05); }},
        {"energy steps", 5, 16, [](int i, std::mt19937&) { return i < 3 ? 48.0 - 6 * i : 31.0; }},
        {"spikes", 5, 240,
         [](int i, std::mt19937& random) { return i % 17 == 0 ? 95.0 : 20 + static_cast<double>(random() % 40); }},
        {"width 3", 3, 240, [](int i, std::mt19937&) { return 50 + 45 * std::sin(i * 0.3); }},
        {"width 8", 8, 120, [](int i, std::mt19937& random) { return 10 + static_cast<double>(random() % 80) + 0 * i; }},
        // Flat runs at the plot's edges and jumps across all of it: drawn as rectangles.
        {"steps", 5, 240, [](int i, std::mt19937&) { return (i / 8) % 2 ? 100.0 : 0.0; }},
        // More samples than columns: one point per column, every jump nearly upright.
        {"random, narrow", 5, 240, [](int, std::mt19937& random) { return static_cast<double>(random() % 101); }, 230,
         206},
        {"random, default size", 5, 240, [](int, std::mt19937& random) { return static_cast<double>(random() % 101); },
         428, 206},
    };
    for (const Case& c : cases) {
        WaveChart wnd;
        wnd.SetFrameColor(QColor(0x2A, 0x32, 0x3C));
        wnd.SetPlotBackground(Qt::black);
        wnd.SetLineWidth(c.lineWidth);
        wnd.SetWaveCount(1);
        wnd.SetWaveVisible(0, true);
        wnd.SetWaveColor(0, Qt::green);
        wnd.SetDoubleSamples();
        wnd.SetValueRange(0, 100);
        wnd.SetSampleCount(c.samples);
        wnd.SetWholeBlocksOnly(0);
        wnd.resize(c.width, c.height);
        wnd.show();
        wnd.Initialize();
        std::mt19937 random(3);
        std::vector<double> values(static_cast<size_t>(c.samples));
        for (int i = 0; i < c.samples; ++i) values[static_cast<size_t>(i)] = c.value(i, random);
        wnd.WaveBuffer(0).Append(values.data(), static_cast<int32_t>(values.size()));
        const QImage drawn = wnd.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_GE(wnd.WavePoints(0).size(), 2u) << c.name;
        const QImage reference = ReferenceStroke(wnd, wnd.WavePoints(0), c.lineWidth, 0xFF00FF00u);

        // Inside the plot: how many pixels differ at all, and by how much at most
        // (edge pixels of a slightly different coverage are expected; a missing or
        // extra piece of line is not).
        const ChartRect& plot = wnd.PlotRect();
        long inked = 0;
        long differing = 0;
        long far = 0;
        long total = 0;
        for (int y = plot.top; y < plot.bottom; ++y) {
            for (int x = plot.left; x < plot.right; ++x) {
                const QRgb a = drawn.pixel(x, y);
                const QRgb b = reference.pixel(x, y);
                inked += qGreen(b) > 0;
                const int d = Difference(a, b);
                differing += d > 0;
                total += d;
                far += d > 160;
            }
        }
        std::printf("%s: %ld inked, %ld differ, %ld by more than 160, mean difference %.1f per inked pixel\n", c.name,
                    inked, differing, far, static_cast<double>(total) / static_cast<double>(std::max(1L, inked)));
        ASSERT_GT(inked, 0) << c.name;
        // No pixel far off (a missing or extra piece of line), and the edges' coverage
        // within a few percent on the average.
        EXPECT_EQ(far, 0) << c.name;
        EXPECT_LT(static_cast<double>(total) / static_cast<double>(inked), 20.0) << c.name;
    }
}

}  // namespace
