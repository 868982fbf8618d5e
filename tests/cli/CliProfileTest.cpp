// Parameter profiles on the command line: params save --profile, params load FILE
// (with --dry-run), params diff, against virtual sensors.
#include <array>
#include <string>
#include <vector>

#include "SimFixture.h"

namespace {

constexpr const char* HEAD = R"({"format": "palo520g-profile", "version": 1)";

std::string Profile(const std::string& members) { return std::string(HEAD) + (members.empty() ? "" : ", ") + members + "}"; }

// Lines that name a parameter (the corrections), without the other messages.
std::vector<std::string> CorrectionLines(const std::string& err) {
    std::vector<std::string> lines;
    for (const std::string& line : NonEmptyLines(err))
        if (line.find(": ") != std::string::npos && line.find("Parameters verified") == std::string::npos)
            lines.push_back(line);
    return lines;
}

}  // namespace

class CliProfileTest : public CliSimTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartSim());
        ASSERT_TRUE(other_.Start(FastOptions()));
    }

    [[nodiscard]] std::string OtherPort() const { return other_->PortPath(); }

    std::string WriteProfile(const std::string& name, const std::string& text) {
        const std::string path = dir_.File(name);
        EXPECT_TRUE(WriteWholeFile(path, text));
        return path;
    }

    // Every value the sensor holds, as params read --json gives it.
    Json Read(const std::string& port) {
        const CliResult read = RunCli({"params", "read", "--json", "--port", port});
        EXPECT_EQ(read.exitCode, 0) << read.err;
        Json record;
        EXPECT_TRUE(ParseJson(read.out, record)) << read.out;
        return record;
    }

    SimulatedSensor other_;
};

TEST_F(CliProfileTest, ASavedProfileLoadedOnASecondSensorMakesBothTheSame) {
    const CliResult write = RunOnSim({"params", "write", "--max", "4.9", "--min", "2.1", "--absence", "77",
                                      "--range-freq", "2", "--hold", "20,21,22,23,24,25,26,27,28,29,30,31,32,33,34,35"});
    ASSERT_EQ(write.exitCode, 0) << write.err;

    const std::string path = dir_.File("line3.json");
    const CliResult save = RunOnSim({"params", "save", "--profile", path, "--notes", "line 3"});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    EXPECT_TRUE(Contains(save.out, "Profile saved to " + path));
    const std::string text = ReadWholeFile(path);
    EXPECT_TRUE(Contains(text, "\n  \"DetectRangeMax\": 4.9,\n")) << text;
    EXPECT_TRUE(Contains(text, "\n  \"GateHoldThreshold\": [20, 21, 22,")) << text;
    EXPECT_TRUE(Contains(text, "\"firmware_version\": \"v")) << text;
    EXPECT_TRUE(Contains(text, "\"notes\": \"line 3\"")) << text;

    const CliResult before = RunCli({"params", "diff", "--port", Port(), "--port", OtherPort()});
    EXPECT_EQ(before.exitCode, 1) << before.err;
    EXPECT_TRUE(Contains(before.out, "GateHoldThreshold[0]")) << before.out;
    EXPECT_TRUE(Contains(before.out, "20 dB")) << before.out;

    const CliResult load = RunCli({"params", "load", path, "--verify", "--port", OtherPort()});
    ASSERT_EQ(load.exitCode, 0) << load.err;
    EXPECT_EQ(CorrectionLines(load.err), std::vector<std::string>{});

    const CliResult after = RunCli({"params", "diff", "--port", Port(), "--port", OtherPort()});
    EXPECT_EQ(after.exitCode, 0) << after.out << after.err;
    EXPECT_TRUE(Contains(after.out, "hold the same parameters"));
    EXPECT_EQ(other_->ConfigValue(5).value_or(0), 7u);
    EXPECT_EQ(other_->ConfigValue(10).value_or(0), 3u);
    EXPECT_EQ(other_->ConfigValue(6).value_or(0), 77u);

    // params read --json is a profile too: loaded on the first sensor it changes nothing.
    const CliResult read = RunCli({"params", "read", "--json", "--port", OtherPort()});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    const std::string readPath = WriteProfile("read.json", read.out);
    const CliResult dry = RunOnSim({"params", "load", readPath, "--dry-run"});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_TRUE(Contains(dry.out, "nothing would change"));
}

