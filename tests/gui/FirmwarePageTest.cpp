// The firmware page in the main window against the virtual sensor: information
// query, local download, the update server's catalogue (a folder served over
// file://), and the Chinese skin. With PALO_SCREENSHOT_DIR set, the language test
// saves pictures of the window into that folder.
#include <cstdlib>
#include <filesystem>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include "MainWindowFixture.h"
#include "app/StringTable.h"
#include "device/SerialPortRegistry.h"
#include "firmware/Bootloader.h"
#include "firmware/widgets/FirmwarePage.h"
#include "upgrade/CataloguePublisher.h"

namespace {

class DownloadPageTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        sensorOptions.resetDelayMs = 20;
        catalogue_ = dataDir->File("server");
    }
    // The window on the firmware page, with the update address in the configuration.
    void OpenFirmwarePage(const std::string& extraConfig = {}) {
        WriteConfig("<?xml version=\"1.0\"?><AppConfig BaudRate=\"256000\"><Upgrade Url=\"file://" + catalogue_ +
                    "/\"/>" + extraConfig + "</AppConfig>");
        OpenWindow();
        QTest::mouseClick(Button("1189"), Qt::LeftButton);
        page = dynamic_cast<FirmwarePage*>(window->Page(1189));
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(page->isVisible());
        page->SetBootResetWaitMs(ResetWaitFor(sensorOptions));
    }
    // Clicks the button and waits for the worker it starts to end; the result.
    bool RunWorker(const char* button) {
        QSignalSpy finished(page, &FirmwarePage::WorkerFinished);
        QTest::mouseClick(Button(button), Qt::LeftButton);
        EXPECT_TRUE(page->WorkerRunning()) << button;
        EXPECT_FALSE(Find<QWidget>("DownloadFW")->isEnabled()) << "the page stays usable while " << button << " runs";
        if (!finished.wait(60000)) {
            ADD_FAILURE() << button << " did not end";
            return false;
        }
        EXPECT_TRUE(Find<QWidget>("DownloadFW")->isEnabled());
        return finished.front().at(1).toBool();
    }
    std::string LabelText(const char* name) const { return Find<QLabel>(name)->text().toStdString(); }
    std::string LogText() const { return Find<QPlainTextEdit>("DownloadInfoEdit")->toPlainText().toStdString(); }
    // A simulator image of the version in a file.
    std::vector<uint8_t> WriteImage(const std::string& path, const std::string& version, size_t size = 3000) {
        EXPECT_TRUE(WriteSimFirmwareImage(path, version, size));
        return BuildSimFirmwareImage(version, size);
    }
    // Publishes simulator images of the version for the partitions.
    void Publish(const std::string& version, const std::vector<int>& partitions) {
        std::vector<std::pair<int, std::string>> images;
        for (int partition : partitions) {
            const std::string file = dataDir->File(version + "-" + std::to_string(partition) + ".img");
            WriteImage(file, "v" + version);
            images.emplace_back(partition, file);
        }
        std::string error;
        ASSERT_TRUE(PublishFirmwareVersion(catalogue_, version, images, "", nullptr, &error)) << error;
    }
    void SetImagePath(const std::string& path) {
        auto* edit = Find<QLineEdit>("DownloadFilePath");
        edit->setText(QString::fromStdString(path));
    }
    void ChoosePartition(int index) {
        auto* combo = Combo("DownLoadAppCombo");
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void SaveScreenshot(const std::string& name) {
        if (const char* dir = std::getenv("PALO_SCREENSHOT_DIR"))
            window->grab().save(QString::fromStdString(std::string(dir) + "/" + name));
    }

    FirmwarePage* page = nullptr;
    std::string catalogue_;
};

TEST_F(DownloadPageTest, ReadInfoShowsTheSensorsFirmwareAndPartitions) {
    OpenFirmwarePage();
    EXPECT_EQ(page->PortNumber(), RegisterSerialPortPath(sensor->PortPath()));
    EXPECT_EQ(page->BaudRate(), 256000);
    EXPECT_TRUE(RunWorker("UpdateFWInfoButton"));
    EXPECT_EQ(LabelText("RunningMode"), "Current Firmware: App0");
    EXPECT_EQ(LabelText("DeviceId"), "Device ID: 0x520c0001");
    EXPECT_EQ(ComboItems("DownLoadAppCombo"), (std::vector<std::string>{"App0", "App1"}));
    EXPECT_EQ(page->SelectedPartition(), 0);
    EXPECT_NE(LogText().find("Obtaining firmware information"), std::string::npos) << LogText();

    // Clear Log empties the box and leaves it read-only.
    QTest::mouseClick(Button("ClearEditButton"), Qt::LeftButton);
    EXPECT_EQ(LogText(), "");
    EXPECT_TRUE(Find<QPlainTextEdit>("DownloadInfoEdit")->isReadOnly());
}

