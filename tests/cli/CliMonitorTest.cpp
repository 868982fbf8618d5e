// monitor and replay
#include <signal.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "common/FileUtils.h"

namespace {

// The current estimates with the default constants (no target at Normal and Fast
// response, target with 4.0 Hz state and 0.5 Hz range reports).
constexpr double NO_TARGET_NORMAL_MA = 0.04118;
constexpr double NO_TARGET_FAST_MA = 0.07524;
constexpr double TARGET_DEFAULT_MA = 0.05535;

double ExpectedDb(double raw) { return raw > 100 ? 20.0 * std::log10(std::floor(raw / 100)) : 0.0; }

void ExpectWellFormedReport(const Json& report) {
    ASSERT_TRUE(report.is_object());
    for (const char* key : {"state", "distance_cm", "gates_raw", "gates_db", "current_ma"}) {
        EXPECT_TRUE(report.contains(key)) << key;
    }
    const std::vector<double> raw = report.at("gates_raw").get<std::vector<double>>();
    const std::vector<double> db = report.at("gates_db").get<std::vector<double>>();
    ASSERT_EQ(raw.size(), 16u);
    ASSERT_EQ(db.size(), 16u);
    for (int g = 0; g < 16; ++g) EXPECT_NEAR(db[g], ExpectedDb(raw[g]), 1e-9) << "gate " << g;
}

// --- frames written by hand, independent of the tool's own builders ---

void AppendFrame(std::string& stream, const std::string& payload, bool goodTail = true) {
    stream += "\xF4\xF3\xF2\xF1";
    stream.push_back(static_cast<char>(payload.size() & 0xFF));
    stream.push_back(static_cast<char>(payload.size() >> 8));
    stream += payload;
    stream += goodTail ? "\xF8\xF7\xF6\xF5" : "\xF8\xF7\x00\xF5";
}

std::string TargetPayload(uint8_t type, uint8_t state, uint16_t distanceCm, const std::vector<uint16_t>& raw) {
    std::string payload(70, '\0');
    payload[0] = static_cast<char>(type);
    payload[1] = static_cast<char>(state);
    payload[2] = static_cast<char>(distanceCm & 0xFF);
    payload[3] = static_cast<char>(distanceCm >> 8);
    for (int g = 0; g < 16; ++g) {
        payload[6 + 4 * g] = static_cast<char>(raw[g] & 0xFF);
        payload[7 + 4 * g] = static_cast<char>(raw[g] >> 8);
        payload[8 + 4 * g] = '\x7F';  // not interpreted
    }
    return payload;
}

std::vector<uint16_t> Gates(uint16_t first) {
    std::vector<uint16_t> raw(16);
    for (int g = 0; g < 16; ++g) raw[g] = static_cast<uint16_t>(first + 97 * g);
    return raw;
}

class CliReplayTest : public ::testing::Test {
protected:
    TempDir dir_;
};

TEST_F(CliReplayTest, DecodesTargetReportsAndSkipsEverythingElse) {
    std::string stream = "\x01\x02garbage\xF4\xF3";  // noise, then a broken header
    AppendFrame(stream, TargetPayload(1, 2, 250, Gates(50)));
    AppendFrame(stream, std::string("\x03\x28\x00", 3));             // a progress frame
    AppendFrame(stream, TargetPayload(2, 3, 111, Gates(1000)));       // 70 bytes but not a target report
    AppendFrame(stream, TargetPayload(1, 3, 120, Gates(65000)));
    AppendFrame(stream, TargetPayload(1, 2, 300, Gates(500)), false);  // damaged tail
    AppendFrame(stream, TargetPayload(1, 1, 0, Gates(101)));
    std::string partial;
    AppendFrame(partial, TargetPayload(1, 2, 400, Gates(700)));
    stream += partial.substr(0, 40);  // the run ended mid-frame
    const std::string file = dir_.File("RadarData_test.dat");
    ASSERT_TRUE(WriteWholeFile(file, stream));

    const CliResult result = RunCli({"replay", "--json", file});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<Json> reports = ParseJsonLines(result.out);
    ASSERT_EQ(reports.size(), 3u) << result.out;
    const struct {
        int state;
        int distance;
        uint16_t firstRaw;
        double current;
    } expected[] = {{2, 250, 50, TARGET_DEFAULT_MA}, {3, 120, 65000, TARGET_DEFAULT_MA}, {1, 0, 101, NO_TARGET_NORMAL_MA}};
    for (size_t i = 0; i < 3; ++i) {
        ExpectWellFormedReport(reports[i]);
        EXPECT_EQ(reports[i].at("state").get<double>(), expected[i].state);
        EXPECT_EQ(reports[i].at("distance_cm").get<double>(), expected[i].distance);
        const std::vector<double> raw = reports[i].at("gates_raw").get<std::vector<double>>();
        const std::vector<uint16_t> gates = Gates(expected[i].firstRaw);
        for (int g = 0; g < 16; ++g) EXPECT_EQ(raw[g], gates[g]);
        EXPECT_NEAR(reports[i].at("current_ma").get<double>(), expected[i].current, 1e-12);
    }

    const CliResult text = RunCli({"replay", file});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    const std::vector<std::string> lines = NonEmptyLines(text.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(Contains(lines[0], "Presence"));
    EXPECT_TRUE(Contains(lines[0], "2.50 m  0.05535 mA"));
    EXPECT_TRUE(Contains(lines[1], "Presence(Motionless)"));
    EXPECT_TRUE(Contains(lines[2], "None"));
}

TEST_F(CliReplayTest, ConfigurationSuppliesTheParametersOfTheEstimate) {
    std::string stream;
    AppendFrame(stream, TargetPayload(1, 0, 0, Gates(10)));
    const std::string file = dir_.File("one.dat");
    ASSERT_TRUE(WriteWholeFile(file, stream));
    const std::string config = dir_.File("appConfig.xml");
    ASSERT_TRUE(WriteWholeFile(config, "<AppConfig><ParamSetting ResponseFreq=\"1.0\"/></AppConfig>"));

    const std::vector<Json> fast = ParseJsonLines(RunCli({"replay", "--json", "--config", config, file}).out);
    ASSERT_EQ(fast.size(), 1u);
    EXPECT_NEAR(fast[0].at("current_ma").get<double>(), NO_TARGET_FAST_MA, 1e-12);

    ASSERT_TRUE(WriteWholeFile(config, "<AppConfig><ObjectInfo CurrentLPValueMA=\"1.0\"/></AppConfig>"));
    const std::vector<Json> constants = ParseJsonLines(RunCli({"replay", "--json", "--config", config, file}).out);
    ASSERT_EQ(constants.size(), 1u);
    // ((2000 - Td) * 1.0 + Td * Id) / 2000 with the other constants at their defaults.
    EXPECT_NEAR(constants[0].at("current_ma").get<double>(), ((2000 - 7.057) * 1.0 + 7.057 * 9.66) / 2000, 1e-5);
}

TEST_F(CliReplayTest, EmptyFileEndsAtOnceAndCountStopsEarly) {
    const std::string empty = dir_.File("empty.dat");
    ASSERT_TRUE(WriteWholeFile(empty, ""));
    const CliResult none = RunCli({"replay", "--json", empty});
    EXPECT_EQ(none.exitCode, 0) << none.err;
    EXPECT_TRUE(none.out.empty());

    std::string stream;
    for (int i = 0; i < 5; ++i) AppendFrame(stream, TargetPayload(1, 2, static_cast<uint16_t>(100 + i), Gates(10)));
    const std::string five = dir_.File("five.dat");
    ASSERT_TRUE(WriteWholeFile(five, stream));
    const std::vector<Json> two = ParseJsonLines(RunCli({"replay", "--json", "--count", "2", five}).out);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].at("distance_cm").get<double>(), 101);
}

