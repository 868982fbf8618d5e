// The firmware page in the main window against the virtual sensor: information
// query, local download, the update server's catalogue (a folder served over
// file://), leaving or closing during a download, a sensor left in its bootloader,
// and the Chinese skin. With PALO_SCREENSHOT_DIR set, the language test saves
// pictures of the window into that folder.
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

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
#include "app/AppConfig.h"
#include "firmware/Bootloader.h"
#include "firmware/SensorInBootloader.h"
#include "firmware/widgets/FirmwarePage.h"
#include "upgrade/CUnzipper.h"
#include "upgrade/CataloguePublisher.h"
#include "upgrade/FirmwareCatalogue.h"

namespace {

// Holds a download on the page's worker before one packet until the test lets it
// go on, so that the test acts while the download is known to run.
class PacketGate {
public:
    explicit PacketGate(uint32_t serial) : serial_(serial) {}
    ~PacketGate() { Release(); }
    // The hook for FirmwarePage::SetBeforePacketHook (worker thread).
    void BeforePacket(uint32_t serial) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (serial != serial_) return;
        reached_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    [[nodiscard]] bool Reached() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reached_;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    const uint32_t serial_;
    std::mutex mutex_;  //!< Protects reached_ and released_.
    std::condition_variable changed_;
    bool reached_ = false;
    bool released_ = false;
};

class DownloadPageTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        sensorOptions.resetDelayMs = 20;
        catalogue_ = dataDir->File("server");
    }
    void TearDown() override {
        // A download held by a failed test must not keep the window from closing.
        if (gate) gate->Release();
        MainWindowFixture::TearDown();
        gate.reset();
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

    // Starts a download of a simulator image of the version that stops before
    // packet 2 until the gate is released. The image's bytes.
    std::vector<uint8_t> StartHeldDownload(const std::string& version) {
        EXPECT_TRUE(RunWorker("UpdateFWInfoButton")) << LastBox().text;  // the partition to download into
        const std::string file = dataDir->File("held.bin");
        const std::vector<uint8_t> image = WriteImage(file, version, 3000);
        SetImagePath(file);
        gate = std::make_unique<PacketGate>(2);
        PacketGate* held = gate.get();
        page->SetBeforePacketHook([held](uint32_t serial) { held->BeforePacket(serial); });
        QTest::mouseClick(Button("DownloadButton"), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([held] { return held->Reached(); }, 20000)) << "the download did not start";
        return image;
    }
    // The sensor has settled (not restarting) in this running mode.
    bool SensorSettlesIn(uint32_t mode) {
        return QTest::qWaitFor([&] { return !sensor->Restarting() && sensor->RunningMode() == mode; }, 20000);
    }
    bool BoxSaid(const std::string& text) const {
        for (const MessageBoxRecord& box : boxes)
            if (box.text.find(text) != std::string::npos) return true;
        return false;
    }

    FirmwarePage* page = nullptr;
    std::string catalogue_;
    std::unique_ptr<PacketGate> gate;
};

