#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <numeric>
#include <thread>
#include <vector>

#include "chart/CWaveBuffer.h"

namespace {

std::vector<double> Range(double from, int count) {
    std::vector<double> v(static_cast<size_t>(count));
    std::iota(v.begin(), v.end(), from);
    return v;
}

// A double buffer shaped as the chart shapes it: S values per block, one extra block.
void Shape(CWaveBuffer& buffer, int s, int wholeBlocksOnly) {
    buffer.SetSampleType(WAVE_SAMPLE_DOUBLE);
    buffer.SetBlockLength(s);
    buffer.SetBlockCount(1);
    buffer.SetWholeBlocksOnly(wholeBlocksOnly);
}

}  // namespace

TEST(WaveBuffer, WholeBlocksMoveOnlyWhenComplete) {
    CWaveBuffer buffer;
    Shape(buffer, 16, 1);

    const auto first = Range(1, 16);
    buffer.Append(first.data(), 16);
    auto data = buffer.GetValues();
    ASSERT_EQ(data.size(), 32u);
    EXPECT_EQ(std::vector<double>(data.begin(), data.begin() + 16), std::vector<double>(16, 0.0));
    EXPECT_EQ(std::vector<double>(data.begin() + 16, data.end()), first);

    const auto second = Range(101, 16);
    buffer.Append(second.data(), 10);
    EXPECT_EQ(buffer.GetValues(), data) << "a partial block must not move";
    EXPECT_EQ(buffer.GetStagedCount(), 10);

    buffer.Append(second.data() + 10, 6);
    data = buffer.GetValues();
    EXPECT_EQ(std::vector<double>(data.begin(), data.begin() + 16), first) << "previous block shifts to the front";
    EXPECT_EQ(std::vector<double>(data.begin() + 16, data.end()), second);
    EXPECT_EQ(buffer.GetStagedCount(), 0);
    EXPECT_EQ(buffer.GetTotalBlocks(), 2);
}

TEST(WaveBuffer, SingleValuesScrollTheWindow) {
    CWaveBuffer buffer;
    Shape(buffer, 240, 0);

    const double one = 7.0;
    buffer.Append(&one, 1);
    auto data = buffer.GetValues();
    EXPECT_EQ(data[479], 7.0);
    EXPECT_EQ(data[478], 0.0);

    CWaveBuffer scrolled;
    Shape(scrolled, 240, 0);
    for (int i = 1; i <= 480 + 5; ++i) {
        const double v = i;
        scrolled.Append(&v, 1);
    }
    EXPECT_EQ(scrolled.GetValues(), Range(6, 480)) << "the array holds the last 480 values, oldest first";
    EXPECT_EQ(scrolled.GetTotalBlocks(), 2);
    EXPECT_EQ(scrolled.GetRemainder(), 5);

    // The visible window (offset 0) is the last 240: a 240-pixel-wide plot samples each once.
    std::vector<WavePoint> points;
    double lo = 0, hi = 0;
    scrolled.ComputePoints({0, 0, 240, 100}, 0.0, 1000.0, 0, 1.0, points, lo, hi);
    EXPECT_EQ(points.size(), 240u);
    EXPECT_EQ(lo, 246.0);
    EXPECT_EQ(hi, 485.0);
}

TEST(WaveBuffer, OversizedAppendKeepsNewestCapacity) {
    for (int whole : {0, 1}) {
        CWaveBuffer buffer;
        Shape(buffer, 16, whole);
        const auto values = Range(1, 50);
        buffer.Append(values.data(), 50);
        const auto data = buffer.GetValues();
        if (whole) {
            // 48 whole values available: the newest 32 of them; 2 wait in staging.
            EXPECT_EQ(data, Range(17, 32));
            EXPECT_EQ(buffer.GetStagedCount(), 2);
        } else {
            EXPECT_EQ(data, Range(19, 32));
            EXPECT_EQ(buffer.GetStagedCount(), 0);
        }
    }
}

TEST(WaveBuffer, NeverSizedBufferIgnoresAppendsAndDrawsNothing) {
    CWaveBuffer buffer;
    const int16_t v[3] = {1, 2, 3};
    buffer.Append(v, 3);
    EXPECT_FALSE(buffer.HasData());
    EXPECT_TRUE(buffer.GetValues().empty());

    std::vector<WavePoint> points;
    double lo = 1, hi = 1;
    buffer.ComputePoints({0, 0, 100, 100}, 0, 10, 0, 1.0, points, lo, hi);
    EXPECT_TRUE(points.empty());
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 0.0);
    int32_t index = 0, type = 0, y = 0;
    double value = 0;
    EXPECT_EQ(buffer.HitTest({0, 0, 100, 100}, 0, 10, 0, 1.0, 5, index, type, value, y), 0);
}

TEST(WaveBuffer, ShapeChangesReallocateAndKeepWhatTheyShould) {
    CWaveBuffer buffer;
    Shape(buffer, 4, 0);
    const auto values = Range(1, 8);
    buffer.Append(values.data(), 8);
    ASSERT_EQ(buffer.GetValues(), values);

    // More blocks: the leading bytes survive, the new room is zero.
    buffer.SetBlockCount(2);
    EXPECT_EQ(buffer.GetValues(), (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0}));
    // The same count again changes nothing.
    buffer.SetBlockCount(2);
    EXPECT_EQ(buffer.GetBlockCount(), 3);

    // A new block length reallocates zero-filled and drops staged values.
    buffer.SetWholeBlocksOnly(1);
    buffer.Append(values.data(), 2);
    EXPECT_EQ(buffer.GetStagedCount(), 2);
    buffer.SetBlockLength(5);
    EXPECT_EQ(buffer.GetValues(), std::vector<double>(15, 0.0));
    EXPECT_EQ(buffer.GetStagedCount(), 0);

    // Setting the same length again keeps the data.
    const auto block = Range(1, 5);
    buffer.Append(block.data(), 5);
    buffer.SetBlockLength(5);
    EXPECT_EQ(buffer.GetValues().back(), 5.0);

    // Clear keeps the shape and zero-fills.
    buffer.Clear();
    EXPECT_EQ(buffer.GetValues(), std::vector<double>(15, 0.0));
    EXPECT_EQ(buffer.GetTotalBlocks(), 0);
    EXPECT_EQ(buffer.GetBlockLength(), 5);
}