// --- live ---

class CliMonitorTest : public CliSimTest {
protected:
    void SetUp() override { ASSERT_TRUE(StartSim()); }
};

TEST_F(CliMonitorTest, PrintsCountReportsAsJsonWithTheSensorsEstimate) {
    // The estimate follows the sensor's own configuration: Fast response here.
    ASSERT_EQ(RunOnSim({"params", "write", "--response", "fast"}).exitCode, 0);
    const CliResult result = RunOnSim({"monitor", "--json", "--count", "5"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<Json> reports = ParseJsonLines(result.out);
    ASSERT_EQ(reports.size(), 5u);
    for (const Json& report : reports) {
        ExpectWellFormedReport(report);
        const int state = static_cast<int>(report.at("state").get<double>());
        const double expected = state <= 1 ? NO_TARGET_FAST_MA : TARGET_DEFAULT_MA;
        EXPECT_NEAR(report.at("current_ma").get<double>(), expected, 1e-12) << "state " << state;
    }
    // The run switched the report output off when it ended.
    EXPECT_FALSE(sim_->ReportOutputOn());
}

TEST_F(CliMonitorTest, ReplayOfTheRecordGivesTheReportsTheLiveRunPrinted) {
    const std::string folder = dir_.File("records/new");  // created by the run
    const CliResult live = RunOnSim({"monitor", "--json", "--count", "12", "--record", folder});
    ASSERT_EQ(live.exitCode, 0) << live.err;
    const std::vector<std::string> files = GetLocalFolderFileList(folder, "dat");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].rfind("RadarData_", 0), 0u);
    const std::string record = folder + "/" + files[0];
    EXPECT_TRUE(Contains(live.err, "Recorded to " + record));

    const CliResult replay = RunCli({"replay", "--json", "--count", "12", record});
    ASSERT_EQ(replay.exitCode, 0) << replay.err;
    ASSERT_EQ(NonEmptyLines(live.out).size(), 12u);
    // The same lines, but for the reading times a record does not hold.
    const std::string liveReports = WithoutReadTimes(live.out);
    EXPECT_NE(liveReports, live.out);
    EXPECT_EQ(replay.out, liveReports);

    // Without a count the replay goes on to the reports recorded after the twelfth.
    const CliResult whole = RunCli({"replay", "--json", record});
    ASSERT_EQ(whole.exitCode, 0);
    EXPECT_EQ(whole.out.substr(0, liveReports.size()), liveReports);
}

