#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/XMLParser.h"
#include "monitor/CurrentEstimate.h"
#include "params/ParamSetting.h"

namespace {

std::string FiveDecimals(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.5f", value);
    return text;
}

TEST(CurrentEstimate, DefaultConstantsGiveTheDocumentedCurrents) {
    struct Case {
        int state;
        double response, stateFreq, rangeFreq;
        const char* expected;
    } cases[] = {
        {0, 0.5, 4.0, 0.5, "0.04118"},  // Normal, P0 = 2000 ms
        {1, 0.5, 4.0, 0.5, "0.04118"},
        {0, 1.0, 4.0, 0.5, "0.07524"},  // Fast, P0 = 1000 ms
        {2, 0.5, 4.0, 0.5, "0.05535"},  // P1 = 2000 ms, k = 7
        {3, 0.5, 4.0, 0.5, "0.05535"},
        {2, 0.5, 0.5, 0.5, "0.04118"},  // k = 0: same as no target over 2000 ms
        {3, 0.5, 8.0, 8.0, "0.55208"},  // P1 = 125 ms
        {4, 0.5, 4.0, 0.5, "0.00000"},
        {-1, 0.5, 4.0, 0.5, "0.00000"},
        {255, 0.5, 4.0, 0.5, "0.00000"},
    };
    const CurrentConstants constants;
    for (const auto& c : cases) {
        ParamSetting s;
        s.ResponseFreq = c.response;
        s.StateReportFreq = c.stateFreq;
        s.RangeReportFreq = c.rangeFreq;
        EXPECT_EQ(FiveDecimals(EstimateCurrent(c.state, s, constants)), c.expected)
            << "state " << c.state << " response " << c.response << " state/range " << c.stateFreq << "/"
            << c.rangeFreq;
    }
}

TEST(CurrentEstimate, ConstantsComeFromObjectInfoAndAreWrittenWithFiveDecimals) {
    XMLParser doc;
    const std::string xml =
        R"(<AppConfig><ObjectInfo CurrentDetectTimeMS="10" currentlpvaluema="" CurrentReportValueMA="x"/></AppConfig>)";
    doc.LoadBuffer(xml.data(), xml.size());
    XMLNode node = doc.FindElement("AppConfig").FindChild("ObjectInfo");
    CurrentConstants c;
    LoadCurrentConstants(node, c);
    EXPECT_DOUBLE_EQ(c.CurrentDetectTimeMS, 10.0);
    EXPECT_DOUBLE_EQ(c.CurrentLPValueMA, 0.00712);
    EXPECT_DOUBLE_EQ(c.CurrentReportValueMA, 2.03);

    SaveCurrentConstants(node, CurrentConstants{});
    EXPECT_EQ(node.GetAttributeText("CurrentDetectTimeMS"), "7.05700");
    EXPECT_EQ(node.GetAttributeText("CurrentLPValueMA"), "0.00712");
    EXPECT_EQ(node.GetAttributeText("CurrentReportValueMA"), "2.03000");
    EXPECT_EQ(node.GetAttributeText("CurrentReportTimeMS"), "2.00200");
    EXPECT_EQ(node.GetAttributeText("CurrentDetectValueMA"), "9.66000");
}

}  // namespace