TEST_F(DownloadPageTest, ReadInfoShowsTheSensorsFirmwareAndPartitions) {
    OpenFirmwarePage();
    EXPECT_EQ(page->PortNumber(), RegisterSerialPortPath(sensor->PortPath()));
    EXPECT_EQ(page->BaudRate(), 256000);
    EXPECT_TRUE(RunWorker("UpdateFWInfoButton"));
    EXPECT_EQ(LabelText("RunningMode"), "Current Firmware: App0");
    EXPECT_EQ(LabelText("FirmwareVersion"), "Firmware version: v1.0.2");
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
    ASSERT_EQ(image.size(), 5017u);
    EXPECT_EQ(LabelText("FileSize"), "Size of bin file: 5,017 bytes");
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
    // The field starts empty: a download without a path is refused like a wrong one.
    EXPECT_EQ(Find<QLineEdit>("DownloadFilePath")->text().toStdString(), "");
    for (const std::string& path : {std::string(), dataDir->Path(), dataDir->File("gone.bin")}) {
        boxes.clear();
        SetImagePath(path);
        QTest::mouseClick(Button("DownloadButton"), Qt::LeftButton);
        EXPECT_FALSE(page->WorkerRunning()) << path;
        ASSERT_EQ(boxes.size(), 1u) << path;
        EXPECT_EQ(boxes[0].text, "Failed to open the bin file, please check the directory!");
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
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

TEST_F(DownloadPageTest, WithoutAnAddressTheBoxPointsAtTheField) {
    unsetenv(UPDATE_URL_ENVIRONMENT);
    WriteConfig("<?xml version=\"1.0\"?><AppConfig/>");
    OpenWindow();
    QTest::mouseClick(Button("1189"), Qt::LeftButton);
    page = dynamic_cast<FirmwarePage*>(window->Page(1189));
    ASSERT_NE(page, nullptr);
    const uint64_t commandsBefore = sensor->Counters().commandsReceived;
    QTest::mouseClick(Button("CheckVersionButton"), Qt::LeftButton);
    // Nothing to ask a server: no worker, nothing sent to the sensor, no log-on failure.
    EXPECT_FALSE(page->WorkerRunning());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "No update address is set: enter the address of the update server in the field \"Update address\" on "
              "this page, then check again.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
    EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("UpdateAddressEdit"));
    QCoreApplication::processEvents();
    EXPECT_EQ(sensor->Counters().commandsReceived, commandsBefore);
}

// A server that cannot be used: the reason, in the language of the window.
TEST_F(DownloadPageTest, ServerFailuresSayWhyInTheWindowsLanguage) {
    unsetenv(UPDATE_URL_ENVIRONMENT);
    const std::string missing = "file://" + dataDir->File("no-such-folder") + "/";
    const struct {
        UiLanguage language;
        std::string text;
    } cases[] = {
        {UiLanguage::English, "Failed to log on to the update server.\nReason: " + missing +
                                  "catalogue.json: the file does not exist or cannot be read"},
        {UiLanguage::SimplifiedChinese, "登录升级服务器失败。\n原因：" + missing + "catalogue.json：文件不存在或无法读取"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.language));
        SetUiLanguage(c.language);
        WriteConfig("<?xml version=\"1.0\"?><AppConfig><Upgrade Url=\"" + missing + "\"/></AppConfig>");
        boxes.clear();
        OpenWindow();
        QTest::mouseClick(Button("1189"), Qt::LeftButton);
        page = dynamic_cast<FirmwarePage*>(window->Page(1189));
        ASSERT_NE(page, nullptr);
        EXPECT_FALSE(RunWorker("CheckVersionButton"));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].caption, LoadStringText(TEXT_ERROR));
        EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
        CloseWindow();
    }
}

