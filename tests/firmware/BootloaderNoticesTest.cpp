// The values the bootloader procedures report beside their texts, against the
// virtual sensor on a pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "BootSink.h"
#include "app/StringTable.h"
#include "device/SerialPortRegistry.h"
#include "sim/VirtualSensor.h"
#include "support/TempDir.h"

namespace {

// Records, in order, each value next to the texts around it.
class SequenceSink : public RecordingBootSink {
public:
    void AppendLog(int stringId, const std::string& text) override {
        RecordingBootSink::AppendLog(stringId, text);
        sequence.push_back("log " + std::to_string(stringId));
    }
    void SetLabel(BootLabel label, const std::string& text) override {
        RecordingBootSink::SetLabel(label, text);
        sequence.push_back("label " + std::to_string(static_cast<int>(label)));
    }
    void SetPartitionList(const std::vector<PartitionItem>& items, int selected) override {
        RecordingBootSink::SetPartitionList(items, selected);
        sequence.push_back("partitions");
    }
    void OnRunningMode(uint32_t mode) override {
        RecordingBootSink::OnRunningMode(mode);
        sequence.push_back("mode");
    }
    void OnDeviceId(uint32_t id) override {
        RecordingBootSink::OnDeviceId(id);
        sequence.push_back("id");
    }
    void OnPartitionMask(uint32_t mask) override {
        RecordingBootSink::OnPartitionMask(mask);
        sequence.push_back("mask");
    }
    std::vector<std::string> sequence;  // written on the procedure's thread, read after it
};

std::string Label(BootLabel label) { return "label " + std::to_string(static_cast<int>(label)); }

class BootloaderNotices : public ::testing::Test {
protected:
    void StartSensor(VirtualSensorOptions options = {}) {
        sim = std::make_unique<VirtualSensor>(options);
        std::string error;
        if (!sim->Start(&error)) GTEST_SKIP() << "virtual sensor not available: " << error;
        sink = std::make_unique<SequenceSink>();
        boot = std::make_unique<CBootloader>(*sink);
        boot->portNumber = RegisterSerialPortPath(sim->PortPath());
        ASSERT_GT(boot->portNumber, 0);
    }
    void TearDown() override {
        boot.reset();
        if (sim) sim->Stop();
        SetUiLanguage(UiLanguage::English);
    }

    std::unique_ptr<VirtualSensor> sim;
    std::unique_ptr<SequenceSink> sink;
    std::unique_ptr<CBootloader> boot;
};

TEST_F(BootloaderNotices, InformationQueryReportsTheValuesInEitherLanguage) {
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::SimplifiedChinese}) {
        SCOPED_TRACE(static_cast<int>(language));
        SetUiLanguage(language);
        VirtualSensorOptions options;
        options.deviceId = 0xFEDCBA98;  // the top bit set: no sign on the way
        options.partitionMask = 0x80000005;
        StartSensor(options);
        ASSERT_TRUE(boot->UpdateFWInfo());
        EXPECT_EQ(sink->runningModes, std::vector<uint32_t>{RUNNING_MODE_APP0});
        EXPECT_EQ(sink->deviceIds, std::vector<uint32_t>{0xFEDCBA98});
        EXPECT_EQ(sink->partitionMasks, std::vector<uint32_t>{0x80000005});
        // Each value comes just before the text that shows it.
        EXPECT_EQ(sink->sequence, (std::vector<std::string>{"log 10505", "mode", Label(BootLabel::RunningMode), "id",
                                                            "log 10521", Label(BootLabel::DeviceId), "mask",
                                                            "partitions"}));
        boot.reset();
        sim->Stop();
    }
}

TEST_F(BootloaderNotices, RunningModeOfASensorInItsBootloader) {
    StartSensor();
    // A first query leaves the application running; the download's reset then
    // brings up the bootloader, which a second query reports as such.
    ASSERT_TRUE(boot->UpdateFWInfo());
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

    ASSERT_TRUE(boot->UpdateFWInfo());
    EXPECT_EQ(sink->runningModes, (std::vector<uint32_t>{RUNNING_MODE_APP0, RUNNING_MODE_BOOTLOADER}));
    EXPECT_EQ(boot->inBootloader, 1);
}

TEST_F(BootloaderNotices, ASensorThatNeverAnswersReportsNoValues) {
    VirtualSensorOptions options;
    options.silent = true;
    StartSensor(options);
    EXPECT_FALSE(boot->UpdateFWInfo());
    // The label says "Unknown"; no number stands for a mode that was never read.
    EXPECT_EQ(sink->labels[BootLabel::RunningMode], "Current Firmware: Unknown");
    EXPECT_TRUE(sink->runningModes.empty());
    EXPECT_TRUE(sink->deviceIds.empty());
    EXPECT_TRUE(sink->partitionMasks.empty());
}

TEST_F(BootloaderNotices, DownloadReportsTheImageLengthAndChecksum) {
    StartSensor();
    TempDir dir;
    const std::string path = dir.File("APP1.bin");
    ASSERT_TRUE(WriteSimFirmwareImage(path, "v2.0.0", 1001));
    const std::string bytes = ReadWholeFile(path);
    ASSERT_TRUE(boot->UpdateFWInfo());
    ASSERT_TRUE(boot->DownloadFW(1, path));
    const uint32_t checksum = ImageChecksum(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ASSERT_EQ(sink->imageInfos.size(), 1u);
    EXPECT_EQ(sink->imageInfos[0].first, bytes.size());
    EXPECT_EQ(sink->imageInfos[0].second, checksum);
    EXPECT_EQ(sink->progressMax, bytes.size());
    EXPECT_EQ(sink->progressValues.back(), bytes.size());
}

}  // namespace
