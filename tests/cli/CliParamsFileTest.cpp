// params load / check with parameter files whose values lie outside the rules or do
// not read at all, checked against what the virtual sensor then holds.
#include <array>
#include <string>
#include <vector>

#include "SimFixture.h"

class CliParamsFileTest : public CliSimTest {
protected:
    void SetUp() override { ASSERT_TRUE(StartSim()); }

    // A configuration file whose ParamSetting element carries the attributes.
    std::string File(const std::string& attributes) {
        const std::string path = dir_.File("line.xml");
        EXPECT_TRUE(WriteWholeFile(path, "<?xml version=\"1.0\"?>\n<AppConfig Language=\"ENG\"><ParamSetting " +
                                             attributes + "/></AppConfig>\n"));
        return path;
    }
    [[nodiscard]] uint32_t Config(uint16_t key) const { return sim_->ConfigValue(key).value_or(0xFFFFFFFF); }
};

namespace {

// Detection values as the sensor holds them: gates, tenths of a hertz, seconds.
struct Held {
    uint32_t minGate = 0, maxGate = 12, response = 5, stateFreq = 40, rangeFreq = 5, delay = 40;
    std::array<uint32_t, 16> trigger = {48, 42, 36, 34, 32, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31};
    std::array<uint32_t, 16> hold = {45, 42, 33, 32, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28};
};

struct FileCase {
    const char* attributes;
    void (*expect)(Held&);
    std::vector<std::string> notices;  // lines on standard error, in order
    std::vector<std::string> stored = {};  // what --verify adds where the sensor keeps a whole gate
};

std::vector<std::string> NoticeLines(const std::string& err) {
    std::vector<std::string> lines;
    for (const std::string& line : NonEmptyLines(err))
        if (line.find("Parameters verified") == std::string::npos) lines.push_back(line);
    return lines;
}

}  // namespace

// Each file is loaded onto the sensor with --verify and checked without one: the
// sensor holds the corrected values, and both commands say the same corrections.
TEST_F(CliParamsFileTest, ValuesOutsideTheRulesAreWrittenCorrectedWithTheirNotices) {
    const FileCase cases[] = {
        {"ObjectDisappearReportTime=\"9999\"", [](Held& h) { h.delay = 255; },
         {"ObjectDisappearReportTime: The value must be at most 255 (key 14)"}},
        {"Gate0TriggerThreshold=\"5\"", [](Held& h) { h.trigger[0] = 10; },
         {"GateTriggerThreshold[0]: The value must be at least 10 (key 13)"}},
        {"Gate0TriggerThreshold=\"200\" Gate15HoldThreshold=\"96\"",
         [](Held& h) {
             h.trigger[0] = 95;
             h.hold[15] = 95;
         },
         {"GateTriggerThreshold[0]: The value must be at most 95 (key 14)",
          "GateHoldThreshold[15]: The value must be at most 95 (key 14)"}},
        {"DetectRangeMin=\"7\" DetectRangeMax=\"2\"",
         [](Held& h) {
             h.minGate = 2;  // 1.65 m
             h.maxGate = 3;  // 2.45 m
         },
         {"DetectRangeMin: The maximum range must be at least 0.35 m above the minimum (key 1001)",
          "DetectRangeMax: The maximum range must be at least 2.10 m (key 11)"},
         {"DetectRangeMin: Stored as 1.40 m (gate 2)", "DetectRangeMax: Stored as 2.10 m (gate 3)"}},
        {"DetectRangeMax=\"12\" StateReportFreq=\"3.3\" ResponseFreq=\"2\"",
         [](Held& h) {
             h.maxGate = 12;
             h.stateFreq = 35;
         },
         {"StateReportFreq: 3.3 Hz is not offered, 3.5 Hz is used",
          "ResponseFreq: 2.0 Hz is not offered, 0.5 Hz is used",
          "DetectRangeMax: The maximum range must be at most 8.4 m (key 12)"}},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.attributes);
        ASSERT_EQ(RunOnSim({"params", "reset"}).exitCode, 0);
        const std::string path = File(c.attributes);
        const CliResult load = RunOnSim({"params", "load", "--config", path, "--verify"});
        EXPECT_EQ(load.exitCode, 0) << load.err;
        EXPECT_TRUE(Contains(load.err, "Parameters verified"));
        std::vector<std::string> loadNotices = c.notices;
        loadNotices.insert(loadNotices.end(), c.stored.begin(), c.stored.end());
        EXPECT_EQ(NoticeLines(load.err), loadNotices);

        Held expected;
        c.expect(expected);
        EXPECT_EQ(Config(10), expected.minGate);
        EXPECT_EQ(Config(5), expected.maxGate);
        EXPECT_EQ(Config(11), expected.response);
        EXPECT_EQ(Config(2), expected.stateFreq);
        EXPECT_EQ(Config(12), expected.rangeFreq);
        EXPECT_EQ(Config(6), expected.delay);
        EXPECT_EQ(sim_->GateTable(114), expected.trigger);
        // The reset's motion table stands in the hold table for the gates the file leaves.
        if (expected.hold[15] == 95) {
            EXPECT_EQ(sim_->GateTable(118)[15], 95u);
        }
        // What was written reads back as plausible.
        const CliResult read = RunOnSim({"params", "read", "--json"});
        EXPECT_EQ(read.exitCode, 0) << read.err;

        const CliResult check = RunCli({"params", "check", "--config", path});
        EXPECT_EQ(check.exitCode, 0) << check.err;
        EXPECT_EQ(NoticeLines(check.err), c.notices);
    }
}