TEST(WaveBuffer, SampleTypesStoreTheirWidth) {
    struct Case {
        int32_t type;
        int32_t size;
    } cases[] = {{WAVE_SAMPLE_INT16, 2}, {WAVE_SAMPLE_INT32, 4}, {WAVE_SAMPLE_DOUBLE, 8}, {7, 2}};
    for (const Case& c : cases) {
        EXPECT_EQ(CWaveBuffer::ValueSize(c.type), c.size) << c.type;
        CWaveBuffer buffer;
        buffer.SetSampleType(c.type);
        buffer.SetBlockLength(2);
        buffer.SetBlockCount(0);
        if (c.size == 2) {
            const int16_t v[2] = {-300, 32767};
            buffer.Append(v, 2);
            EXPECT_EQ(buffer.GetValues(), (std::vector<double>{-300, 32767}));
        } else if (c.size == 4) {
            const int32_t v[2] = {-70000, 2000000000};
            buffer.Append(v, 2);
            EXPECT_EQ(buffer.GetValues(), (std::vector<double>{-70000, 2000000000}));
        } else {
            const double v[2] = {-0.25, 1e9};
            buffer.Append(v, 2);
            EXPECT_EQ(buffer.GetValues(), (std::vector<double>{-0.25, 1e9}));
        }
    }
}

TEST(WaveBuffer, PointsSpreadFewValuesAndSampleManyPerColumn) {
    // 16 values over a 151-pixel plot: every value gets a point, 10 pixels apart.
    CWaveBuffer few;
    Shape(few, 16, 1);
    const auto values = Range(0, 16);
    few.Append(values.data(), 16);
    std::vector<WavePoint> points;
    double lo = 0, hi = 0;
    few.ComputePoints({10, 20, 161, 120}, 0.0, 15.0, 0, 1.0, points, lo, hi);
    ASSERT_EQ(points.size(), 16u);
    for (size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(points[i].x, 10 + static_cast<int>(i) * 10);
        // viewMax maps to the top row, viewMin to the bottom row.
        EXPECT_EQ(points[i].y, 20 + std::clamp(static_cast<int>(std::lround(100 - 100 * i / 15.0)), 0, 99));
    }
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 15.0);

    // 1000 values over 100 columns: one point per column, first and last value sampled.
    CWaveBuffer many;
    Shape(many, 1000, 0);
    const auto lots = Range(0, 1000);
    many.Append(lots.data(), 1000);
    points.clear();
    many.ComputePoints({0, 0, 100, 50}, 0.0, 1000.0, 0, 1.0, points, lo, hi);
    ASSERT_EQ(points.size(), 100u);
    EXPECT_EQ(points.front().x, 0);
    EXPECT_EQ(points.back().x, 99);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 999.0);
}

TEST(WaveBuffer, HitTestFindsTheSampleUnderTheMouse) {
    CWaveBuffer buffer;
    Shape(buffer, 16, 1);
    const auto values = Range(0, 16);
    buffer.Append(values.data(), 16);
    const ChartRect plot{0, 0, 151, 100};
    struct Case {
        int mouseX;
        int index;
    } cases[] = {{0, 0}, {4, 0}, {5, 1}, {74, 7}, {150, 15}};
    for (const Case& c : cases) {
        int32_t index = -1, type = -1, y = -1;
        double value = -1;
        ASSERT_EQ(buffer.HitTest(plot, 0.0, 20.0, 0, 1.0, c.mouseX, index, type, value, y), 1) << c.mouseX;
        EXPECT_EQ(index, c.index);
        EXPECT_EQ(value, c.index);
        EXPECT_EQ(type, WAVE_SAMPLE_DOUBLE);
        EXPECT_EQ(y, std::clamp(static_cast<int>(std::lround(100 - 100 * c.index / 20.0)), 0, 99));
    }
    int32_t index = 0, type = 0, y = 0;
    double value = 0;
    EXPECT_EQ(buffer.HitTest(plot, 0, 20, 0, 1.0, -1, index, type, value, y), 0);
    EXPECT_EQ(buffer.HitTest(plot, 0, 20, 0, 1.0, 151, index, type, value, y), 0);
}

TEST(WaveBuffer, ReaderAlwaysSeesWholeAppends) {
    // A producer appends whole blocks of one repeated value; a reader computing
    // points must never see a block that is half old and half new.
    CWaveBuffer buffer;
    Shape(buffer, 64, 1);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        std::vector<double> block(64);
        for (int round = 1; round <= 3000; ++round) {
            std::fill(block.begin(), block.end(), static_cast<double>(round));
            buffer.Append(block.data(), 64);
        }
        done = true;
    });
    int torn = 0;
    int reads = 0;
    while (!done || reads == 0) {
        std::vector<WavePoint> points;
        double lo = 0, hi = 0;
        buffer.ComputePoints({0, 0, 64, 10}, 0, 4000, 0, 1.0, points, lo, hi);
        if (lo != hi) ++torn;
        ++reads;
    }
    producer.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
}