TEST_F(DownloadPageTest, DownloadsALocalImageIntoTheChosenPartition) {
    OpenFirmwarePage();
    const std::string file = dataDir->File("local.bin");
    const std::vector<uint8_t> image = WriteImage(file, "v1.0.7", 5001);
    ASSERT_TRUE(RunWorker("UpdateFWInfoButton"));
    ChoosePartition(1);
    EXPECT_EQ(page->SelectedPartition(), 1);
    SetImagePath(file);
    EXPECT_EQ(page->ImagePath(), file);

    auto* bar = Find<QProgressBar>("DownloadProgress");
    QSignalSpy steps(bar, &QProgressBar::valueChanged);
    EXPECT_TRUE(RunWorker("DownloadButton"));
    EXPECT_EQ(sensor->FlashPartition(1), image);
    EXPECT_EQ(LabelText("FileSize"), "Size of bin file: " + std::to_string(image.size()) + " byte");
    char checksum[32];
    std::snprintf(checksum, sizeof checksum, "Checksum: 0x%08x", ImageChecksum(image.data(), image.size()));
    EXPECT_EQ(LabelText("FileVerifyNum"), checksum);
    EXPECT_EQ(LabelText("DownloadProgressText"), "Download Progress: 100.00%");
    EXPECT_EQ(bar->maximum(), static_cast<int>(image.size()));
    EXPECT_EQ(bar->value(), static_cast<int>(image.size()));
    EXPECT_GT(steps.count(), 3);  // packet by packet, not in one jump
    EXPECT_FALSE(Find<QLabel>("DownloadingInfoLable")->isVisible());
    const std::string log = LogText();
    EXPECT_EQ(log.substr(log.size() - std::string("Download successful! \n").size()), "Download successful! \n") << log;
    EXPECT_TRUE(boxes.empty()) << LastBox().text;
}

TEST_F(DownloadPageTest, DownloadWithoutAnImageFileStartsNothing) {
    OpenFirmwarePage();
    const uint64_t commandsBefore = sensor->Counters().commandsReceived;
    for (const std::string& path : {dataDir->Path(), dataDir->File("gone.bin")}) {
        boxes.clear();
        SetImagePath(path);
        QTest::mouseClick(Button("DownloadButton"), Qt::LeftButton);
        EXPECT_FALSE(page->WorkerRunning()) << path;
        ASSERT_EQ(boxes.size(), 1u) << path;
        EXPECT_EQ(boxes[0].text, "Failed to open the bin file, please check the directory!");
        EXPECT_EQ(boxes[0].caption, "Note");
    }
    // Nothing waits in the event queue to start a worker later.
    QCoreApplication::processEvents();
    EXPECT_FALSE(page->WorkerRunning());
    EXPECT_EQ(sensor->Counters().commandsReceived, commandsBefore);
}

TEST_F(DownloadPageTest, CheckVersionThenGetFWAndDownloadFlashesTheServersImage) {
    Publish("1.0.2", {0});
    Publish("1.0.3", {0, 1});
    Publish("0.9.9", {0});
    OpenFirmwarePage();
    EXPECT_FALSE(Combo("VersionCombo")->isEnabled());
    EXPECT_FALSE(Button("GetFWAndDownloadButton")->isEnabled());
    EXPECT_TRUE(RunWorker("CheckVersionButton"));
    // The sensor runs v1.0.2: only 1.0.3 is newer.
    EXPECT_EQ(ComboItems("VersionCombo"), std::vector<std::string>{"1.0.3"});
    EXPECT_TRUE(Combo("VersionCombo")->isEnabled());
    EXPECT_TRUE(Button("GetFWButton")->isEnabled());
    EXPECT_TRUE(Button("GetFWAndDownloadButton")->isEnabled());

    EXPECT_TRUE(RunWorker("GetFWAndDownloadButton"));
    EXPECT_TRUE(boxes.empty()) << LastBox().text;
    EXPECT_EQ(sensor->FlashPartition(0), BuildSimFirmwareImage("v1.0.3", 3000));
    EXPECT_EQ(Find<QProgressBar>("GetVersionProgress")->value(), 100);
    EXPECT_NE(LogText().find("Download successful!"), std::string::npos) << LogText();
    EXPECT_TRUE(std::filesystem::exists(dataDir->File("FW_Image/1.0.3/APP1.bin")));
}

TEST_F(DownloadPageTest, NoNewerVersionLeavesTheListEmptyWithoutAMessage) {
    Publish("1.0.2", {0});
    Publish("0.9.9", {0});
    OpenFirmwarePage();
    EXPECT_FALSE(RunWorker("CheckVersionButton"));
    EXPECT_TRUE(ComboItems("VersionCombo").empty());
    EXPECT_FALSE(Combo("VersionCombo")->isEnabled());
    EXPECT_FALSE(Button("GetFWButton")->isEnabled());
    EXPECT_FALSE(Button("GetFWAndDownloadButton")->isEnabled());
    EXPECT_TRUE(boxes.empty()) << LastBox().text;
}

