// Commands on a row of sensors at once: --port more than once and --ports-from.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "SimFixture.h"

namespace {

// A ParamSetting section that differs from every sensor's power-on values:
// minimum at gate 3, maximum at gate 7, absence report after 77 s.
constexpr const char* CONFIG =
    "<?xml version=\"1.0\"?>\n<AppConfig><ParamSetting DetectRangeMin=\"2.10\" DetectRangeMax=\"4.90\""
    " ObjectDisappearReportTime=\"77\"/></AppConfig>";

class CliManyPortsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Each sensor is named by a link of this test's own: a stopped sensor's link goes
        // with it, while its pseudo-terminal's number may go at once to a sensor of a
        // test running beside this one.
        for (size_t i = 0; i < sensors_.size(); ++i) {
            VirtualSensorOptions options = SensorOptions();
            options.linkPath = dir_.File("sensor-" + std::to_string(i));
            ASSERT_TRUE(sensors_[i].Start(options));
        }
        config_ = dir_.File("appConfig.xml");
        WriteWholeFile(config_, CONFIG);
    }

    // Paced at the line's rate, as a real sensor is, so that the run takes the time it would.
    static VirtualSensorOptions SensorOptions() {
        VirtualSensorOptions options;
        options.resetDelayMs = 50;
        return options;
    }

    [[nodiscard]] std::string Port(size_t index) const { return dir_.File("sensor-" + std::to_string(index)); }

    std::vector<std::string> LoadArgs(const std::vector<size_t>& which) const {
        std::vector<std::string> args = {"params", "load", "--config", config_, "--verify", "--json"};
        for (size_t index : which) {
            args.push_back("--port");
            args.push_back(Port(index));
        }
        return args;
    }

    [[nodiscard]] bool Configured(size_t index) const {
        return sensors_[index]->ConfigValue(10) == 3u && sensors_[index]->ConfigValue(5) == 7u &&
               sensors_[index]->ConfigValue(6) == 77u;
    }

    std::array<SimulatedSensor, 3> sensors_;
    TempDir dir_;
    std::string config_;
};

long long TimedRun(const std::vector<std::string>& args, CliResult& result) {
    const auto start = std::chrono::steady_clock::now();
    result = RunCli(args, 60000);
    return MsSince(start);
}

TEST_F(CliManyPortsTest, LoadsThreeSensorsInParallelWithOneObjectEach) {
    CliResult one;
    const long long oneMs = TimedRun(LoadArgs({0}), one);
    ASSERT_EQ(one.exitCode, 0) << one.err;
    ASSERT_TRUE(Configured(0));
    const uint64_t acksForOne = sensors_[0]->Counters().acksSent;

    // The same load on all three (the first again), while watching that the
    // sensors are served together: when the third sensor gets its first command
    // the first one must still have replies to send.
    // A machine that stalls the run's threads can let the first sensor finish
    // before the third starts; that is tried again. Ports served one after another
    // in every try are not.
    uint64_t firstAcksWhenThirdStarted = 0;
    uint64_t firstAcksBefore = 0;
    CliResult three;
    long long threeMs = 0;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        firstAcksBefore = sensors_[0]->Counters().acksSent;
        const uint64_t thirdCommandsBefore = sensors_[2]->Counters().commandsReceived;
        const auto start = std::chrono::steady_clock::now();
        CliProcess process(LoadArgs({0, 1, 2}));
        ASSERT_TRUE(WaitUntil([&] {
            firstAcksWhenThirdStarted = sensors_[0]->Counters().acksSent;
            return sensors_[2]->Counters().commandsReceived > thirdCommandsBefore;
        }));
        three = process.Wait(60000);
        threeMs = MsSince(start);
        if (three.exitCode != 0 || firstAcksWhenThirdStarted - firstAcksBefore < acksForOne) break;
    }
    std::cout << "params load --verify: one sensor " << oneMs << " ms, three sensors " << threeMs << " ms\n";
    RecordProperty("one_sensor_ms", std::to_string(oneMs));
    RecordProperty("three_sensors_ms", std::to_string(threeMs));

    ASSERT_EQ(three.exitCode, 0) << three.err;
    EXPECT_LT(firstAcksWhenThirdStarted - firstAcksBefore, acksForOne) << "the ports were served one after another";
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(Configured(i)) << "sensor " << i;

    const std::vector<Json> objects = ParseJsonLines(three.out);
    ASSERT_EQ(objects.size(), 3u) << three.out;
    std::vector<std::string> ports;
    for (const Json& object : objects) {
        ports.push_back(object.at("port").get<std::string>());
        EXPECT_TRUE(object.at("ok").get<bool>());
        EXPECT_EQ(object.at("exit_code").get<double>(), 0);
        EXPECT_NEAR(object.at("result").at("record").at("DetectRangeMax").get<double>(), 4.9, 1e-9);
        EXPECT_TRUE(object.at("result").at("stored").is_array());
    }
    std::sort(ports.begin(), ports.end());
    std::vector<std::string> expected = {Port(0), Port(1), Port(2)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ports, expected);
    EXPECT_TRUE(Contains(three.err, "3 ports: 3 succeeded, 0 failed"));
}

