#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chart/CCoordinate.h"
#include "chart/WaveView.h"

namespace {

std::vector<std::string> Texts(const std::vector<AxisLabel>& labels) {
    std::vector<std::string> texts;
    for (const AxisLabel& l : labels) texts.push_back(l.text);
    return texts;
}

CCoordinate Axis(int orientation, double min, double max, int count, int decimals) {
    CCoordinate axis;
    axis.orientation = orientation;
    axis.minValue = min;
    axis.maxValue = max;
    axis.labelCount = count;
    axis.decimals = decimals;
    axis.area = orientation ? ChartRect{0, 0, 50, 200} : ChartRect{50, 200, 400, 224};
    return axis;
}

}  // namespace

TEST(AxisLabels, TextsOfTheExamples) {
    struct Case {
        const char* name;
        CCoordinate axis;
        std::vector<std::string> texts;
    } cases[] = {
        {"vertical 0..100 in 5", Axis(1, 0, 100, 5, 0), {"100", "75", "50", "25", "0"}},
        {"horizontal 0..15 in 7, halves away from zero", Axis(0, 0, 15, 7, -1), {"0", "3", "5", "8", "10", "13", "15"}},
        {"vertical 0..8.4, 1 decimal", Axis(1, 0.0, 8.4, 5, 1), {"8.4", "6.3", "4.2", "2.1", "0.0"}},
        {"negative halves", Axis(0, -15, 0, 7, -1), {"-15", "-13", "-10", "-8", "-5", "-3", "0"}},
        {"automatic decimals of 0.05", Axis(0, 0, 0.2, 5, -1), {"0.00", "0.05", "0.10", "0.15", "0.20"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Texts(c.axis.ComputeLabels()), c.texts) << c.name;
}

TEST(AxisLabels, AutomaticDecimals) {
    struct Case {
        double step;
        int digits;
    } cases[] = {{2.5, 0}, {1.0, 0}, {0.5, 1}, {0.05, 2}, {-0.05, 2}, {0.0, 10}, {1e-12, 10}};
    for (const Case& c : cases) EXPECT_EQ(CCoordinate::AutomaticDecimals(c.step), c.digits) << c.step;
}

TEST(AxisLabels, FoldingAndAffixes) {
    // A phase axis folded into 0..360 with period 360.
    CCoordinate axis = Axis(0, 180, 900, 5, 0);
    axis.wrapMin = 0;
    axis.wrapMax = 360;
    axis.period = 360;
    EXPECT_EQ(Texts(axis.ComputeLabels()), (std::vector<std::string>{"180", "360", "180", "0", "180"}));

    CCoordinate negative = Axis(0, -90, 90, 3, 0);
    negative.wrapMin = 0;
    negative.wrapMax = 360;
    negative.period = 360;
    EXPECT_EQ(Texts(negative.ComputeLabels()), (std::vector<std::string>{"270", "0", "90"}));

    // A '%' in a suffix is text, never a format directive.
    CCoordinate percent = Axis(0, 0, 100, 3, 0);
    percent.prefix = "~";
    percent.suffix = "%s%n";
    EXPECT_EQ(Texts(percent.ComputeLabels()), (std::vector<std::string>{"~0%s%n", "~50%s%n", "~100%s%n"}));

    // SetStyle resets the affixes and offset.
    percent.offset = 4;
    percent.SetStyle(8, 0xFFFFFFFF, 1);
    EXPECT_EQ(Texts(percent.ComputeLabels()), (std::vector<std::string>{"0.0", "50.0", "100.0"}));
    EXPECT_EQ(percent.offset, 0);
    EXPECT_EQ(percent.textColor, 0xFFFFFFFFu);
}

TEST(AxisLabels, CustomLabelsReplaceExactlyTheirPosition) {
    CCoordinate axis = Axis(0, 0, 60, 5, -1);
    axis.AddLabel(2, "middle");
    axis.AddLabel(2, "ignored: the first entry wins");
    axis.AddLabel(9, "no such position");
    EXPECT_EQ(Texts(axis.ComputeLabels()), (std::vector<std::string>{"0", "15", "middle", "45", "60"}));
    axis.ClearLabels();
    EXPECT_EQ(Texts(axis.ComputeLabels())[2], "30");

    // The range chart's time axis: T0-60 .. T0 by custom texts.
    CCoordinate time = Axis(0, 60, 0, 5, -1);
    int i = 0;
    for (int seconds : {60, 45, 30, 15}) time.AddLabel(i++, "T0-" + std::to_string(seconds));
    time.AddLabel(4, "T0");
    EXPECT_EQ(Texts(time.ComputeLabels()), (std::vector<std::string>{"T0-60", "T0-45", "T0-30", "T0-15", "T0"}));
}

TEST(AxisLabels, RectanglesAlongAndAcrossTheStrip) {
    // Horizontal strip 350 pixels wide with 7 labels: e = 50, f = 58.33.
    CCoordinate axis = Axis(0, 0, 15, 7, -1);
    axis.labelAlign = 0;
    axis.offset = 3;
    const auto labels = axis.ComputeLabels();
    ASSERT_EQ(labels.size(), 7u);
    EXPECT_EQ(labels[0].rect, (ChartRect{50, 203, 100, 224}));
    EXPECT_EQ(labels[0].format, AXIS_TEXT_LEFT | AXIS_TEXT_TOP | AXIS_TEXT_SINGLELINE | AXIS_TEXT_END_ELLIPSIS);
    EXPECT_EQ(labels[1].rect, (ChartRect{50 + 29, 203, 50 + 88, 224}));  // 29.17 .. 87.5 -> 29 .. 88
    EXPECT_EQ(labels[1].format & 0xF, AXIS_TEXT_CENTER);
    EXPECT_EQ(labels[6].rect, (ChartRect{350, 203, 400, 224}));
    EXPECT_EQ(labels[6].format & 0xF, AXIS_TEXT_RIGHT);

    // Vertical strip 200 high with 5 labels, aligned right with an offset.
    CCoordinate left = Axis(1, 0, 100, 5, 0);
    left.labelAlign = 2;
    left.offset = 5;
    const auto vertical = left.ComputeLabels();
    EXPECT_EQ(vertical[0].rect, (ChartRect{0, 0, 45, 40}));
    EXPECT_EQ(vertical[0].format & 0xF, AXIS_TEXT_RIGHT | AXIS_TEXT_TOP);
    EXPECT_EQ(vertical[2].rect, (ChartRect{0, 75, 45, 125}));
    EXPECT_EQ(vertical[2].format & 0xF, AXIS_TEXT_RIGHT | AXIS_TEXT_VCENTER);
    EXPECT_EQ(vertical[4].rect, (ChartRect{0, 160, 45, 200}));
    EXPECT_EQ(vertical[4].format & 0xF, AXIS_TEXT_RIGHT | AXIS_TEXT_BOTTOM);

    // Centred across ignores the offset; custom flags replace the along-axis part only.
    left.labelAlign = 1;
    left.customLabels.push_back({1, "x", AXIS_TEXT_BOTTOM});
    const auto centred = left.ComputeLabels();
    EXPECT_EQ(centred[0].rect, (ChartRect{0, 0, 50, 40}));
    EXPECT_EQ(centred[1].format, AXIS_TEXT_BOTTOM | AXIS_TEXT_CENTER | AXIS_TEXT_SINGLELINE | AXIS_TEXT_END_ELLIPSIS);
}

TEST(AxisLabels, DegenerateCounts) {
    EXPECT_TRUE(Axis(0, 0, 10, 0, 0).ComputeLabels().empty());
    const auto one = Axis(0, 3, 10, 1, 0).ComputeLabels();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].text, "3");
    EXPECT_EQ(one[0].rect.left, one[0].rect.right) << "no extent per label with fewer than two labels";
}