TEST_F(DownloadPageTest, GetFWTakesThePartitionsImageOrFallsBack) {
    // 1.0.3 has an image for App1; 1.0.4 only for App0.
    Publish("1.0.3", {0, 1});
    Publish("1.0.4", {0});
    OpenFirmwarePage();
    ASSERT_TRUE(RunWorker("UpdateFWInfoButton"));
    ChoosePartition(1);
    ASSERT_TRUE(RunWorker("CheckVersionButton"));
    ASSERT_EQ(ComboItems("VersionCombo"), (std::vector<std::string>{"1.0.3", "1.0.4"}));

    EXPECT_TRUE(RunWorker("GetFWButton"));
    EXPECT_EQ(page->ImagePath(), dataDir->File("FW_Image/1.0.3/APP1.bin"));
    EXPECT_EQ(Find<QLineEdit>("DownloadFilePath")->text().toStdString(), page->ImagePath());

    Combo("VersionCombo")->setCurrentIndex(1);
    EXPECT_TRUE(RunWorker("GetFWButton"));
    EXPECT_EQ(page->ImagePath(), dataDir->File("FW_Image/1.0.4/APP0.bin"));

    // Get FW and Download does not fall back: App1 of 1.0.4 is missing. Its own
    // information query keeps App1 chosen rather than falling back to App0.
    const std::vector<uint8_t> app0 = sensor->FlashPartition(0), app1 = sensor->FlashPartition(1);
    EXPECT_FALSE(RunWorker("GetFWAndDownloadButton"));
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(LastBox().text, "Bin file error!");
    EXPECT_EQ(page->SelectedPartition(), 1);
    EXPECT_EQ(Combo("DownLoadAppCombo")->currentText(), "App1");
    EXPECT_EQ(sensor->FlashPartition(0), app0);
    EXPECT_EQ(sensor->FlashPartition(1), app1);

    // With 1.0.3 chosen, App1's image goes into App1.
    Combo("VersionCombo")->setCurrentIndex(0);
    EXPECT_TRUE(RunWorker("GetFWAndDownloadButton"));
    EXPECT_EQ(sensor->FlashPartition(1), BuildSimFirmwareImage("v1.0.3", 3000));
    EXPECT_EQ(sensor->FlashPartition(0), app0);
}

TEST_F(DownloadPageTest, ServerFailuresAreExplained) {
    // No address anywhere: the message says which setting to make.
    unsetenv("PALO520G_UPDATE_URL");
    WriteConfig("<?xml version=\"1.0\"?><AppConfig/>");
    OpenWindow();
    QTest::mouseClick(Button("1189"), Qt::LeftButton);
    page = dynamic_cast<FirmwarePage*>(window->Page(1189));
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(RunWorker("CheckVersionButton"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Failed to log on to the update server."), std::string::npos);
    EXPECT_NE(boxes[0].text.find("Url of the element Upgrade"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].caption, "Note");
}

// English and Chinese: the skin of the language, and pictures of the page after an
// information query, after a catalogue check and during a download.
class DownloadPageLanguageTest : public DownloadPageTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DownloadPageLanguageTest, LoadsTheSkinOfTheLanguage) {
    const bool chinese = GetParam();
    const std::string suffix = chinese ? "zh" : "en";
    SetUiLanguage(chinese ? UiLanguage::SimplifiedChinese : UiLanguage::English);
    Publish("1.0.2", {0});
    Publish("1.0.3", {0, 1});
    OpenFirmwarePage();
    EXPECT_NE(page->SkinPath().find(chinese ? "Skin/CHS/Download/Download_FW.xml" : "Skin/ENG/Download/Download_FW.xml"),
              std::string::npos)
        << page->SkinPath();
    EXPECT_EQ(Button("CheckVersionButton")->text().toStdString(), chinese ? "检查版本" : "Check Version");

    ASSERT_TRUE(RunWorker("UpdateFWInfoButton"));
    EXPECT_EQ(LabelText("RunningMode"), LoadStringText(TEXT_CURRENT_FIRMWARE).replace(LoadStringText(TEXT_CURRENT_FIRMWARE).find("%s"), 2, "App0"));
    SaveScreenshot("firmware-info-" + suffix + ".png");

    ASSERT_TRUE(RunWorker("CheckVersionButton"));
    EXPECT_EQ(ComboItems("VersionCombo"), std::vector<std::string>{"1.0.3"});
    SaveScreenshot("firmware-check-" + suffix + ".png");

    const std::string file = dataDir->File("local.bin");
    WriteImage(file, "v1.0.8", 12000);
    SetImagePath(file);
    bool grabbed = false;
    auto* bar = Find<QProgressBar>("DownloadProgress");
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [&](int value) {
        if (!grabbed && value > bar->maximum() / 2) {
            grabbed = true;
            SaveScreenshot("firmware-download-" + suffix + ".png");
        }
    });
    EXPECT_TRUE(RunWorker("DownloadButton"));
    EXPECT_TRUE(grabbed);
}

INSTANTIATE_TEST_SUITE_P(Languages, DownloadPageLanguageTest, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Chinese" : "English"; });

}  // namespace