// A fetch the core refuses (here a catalogue entry larger than any archive that
// unpacks within the limits): the box says why in the window's language, nothing
// is asked for, and the firmware folder holds nothing afterwards.
TEST_F(DownloadPageTest, ARefusedFetchSaysWhyAndLeavesNothing) {
    unsetenv(UPDATE_URL_ENVIRONMENT);
    Publish("1.0.3", {0});
    FirmwareCatalogue list;
    ASSERT_TRUE(ParseCatalogue(ReadWholeFile(catalogue_ + "/catalogue.json"), list, nullptr));
    list.versions[0].size = 1000000000000000ull;
    ASSERT_TRUE(WriteWholeFile(catalogue_ + "/catalogue.json", CatalogueToJson(list)));
    const std::string limit = std::to_string(ARCHIVE_MAX_BYTES);
    const struct {
        UiLanguage language;
        std::string text;
    } cases[] = {
        {UiLanguage::English, "Failed to download the firmware from the update server.\nReason: the catalogue gives the "
                              "archive 1000000000000000 bytes, more than an archive of at most 64 MiB of images can "
                              "have (" + limit + " bytes)"},
        {UiLanguage::SimplifiedChinese, "从升级服务器下载固件失败。\n原因：目录给出的固件包大小为 1000000000000000 "
                                        "字节，超过了解压后至多 64 MiB 的固件包可能的大小（" + limit + " 字节）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.language));
        SetUiLanguage(c.language);
        boxes.clear();
        OpenFirmwarePage();
        ASSERT_TRUE(RunWorker("CheckVersionButton")) << LastBox().text;
        EXPECT_FALSE(RunWorker("GetFWButton"));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
        std::error_code ec;
        EXPECT_TRUE(!std::filesystem::exists(dataDir->File("FW_Image"), ec) ||
                    std::filesystem::is_empty(dataDir->File("FW_Image"), ec));
        CloseWindow();
    }
    SetUiLanguage(UiLanguage::English);
}

// The address lives in a field of the page and in appConfig.xml: typed, it is saved;
// written into the file while the tool runs, the next check uses it and the field
// shows it; the window's own saves keep it.
TEST_F(DownloadPageTest, TheUpdateAddressFieldAndTheFileAgree) {
    unsetenv(UPDATE_URL_ENVIRONMENT);
    Publish("1.0.3", {0});
    WriteConfig("<?xml version=\"1.0\"?><AppConfig BaudRate=\"256000\"/>");
    OpenWindow();
    QTest::mouseClick(Button("1189"), Qt::LeftButton);
    page = dynamic_cast<FirmwarePage*>(window->Page(1189));
    ASSERT_NE(page, nullptr);
    page->SetBootResetWaitMs(ResetWaitFor(sensorOptions));
    auto* field = Find<QLineEdit>("UpdateAddressEdit");
    EXPECT_EQ(field->text().toStdString(), "");

    // Typed: saved at once.
    const std::string typed = "file://" + dataDir->File("elsewhere") + "/";
    field->setText(QString::fromStdString(typed));
    emit field->editingFinished();
    EXPECT_NE(ConfigFileText().find("Url=\"" + typed + "\""), std::string::npos) << ConfigFileText();

    // Edited in the file while the tool runs: the check uses the file's address.
    const std::string served = "file://" + catalogue_ + "/";
    std::string text = ConfigFileText();
    text.replace(text.find(typed), typed.size(), served);
    WriteConfig(text);
    EXPECT_TRUE(RunWorker("CheckVersionButton"));
    EXPECT_EQ(ComboItems("VersionCombo"), std::vector<std::string>{"1.0.3"});
    EXPECT_EQ(field->text().toStdString(), served);
    EXPECT_NE(LogText().find("Checking the update server " + served), std::string::npos) << LogText();
    EXPECT_TRUE(boxes.empty()) << LastBox().text;

    // The window's save at exit keeps the element and the address.
    CloseWindow();
    EXPECT_NE(ConfigFileText().find("<Upgrade Url=\"" + served + "\""), std::string::npos) << ConfigFileText();

    // The environment variable rules for a run: the field shows it and cannot be edited.
    setenv(UPDATE_URL_ENVIRONMENT, "http://from-the-environment/", 1);
    OpenWindow();
    field = Find<QLineEdit>("UpdateAddressEdit");
    EXPECT_EQ(field->text().toStdString(), "http://from-the-environment/");
    EXPECT_TRUE(field->isReadOnly());
    unsetenv(UPDATE_URL_ENVIRONMENT);
}

TEST_F(DownloadPageTest, TheImagePathStartsEmptyAndIsRemembered) {
    OpenFirmwarePage();
    auto* path = Find<QLineEdit>("DownloadFilePath");
    EXPECT_EQ(path->text().toStdString(), "");
    const std::string file = dataDir->File("typed.bin");
    WriteImage(file, "v1.0.9");
    path->setText(QString::fromStdString(file));
    emit path->editingFinished();
    CloseWindow();
    OpenWindow();
    EXPECT_EQ(Find<QLineEdit>("DownloadFilePath")->text().toStdString(), file);
}

// While the page talks to the sensor the window's connection is closed; the status
// bar names the port the page uses.
TEST_F(DownloadPageTest, TheStatusBarNamesThePortDuringADownload) {
    OpenFirmwarePage();
    StartHeldDownload("v1.0.6");
    window->UpdateRunStatus();
    EXPECT_NE(window->RunStatusText().toStdString().find("Update FW on " + sensor->PortPath()), std::string::npos)
        << window->RunStatusText().toStdString();
    gate->Release();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !page->WorkerRunning(); }, 20000));
}

