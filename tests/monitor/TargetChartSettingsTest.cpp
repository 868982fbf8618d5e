#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "monitor/AcquisitionWorker.h"
#include "monitor/TargetChartSettings.h"

namespace {

XMLNode ObjectInfoOf(XMLParser& doc, const std::string& xml) {
    doc.LoadBuffer(xml.data(), xml.size());
    return doc.FindElement("AppConfig").FindChild("ObjectInfo");
}

TEST(TargetChartSettings, KeysOverrideDefaultsAndRoundTripInTheirFormats) {
    XMLParser doc;
    XMLNode node = ObjectInfoOf(doc, R"(<AppConfig><ObjectInfo energywavewnd_activecolor="0xFF102030"
        EnergyWaveWnd_InactiveColor="" EnergyWaveWnd_ValueAutoScale="1" EnergyWaveWnd_ValueDisplayMax="80"
        EnergyWaveWnd_WaveLineWidth="x" DistanceWaveWnd_StateHeight="30" DistanceWaveWnd_MotionColor="4278190335"
        CurrentDetectTimeMS="10"/></AppConfig>)");
    TargetChartSettings s;
    LoadTargetChartSettings(node, s);
    // Names match without regard to case; the file keeps this one with red in the low byte.
    EXPECT_EQ(s.EnergyWaveWnd_ActiveColor, 0xFF302010u);
    EXPECT_EQ(s.EnergyWaveWnd_InactiveColor, 0xBFC3C3C3u);   // empty keeps the default
    EXPECT_EQ(s.EnergyWaveWnd_ValueAutoScale, 1);
    EXPECT_EQ(s.EnergyWaveWnd_ValueDisplayMax, 80);
    EXPECT_EQ(s.EnergyWaveWnd_WaveLineWidth, 5);             // unreadable keeps the default
    EXPECT_EQ(s.DistanceWaveWnd_StateHeight, 30u);
    EXPECT_EQ(s.DistanceWaveWnd_MotionColor, 0xFF0000FFu);   // decimal works too
    EXPECT_EQ(s.DistanceWaveWnd_NobodyColor, 0xFF15BC59u);
    EXPECT_EQ(s.DistanceWaveWnd_MotionlessColor, 0xFF3478FFu);
    EXPECT_EQ(s.DistanceWaveWnd_WaveLineWidth, 5);

    SaveTargetChartSettings(node, s);
    EXPECT_EQ(node.GetAttributeText("EnergyWaveWnd_ActiveColor"), "0xff102030");
    EXPECT_EQ(node.GetAttributeText("EnergyWaveWnd_InactiveColor"), "0xbfc3c3c3");
    EXPECT_EQ(node.GetAttributeText("EnergyWaveWnd_ValueAutoScale"), "1");
    EXPECT_EQ(node.GetAttributeText("DistanceWaveWnd_StateHeight"), "30");
    EXPECT_EQ(node.GetAttributeText("DistanceWaveWnd_WaveLineWidth"), "5");
    EXPECT_EQ(node.GetAttributeText("CurrentDetectTimeMS"), "10");  // other keys stay
    TargetChartSettings again;
    again.DistanceWaveWnd_NobodyColor = 0;
    LoadTargetChartSettings(node, again);
    EXPECT_EQ(again.DistanceWaveWnd_NobodyColor, 0xFF15BC59u);
    EXPECT_EQ(again.EnergyWaveWnd_ActiveColor, 0xFF302010u);
    EXPECT_EQ(again.DistanceWaveWnd_MotionColor, 0xFF0000FFu);

    // Without the key the colour in memory stays as it was.
    XMLParser bare;
    TargetChartSettings kept;
    kept.EnergyWaveWnd_ActiveColor = 0x80112233;
    LoadTargetChartSettings(ObjectInfoOf(bare, "<AppConfig><ObjectInfo/></AppConfig>"), kept);
    EXPECT_EQ(kept.EnergyWaveWnd_ActiveColor, 0x80112233u);
}

// The history as runs of one code, oldest first, filled to the full length.
StateHistory HistoryOf(std::initializer_list<std::pair<int, uint8_t>> runs) {
    StateHistory h;
    size_t i = 0;
    for (const auto& [count, code] : runs)
        for (int k = 0; k < count && i < h.size(); ++k) h[i++] = code;
    EXPECT_EQ(i, h.size());
    return h;
}

TEST(TargetChartSettings, StateBandSegmentsFollowTheColumnRule) {
    using S = StateBandSegment;
    struct Case {
        const char* what;
        StateHistory history;
        int width;
        std::vector<S> expected;
    } cases[] = {
        {"no report yet: one black band", HistoryOf({{240, 0xFF}}), 480, {{0, 480, BAND_NO_REPORT}}},
        // 480 columns: column x shows entry nearest(x / 2), so entry 120 already shows at column 239.
        {"leading black, then states two columns each",
         HistoryOf({{120, 0xFF}, {60, 0}, {60, 2}}), 480,
         {{0, 239, BAND_NO_REPORT}, {239, 359, BAND_NOBODY}, {359, 480, BAND_MOTION}}},
        {"state 1 belongs to no target like 0", HistoryOf({{100, 0}, {140, 1}}), 240, {{0, 240, BAND_NOBODY}}},
        {"no-report and unknown codes continue the last colour",
         HistoryOf({{100, 3}, {40, 0xFF}, {50, 7}, {50, 3}}), 240, {{0, 240, BAND_MOTIONLESS}}},
        {"a leading unknown code is left unpainted", HistoryOf({{120, 9}, {120, 2}}), 240, {{120, 240, BAND_MOTION}}},
        {"the newest entry on the last column is painted", HistoryOf({{239, 0}, {1, 2}}), 240,
         {{0, 239, BAND_NOBODY}, {239, 240, BAND_MOTION}}},
        // Narrower than the history: column x shows entry nearest(x * 240 / w).
        {"120 columns: entry 4 shows in column 2", HistoryOf({{4, 0}, {1, 3}, {235, 0}}), 120,
         {{0, 2, BAND_NOBODY}, {2, 3, BAND_MOTIONLESS}, {3, 120, BAND_NOBODY}}},
        {"120 columns: entry 3 falls between columns", HistoryOf({{3, 0}, {1, 3}, {236, 0}}), 120,
         {{0, 120, BAND_NOBODY}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StateBandSegments(c.history.data(), STATE_HISTORY_LENGTH, c.width), c.expected) << c.what;
    const StateHistory any = HistoryOf({{240, 0}});
    EXPECT_TRUE(StateBandSegments(any.data(), STATE_HISTORY_LENGTH, 0).empty());
}

TEST(TargetChartSettings, FirstInactiveGateOfTheDetectionRange) {
    struct Case {
        double max, resolution;
        int first;
    } cases[] = {
        {8.4, 0.7, 13}, {4.2, 0.7, 7},  // 6.000000000000001 gates
        {5.6, 0.7, 9},  {0.7, 0.7, 2}, {0.0, 0.7, 1}, {8.4, 0.0, -1}, {8.4, -0.0, -1}, {1e300, 1e-300, -1},
        {12 * 0.7, 0.7, 13},  // a maximum read back from the sensor: 8.3999999999999995
        {3 * 0.7, 0.7, 4},    // 2.0999999999999996
    };
    for (const auto& c : cases)
        EXPECT_EQ(FirstInactiveGate(c.max, c.resolution), c.first) << c.max << " / " << c.resolution;
}

TEST(TargetChartSettings, TooltipTexts) {
    SetUiLanguage(UiLanguage::English);
    struct Case {
        uint64_t context;
        int wave, sample;
        double value;
        const char* text;
    } cases[] = {
        {TARGET_CHART_ENERGY, 0, 3, 41.26, "RG No.3 Target Energy: 41.3 dB"},
        {TARGET_CHART_ENERGY, 1, 0, 48, "RG No.0 Trigger Energy: 48.0 dB"},
        {TARGET_CHART_ENERGY, 2, 15, 28, "RG No.15 Hold Energy: 28.0 dB"},
        {TARGET_CHART_ENERGY, 3, 15, 28, ""},
        {TARGET_CHART_RANGE, 0, 0, 1.25, "No. 60.0s Range: 1.2 m"},
        {TARGET_CHART_RANGE, 0, 120, 2.5, "No. 30.0s Range: 2.5 m"},
        {TARGET_CHART_RANGE, 0, 239, 2.5, "No. 0.2s Range: 2.5 m"},  // 0.25 s with one decimal
        {TARGET_CHART_RANGE, 1, 0, 1, ""},
        {2, 0, 0, 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TargetChartTooltip(c.context, c.wave, c.sample, c.value, STATE_HISTORY_LENGTH), c.text)
            << "context " << c.context << " wave " << c.wave;
}

}  // namespace