TEST_F(CliProfileTest, APartialProfileChangesOnlyItsKeysAndADryRunWritesNothing) {
    const CliResult write = RunOnSim({"params", "write", "--absence", "99", "--trigger",
                                      "50,49,48,47,46,45,44,43,42,41,40,39,38,37,36,35"});
    ASSERT_EQ(write.exitCode, 0) << write.err;
    const Json before = Read(Port());
    const std::string path = WriteProfile("partial.json", Profile(R"("DetectRangeMax": 4.9, "GateHoldThreshold": [30,30,30,30,30,30,30,30,30,30,30,30,30,30,30,31])"));

    const CliResult dry = RunOnSim({"params", "load", path, "--dry-run", "--json"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err;
    Json plan;
    ASSERT_TRUE(ParseJson(dry.out, plan)) << dry.out;
    EXPECT_EQ(plan.at("dry_run"), true);
    // The hold gates that change, gate by gate, after the range's end.
    std::vector<std::string> changed;
    for (const Json& change : plan.at("changes"))
        changed.push_back(change.at("field").get<std::string>() +
                          (change.contains("gate") ? std::to_string(change.at("gate").get<int>()) : ""));
    std::vector<std::string> expected = {"DetectRangeMax"};
    for (int g = 0; g < 16; ++g)
        if (before.at("GateHoldThreshold")[g] != (g == 15 ? 31 : 30)) expected.push_back("GateHoldThreshold" + std::to_string(g));
    EXPECT_EQ(changed, expected) << dry.out;
    EXPECT_EQ(Read(Port()), before) << "a dry run wrote to the sensor";

    const CliResult load = RunOnSim({"params", "load", path, "--verify"});
    ASSERT_EQ(load.exitCode, 0) << load.err;
    Json after = Read(Port());
    EXPECT_NEAR(after.at("DetectRangeMax").get<double>(), 4.9, 1e-9);
    EXPECT_EQ(after.at("GateHoldThreshold").back(), 31);
    for (const char* key : {"DetectRangeMin", "ResponseFreq", "StateReportFreq", "RangeReportFreq",
                            "ObjectDisappearReportTime", "GateTriggerThreshold"})
        EXPECT_EQ(after.at(key), before.at(key)) << key;
    EXPECT_EQ(after.at("ObjectDisappearReportTime"), 99);
}

// A profile's values get the corrections the same values get from params write
// (both ends of the range given together are committed as a file's are: end first);
// a profile that does not read refuses itself before any sensor is written, naming the key.
TEST_F(CliProfileTest, ProfileValuesAreCorrectedAsWrittenValuesOrRefusedNamingTheKey) {
    struct Correction {
        std::string members;
        std::vector<std::string> writeArgs;
    };
    const std::vector<Correction> corrections = {
        {R"("ObjectDisappearReportTime": 300)", {"--absence", "300"}},
        {R"("ObjectDisappearReportTime": 2)", {"--absence", "2"}},
        {R"("GateTriggerThreshold": [5,42,36,34,32,31,31,31,31,31,31,31,31,31,31,96])",
         {"--trigger", "5,42,36,34,32,31,31,31,31,31,31,31,31,31,31,96"}},
        {R"("DetectRangeMax": 9.1)", {"--max", "9.1"}},
        {R"("RangeReportFreq": 3, "StateReportFreq": 4)", {"--range-freq", "3", "--state-freq", "4"}},
    };
    for (const Correction& c : corrections) {
        SCOPED_TRACE(c.members);
        const std::string path = WriteProfile("corrected.json", Profile(c.members));
        // Both from the same sensor state: the dry run writes nothing.
        const CliResult load = RunOnSim({"params", "load", path, "--dry-run"});
        std::vector<std::string> write = {"params", "write"};
        write.insert(write.end(), c.writeArgs.begin(), c.writeArgs.end());
        const CliResult written = RunOnSim(write);
        ASSERT_EQ(load.exitCode, 0) << load.err;
        ASSERT_EQ(written.exitCode, 0) << written.err;
        EXPECT_FALSE(CorrectionLines(written.err).empty());
        EXPECT_EQ(CorrectionLines(load.err), CorrectionLines(written.err));
    }

    struct Refusal {
        std::string text;
        std::string names;
    };
    const std::vector<Refusal> refusals = {
        {R"({"format": "palo520g-profile", "version": 1, "DetectRangeMax": )", "it is not JSON (parse error at line 1, column 64"},
        {Profile(R"("DetectRangeMin": "abc")"), "\"DetectRangeMin\" is \"abc\", not a number"},
        {Profile(R"("ObjectDisappearReportTime": 40.5)"), "\"ObjectDisappearReportTime\" is 40.5"},
        {Profile(R"("GateHoldThreshold": [30, 30])"), "\"GateHoldThreshold\" is [30,30], not a list of 16"},
        {R"({"version": 1, "DetectRangeMax": 4.9})", "it has no \"format\": \"palo520g-profile\" key"},
        {R"({"format": "palo520g-profile", "version": 2, "DetectRangeMax": 4.9})", "\"version\" is 2"},
        {Profile(R"("DetectRangeMx": 4.9)"), "\"DetectRangeMx\" is not a profile key"},
    };
    const Json before = Read(Port());
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.text);
        const std::string path = WriteProfile("refused.json", r.text);
        const CliResult load = RunOnSim({"params", "load", path});
        EXPECT_EQ(load.exitCode, 1);
        EXPECT_TRUE(Contains(load.err, "The parameter file " + path + " is refused: " + r.names));
        EXPECT_TRUE(Contains(load.err, "Nothing was written to a sensor."));
    }
    EXPECT_EQ(Read(Port()), before);
}