// Closing the window or leaving the page while a download runs: each answer of the
// question, and what the sensor and the window end up as.
TEST_F(DownloadPageTest, CloseOrLeaveDuringADownloadAsks) {
    enum class Action { Close, SwitchPage };
    struct Case {
        const char* name;
        Action action;
        std::string choice;  // the answer's button text
        bool windowCloses;
        bool pageStays;       // the firmware page is still the one shown
        bool completes;       // the download ends with the whole image on the sensor
    };
    const Case cases[] = {
        {"close when done", Action::Close, "Close when done", true, true, true},
        {"interrupt and close", Action::Close, "Interrupt and close", true, true, false},
        {"keep the window open", Action::Close, "Keep the window open", false, true, true},
        {"stay on the page", Action::SwitchPage, "Stay on this page", false, true, true},
        {"interrupt and leave", Action::SwitchPage, "Interrupt and leave", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        questions.clear();
        // Each case starts from a fresh sensor that runs its application.
        ASSERT_TRUE(sensor.Start(sensorOptions));
        OpenFirmwarePage();
        const std::string version = std::string("v1.1.") + std::to_string(&c - cases);
        const std::vector<uint8_t> image = StartHeldDownload(version);
        answer = [&](const QuestionRecord& question) {
            for (size_t i = 0; i < question.choices.size(); ++i)
                if (question.choices[i] == c.choice) return static_cast<int>(i);
            ADD_FAILURE() << "no choice " << c.choice;
            return question.escapeChoice;
        };
        if (c.action == Action::Close)
            window->close();
        else
            QTest::mouseClick(Button("1187"), Qt::LeftButton);
        ASSERT_EQ(questions.size(), 1u);
        EXPECT_NE(questions[0].text.find("A firmware download is in progress."), std::string::npos);
        // The download is still held: nothing has happened to the window yet,
        // except that a page switch was let through when the user chose to leave.
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(page->isVisible(), c.pageStays);
        EXPECT_EQ(Button("1189")->isChecked(), c.pageStays);

        gate->Release();
        EXPECT_TRUE(QTest::qWaitFor([this] { return !page->WorkerRunning(); }, 20000));
        if (c.windowCloses) {
            EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }, 20000));
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(window->isVisible(), !c.windowCloses);
        if (!c.windowCloses) {
            EXPECT_EQ(page->isVisible(), c.pageStays);
        }

        if (c.completes) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return sensor->Version() == version; }, 20000)) << sensor->Version();
            EXPECT_EQ(sensor->FlashPartition(0), image);
            EXPECT_TRUE(boxes.empty()) << LastBox().text;
            EXPECT_NE(LogText().find("Download successful!"), std::string::npos) << LogText();
        } else {
            // Interrupted: the sensor stays in its bootloader, and the page says so.
            EXPECT_TRUE(SensorSettlesIn(SIM_MODE_BOOTLOADER));
            EXPECT_NE(sensor->FlashPartition(0), image);
            const std::string said = "The firmware download was interrupted. The sensor is now in its bootloader";
            EXPECT_TRUE(BoxSaid(said)) << LastBox().text;
            EXPECT_EQ(LastBox().icon, MessageIcon::Error);
            EXPECT_NE(LogText().find(said), std::string::npos) << LogText();
            if (!c.windowCloses) {
                EXPECT_NE(window->NoticeText().toStdString().find(said), std::string::npos);
            }
        }
        gate.reset();
        window.reset();
    }
}

