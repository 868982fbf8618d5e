// threshold, fw info, fw flash
#include <signal.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SimFixture.h"
#include "firmware/Bootloader.h"

namespace {

class CliThresholdTest : public CliSimTest {
protected:
    void SetUp() override { ASSERT_TRUE(StartSim()); }
};

TEST_F(CliThresholdTest, GeneratesThenPrintsBothTablesAsTheSensorHoldsThem) {
    const CliResult result = RunOnSim({"threshold", "--json", "--trigger-coefficient", "3", "--hold-coefficient", "2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("is now"), std::string::npos) << result.err;
    EXPECT_TRUE(Contains(result.err, "Successfully generated."));
    // Not a terminal: no progress bar.
    EXPECT_EQ(result.err.find('\r'), std::string::npos);
    Json tables;
    ASSERT_TRUE(ParseJson(result.out, tables)) << result.out;
    const std::vector<double> trigger = tables.at("GateTriggerThreshold").get<std::vector<double>>();
    const std::vector<double> hold = tables.at("GateHoldThreshold").get<std::vector<double>>();
    ASSERT_EQ(trigger.size(), 16u);
    ASSERT_EQ(hold.size(), 16u);
    const std::array<uint32_t, 16> held = sim_->GateTable(114);
    const std::array<uint32_t, 16> heldHold = sim_->GateTable(118);
    for (int g = 0; g < 16; ++g) {
        EXPECT_EQ(trigger[g], held[g]) << g;
        EXPECT_EQ(hold[g], heldHold[g]) << g;
    }
    EXPECT_FALSE(sim_->Generating());
}

TEST_F(CliThresholdTest, InputsAreForcedIntoTheDialogsLimits) {
    const CliResult result = RunOnSim({"threshold", "--trigger", "11", "--scan", "300"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // The old name of the coefficient still works, says its new one, and names itself in notices.
    EXPECT_TRUE(Contains(result.err, "--trigger is now --trigger-coefficient"));
    EXPECT_TRUE(Contains(result.err, "--trigger: The value must be at most 10 (key 14)"));
    EXPECT_TRUE(Contains(result.err, "--scan: The value must be at most 240 (key 14)"));
    EXPECT_TRUE(Contains(result.out, "GateHoldThreshold"));
}

TEST_F(CliThresholdTest, AnOldAndANewNameOfOneCoefficientTogetherAreAUsageError) {
    const CliResult result = RunOnSim({"threshold", "--trigger", "3", "--trigger-coefficient", "4"});
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_FALSE(sim_->Generating());
}

TEST_F(CliThresholdTest, ProgressBarOnlyOnATerminal) {
    CliProcess run({"threshold", "--port", Port()}, /*stderrOnTerminal=*/true);
    const CliResult result = run.Wait(30000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(Contains(result.err, "\r["));
    EXPECT_TRUE(Contains(result.err, "] 100%"));
}

TEST_F(CliThresholdTest, CtrlCSaysTheSensorFinishesItsScanAndHowToPutTheOldTablesBack) {
    // A 120 s scan in 3 s: still running when Ctrl+C comes, over soon after.
    sim_->Stop();
    VirtualSensorOptions options = FastOptions();
    options.timeScale = 40.0;
    ASSERT_TRUE(StartSim(options));
    const std::array<uint32_t, 16> triggerBefore = sim_->GateTable(114);
    const std::array<uint32_t, 16> holdBefore = sim_->GateTable(118);
    CliProcess run({"threshold", "--port", Port()});
    ASSERT_TRUE(WaitUntil([&] { return sim_->Generating(); }));
    run.Signal(SIGINT);
    const CliResult result = run.Wait(10000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "Stopped."));
    EXPECT_TRUE(Contains(result.err, "The sensor cannot cancel a scan it has begun: it scans until about "));
    EXPECT_EQ(result.err.find("Generate failed."), std::string::npos) << "the sensor has not failed: " << result.err;
    EXPECT_TRUE(result.out.empty());

    // The sensor does what the message says.
    ASSERT_TRUE(WaitUntil([&] { return sim_->GateTable(114) != triggerBefore; }, 30000));
    // And the command it names puts the tables from before the run back.
    const size_t at = result.err.find("palo520g params write ");
    ASSERT_NE(at, std::string::npos) << result.err;
    const size_t start = at + std::string("palo520g ").size();
    std::vector<std::string> args;
    std::istringstream words(result.err.substr(start, result.err.find('\n', at) - start));
    for (std::string word; words >> word;) args.push_back(word);
    ASSERT_GE(args.size(), 7u);
    EXPECT_EQ(args[0], "params");
    const CliResult restore = RunCli(args);
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_EQ(sim_->GateTable(114), triggerBefore);
    EXPECT_EQ(sim_->GateTable(118), holdBefore);
}

class CliFirmwareTest : public CliSimTest {};

TEST_F(CliFirmwareTest, InfoShowsModeDeviceIdAndPartitions) {
    VirtualSensorOptions options = FastOptions();
    options.partitionMask = 0x5;
    options.deviceId = 0x520C00AB;
    ASSERT_TRUE(StartSim(options));

    const CliResult text = RunOnSim({"fw", "info"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(Contains(text.out, "Obtaining firmware information"));
    EXPECT_TRUE(Contains(text.out, "Current Firmware: App0"));
    EXPECT_TRUE(Contains(text.out, "Device ID: 0x520c00ab"));
    EXPECT_TRUE(Contains(text.out, "Partitions: App0, App2"));

    const CliResult json = RunOnSim({"fw", "info", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    Json info;
    ASSERT_TRUE(ParseJson(json.out, info)) << json.out;
    EXPECT_EQ(info.at("running_mode").get<std::string>(), "App0");
    EXPECT_TRUE(info.at("in_bootloader").is_boolean());
    EXPECT_FALSE(info.at("in_bootloader").get<bool>());
    EXPECT_EQ(info.at("device_id").get<double>(), 0x520C00AB);
    EXPECT_EQ(info.at("partitions").get<std::vector<double>>(), (std::vector<double>{0, 2}));
}

TEST_F(CliFirmwareTest, FlashWritesTheImageAndTheSensorRunsIt) {
    ASSERT_TRUE(StartSim());
    const std::vector<uint8_t> image = BuildSimFirmwareImage("v2.4.6", 1999);
    const std::string path = dir_.File("APP0.bin");
    ASSERT_TRUE(WriteWholeFile(path, std::string(image.begin(), image.end())));

    const CliResult result = RunOnSim({"fw", "flash", path, "--partition", "0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(image.size(), 2015u);
    EXPECT_TRUE(Contains(result.out, "Size of bin file: 2,015 bytes"));
    EXPECT_TRUE(Contains(result.out, "Checksum: 0x"));
    EXPECT_TRUE(Contains(result.out, "Download successful!"));
    EXPECT_EQ(sim_->FlashPartition(0), image);

    const CliResult info = RunOnSim({"info"});
    EXPECT_TRUE(Contains(info.out, "Firmware version: v2.4.6"));
}

TEST_F(CliFirmwareTest, FlashRefusesAPartitionTheSensorDoesNotOffer) {
    VirtualSensorOptions options = FastOptions();
    options.partitionMask = 0x1;
    ASSERT_TRUE(StartSim(options));
    const std::vector<uint8_t> image = BuildSimFirmwareImage("v2.0.0", 100);
    const std::string path = dir_.File("APP1.bin");
    ASSERT_TRUE(WriteWholeFile(path, std::string(image.begin(), image.end())));

    const CliResult result = RunOnSim({"fw", "flash", path, "--partition", "1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "Partition 1 cannot be programmed (programmable: App0)."));
    EXPECT_TRUE(sim_->FlashPartition(1).empty());
}

// Ctrl+C once the sensor is in its bootloader: the first press lets the image
// finish, a second interrupts and says how to recover; the recovery works.
TEST_F(CliFirmwareTest, CtrlCDuringAFlashFinishesTheImageOrSaysHowToRecover) {
    struct Case {
        const char* name;
        int presses;
        int exitCode;
        bool completes;
    };
    const Case cases[] = {
        {"one press", 1, 0, true},
        {"two presses", 2, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Paced at a slow line, so that the download lasts a few seconds after the first press.
        VirtualSensorOptions options = FastOptions();
        options.pacing = true;
        options.baudRate = 4800;
        ASSERT_TRUE(StartSim(options));
        const std::string version = std::string("v3.0.") + std::to_string(c.presses);
        const std::vector<uint8_t> image = BuildSimFirmwareImage(version, 12000);
        const std::string path = dir_.File("APP0.bin");
        ASSERT_TRUE(WriteWholeFile(path, std::string(image.begin(), image.end())));

        CliProcess flash({"fw", "flash", path, "--partition", "0", "--port", Port()});
        // Packets are flowing into the bootloader.
        ASSERT_TRUE(WaitUntil([&] { return sim_->RunningMode() == SIM_MODE_BOOTLOADER && !sim_->Restarting(); }, 20000));
        const uint64_t commands = sim_->Counters().commandsReceived;
        ASSERT_TRUE(WaitUntil([&] { return sim_->Counters().commandsReceived >= commands + 4; }, 20000));
        flash.Signal(SIGINT);
        ASSERT_TRUE(flash.WaitForStderr("Press Ctrl+C again to interrupt it anyway.", 20000)) << flash.Err();
        if (c.presses == 2) flash.Signal(SIGINT);
        const CliResult result = flash.Wait(30000);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_TRUE(Contains(result.err, "Ctrl+C: the download goes on to the end of the image, so that the sensor is "
                                         "not left in its bootloader."));
        if (c.completes) {
            EXPECT_TRUE(Contains(result.out, "Download successful!"));
            EXPECT_TRUE(Contains(result.err, "The download was completed before stopping."));
            EXPECT_EQ(sim_->FlashPartition(0), image);
            EXPECT_TRUE(WaitUntil([&] { return sim_->Version() == version; })) << sim_->Version();
            continue;
        }
        EXPECT_TRUE(Contains(result.err, "The download was interrupted: the sensor on " + Port() +
                                             " is now in its bootloader and runs no application. Run palo520g fw "
                                             "flash again to recover it."));
        EXPECT_EQ(result.out.find("Download successful!"), std::string::npos);
        EXPECT_NE(sim_->FlashPartition(0), image);
        EXPECT_EQ(sim_->RunningMode(), SIM_MODE_BOOTLOADER);

        // What the message says recovers it.
        const CliResult again = RunOnSim({"fw", "flash", path, "--partition", "0"});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_TRUE(Contains(again.out, "Current Firmware: BootLoader"));
        EXPECT_TRUE(WaitUntil([&] { return sim_->Version() == version; })) << sim_->Version();
    }
}

// --json: the flashed image's object for one port, one object per port for many.
TEST_F(CliFirmwareTest, FlashWithJsonPrintsOneObjectPerPort) {
    std::array<SimulatedSensor, 2> sensors;
    std::vector<std::string> ports;
    for (size_t i = 0; i < sensors.size(); ++i) {
        VirtualSensorOptions options = FastOptions();
        options.linkPath = dir_.File("sensor-" + std::to_string(i));
        ASSERT_TRUE(sensors[i].Start(options));
        ports.push_back(options.linkPath);
    }
    const std::vector<uint8_t> image = BuildSimFirmwareImage("v2.5.0", 1000);
    const std::string path = dir_.File("APP1.bin");
    ASSERT_TRUE(WriteWholeFile(path, std::string(image.begin(), image.end())));
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "0x%08x", ImageChecksum(image.data(), image.size()));

    const CliResult one = RunCli({"fw", "flash", path, "--partition", "1", "--json", "--port", ports[0]});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    Json object;
    ASSERT_TRUE(ParseJson(one.out, object)) << one.out;
    EXPECT_EQ(object.at("image").get<std::string>(), path);
    EXPECT_EQ(object.at("partition").get<double>(), 1);
    EXPECT_EQ(object.at("size").get<double>(), static_cast<double>(image.size()));
    EXPECT_EQ(object.at("checksum").get<std::string>(), checksum);
    EXPECT_EQ(object.at("running_mode_before").get<std::string>(), "App0");
    // The log lines went to standard error.
    EXPECT_TRUE(Contains(one.err, "Download successful!"));

    // Many ports, one of them gone: an object for each, in the order they finish.
    const std::string gone = dir_.File("no-such-port");
    const CliResult many = RunCli(
        {"fw", "flash", path, "--partition", "1", "--json", "--port", ports[0], "--port", ports[1], "--port", gone},
        60000);
    EXPECT_EQ(many.exitCode, 1) << many.err;
    const std::vector<std::string> lines = NonEmptyLines(many.out);
    ASSERT_EQ(lines.size(), 3u) << many.out;
    std::map<std::string, Json> byPort;
    for (const std::string& line : lines) {
        Json port;
        ASSERT_TRUE(ParseJson(line, port)) << line;
        byPort[port.at("port").get<std::string>()] = port;
    }
    for (const std::string& port : ports) {
        ASSERT_EQ(byPort.count(port), 1u) << port;
        EXPECT_TRUE(byPort[port].at("ok").get<bool>());
        EXPECT_EQ(byPort[port].at("result").at("checksum").get<std::string>(), checksum);
    }
    ASSERT_EQ(byPort.count(gone), 1u);
    EXPECT_FALSE(byPort[gone].at("ok").get<bool>());
    EXPECT_EQ(byPort[gone].at("exit_code").get<double>(), 3);
    EXPECT_FALSE(byPort[gone].at("errors").empty());
    EXPECT_TRUE(Contains(many.err, "3 ports: 2 succeeded, 1 failed"));
    for (SimulatedSensor& sensor : sensors) EXPECT_EQ(sensor->FlashPartition(1), image);
}

TEST_F(CliFirmwareTest, FlashOfAnEmptyImageFails) {
    ASSERT_TRUE(StartSim());
    const std::vector<uint8_t> before = sim_->FlashPartition(0);
    const std::string path = dir_.File("empty.bin");
    ASSERT_TRUE(WriteWholeFile(path, ""));
    const CliResult result = RunOnSim({"fw", "flash", path, "--partition", "0"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "Bin file error!"));
    EXPECT_EQ(sim_->FlashPartition(0), before);
}

}  // namespace
