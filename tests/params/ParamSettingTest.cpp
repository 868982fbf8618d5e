#include <gtest/gtest.h>

#include <string>

#include "app/XMLParser.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"

namespace {

XMLNode ParseElement(XMLParser& doc, const std::string& xml) {
    doc.LoadBuffer(xml.data(), xml.size());
    return doc.FindElement("AppConfig").FindChild("ParamSetting");
}

}  // namespace

TEST(ParamSetting, InitRestoresEveryDefault) {
    ParamSetting s;
    s.RangeResolution = 1.0;
    s.DetectRangeMin = 2.0;
    s.DetectRangeMax = 3.0;
    s.ResponseFreq = 1.0;
    s.StateReportFreq = 8.0;
    s.RangeReportFreq = 8.0;
    s.ObjectDisappearReportTime = 99;
    for (auto& v : s.GateTriggerThreshold) v = 1;
    for (auto& v : s.GateHoldThreshold) v = 2;

    InitParamSetting(s);
    EXPECT_DOUBLE_EQ(s.RangeResolution, 0.7);
    EXPECT_DOUBLE_EQ(s.DetectRangeMin, 0.0);
    EXPECT_DOUBLE_EQ(s.DetectRangeMax, 8.4);
    EXPECT_DOUBLE_EQ(s.ResponseFreq, 0.5);
    EXPECT_DOUBLE_EQ(s.StateReportFreq, 4.0);
    EXPECT_DOUBLE_EQ(s.RangeReportFreq, 0.5);
    EXPECT_EQ(s.ObjectDisappearReportTime, 40u);
    const uint32_t trigger[16] = {48, 42, 36, 34, 32, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31};
    const uint32_t hold[16] = {45, 42, 33, 32, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28};
    for (int g = 0; g < 16; ++g) {
        EXPECT_EQ(s.GateTriggerThreshold[g], trigger[g]) << g;
        EXPECT_EQ(s.GateHoldThreshold[g], hold[g]) << g;
    }
}

TEST(ParamSetting, DefaultsSendTheDocumentedDetectionValues) {
    ParamSetting s;
    uint32_t values[DETECT_SETTING_COUNT];
    DetectSettingToValues(s, values);
    // 8.4 / 0.7 is 12.000000000000002: gate 12.
    const uint32_t expected[DETECT_SETTING_COUNT] = {0, 12, 5, 40, 5, 40};
    for (int k = 0; k < DETECT_SETTING_COUNT; ++k) EXPECT_EQ(values[k], expected[k]) << "key index " << k;
    const uint16_t keys[DETECT_SETTING_COUNT] = {10, 5, 11, 2, 12, 6};
    for (int k = 0; k < DETECT_SETTING_COUNT; ++k) EXPECT_EQ(DETECT_SETTING_KEYS[k], keys[k]);
}

TEST(ParamSetting, GatesAreCappedAt16AsUnsignedNumbers) {
    struct Case {
        double distance;
        uint32_t sent;
    } cases[] = {
        {2.1, 3},     // 2.1 / 0.7 = 3.0000000000000004
        {11.2, 16},   // exactly gate 16
        {20.0, 16},   // gate 28
        {-0.5, 0},    // truncates toward zero
        {-0.7, 16},   // gate -1 compares as a huge unsigned number
        {-5.0, 16},
    };
    for (const auto& c : cases) {
        ParamSetting s;
        s.DetectRangeMin = c.distance;
        uint32_t values[DETECT_SETTING_COUNT];
        DetectSettingToValues(s, values);
        EXPECT_EQ(values[0], c.sent) << c.distance;
    }
}

TEST(ParamSetting, DistanceReadBackIsGateTimesResolution) {
    ParamSetting s;
    const uint32_t values[DETECT_SETTING_COUNT] = {3, 12, 10, 80, 20, 255};
    DetectSettingFromValues(values, s);
    EXPECT_EQ(s.DetectRangeMin, 3 * 0.7);
    EXPECT_EQ(s.DetectRangeMin, 2.0999999999999996);
    EXPECT_EQ(GateOfDistance(s.DetectRangeMin, s.RangeResolution), 3);  // a hair below gate 3 is gate 3
    EXPECT_EQ(s.DetectRangeMax, 12 * 0.7);
    EXPECT_DOUBLE_EQ(s.ResponseFreq, 1.0);
    EXPECT_DOUBLE_EQ(s.StateReportFreq, 8.0);
    EXPECT_DOUBLE_EQ(s.RangeReportFreq, 2.0);
    EXPECT_EQ(s.ObjectDisappearReportTime, 255u);
}