// Connect finds a sensor left in its bootloader: the window says so and offers the
// firmware page, from which a download brings the application back.
TEST_F(DownloadPageTest, ConnectToASensorInItsBootloaderOffersTheFirmwarePage) {
    const struct {
        const char* name;
        int choice;  // 0: show the firmware page, 1: not now
    } cases[] = {{"show the page", 0}, {"not now", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        questions.clear();
        answer = [&](const QuestionRecord&) { return c.choice; };
        ASSERT_TRUE(sensor.Start(sensorOptions));
        ASSERT_TRUE(ResetIntoBootloader(sensor));
        OpenWindow();
        Connect();
        ASSERT_EQ(questions.size(), 1u);
        EXPECT_EQ(questions[0].text,
                  "The sensor on " + sensor->PortPath() +
                      " is in its bootloader: it runs no application, most likely because a firmware download did "
                      "not complete, and its parameters cannot be read.\n\nShow the firmware page (Update FW) to "
                      "download an image?");
        EXPECT_EQ(questions[0].choices, (std::vector<std::string>{"Show the firmware page", "Not now"}));
        EXPECT_EQ(questions[0].escapeChoice, 1);
        // Showing the firmware page hands it the port: the notice then says so instead.
        if (c.choice == 1) {
            EXPECT_EQ(window->NoticeText().toStdString(),
                      "The sensor on " + sensor->PortPath() + " is in its bootloader and runs no application.");
        }
        page = dynamic_cast<FirmwarePage*>(window->Page(1189));
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->isVisible(), c.choice == 0);
        if (c.choice == 0) {
            // The page has the port; Read Info shows the bootloader, a download recovers.
            WaitForSensor();
            page->SetBootResetWaitMs(ResetWaitFor(sensorOptions));
            EXPECT_TRUE(RunWorker("UpdateFWInfoButton"));
            EXPECT_EQ(LabelText("RunningMode"), "Current Firmware: BootLoader");
            EXPECT_EQ(LabelText("FirmwareVersion"), "Firmware version: none, the bootloader runs");
            const std::string file = dataDir->File("recover.bin");
            const std::vector<uint8_t> image = WriteImage(file, "v1.0.5");
            SetImagePath(file);
            EXPECT_TRUE(RunWorker("DownloadButton"));
            EXPECT_TRUE(QTest::qWaitFor([&] { return sensor->Version() == "v1.0.5"; }, 20000)) << sensor->Version();
            EXPECT_TRUE(RunWorker("UpdateFWInfoButton"));
            EXPECT_EQ(LabelText("FirmwareVersion"), "Firmware version: v1.0.5");
        }
        window.reset();
        sensor.Stop();
    }
    // A sensor that runs its application is not asked about.
    questions.clear();
    ASSERT_TRUE(sensor.Start(sensorOptions));
    OpenWindow();
    Connect();
    EXPECT_TRUE(questions.empty());
}

// English and Chinese: the skin of the language, and pictures of the page after an
// information query (the sensor's version, the update address), after a catalogue
// check and during a download.
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
    EXPECT_EQ(LabelText("UpdateAddressLabel"), chinese ? "升级地址：" : "Update address:");
    EXPECT_EQ(Find<QLineEdit>("UpdateAddressEdit")->text().toStdString(), "file://" + catalogue_ + "/");

    ASSERT_TRUE(RunWorker("UpdateFWInfoButton"));
    EXPECT_EQ(LabelText("RunningMode"), LoadStringText(TEXT_CURRENT_FIRMWARE).replace(LoadStringText(TEXT_CURRENT_FIRMWARE).find("%s"), 2, "App0"));
    EXPECT_EQ(LabelText("FirmwareVersion"), chinese ? "固件版本：v1.0.2" : "Firmware version: v1.0.2");
    SaveScreenshot("firmware-page-" + suffix + ".png");

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
    EXPECT_EQ(LabelText("FileSize"), chinese ? "bin文件大小：12,016 字节" : "Size of bin file: 12,016 bytes");
}

INSTANTIATE_TEST_SUITE_P(Languages, DownloadPageLanguageTest, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Chinese" : "English"; });

}  // namespace
