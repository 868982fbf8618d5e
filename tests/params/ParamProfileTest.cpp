// Parameter profiles: the text, what refuses one, applying one under the rules of
// typed values, and comparing two.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/XMLParser.h"
#include "params/ParamFileSection.h"
#include "params/ParamProfile.h"

namespace {

ParamSetting ProfileDefaults() {
    ParamSetting s;
    InitParamSetting(s);
    return s;
}

// A record as read from a sensor: distances are gate x 0.7.
ParamSetting ProfileSensorRecord() {
    ParamSetting s = ProfileDefaults();
    s.DetectRangeMin = 3 * 0.7;
    s.DetectRangeMax = 12 * 0.7;  // 8.399999999999999
    s.RangeReportFreq = 2.0;
    s.StateReportFreq = 4.0;
    s.ObjectDisappearReportTime = 120;
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
        s.GateTriggerThreshold[g] = 40 + g;
        s.GateHoldThreshold[g] = 20 + g;
    }
    return s;
}

std::string ProfileJson(const std::string& members) {
    return std::string(R"({"format": "palo520g-profile", "version": 1)") + (members.empty() ? "" : ", ") + members +
           "}";
}

std::string ProfileNoticeKeys(const std::vector<ParamNotice>& notices) {
    std::string text;
    for (const ParamNotice& n : notices)
        text += n.field + (n.gate >= 0 ? "[" + std::to_string(n.gate) + "]" : "") + ":" + std::to_string(n.key) +
                ":" + n.text + "\n";
    return text;
}

}  // namespace

TEST(ParamProfile, ASensorsRecordRoundTripsThroughItsTextOneKeyALine) {
    const ParamSetting record = ProfileSensorRecord();
    ParamProfile saved = ProfileOfRecord(record, "v1.0.2", "P520G-\"7\"");
    saved.notes = "line 3, ceiling mount";
    const std::string text = ProfileText(saved);

    // Readable and diffable: one member a line, the distance as the page shows it.
    EXPECT_NE(text.find("\n  \"DetectRangeMax\": 8.4,\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  \"GateTriggerThreshold\": [40, 41, 42,"), std::string::npos) << text;
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 2u + 5u + PROFILE_FIELD_COUNT) << text;

    const ProfileRead read = ReadProfileText(text);
    ASSERT_FALSE(read.Refused()) << ProfileProblemText(read);
    for (bool has : read.profile.has) EXPECT_TRUE(has);
    EXPECT_EQ(read.profile.firmwareVersion, "v1.0.2");
    EXPECT_EQ(read.profile.serialNumber, "P520G-\"7\"");
    EXPECT_EQ(read.profile.notes, "line 3, ceiling mount");
    // Read back, it is the same parameter set as the sensor's, and applies without a correction.
    EXPECT_TRUE(CompareProfiles(ProfileOfRecord(record), read.profile).empty());
    const ProfileApplication applied = ApplyProfile(read.profile, ProfileDefaults());
    EXPECT_EQ(ProfileNoticeKeys(applied.notices), "");
    EXPECT_EQ(GateOfDistance(applied.record.DetectRangeMax, 0.7), 12);
    EXPECT_EQ(GateOfDistance(applied.record.DetectRangeMin, 0.7), 3);
    EXPECT_EQ(applied.record.GateHoldThreshold[15], 35u);
}

