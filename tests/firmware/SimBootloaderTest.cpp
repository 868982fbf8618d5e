// The bootloader procedures against the virtual sensor on a pseudo-terminal.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "BootSink.h"
#include "SensorInBootloader.h"
#include "app/StringTable.h"
#include "firmware/SensorVersion.h"
#include "params/ParamSetting.h"
#include "session/SensorSession.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

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
    SimBoot() { SetUiLanguage(UiLanguage::English); }

    // Starts a sensor and points a fresh bootloader procedure at its port.
    [[nodiscard]] ::testing::AssertionResult StartSensor(const VirtualSensorOptions& options = {}) {
        boot.reset();
        ::testing::AssertionResult started = sim.Start(options);
        if (!started) return started;
        boot = std::make_unique<CBootloader>(sink, &line);
        boot->portNumber = sim.PortNumber();
        boot->resetWaitMs = ResetWaitFor(options);
        if (boot->portNumber <= 0) return ::testing::AssertionFailure() << "the port has no number";
        return ::testing::AssertionSuccess();
    }
    std::string WriteImage(const std::string& version, size_t body) {
        const std::string path = dir.File(version + ".bin");
        EXPECT_TRUE(WriteSimFirmwareImage(path, version, body));
        return path;
    }
    bool WaitForVersion(const std::string& version) {
        return WaitUntil([&] { return sim->Version() == version; });
    }

    TempDir dir;
    SimulatedSensor sim;
    HookedSink sink;
    SensorLine line;
    std::unique_ptr<CBootloader> boot;
};

TEST_F(SimBoot, InformationQueryFillsLabelsAndPartitions) {
    ASSERT_TRUE(StartSensor());
    ASSERT_TRUE(boot->UpdateFWInfo());
    RecordingBootSink::Record seen = sink.Snapshot();
    EXPECT_EQ(seen.labels[BootLabel::RunningMode], "Current Firmware: App0");
    EXPECT_EQ(seen.labels[BootLabel::DeviceId], "Device ID: 0x520c0001\r\n");
    EXPECT_EQ(seen.LogIds(), (std::vector<int>{TEXT_BOOT_QUERYING_FIRMWARE, TEXT_DEVICE_ID}));
    ASSERT_EQ(seen.partitions.size(), 2u);
    EXPECT_EQ(seen.partitions[0].text, "App0");
    EXPECT_EQ(seen.partitions[1].text, "App1");
    EXPECT_EQ(seen.partitions[1].tag, 1);
    EXPECT_EQ(seen.selectedItem, 0);
    EXPECT_EQ(boot->selectedPartition, 0);
    EXPECT_EQ(boot->inBootloader, 0);
    EXPECT_FALSE(boot->Line()->IsConnected());
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
        sink.Clear();
        ASSERT_TRUE(StartSensor(options));
        boot->selectedPartition = 7;
        EXPECT_TRUE(boot->UpdateFWInfo()) << c.mask;  // an empty mask is still a successful query
        std::vector<std::string> texts;
        std::vector<int> tags;
        for (const auto& item : sink.Snapshot().partitions) texts.push_back(item.text), tags.push_back(item.tag);
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(tags, c.tags);
        EXPECT_EQ(boot->selectedPartition, c.selected);
    }
}

TEST_F(SimBoot, DownloadThroughTheSoftwareResetStartsTheNewImage) {
    ASSERT_TRUE(StartSensor());
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
    EXPECT_FALSE(boot->LeftInBootloader());
    EXPECT_FALSE(boot->WasInterrupted());
    RecordingBootSink::Record seen = sink.Snapshot();
    ASSERT_EQ(bytes.size(), 1017u);
    EXPECT_EQ(seen.labels[BootLabel::FileSize], "Size of bin file: 1,017 bytes\r\n");
    EXPECT_EQ(seen.labels[BootLabel::DownloadProgressText], "Download Progress: 100.00%\r\n");
    EXPECT_EQ(seen.progressMax, bytes.size());
    EXPECT_EQ(seen.progressValues.back(), bytes.size());
    EXPECT_EQ(seen.busy, (std::vector<bool>{true, false}));
    const auto ids = seen.LogIds();
    ASSERT_GE(ids.size(), 2u);
    EXPECT_EQ(ids[ids.size() - 2], TEXT_BOOT_DOWNLOADING);
    EXPECT_EQ(ids.back(), TEXT_BOOT_DOWNLOAD_SUCCEEDED);
    EXPECT_FALSE(boot->Line()->IsConnected());
}

