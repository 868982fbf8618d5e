// threshold, fw info, fw flash
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SimFixture.h"

namespace {

class CliThresholdTest : public CliSimTest {
protected:
    void SetUp() override { ASSERT_TRUE(StartSim()); }
};

TEST_F(CliThresholdTest, GeneratesThenPrintsBothTablesAsTheSensorHoldsThem) {
    const CliResult result = RunOnSim({"threshold", "--json", "--trigger", "3", "--hold", "2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
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
    EXPECT_TRUE(Contains(result.err, "--trigger: The value must be at most 10 (key 14)"));
    EXPECT_TRUE(Contains(result.err, "--scan: The value must be at most 240 (key 14)"));
    EXPECT_TRUE(Contains(result.out, "GateHoldThreshold"));
}

TEST_F(CliThresholdTest, ProgressBarOnlyOnATerminal) {
    CliProcess run({"threshold", "--port", Port()}, /*stderrOnTerminal=*/true);
    const CliResult result = run.Wait(30000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(Contains(result.err, "\r["));
    EXPECT_TRUE(Contains(result.err, "] 100%"));
}

TEST_F(CliThresholdTest, CtrlCStopsTheRunAsAFailure) {
    // Real time: a 120 s scan that is still running when Ctrl+C comes.
    sim_->Stop();
    VirtualSensorOptions options = FastOptions();
    options.timeScale = 1.0;
    ASSERT_TRUE(StartSim(options));
    CliProcess run({"threshold", "--port", Port()});
    ASSERT_TRUE(WaitUntil([&] { return sim_->Generating(); }));
    run.Signal(SIGINT);
    const CliResult result = run.Wait(10000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "Stopped."));
    EXPECT_TRUE(Contains(result.err, "Generate failed."));
    EXPECT_TRUE(result.out.empty());
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
    EXPECT_TRUE(Contains(result.out, "Size of bin file: " + std::to_string(image.size()) + " byte"));
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

TEST_F(CliFirmwareTest, CtrlCEndsADownloadBeforeItsNextPacket) {
    ASSERT_TRUE(StartSim());
    const std::vector<uint8_t> image = BuildSimFirmwareImage("v3.0.0", 200000);  // several seconds on the line
    const std::string path = dir_.File("APP0.bin");
    ASSERT_TRUE(WriteWholeFile(path, std::string(image.begin(), image.end())));

    CliProcess flash({"fw", "flash", path, "--partition", "0", "--port", Port()});
    ASSERT_TRUE(flash.WaitForStdoutLines(6, 20000)) << flash.Out();
    ASSERT_TRUE(Contains(flash.Out(), "Downloading"));
    flash.Signal(SIGINT);
    const CliResult result = flash.Wait(15000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "Stopped."));
    EXPECT_EQ(result.out.find("Download successful!"), std::string::npos);
    EXPECT_NE(sim_->FlashPartition(0), image);
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