// A value that does not read refuses the whole file before any port is opened,
// in load and in check alike, naming the attribute and the value.
TEST_F(CliParamsFileTest, AValueThatDoesNotReadRefusesTheFileAndWritesNothing) {
    struct Field {
        const char* attribute;
        const char* kind;
    };
    const Field fields[] = {
        {"ObjectDisappearReportTime", "is not a whole number"},
        {"Gate3TriggerThreshold", "is not a whole number"},
        {"Gate15HoldThreshold", "is not a whole number"},
        {"DetectRangeMax", "is not a decimal number"},
        {"StateReportFreq", "is not a decimal number"},
    };
    const char* const values[] = {"abc", "-5", "48.7", "0x30", "", "1e3", "4294967337", "nan", "inf", "50x"};
    const uint64_t before = sim_->Counters().commandsReceived;
    for (const Field& field : fields) {
        for (const char* value : values) {
            const std::string attribute = std::string(field.attribute) + "=\"" + value + "\"";
            // Values that read as a distance or frequency are corrected, not refused.
            const bool decimal = std::string(field.kind) == "is not a decimal number";
            if (decimal && (std::string(value) == "48.7" || std::string(value) == "4294967337")) continue;
            SCOPED_TRACE(attribute);
            const std::string path = File("DetectRangeMin=\"1.40\" " + attribute + " Gate0TriggerThreshold=\"50\"");
            const std::string why = "The parameter file " + path + " is refused: " + attribute + " " + field.kind;
            const CliResult load = RunOnSim({"params", "load", "--config", path, "--verify"});
            EXPECT_EQ(load.exitCode, 1);
            EXPECT_TRUE(Contains(load.err, why));
            EXPECT_TRUE(Contains(load.err, "Nothing was written to a sensor."));
            EXPECT_EQ(load.out, "");
            const CliResult check = RunCli({"params", "check", "--config", path, "--json"});
            EXPECT_EQ(check.exitCode, 1);
            EXPECT_TRUE(Contains(check.err, why));
            EXPECT_EQ(check.out, "");
        }
    }
    EXPECT_EQ(sim_->Counters().commandsReceived, before);
    EXPECT_EQ(Config(10), 0u);
    EXPECT_EQ(sim_->GateTable(114)[0], 48u);

    // A resolution other than the sensor's range gate puts every distance on the wrong gate.
    const std::string path = File("RangeResolution=\"0.5\" DetectRangeMax=\"8.0\"");
    const CliResult load = RunOnSim({"params", "load", "--config", path});
    EXPECT_EQ(load.exitCode, 1);
    EXPECT_TRUE(Contains(load.err, "RangeResolution=\"0.5\" is not the sensor's range gate of 0.70 m"));
    EXPECT_EQ(sim_->Counters().commandsReceived, before);
}

// Terminal escapes in a refused value are shown, not obeyed; a long value is cut.
TEST_F(CliParamsFileTest, ARefusedValueIsQuotedVisiblyAndShort) {
    const std::string path = File("ObjectDisappearReportTime=\"4&#27;[2J&#7;" + std::string(200, '9') + "\"");
    const CliResult check = RunCli({"params", "check", "--config", path});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_EQ(check.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(check.err.find('\a'), std::string::npos);
    EXPECT_TRUE(Contains(check.err, "ObjectDisappearReportTime=\"4\\x1b[2J\\x07999"));
    EXPECT_LT(check.err.size(), 300u) << check.err;
}