// What refuses a whole profile, naming the key where there is one.
TEST(ParamProfile, ATextThatIsNoProfileOrHoldsAValueOfTheWrongKindIsRefusedNamingTheKey) {
    struct Case {
        std::string text;
        ProfileProblem problem;
        std::string key;
        std::string says;  // part of the sentence shown
    };
    const std::vector<Case> cases = {
        {R"({"format": "palo520g-profile", "version": 1,)", ProfileProblem::NotJson, "", "line 1"},
        {"<AppConfig/>", ProfileProblem::NotJson, "", "not JSON"},
        {"[1, 2]", ProfileProblem::NotObject, "", "not a JSON object"},
        {R"({"version": 1, "DetectRangeMax": 5})", ProfileProblem::NoFormat, "", "\"format\""},
        {R"({"format": "palo520g-record", "version": 1})", ProfileProblem::OtherFormat, "format", "palo520g-record"},
        {R"({"format": "palo520g-profile"})", ProfileProblem::BadVersion, "version", "null"},
        {R"({"format": "palo520g-profile", "version": "1"})", ProfileProblem::BadVersion, "version", "\"1\""},
        {R"({"format": "palo520g-profile", "version": 2, "Whatever": []})", ProfileProblem::NewerVersion, "version",
         "up to version 1"},
        {ProfileJson(R"("DetectRangeMx": 5)"), ProfileProblem::UnknownKey, "DetectRangeMx", "DetectRangeMx"},
        {ProfileJson(R"("notes": 5)"), ProfileProblem::NotText, "notes", "not a text"},
        {ProfileJson(R"("DetectRangeMax": 4.9, "notes": "", "DetectRangeMax": 8.4)"), ProfileProblem::DuplicateKey,
         "DetectRangeMax", "given twice"},
        {ProfileJson(R"("notes": {"a": 1, "a": 2})"), ProfileProblem::NotText, "notes", "not a text"},
        {ProfileJson(R"("DetectRangeMin": "abc")"), ProfileProblem::NotNumber, "DetectRangeMin", "\"abc\""},
        {ProfileJson(R"("DetectRangeMax": -1.4)"), ProfileProblem::NotNumber, "DetectRangeMax", "-1.4"},
        {ProfileJson(R"("StateReportFreq": null)"), ProfileProblem::NotNumber, "StateReportFreq", "null"},
        {ProfileJson(R"("ObjectDisappearReportTime": 40.5)"), ProfileProblem::NotWholeNumber,
         "ObjectDisappearReportTime", "40.5"},
        {ProfileJson(R"("ObjectDisappearReportTime": 4294967296)"), ProfileProblem::NotWholeNumber,
         "ObjectDisappearReportTime", "4294967296"},
        {ProfileJson(R"("GateHoldThreshold": [1, 2, 3])"), ProfileProblem::NotTable, "GateHoldThreshold", "[1,2,3]"},
        {ProfileJson(R"("GateTriggerThreshold": [48,42,36,34,32,31,31,31,31,31,31,31,31,31,31,"31"])"),
         ProfileProblem::NotTable, "GateTriggerThreshold", "..."},
        {ProfileJson(R"("GateTriggerThreshold": 48)"), ProfileProblem::NotTable, "GateTriggerThreshold", "48"},
        {ProfileJson(R"("RangeResolution": 0.75)"), ProfileProblem::OtherResolution, "RangeResolution", "0.75"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ProfileRead read = ReadProfileText(c.text);
        EXPECT_EQ(read.problem, c.problem);
        EXPECT_EQ(read.key, c.key);
        const std::string said = ProfileProblemText(read);
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        if (!c.key.empty() && c.problem != ProfileProblem::BadVersion && c.problem != ProfileProblem::NewerVersion) {
            EXPECT_NE(said.find(c.key), std::string::npos) << said;
        }
    }
}

// A profile's values get exactly the corrections the same values get in a
// parameter file (and so in params write); the fields it leaves keep the start's values.
TEST(ParamProfile, AppliedValuesGetTheCorrectionsOfTypedValuesAndOnlyTheGivenFieldsChange) {
    struct Case {
        std::string members;     // JSON members of the profile
        std::string attributes;  // the same values as ParamSetting attributes
    };
    const std::vector<Case> cases = {
        {R"("ObjectDisappearReportTime": 300)", R"(ObjectDisappearReportTime="300")"},
        {R"("ObjectDisappearReportTime": 3)", R"(ObjectDisappearReportTime="3")"},
        {R"("DetectRangeMin": 7.9, "DetectRangeMax": 8.3)", R"(DetectRangeMin="7.9" DetectRangeMax="8.3")"},
        {R"("DetectRangeMin": 9)", R"(DetectRangeMin="9")"},
        {R"("RangeReportFreq": 3, "StateReportFreq": 4)", R"(RangeReportFreq="3" StateReportFreq="4")"},
        {R"("ResponseFreq": 0.7)", R"(ResponseFreq="0.7")"},
        {R"("GateHoldThreshold": [5,42,33,32,28,28,28,28,28,28,28,28,28,28,28,200])",
         R"(Gate0HoldThreshold="5" Gate15HoldThreshold="200")"},
    };
    const ParamSetting start = ProfileDefaults();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.members);
        const ProfileRead read = ReadProfileText(ProfileJson(c.members));
        ASSERT_FALSE(read.Refused()) << ProfileProblemText(read);
        const ProfileApplication applied = ApplyProfile(read.profile, start);

        XMLParser doc;
        const std::string xml = "<AppConfig><ParamSetting " + c.attributes + "/></AppConfig>";
        ASSERT_TRUE(doc.LoadBuffer(xml.data(), xml.size()));
        const ParamFileSection file = ReadParamFileSection(doc.FindElement("AppConfig").FindChild("ParamSetting"), start);
        ASSERT_FALSE(file.Refused());
        EXPECT_FALSE(applied.notices.empty());
        EXPECT_EQ(ProfileNoticeKeys(applied.notices), ProfileNoticeKeys(file.notices));
        EXPECT_TRUE(CompareProfiles(ProfileOfRecord(applied.record), ProfileOfRecord(file.record)).empty());
    }

    // Only the given keys change: a start far from the defaults keeps everything else.
    const ParamSetting sensor = ProfileSensorRecord();
    const ProfileRead partial = ReadProfileText(ProfileJson(R"("ObjectDisappearReportTime": 60)"));
    ASSERT_FALSE(partial.Refused());
    const ProfileApplication applied = ApplyProfile(partial.profile, sensor);
    const std::vector<ProfileDifference> changed = CompareProfiles(ProfileOfRecord(sensor), ProfileOfRecord(applied.record));
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].field, ProfileField::ObjectDisappearReportTime);
    EXPECT_EQ(changed[0].b, 60.0);
    EXPECT_EQ(ProfileNoticeKeys(applied.notices), "");
}

