// A parameter file's section taken in under the rules of typed values.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/XMLParser.h"
#include "params/ParamFileSection.h"
#include "params/ParamSetting.h"

namespace {

// The section of a file whose ParamSetting element carries these attributes.
struct SectionFile {
    explicit SectionFile(const std::string& attributes) {
        const std::string xml = "<AppConfig><ParamSetting " + attributes + "/></AppConfig>";
        EXPECT_TRUE(doc.LoadBuffer(xml.data(), xml.size())) << xml;
    }
    [[nodiscard]] XMLNode Section() const { return doc.FindElement("AppConfig").FindChild("ParamSetting"); }
    XMLParser doc;
};

ParamSetting Defaults() {
    ParamSetting s;
    InitParamSetting(s);
    return s;
}

bool SameRecord(const ParamSetting& a, const ParamSetting& b) {
    if (a.RangeResolution != b.RangeResolution || a.DetectRangeMin != b.DetectRangeMin ||
        a.DetectRangeMax != b.DetectRangeMax || a.ResponseFreq != b.ResponseFreq ||
        a.StateReportFreq != b.StateReportFreq || a.RangeReportFreq != b.RangeReportFreq ||
        a.ObjectDisappearReportTime != b.ObjectDisappearReportTime)
        return false;
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
        if (a.GateTriggerThreshold[g] != b.GateTriggerThreshold[g] || a.GateHoldThreshold[g] != b.GateHoldThreshold[g])
            return false;
    }
    return true;
}

std::string Describe(const ParamSetting& s) {
    std::string text = "min " + std::to_string(s.DetectRangeMin) + " max " + std::to_string(s.DetectRangeMax) +
                       " resp " + std::to_string(s.ResponseFreq) + " state " + std::to_string(s.StateReportFreq) +
                       " range " + std::to_string(s.RangeReportFreq) + " delay " +
                       std::to_string(s.ObjectDisappearReportTime) + " trigger";
    for (uint32_t v : s.GateTriggerThreshold) text += " " + std::to_string(v);
    text += " hold";
    for (uint32_t v : s.GateHoldThreshold) text += " " + std::to_string(v);
    return text;
}

}  // namespace

// Every text that is not a value of its field's kind refuses the whole section,
// whichever field it stands in; the record stays as it started.
TEST(ParamFileSection, AValueThatDoesNotReadRefusesTheSectionNamingAttributeAndValue) {
    const std::vector<std::string> notWhole = {"abc", "-5",  "48.7", "0x30", "",    "1e3", "4294967337",
                                               "nan", "inf", "50x",  "+40",  "4 0", "40.", "99999999999999999999"};
    const std::vector<std::string> notDecimal = {"abc", "-5", "0x30", "", "1e3", "nan", "inf", "50x",
                                                 "+2",  ".",  "1.2.3", "2,1", "1" + std::string(400, '0')};
    struct Kind {
        const char* attribute;
        const std::vector<std::string>* values;
        ParamFileProblem problem;
        const char* words;
    };
    const Kind kinds[] = {
        {"ObjectDisappearReportTime", &notWhole, ParamFileProblem::NotWholeNumber, "is not a whole number"},
        {"Gate0TriggerThreshold", &notWhole, ParamFileProblem::NotWholeNumber, "is not a whole number"},
        {"Gate15HoldThreshold", &notWhole, ParamFileProblem::NotWholeNumber, "is not a whole number"},
        {"DetectRangeMin", &notDecimal, ParamFileProblem::NotDecimal, "is not a decimal number"},
        {"DetectRangeMax", &notDecimal, ParamFileProblem::NotDecimal, "is not a decimal number"},
        {"ResponseFreq", &notDecimal, ParamFileProblem::NotDecimal, "is not a decimal number"},
        {"StateReportFreq", &notDecimal, ParamFileProblem::NotDecimal, "is not a decimal number"},
        {"RangeReportFreq", &notDecimal, ParamFileProblem::NotDecimal, "is not a decimal number"},
        {"RangeResolution", &notDecimal, ParamFileProblem::NotDecimal, "is not a decimal number"},
    };
    ParamSetting start = Defaults();
    start.ObjectDisappearReportTime = 77;
    for (const Kind& kind : kinds) {
        for (const std::string& value : *kind.values) {
            SCOPED_TRACE(std::string(kind.attribute) + "=\"" + value + "\"");
            // A good value before it does not make the section half-used.
            const std::string good =
                std::string(kind.attribute) == "RangeReportFreq" ? "StateReportFreq=\"2.0\" " : "RangeReportFreq=\"1.0\" ";
            const SectionFile file(good + kind.attribute + "=\"" + value + "\"");
            const ParamFileSection read = ReadParamFileSection(file.Section(), start);
            ASSERT_TRUE(read.Refused());
            EXPECT_EQ(read.problem, kind.problem);
            EXPECT_EQ(read.attribute, kind.attribute);
            EXPECT_EQ(read.value, value);
            EXPECT_TRUE(SameRecord(read.record, start)) << Describe(read.record);
            EXPECT_TRUE(read.notices.empty());
            const std::string text = ParamFileProblemText(read);
            const std::string quoted =
                std::string(kind.attribute) + "=\"" + (value.size() > 40 ? value.substr(0, 40) + "..." : value) + "\"";
            EXPECT_EQ(text.find(quoted + " " + kind.words), 0u) << text;
        }
    }
}