TEST_F(SimBoot, DownloadInsideTheBootloaderSkipsTheReset) {
    ASSERT_TRUE(StartSensor());
    ASSERT_TRUE(ResetIntoBootloader(sim));
    ASSERT_TRUE(boot->UpdateFWInfo());
    EXPECT_EQ(sink.Snapshot().labels[BootLabel::RunningMode], "Current Firmware: BootLoader");
    ASSERT_EQ(boot->inBootloader, 1);
    const std::string image = WriteImage("v3.0.0", 700);
    const uint64_t resetsBefore = sim->Counters().softwareResets;
    ASSERT_TRUE(boot->DownloadFW(0, image));
    // No second reset, and so none of the wait for the sensor to restart.
    EXPECT_EQ(sim->Counters().softwareResets, resetsBefore);
    EXPECT_TRUE(WaitForVersion("v3.0.0")) << sim->Version();
}

TEST_F(SimBoot, LostAcknowledgementEndsWithTheFailureLineAndTheClosedPort) {
    VirtualSensorOptions options;
    options.maxPacketSize = 120;  // 100 data bytes per packet
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(ResetIntoBootloader(sim));
    ASSERT_TRUE(boot->UpdateFWInfo());
    int acknowledged = 0;
    sink.onProgress = [&](uint32_t value) {
        if (value > 0 && ++acknowledged == 2) {
            sim->SetSilent(true);
            // Only the lost acknowledgement is waited for this short time (the sink
            // runs on the procedure's thread, between packets).
            boot->commandTimeoutMs = 300;
        }
    };
    const std::string image = WriteImage("v9.9.9", 1000);
    EXPECT_FALSE(boot->DownloadFW(0, image));
    const RecordingBootSink::Record seen = sink.Snapshot();
    ASSERT_FALSE(seen.log.empty());
    EXPECT_EQ(seen.log.back().first, TEXT_BOOT_PACKET_FAILED);
    // The fields stay; the cause says why (the error code is the sensor's and none came).
    EXPECT_EQ(seen.log.back().second, "Failed to download, serial no.: 2, error code: 0 (no reply within 300 ms)\r\n");
    EXPECT_FALSE(boot->Line()->IsConnected());
    EXPECT_EQ(seen.busy.back(), false);
    EXPECT_EQ(sim->RunningMode(), SIM_MODE_BOOTLOADER);
    // A failure, not a stop: the caller says the sensor is left in its bootloader.
    EXPECT_TRUE(boot->LeftInBootloader());
    EXPECT_FALSE(boot->WasInterrupted());
}

TEST_F(SimBoot, AHangUpDuringTheDownloadSaysTheLineWasLost) {
    VirtualSensorOptions options;
    options.maxPacketSize = 120;
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(ResetIntoBootloader(sim));
    ASSERT_TRUE(boot->UpdateFWInfo());
    int acknowledged = 0;
    sink.onProgress = [&](uint32_t value) {
        if (value > 0 && ++acknowledged == 2) sim->HangUp();
    };
    EXPECT_FALSE(boot->DownloadFW(0, WriteImage("v9.9.9", 1000)));
    const RecordingBootSink::Record seen = sink.Snapshot();
    ASSERT_FALSE(seen.log.empty());
    EXPECT_EQ(seen.log.back().first, TEXT_BOOT_PACKET_FAILED);
    EXPECT_EQ(seen.log.back().second, "Failed to download, serial no.: 2, error code: 0 (the line was lost)\r\n");
}

