// The bootloader procedures against the virtual sensor on a pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "BootSink.h"
#include "app/StringTable.h"
#include "device/SerialPortRegistry.h"
#include "sim/VirtualSensor.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A sink that can act when a packet has been acknowledged.
class HookedSink : public RecordingBootSink {
public:
    void SetProgressValue(uint32_t value) override {
        RecordingBootSink::SetProgressValue(value);
        if (onProgress) onProgress(value);
    }
    std::function<void(uint32_t)> onProgress;
};

class SimBoot : public ::testing::Test {
protected:
    void StartSensor(VirtualSensorOptions options = {}) {
        SetUiLanguage(UiLanguage::English);
        sim = std::make_unique<VirtualSensor>(options);
        std::string error;
        if (!sim->Start(&error)) GTEST_SKIP() << "virtual sensor not available: " << error;
        boot = std::make_unique<CBootloader>(sink);
        boot->portNumber = RegisterSerialPortPath(sim->PortPath());
        ASSERT_GT(boot->portNumber, 0);
    }
    void TearDown() override {
        boot.reset();
        if (sim) sim->Stop();
    }
    // Sends the software reset on a connection of its own, as a crashed download would leave it.
    void ResetIntoBootloader() {
        TAVO_RadarDeviceHandle d = TAVO_Interface_RadarDevice_Serial_Create();
        ASSERT_NE(TAVO_Interface_RadarDevice_Serial_OpenByPath(d, sim->PortPath().c_str(), 256000, 2, 0, 0, 0, 50), 0);
        TAVO_Interface_RadarDevice_StartCmdMode(d, 2, 150);
        TAVO_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(d, BOOT_CMD_SOFTWARE_RESET, nullptr, 0);
        TAVO_Interface_RadarDevice_Serial_Close(d);
        TAVO_Interface_RadarDevice_Serial_Destroy(d);
        for (int i = 0; i < 100 && sim->RunningMode() != SIM_MODE_BOOTLOADER; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(sim->RunningMode(), SIM_MODE_BOOTLOADER);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past the reset's quiet time
    }
    std::string WriteImage(const std::string& version, size_t body) {
        const std::string path = dir.File(version + ".bin");
        EXPECT_TRUE(WriteSimFirmwareImage(path, version, body));
        return path;
    }
    bool WaitForVersion(const std::string& version) {
        for (int i = 0; i < 300; ++i) {
            if (sim->Version() == version) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    TempDir dir;
    std::unique_ptr<VirtualSensor> sim;
    HookedSink sink;
    std::unique_ptr<CBootloader> boot;
};

TEST_F(SimBoot, InformationQueryFillsLabelsAndPartitions) {
    StartSensor();
    ASSERT_TRUE(boot->UpdateFWInfo());
    EXPECT_EQ(sink.labels[BootLabel::RunningMode], "Current Firmware: App0");
    EXPECT_EQ(sink.labels[BootLabel::DeviceId], "Device ID: 0x520c0001\r\n");
    EXPECT_EQ(sink.LogIds(), (std::vector<int>{10505, 10521}));
    ASSERT_EQ(sink.partitions.size(), 2u);
    EXPECT_EQ(sink.partitions[0].text, "App0");
    EXPECT_EQ(sink.partitions[1].text, "App1");
    EXPECT_EQ(sink.partitions[1].tag, 1);
    EXPECT_EQ(sink.selectedItem, 0);
    EXPECT_EQ(boot->selectedPartition, 0);
    EXPECT_EQ(boot->inBootloader, 0);
    EXPECT_FALSE(TAVO_Interface_RadarDevice_IsConnected(boot->Device()));
    EXPECT_FALSE(sim->InCommandMode());  // left again, since the sensor is not in its bootloader
}

TEST_F(SimBoot, PartitionMasksFillTheListInBitOrder) {
    struct Case {
        uint32_t mask;
        std::vector<std::string> texts;
        std::vector<int> tags;
        int selected;
    } cases[] = {
        {0x5, {"App0", "App2"}, {0, 2}, 0},
        {0x80000002, {"App1", "App31"}, {1, 31}, 1},
        {0x0, {}, {}, -1},
    };
    for (const auto& c : cases) {
        VirtualSensorOptions options;
        options.partitionMask = c.mask;
        sink.partitions.clear();
        StartSensor(options);
        boot->selectedPartition = 7;
        EXPECT_TRUE(boot->UpdateFWInfo()) << c.mask;  // an empty mask is still a successful query
        std::vector<std::string> texts;
        std::vector<int> tags;
        for (const auto& item : sink.partitions) texts.push_back(item.text), tags.push_back(item.tag);
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(tags, c.tags);
        EXPECT_EQ(boot->selectedPartition, c.selected);
        boot.reset();
        sim->Stop();
    }
}

TEST_F(SimBoot, DownloadThroughTheSoftwareResetStartsTheNewImage) {
    StartSensor();
    const std::string image = WriteImage("v2.3.4", 1001);  // header + body: not a multiple of 4
    const std::string bytes = ReadWholeFile(image);
    ASSERT_TRUE(boot->UpdateFWInfo());
    ASSERT_EQ(boot->inBootloader, 0);
    ASSERT_TRUE(boot->DownloadFW(1, image));

    EXPECT_TRUE(WaitForVersion("v2.3.4")) << sim->Version();
    EXPECT_EQ(sim->RunningMode(), SIM_MODE_APP1);
    const auto flashed = sim->FlashPartition(1);
    EXPECT_EQ(std::string(flashed.begin(), flashed.end()), bytes);
    EXPECT_EQ(boot->inBootloader, 0);  // not changed by the download
    EXPECT_EQ(sink.labels[BootLabel::FileSize], "Size of bin file: " + std::to_string(bytes.size()) + " byte\r\n");
    EXPECT_EQ(sink.labels[BootLabel::DownloadProgressText], "Download Progress: 100.00%\r\n");
    EXPECT_EQ(sink.progressMax, bytes.size());
    EXPECT_EQ(sink.progressValues.back(), bytes.size());
    EXPECT_EQ(sink.busy, (std::vector<bool>{true, false}));
    const auto ids = sink.LogIds();
    ASSERT_GE(ids.size(), 2u);
    EXPECT_EQ(ids[ids.size() - 2], 10515);
    EXPECT_EQ(ids.back(), 10516);
    EXPECT_FALSE(TAVO_Interface_RadarDevice_IsConnected(boot->Device()));
}

TEST_F(SimBoot, DownloadInsideTheBootloaderSkipsTheReset) {
    StartSensor();
    ResetIntoBootloader();
    ASSERT_TRUE(boot->UpdateFWInfo());
    EXPECT_EQ(sink.labels[BootLabel::RunningMode], "Current Firmware: BootLoader");
    ASSERT_EQ(boot->inBootloader, 1);
    const std::string image = WriteImage("v3.0.0", 700);
    const auto start = Clock::now();
    ASSERT_TRUE(boot->DownloadFW(0, image));
    EXPECT_LT(MsSince(start), BOOT_RESET_WAIT_MS);  // no 2000 ms wait after a reset
    EXPECT_TRUE(WaitForVersion("v3.0.0")) << sim->Version();
}

TEST_F(SimBoot, LostAcknowledgementEndsWithTheFailureLineAndTheClosedPort) {
    VirtualSensorOptions options;
    options.maxPacketSize = 120;  // 100 data bytes per packet
    StartSensor(options);
    ResetIntoBootloader();
    ASSERT_TRUE(boot->UpdateFWInfo());
    int acknowledged = 0;
    sink.onProgress = [&](uint32_t value) {
        if (value > 0 && ++acknowledged == 2) sim->SetSilent(true);
    };
    const std::string image = WriteImage("v9.9.9", 1000);
    EXPECT_FALSE(boot->DownloadFW(0, image));
    ASSERT_FALSE(sink.log.empty());
    EXPECT_EQ(sink.log.back().first, 10514);
    EXPECT_EQ(sink.log.back().second, "Failed to download, serial no.: 2, error code: 0\r\n");
    EXPECT_FALSE(TAVO_Interface_RadarDevice_IsConnected(boot->Device()));
    EXPECT_EQ(sink.busy.back(), false);
    EXPECT_EQ(sim->RunningMode(), SIM_MODE_BOOTLOADER);
}

TEST_F(SimBoot, SmallMaximumPacketSizeStopsBeforeAnyPacket) {
    VirtualSensorOptions options;
    options.maxPacketSize = 20;
    StartSensor(options);
    ResetIntoBootloader();
    ASSERT_TRUE(boot->UpdateFWInfo());
    EXPECT_FALSE(boot->DownloadFW(0, WriteImage("v1.1.1", 100)));
    EXPECT_EQ(sink.log.back().first, 10520);
    EXPECT_EQ(sink.log.back().second, "Each pack must be more than 20 byte\r\n");
    EXPECT_EQ(sink.progressValues, std::vector<uint32_t>{0});
}

TEST_F(SimBoot, RefusalsAfterOpeningCloseThePortAgain) {
    StartSensor();
    EXPECT_FALSE(boot->DownloadFW(-1, WriteImage("v1.0.0", 10)));
    EXPECT_FALSE(boot->DownloadFW(0, dir.File("missing.bin")));
    const std::string empty = dir.File("empty.bin");
    ASSERT_TRUE(WriteWholeFile(empty, ""));
    EXPECT_FALSE(boot->DownloadFW(0, empty));
    ASSERT_EQ(sink.messages.size(), 3u);
    EXPECT_EQ(sink.messages[0], std::make_pair(10511, std::string("Please choose the download partition!")));
    EXPECT_EQ(sink.messages[1], std::make_pair(10510, std::string("Bin file error!")));
    EXPECT_EQ(sink.messages[2].first, 10510);
    EXPECT_FALSE(TAVO_Interface_RadarDevice_IsConnected(boot->Device()));
    EXPECT_EQ(sim->RunningMode(), SIM_MODE_APP0);  // nothing was sent
}

TEST_F(SimBoot, StopCutsTheWaitAfterTheSoftwareResetShort) {
    StartSensor();
    const std::string image = WriteImage("v5.0.0", 100);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        boot->RequestStop();
    });
    const auto start = Clock::now();
    EXPECT_FALSE(boot->DownloadFW(0, image));
    const auto elapsed = MsSince(start);
    stopper.join();
    EXPECT_LT(elapsed, 1500);
    EXPECT_FALSE(TAVO_Interface_RadarDevice_IsConnected(boot->Device()));
    boot->ClearStop();
}

}  // namespace