// A distance read from the sensor is gate x resolution in double arithmetic, which
// lands a hair above or below the boundary (12 x 0.7 = 8.3999999999999995); it must
// give its gate back, everywhere a distance becomes a gate.
TEST(ParamSetting, DistancesReadFromTheSensorKeepTheirGate) {
    for (uint32_t gate = 0; gate <= 12; ++gate) {
        ParamSetting s;
        const uint32_t read[DETECT_SETTING_COUNT] = {gate, gate, 5, 40, 5, 40};
        DetectSettingFromValues(read, s);
        EXPECT_EQ(GateOfDistance(s.DetectRangeMin, s.RangeResolution), static_cast<int>(gate)) << gate << " x 0.7";
        uint32_t sent[DETECT_SETTING_COUNT];
        DetectSettingToValues(s, sent);
        EXPECT_EQ(sent[0], gate) << gate << " x 0.7";
        EXPECT_EQ(sent[1], gate) << gate << " x 0.7";
    }
    EXPECT_LT(12 * 0.7, 8.4) << "the case this guards: the product lies below the boundary";
}

TEST(ParamSetting, OnlyDistancesWithinTheToleranceOfABoundaryMoveOntoIt) {
    struct Case {
        double distance;
        int gate;
    } cases[] = {
        {8.4, 12},                 // 12.000000000000002
        {12 * 0.7, 12},            // 8.3999999999999995
        {3 * 0.7, 3},              // 2.0999999999999996
        {2.1, 3},                  // 3.0000000000000004
        {7.35, 10},                // 10.5: between two gates
        {7.0 - 2e-9, 9},           // farther below the boundary than the tolerance
        {7.0 - 0.5e-9, 10},
        {0.7 + 0.5e-9, 1},
        {0.7 - 1e-6, 0},
        {-0.5, 0},                 // truncates toward zero
        {-0.7, -1},
        {-0.7 + 0.5e-9, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(GateOfDistance(c.distance, 0.7), c.gate) << c.distance;
    EXPECT_EQ(GateOfDistance(1.0, 0.0), 1 << 30) << "a zero resolution stays defined";
}

TEST(ParamSetting, FrequenciesAreSentInTenthsTruncated) {
    ParamSetting s;
    s.ResponseFreq = 1.0;
    s.StateReportFreq = 0.99;  // 9.9 -> 9
    s.RangeReportFreq = 8.0;
    uint32_t values[DETECT_SETTING_COUNT];
    DetectSettingToValues(s, values);
    EXPECT_EQ(values[2], 10u);
    EXPECT_EQ(values[3], 9u);
    EXPECT_EQ(values[4], 80u);

    // A hair below a tenth is on it: 2.3 x 10 is 22.999999999999996.
    s.StateReportFreq = 2.3;
    s.RangeReportFreq = 0.7 * 3;
    DetectSettingToValues(s, values);
    EXPECT_EQ(values[3], 23u);
    EXPECT_EQ(values[4], 21u);
}

TEST(ParamSettingConfig, SaveWritesFixedFormatsInOrder) {
    XMLParser doc;
    XMLNode node = ParseElement(doc, "<AppConfig><ParamSetting/></AppConfig>");
    ASSERT_TRUE(node);
    ParamSetting s;
    s.DetectRangeMin = 2.0999999999999996;
    s.GateHoldThreshold[15] = 95;
    SaveParamSetting(node, s);

    std::string names;
    for (auto a : node.Raw().attributes()) names += std::string(a.name()) + " ";
    std::string expectedNames =
        "RangeResolution DetectRangeMin DetectRangeMax ResponseFreq StateReportFreq RangeReportFreq "
        "ObjectDisappearReportTime ";
    for (int k = 0; k < 16; ++k) expectedNames += "Gate" + std::to_string(k) + "TriggerThreshold ";
    for (int k = 0; k < 16; ++k) expectedNames += "Gate" + std::to_string(k) + "HoldThreshold ";
    EXPECT_EQ(names, expectedNames);

    EXPECT_EQ(node.GetAttributeText("RangeResolution"), "0.70");
    EXPECT_EQ(node.GetAttributeText("DetectRangeMin"), "2.10");
    EXPECT_EQ(node.GetAttributeText("DetectRangeMax"), "8.40");
    EXPECT_EQ(node.GetAttributeText("ResponseFreq"), "0.5");
    EXPECT_EQ(node.GetAttributeText("StateReportFreq"), "4.0");
    EXPECT_EQ(node.GetAttributeText("ObjectDisappearReportTime"), "40");
    EXPECT_EQ(node.GetAttributeText("Gate0TriggerThreshold"), "48");
    EXPECT_EQ(node.GetAttributeText("Gate15HoldThreshold"), "95");
}

TEST(ParamSettingConfig, SaveUpdatesExistingAttributesWithoutRegardToCase) {
    XMLParser doc;
    XMLNode node = ParseElement(doc, R"(<AppConfig><ParamSetting detectrangemax="1.00" Extra="x"/></AppConfig>)");
    ParamSetting s;
    SaveParamSetting(node, s);
    EXPECT_EQ(node.GetAttributeText("DetectRangeMax"), "8.40");
    int count = 0;
    for (auto a : node.Raw().attributes()) count += 1, (void)a;
    EXPECT_EQ(count, 1 + 7 + 32);  // Extra kept, no duplicate of DetectRangeMax
}

TEST(ParamSettingConfig, LoadTakesValuesAsTheyComeAndKeepsFieldsOfMissingOrEmptyAttributes) {
    XMLParser doc;
    XMLNode node = ParseElement(doc,
                                R"(<AppConfig><ParamSetting DetectRangeMin="-3.5" DetectRangeMax="" ResponseFreq="1.0"
                                   ObjectDisappearReportTime="7" Gate3TriggerThreshold="200" gate15holdthreshold="5"
                                   StateReportFreq="abc"/></AppConfig>)");
    ParamSetting s;
    LoadParamSetting(node, s);
    EXPECT_DOUBLE_EQ(s.DetectRangeMin, -3.5);  // no range check on load
    EXPECT_DOUBLE_EQ(s.DetectRangeMax, 8.4);   // empty value keeps the field
    EXPECT_DOUBLE_EQ(s.ResponseFreq, 1.0);
    EXPECT_DOUBLE_EQ(s.StateReportFreq, 4.0);  // not a number keeps the field
    EXPECT_DOUBLE_EQ(s.RangeResolution, 0.7);  // missing keeps the field
    EXPECT_EQ(s.ObjectDisappearReportTime, 7u);
    EXPECT_EQ(s.GateTriggerThreshold[3], 200u);
    EXPECT_EQ(s.GateHoldThreshold[15], 5u);
    EXPECT_EQ(s.GateTriggerThreshold[2], 36u);
}

TEST(ParamSettingConfig, SaveThenLoadRoundTripsAndRestoresGatesThroughText) {
    XMLParser doc;
    XMLNode node = ParseElement(doc, "<AppConfig><ParamSetting/></AppConfig>");
    ParamSetting written;
    written.DetectRangeMin = 3 * 0.7;  // "2.10" reads back as gate 3 too
    written.StateReportFreq = 2.0;
    written.RangeReportFreq = 1.0;
    for (int g = 0; g < 16; ++g) written.GateTriggerThreshold[g] = 10 + g;
    SaveParamSetting(node, written);
    ParamSetting read;
    LoadParamSetting(node, read);
    EXPECT_EQ(GateOfDistance(read.DetectRangeMin, read.RangeResolution), 3);
    EXPECT_DOUBLE_EQ(read.StateReportFreq, 2.0);
    EXPECT_DOUBLE_EQ(read.RangeReportFreq, 1.0);
    for (int g = 0; g < 16; ++g) EXPECT_EQ(read.GateTriggerThreshold[g], 10u + g);
}