TEST_F(SimBoot, SmallMaximumPacketSizeStopsBeforeAnyPacket) {
    VirtualSensorOptions options;
    options.maxPacketSize = 20;
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(ResetIntoBootloader(sim));
    ASSERT_TRUE(boot->UpdateFWInfo());
    EXPECT_FALSE(boot->DownloadFW(0, WriteImage("v1.1.1", 100)));
    const RecordingBootSink::Record seen = sink.Snapshot();
    ASSERT_FALSE(seen.log.empty());
    EXPECT_EQ(seen.log.back().first, TEXT_BOOT_PACKET_TOO_SMALL);
    EXPECT_EQ(seen.log.back().second, "Each pack must be more than 20 bytes\r\n");
    EXPECT_EQ(seen.progressValues, std::vector<uint32_t>{0});
}

TEST_F(SimBoot, RefusalsAfterOpeningCloseThePortAgain) {
    ASSERT_TRUE(StartSensor());
    EXPECT_FALSE(boot->DownloadFW(-1, WriteImage("v1.0.0", 10)));
    EXPECT_FALSE(boot->DownloadFW(0, dir.File("missing.bin")));
    const std::string empty = dir.File("empty.bin");
    ASSERT_TRUE(WriteWholeFile(empty, ""));
    EXPECT_FALSE(boot->DownloadFW(0, empty));
    const RecordingBootSink::Record seen = sink.Snapshot();
    ASSERT_EQ(seen.messages.size(), 3u);
    EXPECT_EQ(seen.messages[0], (std::pair<int, std::string>(TEXT_PARTITION_NOT_CHOSEN, "Please choose the download partition!")));
    EXPECT_EQ(seen.messages[1], (std::pair<int, std::string>(TEXT_BIN_FILE_ERROR, "Bin file error!")));
    EXPECT_EQ(seen.messages[2].first, TEXT_BIN_FILE_ERROR);
    EXPECT_FALSE(boot->Line()->IsConnected());
    EXPECT_EQ(sim->RunningMode(), SIM_MODE_APP0);  // nothing was sent
}

TEST_F(SimBoot, StopCutsTheWaitAfterTheSoftwareResetShort) {
    ASSERT_TRUE(StartSensor());
    boot->resetWaitMs = BOOT_RESET_WAIT_MS;  // a wait the stop must cut short, as a real sensor's
    const std::string image = WriteImage("v5.0.0", 100);
    // The stop comes once the sensor has the reset, while the procedure waits for
    // the sensor to restart.
    std::atomic<uint64_t> bytesAtStop{0};
    Clock::time_point stoppedAt;
    std::thread stopper([&] {
        WaitUntil([&] { return sim->Counters().softwareResets > 0; });
        bytesAtStop = sim->Counters().bytesReceived;
        stoppedAt = Clock::now();
        boot->RequestStop();
    });
    EXPECT_FALSE(boot->DownloadFW(0, image));
    const auto returned = Clock::now();
    stopper.join();
    EXPECT_EQ(sim->Counters().softwareResets, 1u);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - stoppedAt).count(), boot->resetWaitMs)
        << "the procedure waited out the restart";
    EXPECT_EQ(sim->Counters().bytesReceived, bytesAtStop.load()) << "the procedure went on after the stop";
    EXPECT_FALSE(boot->Line()->IsConnected());
    // The reset was sent: the sensor restarts into its bootloader all the same.
    EXPECT_TRUE(boot->WasInterrupted());
    EXPECT_TRUE(boot->LeftInBootloader());
    boot->ClearStop();
    EXPECT_FALSE(boot->WasInterrupted());
    EXPECT_FALSE(boot->LeftInBootloader());
}