TEST(WaveViewRules, DroppingKeepsTheLastPoint) {
    const ChartRect plot{10, 10, 110, 60};
    struct Case {
        const char* name;
        std::vector<WavePoint> in;
        std::vector<WavePoint> out;
    } cases[] = {
        {"inside, increasing", {{10, 10}, {50, 30}, {109, 59}}, {{10, 10}, {50, 30}, {109, 59}}},
        {"outside every edge", {{9, 20}, {110, 20}, {20, 9}, {20, 60}, {30, 30}}, {{30, 30}}},
        {"stepping left is dropped", {{40, 20}, {30, 20}, {50, 20}}, {{40, 20}, {50, 20}}},
        {"but never the last point", {{40, 20}, {60, 20}, {20, 25}}, {{40, 20}, {60, 20}, {20, 25}}},
        {"equal x is kept", {{40, 20}, {40, 30}}, {{40, 20}, {40, 30}}},
        {"empty", {}, {}},
    };
    for (Case& c : cases) {
        DropStrayPoints(c.in, plot);
        EXPECT_EQ(c.in, c.out) << c.name;
    }
}

TEST(WaveViewRules, AutomaticFit) {
    double lo = 0, hi = 100;
    EXPECT_TRUE(FitValueView(0.0, 5.0, lo, hi));
    EXPECT_DOUBLE_EQ(lo, -1.25);
    EXPECT_DOUBLE_EQ(hi, 6.25);
    // Already fitted: nothing changes.
    EXPECT_FALSE(FitValueView(0.0, 5.0, lo, hi));
    // No span: nothing changes.
    double a = -3, b = 3;
    EXPECT_FALSE(FitValueView(0.0, 0.0, a, b));
    EXPECT_EQ(a, -3);
    EXPECT_EQ(b, 3);
}