TEST_F(CliMonitorTest, CtrlCStopsCleanlyAndSwitchesTheReportOutputOff) {
    CliProcess monitor({"monitor", "--port", Port()});
    ASSERT_TRUE(monitor.WaitForStdoutLines(2, 10000)) << monitor.Out();
    EXPECT_TRUE(sim_->ReportOutputOn());
    monitor.Signal(SIGINT);
    const CliResult result = monitor.Wait(10000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(Contains(result.err, "Stopped."));
    EXPECT_FALSE(sim_->ReportOutputOn());
    EXPECT_FALSE(sim_->InCommandMode());
}

TEST_F(CliMonitorTest, ClosedOutputPipeStopsCleanly) {
    CliProcess monitor({"monitor", "--port", Port()});
    ASSERT_TRUE(monitor.WaitForStdoutLines(1, 10000)) << monitor.Out();
    monitor.CloseStdout();  // monitor | head -1
    const CliResult result = monitor.Wait(10000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(sim_->ReportOutputOn());
}

TEST_F(CliMonitorTest, LostLineEndsWithFailure) {
    CliProcess monitor({"monitor", "--port", Port()});
    ASSERT_TRUE(monitor.WaitForStdoutLines(1, 10000)) << monitor.Out();
    sim_->HangUp();
    const CliResult result = monitor.Wait(10000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "The connection to the sensor was lost."));
}

TEST_F(CliMonitorTest, TimeoutEndsARunWithoutReports) {
    // The sensor answers commands but its stream stays quiet.
    sim_->Stop();
    VirtualSensorOptions options = FastOptions();
    options.streamTimeScale = 0.001;
    ASSERT_TRUE(StartSim(options));
    const CliResult result = RunOnSim({"monitor", "--timeout", "1"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(Contains(result.err, "No report arrived within 1 s."));
}

}  // namespace