TEST(ParamProfile, ComparingListsOnlyWhatDiffersGateByGate) {
    const ParamSetting record = ProfileSensorRecord();
    const auto file = [](const std::string& members) {
        const ProfileRead read = ReadProfileText(ProfileJson(members));
        EXPECT_FALSE(read.Refused()) << ProfileProblemText(read);
        return read.profile;
    };
    const auto names = [](const std::vector<ProfileDifference>& differences) {
        std::string text;
        for (const ProfileDifference& d : differences) {
            text += ProfileDifferenceName(d) + "=" + (d.a ? ProfileValueText(d.field, *d.a) : "-") + "|" +
                    (d.b ? ProfileValueText(d.field, *d.b) : "-") + " ";
        }
        return text;
    };
    ParamSetting oneGate = record;
    oneGate.GateHoldThreshold[7] = 50;
    ParamSetting typed = record;
    typed.DetectRangeMax = 8.4;  // as typed, a hair from 12 x 0.7

    struct Case {
        const char* what;
        ParamProfile a;
        ParamProfile b;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"equal sensors", ProfileOfRecord(record), ProfileOfRecord(typed), ""},
        {"one gate", ProfileOfRecord(record), ProfileOfRecord(oneGate), "GateHoldThreshold[7]=27 dB|50 dB "},
        {"file sets a key the other file does not", file(R"("ObjectDisappearReportTime": 60)"),
         file(R"("DetectRangeMax": 8.4)"), "DetectRangeMax=-|8.40 m ObjectDisappearReportTime=60 s|- "},
        {"partial file against a sensor that holds it", file(R"("DetectRangeMax": 8.4, "ObjectDisappearReportTime": 120)"),
         ProfileOfRecord(record), ""},
        {"partial file against a sensor that differs", ProfileOfRecord(record),
         file(R"("DetectRangeMin": 2.8, "StateReportFreq": 4)"), "DetectRangeMin=2.10 m|2.80 m "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(names(CompareProfiles(c.a, c.b)), c.expected);
    }
}
