// The values the bootloader procedures report beside their texts, against the
// virtual sensor on a pseudo-terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "BootSink.h"
#include "SensorInBootloader.h"
#include "app/StringTable.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

namespace {

// Records, in order, each value next to the texts around it.
class SequenceSink : public RecordingBootSink {
public:
    void AppendLog(int stringId, const std::string& text) override {
        RecordingBootSink::AppendLog(stringId, text);
        Note("log " + std::to_string(stringId));
    }
    void SetLabel(BootLabel label, const std::string& text) override {
        RecordingBootSink::SetLabel(label, text);
        Note("label " + std::to_string(static_cast<int>(label)));
    }
    void SetPartitionList(const std::vector<PartitionItem>& items, int selected) override {
        RecordingBootSink::SetPartitionList(items, selected);
        Note("partitions");
    }
    void OnRunningMode(uint32_t mode) override {
        RecordingBootSink::OnRunningMode(mode);
        Note("mode");
    }
    void OnDeviceId(uint32_t id) override {
        RecordingBootSink::OnDeviceId(id);
        Note("id");
    }
    void OnPartitionMask(uint32_t mask) override {
        RecordingBootSink::OnPartitionMask(mask);
        Note("mask");
    }
    [[nodiscard]] std::vector<std::string> Sequence() const {
        std::lock_guard<std::mutex> lock(sequenceMutex_);
        return sequence_;
    }

private:
    void Note(const std::string& call) {
        std::lock_guard<std::mutex> lock(sequenceMutex_);
        sequence_.push_back(call);
    }
    mutable std::mutex sequenceMutex_;  //!< Protects sequence_.
    std::vector<std::string> sequence_;
};

std::string Label(BootLabel label) { return "label " + std::to_string(static_cast<int>(label)); }

class BootloaderNotices : public ::testing::Test {
protected:
    // Starts a sensor and points a fresh procedure, with a fresh sink, at its port.
    [[nodiscard]] ::testing::AssertionResult StartSensor(const VirtualSensorOptions& options = {}) {
        boot.reset();
        ::testing::AssertionResult started = sim.Start(options);
        if (!started) return started;
        sink = std::make_unique<SequenceSink>();
        boot = std::make_unique<CBootloader>(*sink, &line);
        boot->portNumber = sim.PortNumber();
        boot->resetWaitMs = ResetWaitFor(options);
        if (boot->portNumber <= 0) return ::testing::AssertionFailure() << "the port has no number";
        return ::testing::AssertionSuccess();
    }
    void TearDown() override {
        boot.reset();
        SetUiLanguage(UiLanguage::English);
    }

    SimulatedSensor sim;
    std::unique_ptr<SequenceSink> sink;
    SensorLine line;
    std::unique_ptr<CBootloader> boot;
};

TEST_F(BootloaderNotices, InformationQueryReportsTheValuesInEitherLanguage) {
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::SimplifiedChinese}) {
        SCOPED_TRACE(static_cast<int>(language));
        SetUiLanguage(language);
        VirtualSensorOptions options;
        options.deviceId = 0xFEDCBA98;  // the top bit set: no sign on the way
        options.partitionMask = 0x80000005;
        // The query gives the sensor 50 ms to enter command mode; a machine that stalls
        // longer makes it log that and go on. Such a stall is tried again; a sensor that
        // is late every time is not.
        for (int attempt = 1;; ++attempt) {
            ASSERT_TRUE(StartSensor(options));
            ASSERT_TRUE(boot->UpdateFWInfo());
            const std::vector<std::string> sequence = sink->Sequence();
            const bool late = std::find(sequence.begin(), sequence.end(), "log 10506") != sequence.end();
            if (!late || attempt == 3) break;
        }
        const RecordingBootSink::Record seen = sink->Snapshot();
        EXPECT_EQ(seen.runningModes, std::vector<uint32_t>{RUNNING_MODE_APP0});
        EXPECT_EQ(seen.deviceIds, std::vector<uint32_t>{0xFEDCBA98});
        EXPECT_EQ(seen.partitionMasks, std::vector<uint32_t>{0x80000005});
        // Each value comes just before the text that shows it.
        EXPECT_EQ(sink->Sequence(), (std::vector<std::string>{"log 10505", "mode", Label(BootLabel::RunningMode), "id",
                                                              "log 10521", Label(BootLabel::DeviceId), "mask",
                                                              "partitions"}));
    }
}

TEST_F(BootloaderNotices, RunningModeOfASensorInItsBootloader) {
    ASSERT_TRUE(StartSensor());
    // A first query leaves the application running; the download's reset then
    // brings up the bootloader, which a second query reports as such.
    ASSERT_TRUE(boot->UpdateFWInfo());
    ASSERT_TRUE(ResetIntoBootloader(sim));

    ASSERT_TRUE(boot->UpdateFWInfo());
    EXPECT_EQ(sink->Snapshot().runningModes, (std::vector<uint32_t>{RUNNING_MODE_APP0, RUNNING_MODE_BOOTLOADER}));
    EXPECT_EQ(boot->inBootloader, 1);
}

TEST_F(BootloaderNotices, ASensorThatNeverAnswersReportsNoValues) {
    VirtualSensorOptions options;
    options.silent = true;
    ASSERT_TRUE(StartSensor(options));
    boot->commandTimeoutMs = 100;  // no answer comes however long it waits
    EXPECT_FALSE(boot->UpdateFWInfo());
    RecordingBootSink::Record seen = sink->Snapshot();
    // The label says "Unknown"; no number stands for a mode that was never read.
    EXPECT_EQ(seen.labels[BootLabel::RunningMode], "Current Firmware: Unknown");
    EXPECT_TRUE(seen.runningModes.empty());
    EXPECT_TRUE(seen.deviceIds.empty());
    EXPECT_TRUE(seen.partitionMasks.empty());
    // In Chinese the word is Chinese too.
    SetUiLanguage(UiLanguage::SimplifiedChinese);
    EXPECT_FALSE(boot->UpdateFWInfo());
    seen = sink->Snapshot();
    SetUiLanguage(UiLanguage::English);
    EXPECT_EQ(seen.labels[BootLabel::RunningMode], "当前运行固件: 未知");
}

TEST_F(BootloaderNotices, DownloadReportsTheImageLengthAndChecksum) {
    ASSERT_TRUE(StartSensor());
    TempDir dir;
    const std::string path = dir.File("APP1.bin");
    ASSERT_TRUE(WriteSimFirmwareImage(path, "v2.0.0", 1001));
    const std::string bytes = ReadWholeFile(path);
    ASSERT_TRUE(boot->UpdateFWInfo());
    ASSERT_TRUE(boot->DownloadFW(1, path));
    const uint32_t checksum = ImageChecksum(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const RecordingBootSink::Record seen = sink->Snapshot();
    ASSERT_EQ(seen.imageInfos.size(), 1u);
    EXPECT_EQ(seen.imageInfos[0].first, bytes.size());
    EXPECT_EQ(seen.imageInfos[0].second, checksum);
    EXPECT_EQ(seen.progressMax, bytes.size());
    EXPECT_EQ(seen.progressValues.back(), bytes.size());
}

}  // namespace