TEST(ParamFileSection, ARangeResolutionOtherThanTheSensorsGateIsRefused) {
    for (const char* value : {"0.5", "0", "0.71", "7"}) {
        const SectionFile file(std::string("RangeResolution=\"") + value + "\"");
        const ParamFileSection read = ReadParamFileSection(file.Section(), Defaults());
        EXPECT_EQ(read.problem, ParamFileProblem::OtherResolution) << value;
        EXPECT_EQ(ParamFileProblemText(read),
                  std::string("RangeResolution=\"") + value + "\" is not the sensor's range gate of 0.70 m");
    }
    for (const char* value : {"0.70", "0.7", " 0.700 "}) {
        const SectionFile file(std::string("RangeResolution=\"") + value + "\"");
        EXPECT_FALSE(ReadParamFileSection(file.Section(), Defaults()).Refused()) << value;
    }
}

// Values that read but lie outside the rules are corrected as the same values typed
// into the page are, each with the page's notice.
TEST(ParamFileSection, ValuesOutsideTheRulesAreCorrectedWithTheNoticesOfTypedValues) {
    struct Case {
        const char* attributes;
        void (*expect)(ParamSetting&);
        std::vector<std::string> notices;  // "Field[gate] key: text"
    };
    const Case cases[] = {
        {"ObjectDisappearReportTime=\"9999\"", [](ParamSetting& s) { s.ObjectDisappearReportTime = 255; },
         {"ObjectDisappearReportTime 14: The value must be at most 255"}},
        {"ObjectDisappearReportTime=\"4294967295\"", [](ParamSetting& s) { s.ObjectDisappearReportTime = 255; },
         {"ObjectDisappearReportTime 14: The value must be at most 255"}},
        {"Gate0TriggerThreshold=\"5\"", [](ParamSetting& s) { s.GateTriggerThreshold[0] = 10; },
         {"GateTriggerThreshold[0] 13: The value must be at least 10"}},
        {"Gate0TriggerThreshold=\"200\" Gate7HoldThreshold=\"0\"",
         [](ParamSetting& s) {
             s.GateTriggerThreshold[0] = 95;
             s.GateHoldThreshold[7] = 10;
         },
         {"GateTriggerThreshold[0] 14: The value must be at most 95", "GateHoldThreshold[7] 13: The value must be at least 10"}},
        // The range's end is committed first, then its start, as Save Config. does.
        {"DetectRangeMin=\"7\" DetectRangeMax=\"2\"",
         [](ParamSetting& s) {
             s.DetectRangeMin = 1.65;
             s.DetectRangeMax = 2.45;
         },
         {"DetectRangeMin 1001: The maximum range must be at least 0.35 m above the minimum",
          "DetectRangeMax 11: The maximum range must be at least 2.10 m"}},
        {"DetectRangeMax=\"4294967337\"", [](ParamSetting& s) { s.DetectRangeMax = 8.4; },
         {"DetectRangeMax 12: The maximum range must be at most 8.4 m"}},
        {"DetectRangeMin=\"48.7\"", [](ParamSetting& s) { s.DetectRangeMin = 7.7; },
         {"DetectRangeMin 1001: The maximum range must be at least 0.35 m above the minimum",
          "DetectRangeMin 12: The minimum range must be at most 7.70 m"}},
        {"StateReportFreq=\"3.0\" RangeReportFreq=\"2.0\" ResponseFreq=\"0.7\"",
         [](ParamSetting& s) {
             s.StateReportFreq = 2.0;
             s.RangeReportFreq = 2.0;
         },
         {"StateReportFreq 0: 3.0 Hz is not offered, 2.0 Hz is used",
          "ResponseFreq 0: 0.7 Hz is not offered, 0.5 Hz is used"}},
        {"RangeReportFreq=\"4294967337\"",
         [](ParamSetting& s) {
             s.RangeReportFreq = 8.0;
             s.StateReportFreq = 8.0;
         },
         {"RangeReportFreq 0: 4294967337.0 Hz is not offered, 8.0 Hz is used",
          "StateReportFreq 0: 4.0 Hz is not offered, 8.0 Hz is used"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attributes);
        const SectionFile file(c.attributes);
        const ParamFileSection read = ReadParamFileSection(file.Section(), Defaults());
        ASSERT_FALSE(read.Refused()) << ParamFileProblemText(read);
        ParamSetting expected = Defaults();
        c.expect(expected);
        EXPECT_TRUE(SameRecord(read.record, expected)) << Describe(read.record) << "\nexpected\n" << Describe(expected);
        std::vector<std::string> notices;
        for (const ParamNotice& n : read.notices)
            notices.push_back(n.field + (n.gate >= 0 ? "[" + std::to_string(n.gate) + "]" : "") + " " +
                              std::to_string(n.key) + ": " + n.text);
        EXPECT_EQ(notices, c.notices);
    }
}

// What the tool saves loads back as it was, without a notice: the defaults, a
// record read from a sensor (distances gate x 0.7) and the edges of every rule.
TEST(ParamFileSection, ASavedRecordLoadsUnchanged) {
    std::vector<ParamSetting> records(5, Defaults());
    records[1].DetectRangeMin = 3 * 0.7;  // 2.0999999999999996, saved as "2.10"
    records[1].DetectRangeMax = 7 * 0.7;
    records[1].ResponseFreq = 1.0;
    records[1].StateReportFreq = 6.0;
    records[1].RangeReportFreq = 1.5;
    records[2].DetectRangeMin = 7.35;
    records[2].ObjectDisappearReportTime = 255;
    for (uint32_t& v : records[2].GateTriggerThreshold) v = 95;
    for (uint32_t& v : records[2].GateHoldThreshold) v = 10;
    records[3].DetectRangeMax = 0.7;
    records[3].ObjectDisappearReportTime = 10;
    records[3].StateReportFreq = 8.0;
    records[3].RangeReportFreq = 8.0;
    // A span of exactly half a gate, as the span rule sets it.
    records[4].DetectRangeMin = 3.99;
    records[4].DetectRangeMax = 4.34;
    for (const ParamSetting& record : records) {
        XMLParser doc;
        const std::string xml = "<AppConfig><ParamSetting/></AppConfig>";
        ASSERT_TRUE(doc.LoadBuffer(xml.data(), xml.size()));
        XMLNode section = doc.FindElement("AppConfig").FindChild("ParamSetting");
        SaveParamSetting(section, record);
        const ParamFileSection read = ReadParamFileSection(section, Defaults());
        ASSERT_FALSE(read.Refused()) << ParamFileProblemText(read);
        EXPECT_TRUE(read.notices.empty()) << read.notices.front().field << ": " << read.notices.front().text;
        // The distances as the file writes them: two decimals.
        ParamSetting expected = record;
        expected.DetectRangeMin = std::stod(*section.GetAttributeText("DetectRangeMin"));
        expected.DetectRangeMax = std::stod(*section.GetAttributeText("DetectRangeMax"));
        EXPECT_TRUE(SameRecord(read.record, expected)) << Describe(read.record);
        EXPECT_EQ(GateOfDistance(read.record.DetectRangeMin, 0.7), GateOfDistance(record.DetectRangeMin, 0.7));
    }
}