TEST_F(CliManyPortsTest, AStoppedSensorFailsAloneAndTheExitCodeSaysSo) {
    const std::string stopped = Port(1);
    const std::vector<std::string> args = LoadArgs({0, 1, 2});
    sensors_[1].Stop();
    const CliResult result = RunCli(args, 60000);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(Configured(0));
    EXPECT_TRUE(Configured(2));

    const std::vector<Json> objects = ParseJsonLines(result.out);
    ASSERT_EQ(objects.size(), 3u) << result.out;
    int failed = 0;
    for (const Json& object : objects) {
        if (object.at("port").get<std::string>() != stopped) {
            EXPECT_TRUE(object.at("ok").get<bool>()) << object.at("port").get<std::string>();
            continue;
        }
        ++failed;
        EXPECT_FALSE(object.at("ok").get<bool>());
        EXPECT_EQ(object.at("exit_code").get<double>(), 3);  // the port would not open
        ASSERT_FALSE(object.at("errors").empty());
        EXPECT_TRUE(Contains(object.at("errors").at(0).get<std::string>(), stopped));
    }
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(Contains(result.err, "3 ports: 2 succeeded, 1 failed"));
    EXPECT_TRUE(Contains(result.err, stopped + ": "));
}

TEST_F(CliManyPortsTest, PortsFromAFilePrefixEachLineWithThePort) {
    const std::string list = dir_.File("ports.txt");
    WriteWholeFile(list, "# line 1\n" + Port(0) + "\n\n  " + Port(2) + "  # the last one\n");
    const CliResult result = RunCli({"info", "--ports-from", list}, 60000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = NonEmptyLines(result.out);
    ASSERT_EQ(lines.size(), 5u) << result.out;  // two lines a sensor, then the summary
    int prefixed[2] = {0, 0};
    for (const std::string& line : lines) {
        if (line.rfind(Port(0) + ": ", 0) == 0) ++prefixed[0];
        if (line.rfind(Port(2) + ": ", 0) == 0) ++prefixed[1];
    }
    EXPECT_EQ(prefixed[0], 2);
    EXPECT_EQ(prefixed[1], 2);
    EXPECT_TRUE(Contains(result.out, Port(2) + ": Serial number: P520G-SIM-0001"));
    EXPECT_EQ(lines.back(), "2 ports: 2 succeeded, 0 failed");
}

TEST_F(CliManyPortsTest, ResetAndFlashRunOnEveryPort) {
    ASSERT_EQ(RunCli(LoadArgs({0, 1, 2}), 60000).exitCode, 0);
    const CliResult reset =
        RunCli({"params", "reset", "--port", Port(0), "--port", Port(1), "--port", Port(2)}, 60000);
    ASSERT_EQ(reset.exitCode, 0) << reset.err;
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(sensors_[i]->ConfigValue(10), 0u) << "sensor " << i;

    const std::vector<uint8_t> image = BuildSimFirmwareImage("v2.4.6", 1999);
    const std::string path = dir_.File("APP0.bin");
    ASSERT_TRUE(WriteWholeFile(path, std::string(image.begin(), image.end())));
    // The image stands between two --port options: it must not be taken for a port.
    const CliResult flash =
        RunCli({"fw", "flash", "--port", Port(0), path, "--port", Port(1), "--port", Port(2), "--partition", "0"},
               60000);
    ASSERT_EQ(flash.exitCode, 0) << flash.err;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sensors_[i]->FlashPartition(0), image) << "sensor " << i;
        EXPECT_TRUE(Contains(flash.out, Port(i) + ": Download successful!"));
    }
    EXPECT_TRUE(Contains(flash.out, "3 ports: 3 succeeded, 0 failed"));
}

TEST_F(CliManyPortsTest, AListThatCannotBeUsedIsAUsageError) {
    const std::string empty = dir_.File("empty.txt");
    WriteWholeFile(empty, "# nothing here\n\n");
    const std::string link = dir_.File("sensor0");
    ASSERT_EQ(::symlink(Port(0).c_str(), link.c_str()), 0);
    // Nobody writes into it: reading it would wait for ever.
    const std::string fifo = dir_.File("ports.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"info", "--ports-from", empty}, "No ports in the list"},
        {{"info", "--ports-from", fifo}, "Cannot read the list of ports " + fifo + ": not a regular file"},
        {{"info", "--port", Port(0), "--port", Port(0)}, "named more than once"},
        // The same adapter under a second name would fail to open twice over.
        {{"info", "--port", Port(0), "--port", link}, "named more than once"},
        {{"info"}, "--port or --ports-from"},
    };
    for (const auto& c : cases) {
        const CliResult result = RunCli(c.args, 20000);
        EXPECT_FALSE(result.timedOut) << c.message;
        EXPECT_EQ(result.exitCode, 2) << c.message;
        EXPECT_TRUE(Contains(result.err, c.message));
        EXPECT_EQ(sensors_[0]->Counters().commandsReceived, 0u) << "no port may be opened for " << c.message;
    }
}

}  // namespace