// Where a stopped download leaves the sensor: untouched when the stop came before
// the software reset, in its bootloader once the reset went out or packets flowed.
TEST_F(SimBoot, AStopSaysWhetherTheSensorIsLeftInItsBootloader) {
    struct Case {
        const char* name;
        bool startInBootloader;
        int stopBeforePacket;  // -1: stop before the procedure starts
        bool leftInBootloader;
        uint32_t modeAfter;
    };
    const Case cases[] = {
        {"before the reset", false, -1, false, SIM_MODE_APP0},
        {"at the first packet", false, 0, true, SIM_MODE_BOOTLOADER},
        {"half-way", false, 5, true, SIM_MODE_BOOTLOADER},
        {"in the bootloader already, before any packet", true, -1, true, SIM_MODE_BOOTLOADER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualSensorOptions options = FastSensorOptions();
        options.maxPacketSize = 120;
        ASSERT_TRUE(StartSensor(options));
        if (c.startInBootloader) {
            ASSERT_TRUE(ResetIntoBootloader(sim));
            ASSERT_TRUE(boot->UpdateFWInfo());
        }
        const std::vector<uint8_t> before = sim->FlashPartition(0);
        std::vector<uint32_t> sent;
        boot->beforePacket = [&](uint32_t serial) {
            sent.push_back(serial);
            if (static_cast<int>(serial) == c.stopBeforePacket) boot->RequestStop();
        };
        if (c.stopBeforePacket < 0) boot->RequestStop();
        EXPECT_FALSE(boot->DownloadFW(0, WriteImage("v7.0.0", 2000)));
        EXPECT_TRUE(boot->WasInterrupted());
        EXPECT_EQ(boot->LeftInBootloader(), c.leftInBootloader);
        EXPECT_FALSE(boot->InBootloaderPhase());
        // The stop is taken before the packet it came at.
        EXPECT_EQ(sent.size(), c.stopBeforePacket < 0 ? 0u : static_cast<size_t>(c.stopBeforePacket) + 1);
        EXPECT_EQ(sim->Counters().softwareResets, c.startInBootloader ? 1u : (c.stopBeforePacket < 0 ? 0u : 1u));
        EXPECT_TRUE(WaitUntil([&] { return !sim->Restarting(); }));
        EXPECT_EQ(sim->RunningMode(), c.modeAfter);
        EXPECT_EQ(sim->FlashPartition(0), before);
        boot->beforePacket = nullptr;
        boot->ClearStop();
    }
}

// The main connection's Connect, then the question whether the sensor runs its
// bootloader: only a sensor that took command mode but gave no version is asked.
TEST_F(SimBoot, ConnectTellsASensorInItsBootloaderFromOneThatRunsItsApplication) {
    struct Case {
        const char* name;
        bool inBootloader;
        bool silent;
    };
    const Case cases[] = {
        {"application", false, false},
        {"bootloader", true, false},
        {"silent", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualSensorOptions options = FastSensorOptions();
        options.silent = c.silent;
        ASSERT_TRUE(StartSensor(options));
        if (c.inBootloader) {
            ASSERT_TRUE(ResetIntoBootloader(sim));
        }
        SensorSession session;
        ParamSetting record;
        ASSERT_TRUE(session.Connect(sim.PortNumber(), 115200, record));
        EXPECT_EQ(session.Version().empty(), c.inBootloader || c.silent);
        const uint64_t commands = sim->Counters().commandsReceived;
        EXPECT_EQ(ConnectedSensorInBootloader(session), c.inBootloader);
        // A sensor that gave its version, or no answer at all, is not asked anything more.
        if (!c.inBootloader) {
            EXPECT_EQ(sim->Counters().commandsReceived, commands);
        }
        EXPECT_TRUE(session.IsConnected());
        session.Close();
        EXPECT_EQ(sim->RunningMode(), c.inBootloader ? SIM_MODE_BOOTLOADER : SIM_MODE_APP0);
    }
}

TEST(ByteCountText, GroupsThousandsInEitherLanguage) {
    struct Case {
        uint64_t count;
        const char* english;
        const char* chinese;
    };
    const Case cases[] = {
        {0, "0 bytes", "0 字节"},
        {1, "1 byte", "1 字节"},
        {999, "999 bytes", "999 字节"},
        {1000, "1,000 bytes", "1,000 字节"},
        {65552, "65,552 bytes", "65,552 字节"},
        {1234567, "1,234,567 bytes", "1,234,567 字节"},
    };
    for (const Case& c : cases) {
        SetUiLanguage(UiLanguage::English);
        EXPECT_EQ(ByteCountText(c.count), c.english);
        SetUiLanguage(UiLanguage::SimplifiedChinese);
        EXPECT_EQ(ByteCountText(c.count), c.chinese);
    }
    SetUiLanguage(UiLanguage::English);
}

}  // namespace
