// params check | read | write | reset | save | load
#include <array>
#include <chrono>
#include <cmath>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>

#include "SimFixture.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"

namespace {

struct Notice {
    std::string field;
    int key;
    std::string text;
};

std::vector<Notice> NoticesOf(const Json& result) {
    std::vector<Notice> notices;
    for (const Json& item : result.at("notices")) {
        notices.push_back({item.at("field").get<std::string>(), item.at("key").get<int>(),
                           item.at("text").get<std::string>()});
    }
    return notices;
}

void ExpectNotices(const std::vector<Notice>& actual, const std::vector<Notice>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].field, expected[i].field) << "notice " << i;
        EXPECT_EQ(actual[i].key, expected[i].key) << "notice " << i;
        EXPECT_EQ(actual[i].text, expected[i].text) << "notice " << i;
    }
}

// --- params check: the page's corrections without a sensor ---

struct CheckCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, double>> fields;  // expected record values
    std::vector<Notice> notices;                          // in the order the rules produced them
};

// Test listings show the case's name instead of its bytes.
void PrintTo(const CheckCase& c, std::ostream* out) { *out << c.name; }

class CliParamsCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CliParamsCheckTest, CorrectsLikeTheParameterPage) {
    std::vector<std::string> args = {"params", "check", "--json"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const CliResult result = RunCli(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    Json output;
    ASSERT_TRUE(ParseJson(result.out, output)) << result.out;
    for (const auto& [field, value] : GetParam().fields) {
        ASSERT_TRUE(output.at("record").at(field).is_number()) << field;
        EXPECT_NEAR(output.at("record").at(field).get<double>(), value, 1e-9) << field;
    }
    ExpectNotices(NoticesOf(output), GetParam().notices);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CliParamsCheckTest,
    ::testing::Values(
        CheckCase{"Defaults", {}, {{"DetectRangeMin", 0.0}, {"DetectRangeMax", 8.4}, {"StateReportFreq", 4.0}}, {}},
        CheckCase{"MinClampedBelowLastGate",
                  {"--min", "7.9"},
                  {{"DetectRangeMin", 7.7}, {"DetectRangeMax", 8.4}},
                  {{"DetectRangeMin", 12, "The minimum range must be at most 7.70 m"}}},
        CheckCase{"MinIntoTheGateOfMax",
                  {"--max", "8.3", "--min", "7.8"},
                  {{"DetectRangeMin", 7.35}, {"DetectRangeMax", 8.3}},
                  {{"DetectRangeMin", 12, "The minimum range must be at most 7.70 m"},
                   {"DetectRangeMin", 12, "The minimum range must be at most 7.35 m"}}},
        // The same two values in the other order: the maximum now lands in the gate of the minimum.
        CheckCase{"OrderOfOptionsMatters",
                  {"--min", "7.8", "--max", "8.3"},
                  {{"DetectRangeMin", 6.65}, {"DetectRangeMax", 8.3}},
                  {{"DetectRangeMin", 12, "The minimum range must be at most 7.70 m"},
                   {"DetectRangeMin", 12, "The minimum range must be at most 7.00 m"}}},
        CheckCase{"MaxIntoTheGateOfMin",
                  {"--min", "0.8", "--max", "1.0"},
                  {{"DetectRangeMin", 0.0}, {"DetectRangeMax", 1.0}},
                  {{"DetectRangeMin", 12, "The minimum range must be at most 0.00 m"}}},
        CheckCase{"MaxAboveLimit", {"--max", "9"}, {{"DetectRangeMax", 8.4}}, {{"DetectRangeMax", 12, "The maximum range must be at most 8.4 m"}}},
        CheckCase{"NegativeMin", {"--min", "-1"}, {{"DetectRangeMin", 0.0}}, {{"DetectRangeMin", 11, "The minimum range must be at least 0.0 m"}}},
        CheckCase{"SpanTooSmall",
                  {"--max", "3", "--min", "2.7"},
                  {{"DetectRangeMin", 2.7}, {"DetectRangeMax", 3.05}},
                  {{"DetectRangeMax", 1001, "The maximum range must be at least 0.35 m above the minimum"}}},
        CheckCase{"StateFrequencyMustBeAMultiple",
                  {"--range-freq", "3", "--state-freq", "4"},
                  {{"RangeReportFreq", 3.0}, {"StateReportFreq", 3.0}},
                  // Snapped when the range frequency rebuilds the list and again for the
                  // option itself: one correction, said once.
                  {{"StateReportFreq", 0, "4.0 Hz is not offered, 3.0 Hz is used"}}},
        CheckCase{"NewRangeFrequencyRebuildsTheStateList",
                  {"--state-freq", "3", "--range-freq", "2"},
                  {{"RangeReportFreq", 2.0}, {"StateReportFreq", 2.0}},
                  {{"StateReportFreq", 0, "3.0 Hz is not offered, 2.0 Hz is used"}}},
        CheckCase{"RangeFrequencyOutsideTheList",
                  {"--range-freq", "9.3"},
                  {{"RangeReportFreq", 8.0}, {"StateReportFreq", 8.0}},
                  {{"RangeReportFreq", 0, "9.3 Hz is not offered, 8.0 Hz is used"},
                   {"StateReportFreq", 0, "4.0 Hz is not offered, 8.0 Hz is used"}}},
        CheckCase{"AbsenceDelayLimits",
                  {"--absence", "300", "--response", "FAST"},
                  {{"ObjectDisappearReportTime", 255}, {"ResponseFreq", 1.0}},
                  {{"ObjectDisappearReportTime", 14, "The value must be at most 255"}}}),
    [](const ::testing::TestParamInfo<CheckCase>& test) { return std::string(test.param.name); });

TEST(CliParamsCheck, ThresholdListsAreForcedIntoTheirLimitsPerGate) {
    const CliResult result = RunCli({"params", "check", "--json", "--trigger", "9,10,95,96,20,20,20,20,20,20,20,20,20,20,20,20",
                                     "--hold", "30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 1000"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    Json output;
    ASSERT_TRUE(ParseJson(result.out, output)) << result.out;
    const std::vector<double> trigger = output.at("record").at("GateTriggerThreshold").get<std::vector<double>>();
    ASSERT_EQ(trigger.size(), 16u);
    EXPECT_EQ(trigger[0], 10);
    EXPECT_EQ(trigger[1], 10);
    EXPECT_EQ(trigger[2], 95);
    EXPECT_EQ(trigger[3], 95);
    EXPECT_EQ(output.at("record").at("GateHoldThreshold").get<std::vector<double>>().at(15), 95);
    const Json& notices = output.at("notices");
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].at("gate").get<double>(), 0);
    EXPECT_EQ(notices[0].at("key").get<double>(), 13);
    EXPECT_EQ(notices[0].at("text").get<std::string>(), "The value must be at least 10");
    EXPECT_EQ(notices[1].at("gate").get<double>(), 3);
    EXPECT_EQ(notices[1].at("text").get<std::string>(), "The value must be at most 95");
    EXPECT_EQ(notices[2].at("field").get<std::string>(), "GateHoldThreshold");
    EXPECT_EQ(notices[2].at("gate").get<double>(), 15);
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// The record goes to standard output, each correction once to standard error: the
// state frequency is snapped when the range frequency changes and again when 4 Hz is
// chosen, which is one correction.
TEST(CliParamsCheck, TextOutputPrintsTheRecordAndEachCorrectionOnceOnStandardError) {
    const struct {
        std::vector<std::string> options;
        std::string recordLine;
        std::string notice;
    } cases[] = {
        {{"--max", "9"}, "DetectRangeMax             8.40 m",
         "DetectRangeMax: The maximum range must be at most 8.4 m (key 12)"},
        {{"--range-freq", "3", "--state-freq", "4"}, "StateReportFreq            3.0 Hz",
         "StateReportFreq: 4.0 Hz is not offered, 3.0 Hz is used"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notice);
        std::vector<std::string> args = {"params", "check"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliResult result = RunCli(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(Contains(result.out, c.recordLine));
        EXPECT_EQ(Occurrences(result.out, c.notice), 0u) << result.out;
        EXPECT_EQ(Occurrences(result.err, c.notice), 1u) << result.err;
    }
}

TEST(CliParamsCheck, StartsFromTheConfigurationSectionAsThePageShowsIt) {
    TempDir dir;
    const std::string config = dir.File("appConfig.xml");
    // Values as a hand-edited file may hold them: the lists and radio buttons of the
    // page snap them, and the edits' limits apply as to typed values.
    WriteWholeFile(config,
                   "<?xml version=\"1.0\"?>\n<AppConfig Language=\"ENG\"><ParamSetting DetectRangeMin=\"2.10\" "
                   "DetectRangeMax=\"4.90\" ResponseFreq=\"0.7\" StateReportFreq=\"3.0\" RangeReportFreq=\"2.0\" "
                   "ObjectDisappearReportTime=\"5\" Gate3TriggerThreshold=\"7\"/></AppConfig>");
    const CliResult result = RunCli({"params", "check", "--json", "--config", config});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    Json output;
    ASSERT_TRUE(ParseJson(result.out, output)) << result.out;
    const Json& record = output.at("record");
    EXPECT_NEAR(record.at("DetectRangeMin").get<double>(), 2.1, 1e-12);
    EXPECT_NEAR(record.at("DetectRangeMax").get<double>(), 4.9, 1e-12);
    EXPECT_EQ(record.at("ResponseFreq").get<double>(), 0.5);
    EXPECT_EQ(record.at("StateReportFreq").get<double>(), 2.0);
    EXPECT_EQ(record.at("ObjectDisappearReportTime").get<double>(), 10);
    EXPECT_EQ(record.at("GateTriggerThreshold").get<std::vector<double>>().at(3), 10);
    ExpectNotices(NoticesOf(output), {{"StateReportFreq", 0, "3.0 Hz is not offered, 2.0 Hz is used"},
                                      {"ResponseFreq", 0, "0.7 Hz is not offered, 0.5 Hz is used"},
                                      {"ObjectDisappearReportTime", 13, "The value must be at least 10"},
                                      {"GateTriggerThreshold", 13, "The value must be at least 10"}});

    WriteWholeFile(config, "<AppConfig><ObjectInfo/></AppConfig>");
    const CliResult noSection = RunCli({"params", "check", "--config", config});
    EXPECT_EQ(noSection.exitCode, 1);
    EXPECT_TRUE(Contains(noSection.err, "has no ParamSetting section"));
}

// --- with a sensor ---

class CliParamsDeviceTest : public CliSimTest {
protected:
    void SetUp() override { ASSERT_TRUE(StartSim()); }

    [[nodiscard]] uint32_t Config(uint16_t key) const { return sim_->ConfigValue(key).value_or(0xFFFFFFFF); }
};

TEST_F(CliParamsDeviceTest, ReadPrintsTheSensorsRecordWithItsFieldNames) {
    const CliResult json = RunOnSim({"params", "read", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    Json record;
    ASSERT_TRUE(ParseJson(json.out, record)) << json.out;
    // The format's name and version first: the output is a profile params load takes.
    EXPECT_EQ(Keys(record), (std::vector<std::string>{"format", "version", "RangeResolution", "DetectRangeMin", "DetectRangeMax",
                                                       "ResponseFreq", "StateReportFreq", "RangeReportFreq",
                                                       "ObjectDisappearReportTime", "GateTriggerThreshold",
                                                       "GateHoldThreshold"}));
    EXPECT_NEAR(record.at("DetectRangeMax").get<double>(), Config(5) * 0.7, 1e-9);
    EXPECT_EQ(record.at("ObjectDisappearReportTime").get<double>(), Config(6));
    const std::array<uint32_t, 16> trigger = sim_->GateTable(114);
    const std::array<uint32_t, 16> hold = sim_->GateTable(118);
    const std::vector<double> readTrigger = record.at("GateTriggerThreshold").get<std::vector<double>>();
    const std::vector<double> readHold = record.at("GateHoldThreshold").get<std::vector<double>>();
    ASSERT_EQ(readTrigger.size(), 16u);
    ASSERT_EQ(readHold.size(), 16u);
    for (int g = 0; g < 16; ++g) {
        EXPECT_EQ(readTrigger[g], trigger[g]) << g;
        EXPECT_EQ(readHold[g], hold[g]) << g;
    }

    const CliResult text = RunOnSim({"params", "read"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(Contains(text.out, "ResponseFreq               0.5 Hz (Normal)"));
    EXPECT_TRUE(Contains(text.out, "GateTriggerThreshold"));

    // -v shows the operations' debug lines.
    const CliResult verbose = RunOnSim({"-v", "params", "read"});
    ASSERT_EQ(verbose.exitCode, 0) << verbose.err;
    EXPECT_TRUE(Contains(verbose.err, "RadarOperatorConfig_ReadHoldThreshold, result: Success"));
}

// The sensor's hold table comes back implausible twice: nothing is printed as its
// record, the reason is, and the exit code says the operation failed.
TEST_F(CliParamsDeviceTest, AReplyImplausibleTwiceFailsTheReadAndSaysWhich) {
    VirtualSensorOptions options = FastOptions();
    options.garbleReplyCommand = PARAM_ID_READ_HOLD_THRESHOLD;
    options.garbleReplyCount = 2;
    ASSERT_TRUE(StartSim(options));
    const CliResult result = RunOnSim({"-v", "params", "read", "--json"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(Contains(result.err, "Failed to read parameters"));
    EXPECT_TRUE(Contains(result.err, "The sensor's reply was implausible twice (malformed reply, 0xA004): "
                                     "GateHoldThreshold[15] is 2147483676, expected 0-100."));
    EXPECT_TRUE(Contains(result.err, "RadarOperatorConfig_ReadHoldThreshold, implausible reply (GateHoldThreshold[15] "
                                     "is 2147483676, expected 0-100), asking again"));
}

TEST_F(CliParamsDeviceTest, WriteCommitsOptionsInOrderPrintsCorrectionsAndVerifies) {
    const CliResult result =
        RunOnSim({"params", "write", "--max", "8.3", "--min", "7.8", "--range-freq", "1", "--state-freq", "3",
                  "--response", "fast", "--absence", "60", "--trigger",
                  "50,45,40,35,30,30,30,30,30,30,30,30,30,30,30,99", "--verify"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(Contains(result.out, "The parameters were written to the sensor."));
    EXPECT_TRUE(Contains(result.err, "DetectRangeMin: The minimum range must be at most 7.70 m (key 12)"));
    EXPECT_TRUE(Contains(result.err, "DetectRangeMin: The minimum range must be at most 7.35 m (key 12)"));
    EXPECT_TRUE(Contains(result.err, "GateTriggerThreshold[15]: The value must be at most 95 (key 14)"));
    EXPECT_TRUE(Contains(result.err, "Parameters verified."));
    EXPECT_EQ(Config(10), 10u);  // 7.35 m
    EXPECT_EQ(Config(5), 11u);   // 8.3 m
    EXPECT_EQ(Config(11), 10u);  // fast
    EXPECT_EQ(Config(2), 30u);
    EXPECT_EQ(Config(12), 10u);
    EXPECT_EQ(Config(6), 60u);
    EXPECT_EQ(sim_->GateTable(114)[0], 50u);
    EXPECT_EQ(sim_->GateTable(114)[15], 95u);
}

// A range between two gates is stored as the gate below: --verify says so in its
// JSON and on standard error, and still passes (the sensor holds what was sent).
TEST_F(CliParamsDeviceTest, VerifyReportsWhatTheSensorStoresWhereItDiffersFromTheRequest) {
    const CliResult result = RunOnSim({"params", "write", "--min", "7.35", "--max", "8.05", "--verify", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    Json output;
    ASSERT_TRUE(ParseJson(result.out, output)) << result.out;
    const Json& stored = output.at("stored");
    ASSERT_TRUE(stored.is_array()) << result.out;
    ASSERT_EQ(stored.size(), 2u) << result.out;
    EXPECT_EQ(stored[0].at("field").get<std::string>(), "DetectRangeMin");
    EXPECT_DOUBLE_EQ(stored[0].at("written").get<double>(), 7.35);
    EXPECT_NEAR(stored[0].at("stored").get<double>(), 7.0, 1e-9);
    EXPECT_EQ(stored[0].at("text").get<std::string>(), "Stored as 7.00 m (gate 10)");
    EXPECT_EQ(stored[1].at("field").get<std::string>(), "DetectRangeMax");
    EXPECT_EQ(stored[1].at("text").get<std::string>(), "Stored as 7.70 m (gate 11)");
    EXPECT_FALSE(stored[0].contains("gate")) << "only the threshold tables name a gate index";
    EXPECT_TRUE(Contains(result.err, "DetectRangeMin: Stored as 7.00 m (gate 10)"));
    EXPECT_EQ(Config(10), 10u);

    // Values that the sensor keeps as written give an empty list, and without
    // --verify nothing is read back, so there is no list at all.
    const CliResult again = RunOnSim({"params", "write", "--min", "7", "--max", "7.7", "--verify", "--json"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    ASSERT_TRUE(ParseJson(again.out, output)) << again.out;
    EXPECT_TRUE(output.at("stored").is_array());
    EXPECT_TRUE(output.at("stored").empty()) << again.out;
    const CliResult plain = RunOnSim({"params", "write", "--min", "7.35", "--json"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    ASSERT_TRUE(ParseJson(plain.out, output)) << plain.out;
    EXPECT_FALSE(output.contains("stored"));
}

TEST_F(CliParamsDeviceTest, RewritingKeepsTheGateOfADistanceReadFromTheSensor) {
    ASSERT_EQ(RunOnSim({"params", "write", "--min", "2.1"}).exitCode, 0);
    ASSERT_EQ(Config(10), 3u);
    // The sensor answers gate 3 as 3 × 0.7 = 2.0999999999999996 m, whose own gate is 2;
    // writing it back unchanged must still send gate 3.
    const CliResult result = RunOnSim({"params", "write", "--absence", "90", "--verify"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Config(10), 3u);
    EXPECT_EQ(Config(6), 90u);
}

TEST_F(CliParamsDeviceTest, WriteStartsFromAConfigurationFileWhenGiven) {
    const std::string config = dir_.File("appConfig.xml");
    WriteWholeFile(config,
                   "<AppConfig><ParamSetting DetectRangeMin=\"1.40\" DetectRangeMax=\"4.20\" StateReportFreq=\"2.0\" "
                   "RangeReportFreq=\"1.0\" ObjectDisappearReportTime=\"30\" Gate0HoldThreshold=\"44\"/></AppConfig>");
    const CliResult result =
        RunOnSim({"params", "write", "--config", config, "--hold", "40,40,40,40,40,40,40,40,40,40,40,40,40,40,40,41"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Config(10), 2u);
    EXPECT_EQ(Config(5), 6u);
    EXPECT_EQ(Config(2), 20u);
    EXPECT_EQ(Config(12), 10u);
    EXPECT_EQ(Config(6), 30u);
    EXPECT_EQ(sim_->GateTable(118)[0], 40u);  // the option came after the file
    EXPECT_EQ(sim_->GateTable(118)[15], 41u);
}

TEST_F(CliParamsDeviceTest, UsageErrorSendsNothing) {
    const uint64_t before = sim_->Counters().commandsReceived;
    const CliResult result = RunOnSim({"params", "write", "--min", "1.4", "--hold", "40,40"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(Contains(result.err, "--hold: expected 16 comma-separated whole numbers"));
    EXPECT_EQ(sim_->Counters().commandsReceived, before);
}

TEST_F(CliParamsDeviceTest, ResetWritesTheFactoryValuesAndTables) {
    ASSERT_EQ(RunOnSim({"params", "write", "--min", "2.1", "--absence", "90",
                        "--hold", "60,60,60,60,60,60,60,60,60,60,60,60,60,60,60,60"}).exitCode, 0);
    const CliResult result = RunOnSim({"params", "reset"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(Contains(result.out, "The sensor was reset to its factory parameters and threshold tables."));

    const std::vector<std::pair<uint16_t, uint32_t>> config = {
        {10, 0}, {5, 12}, {11, 5}, {2, 40}, {12, 5}, {6, 40},                   // detection defaults
        {1, 4},  {3, 2},  {4, 2},  {7, 6},  {8, 1},  {9, 1}, {13, 120}};        // private configuration
    for (const auto& [key, value] : config) EXPECT_EQ(Config(key), value) << "key " << key;
    const std::array<uint32_t, 16> trigger = {48, 42, 36, 34, 32, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31};
    const std::array<uint32_t, 16> appear = {51, 50, 30, 28, 25, 25, 25, 25, 25, 25, 25, 25, 25, 22, 22, 22};
    const std::array<uint32_t, 16> motion = {52, 49, 26, 25, 25, 21, 22, 24, 23, 22, 21, 21, 20, 21, 21, 20};
    EXPECT_EQ(sim_->GateTable(114), trigger);
    EXPECT_EQ(sim_->GateTable(116), appear);
    // The motion table goes out under the hold table's id and replaces it.
    EXPECT_EQ(sim_->GateTable(118), motion);
}

TEST_F(CliParamsDeviceTest, SaveUpdatesOnlyTheSectionAndLoadWritesItBack) {
    ASSERT_EQ(RunOnSim({"params", "write", "--min", "2.1", "--max", "4.9", "--absence", "77"}).exitCode, 0);
    const std::string config = dir_.File("appConfig.xml");
    WriteWholeFile(config,
                   "<?xml version=\"1.0\"?>\n<AppConfig Language=\"CHS\"><ObjectInfo CurrentLPValueMA=\"0.00800\"/>"
                   "<ParamSetting DetectRangeMin=\"0.00\" Extra=\"kept\"/></AppConfig>");
    const CliResult save = RunOnSim({"params", "save", "--config", config});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    const std::string saved = ReadWholeFile(config);
    EXPECT_TRUE(Contains(saved, "DetectRangeMin=\"2.10\""));
    EXPECT_TRUE(Contains(saved, "DetectRangeMax=\"4.90\""));
    EXPECT_TRUE(Contains(saved, "ObjectDisappearReportTime=\"77\""));
    EXPECT_TRUE(Contains(saved, "Gate15HoldThreshold="));
    EXPECT_TRUE(Contains(saved, "Language=\"CHS\""));
    EXPECT_TRUE(Contains(saved, "CurrentLPValueMA=\"0.00800\""));
    EXPECT_TRUE(Contains(saved, "Extra=\"kept\""));

    ASSERT_EQ(RunOnSim({"params", "reset"}).exitCode, 0);
    ASSERT_EQ(Config(10), 0u);
    const CliResult load = RunOnSim({"params", "load", "--config", config, "--verify"});
    ASSERT_EQ(load.exitCode, 0) << load.err;
    EXPECT_EQ(Config(10), 3u);
    EXPECT_EQ(Config(5), 7u);
    EXPECT_EQ(Config(6), 77u);
}

TEST_F(CliParamsDeviceTest, SaveCreatesAMissingFileAndRefusesADamagedOne) {
    const std::string fresh = dir_.File("new.xml");
    ASSERT_EQ(RunOnSim({"params", "save", "--config", fresh}).exitCode, 0);
    EXPECT_TRUE(Contains(ReadWholeFile(fresh), "<ParamSetting RangeResolution=\"0.70\""));

    const std::string damaged = dir_.File("damaged.xml");
    const std::string content = "<AppConfig><ParamSetting DetectRangeMin=\"1.40\"";
    WriteWholeFile(damaged, content);
    const CliResult result = RunOnSim({"params", "save", "--config", damaged});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "Cannot read the configuration file"));
    EXPECT_EQ(ReadWholeFile(damaged), content);
}

TEST(CliParamsCheck, AConfigurationThatCannotBeReadSaysWhyAtOnce) {
    TempDir dir;
    const std::string fifo = dir.File("fifo.xml");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string deep = "<AppConfig>";
    for (int i = 0; i < 30000; ++i) deep += "<a>";
    ASSERT_TRUE(WriteWholeFile(dir.File("deep.xml"), deep));
    ASSERT_TRUE(WriteWholeFile(dir.File("broken.xml"), "<AppConfig>\n<ParamSetting\n  DetectRangeMax=\"7\"\n</AppConfig>"));
    const struct {
        std::string path;
        std::string why;
    } cases[] = {
        {fifo, "not a regular file"},
        {dir.File("deep.xml"), "elements nested deeper than 64 levels"},
        {dir.File("broken.xml"), "not well-formed at line 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto started = std::chrono::steady_clock::now();
        const CliResult result = RunCli({"params", "check", "--config", c.path}, 20000);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(Contains(result.err, "Cannot read the configuration file " + c.path + ": " + c.why));
        EXPECT_LT(took, std::chrono::seconds(5)) << "refused at once, not after waiting";
    }
}


// params reset --json on many ports, as on every command that takes many ports: one
// object per port with what the sensor holds after the reset; a port that fails has
// its own object, and the exit code and the summary count it.
TEST(CliParamsReset, JsonOnManyPortsPrintsOneObjectPerPort) {
    TempDir dir;
    std::array<SimulatedSensor, 2> sensors;
    std::vector<std::string> args = {"params", "reset", "--json"};
    for (size_t i = 0; i < sensors.size(); ++i) {
        VirtualSensorOptions options;
        options.resetDelayMs = 50;
        options.linkPath = dir.File("sensor-" + std::to_string(i));
        ASSERT_TRUE(sensors[i].Start(options));
        args.insert(args.end(), {"--port", options.linkPath});
    }
    const std::string missing = dir.File("missing");
    args.insert(args.end(), {"--port", missing});
    const CliResult result = RunCli(args);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "3 ports: 2 succeeded, 1 failed"));
    const std::vector<Json> objects = ParseJsonLines(result.out);
    ASSERT_EQ(objects.size(), 3u) << result.out;
    std::vector<uint32_t> motion(MOTION_THRESHOLD_TABLE, MOTION_THRESHOLD_TABLE + PARAM_GATE_COUNT);
    int seen = 0;
    for (const Json& object : objects) {
        const std::string port = object.at("port").get<std::string>();
        SCOPED_TRACE(port);
        EXPECT_EQ(Keys(object), (std::vector<std::string>{"format", "port", "ok", "exit_code", "result", "errors"}));
        if (port == missing) {
            EXPECT_FALSE(object.at("ok").get<bool>());
            EXPECT_EQ(object.at("exit_code").get<int>(), 3);
            ASSERT_FALSE(object.at("errors").empty());
            EXPECT_TRUE(Contains(object.at("errors")[0].get<std::string>(), "does not exist"));
            continue;
        }
        ++seen;
        EXPECT_TRUE(object.at("ok").get<bool>());
        EXPECT_EQ(object.at("exit_code").get<int>(), 0);
        EXPECT_TRUE(object.at("result").at("reset").get<bool>());
        EXPECT_EQ(object.at("result").at("record").at("GateHoldThreshold").get<std::vector<uint32_t>>(), motion);
        EXPECT_TRUE(object.at("errors").empty());
    }
    EXPECT_EQ(seen, 2);
}

}  // namespace