TEST_F(CliProfileTest, DiffPrintsOnlyWhatDiffersWithUnitsAndExitsAsDiffDoes) {
    // The sensor's own values, so that a partial profile of them matches it.
    const Json held = Read(Port());
    const std::string max = held.at("DetectRangeMax").dump();
    const std::string delay = held.at("ObjectDisappearReportTime").dump();
    const std::string full = WriteProfile("full.json", Profile(
        R"("DetectRangeMin": 0, "DetectRangeMax": 8.4, "ObjectDisappearReportTime": 40, "GateHoldThreshold": [45,42,33,32,28,28,28,28,28,28,28,28,28,28,28,28])"));
    const std::string same = WriteProfile("same.json", Profile(
        R"("GateHoldThreshold": [45,42,33,32,28,28,28,28,28,28,28,28,28,28,28,28], "ObjectDisappearReportTime": 40, "DetectRangeMax": 8.4, "DetectRangeMin": 0)"));
    const std::string oneGate = WriteProfile("gate.json", Profile(
        R"("DetectRangeMin": 0, "DetectRangeMax": 8.4, "ObjectDisappearReportTime": 40, "GateHoldThreshold": [45,42,33,32,28,28,28,50,28,28,28,28,28,28,28,28])"));
    const std::string partial = WriteProfile(
        "partial.json", Profile("\"DetectRangeMax\": " + max + ", \"ObjectDisappearReportTime\": " + delay));
    const std::string away = WriteProfile("away.json", Profile(R"("DetectRangeMax": 4.9)"));

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> lines;  // standard output
    };
    const std::vector<Case> cases = {
        {{full, same}, 0, {"full.json and " + same + " hold the same parameters."}},
        {{full, oneGate}, 1, {full, oneGate, "GateHoldThreshold[7]  28 dB", "50 dB", "Differences: 1."}},
        {{full, partial}, 1, {"DetectRangeMin", "(not set)", "GateHoldThreshold[0]", "GateHoldThreshold[15]"}},
        {{partial, "--port", Port()}, 0, {"hold the same parameters"}},
        {{away, "--port", Port()}, 1, {"DetectRangeMax", "4.90 m", "Differences: 1."}},
        {{full, partial, "--port", Port()}, 2, {}},
        {{"--port", Port()}, 2, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"params", "diff"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(args[2]);
        const CliResult result = RunCli(args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
        for (const std::string& line : c.lines) EXPECT_TRUE(Contains(result.out, line));
        if (c.exitCode == 2) {
            EXPECT_EQ(result.out, "");
            EXPECT_TRUE(Contains(result.err, "params diff compares two sides"));
        }
    }

    // --json: one object; a key one file leaves out is null on its side.
    const CliResult json = RunCli({"params", "diff", partial, away, "--json"});
    EXPECT_EQ(json.exitCode, 1);
    Json result;
    ASSERT_TRUE(ParseJson(json.out, result)) << json.out;
    EXPECT_EQ(result.at("equal"), false);
    ASSERT_EQ(result.at("differences").size(), 2u) << json.out;
    EXPECT_EQ(result.at("differences")[0].at("field"), "DetectRangeMax");
    EXPECT_EQ(result.at("differences")[0].at("unit"), "m");
    EXPECT_EQ(result.at("differences")[1].at("field"), "ObjectDisappearReportTime");
    EXPECT_EQ(result.at("differences")[1].at("a"), held.at("ObjectDisappearReportTime"));
    EXPECT_TRUE(result.at("differences")[1].at("b").is_null());

    // One file and many sensors: each sensor against the file.
    const CliResult many = RunCli({"params", "diff", away, "--port", Port(), "--port", OtherPort()});
    EXPECT_EQ(many.exitCode, 1);
    EXPECT_TRUE(Contains(many.out, Port() + ": DetectRangeMax"));
    EXPECT_TRUE(Contains(many.out, OtherPort() + ": DetectRangeMax"));
}
