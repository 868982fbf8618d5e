// The main window against the virtual sensor: connecting, page switching, keys,
// proportional resize, the configuration it saves and the licence dialog.

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <random>

#include <QFontInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include "MainWindowFixture.h"
#include "support/qt/QtTestEnvironment.h"
#include "app/AppConfig.h"
#include "firmware/widgets/FirmwarePage.h"
#include "monitor/widgets/TargetPage.h"
#include "app/widgets/ToolApplication.h"
#include "app/widgets/LicenceDialog.h"
#include "common/FileUtils.h"
#include "controls/widgets/NumericEdit.h"
#include "device/CommandModeScope.h"
#include "session/SensorSession.h"
#include "device/SerialPortRegistry.h"
#include "params/RadarOperatorConfig.h"
#include "params/widgets/ParameterPage.h"

namespace {

using MainWindowTest = MainWindowFixture;

// Writes a parameter set into the sensor, then leaves the port to the window.
void PrimeSensor(SimulatedSensor& sensor, const ParamSetting& setting)
{
    ASSERT_TRUE(sensor.Open(OpenMode::CommandMode, 115200));
    EXPECT_EQ(WriteAllParams(sensor.Line(), setting), OPERATOR_OK);
    sensor.Line().StopCmdMode();
    sensor.CloseDevice();
}

TEST_F(MainWindowTest, ConnectShowsVersionSerialNumberAndTheSensorsParameters)
{
    sensorOptions.version = "v2.3.4";
    sensorOptions.serialNumber = "SN-TEST-42";
    ASSERT_TRUE(sensor.Start(sensorOptions));
    ParamSetting primed;
    primed.DetectRangeMin = 1.4;
    primed.DetectRangeMax = 5.6;
    primed.ResponseFreq = 1.0;
    primed.RangeReportFreq = 2.0;
    primed.StateReportFreq = 6.0;
    primed.ObjectDisappearReportTime = 120;
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        primed.GateTriggerThreshold[gate] = 60 + gate;
        primed.GateHoldThreshold[gate] = 20 + gate;
    }
    ASSERT_NO_FATAL_FAILURE(PrimeSensor(sensor, primed));

    OpenWindow();
    QLabel* version = Find<QLabel>("1104");
    EXPECT_FALSE(version->isVisible());
    EXPECT_EQ(Button("1103")->text(), "Connect");
    EXPECT_EQ(window->PortNumber(), RegisterSerialPortPath(sensor->PortPath()));

    Connect();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Button("1103")->text(), "Disconn.");
    EXPECT_TRUE(version->isVisible());
    EXPECT_EQ(version->text().toStdString(), "Version: v2.3.4\nSN: SN-TEST-42");

    EXPECT_EQ(Edit(2010)->text(), "1.4");
    EXPECT_EQ(Edit(2011)->text(), "5.6");
    EXPECT_EQ(Combo("2013")->currentText(), "2.0");
    EXPECT_EQ(Combo("2012")->currentText(), "6.0");
    EXPECT_TRUE(Find<QAbstractButton>("2015")->isChecked());
    EXPECT_EQ(Edit(2016)->text(), "120");
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        EXPECT_EQ(Edit(2020 + gate)->text(), QString::number(60 + gate));
        EXPECT_EQ(Edit(2040 + gate)->text(), QString::number(20 + gate));
    }
    EXPECT_NE(ConfigFileText().find("BaudRate=\"115200\""), std::string::npos);

    // Disconnect.
    Connect();
    EXPECT_EQ(Button("1103")->text(), "Connect");
    EXPECT_FALSE(version->isVisible());
    EXPECT_FALSE(window->Session().IsConnected());
}

// "Waiting for the sensor…" lasts as long as the wait: a read that reports in a
// box, not on the status bar, gives back the notice from before it.
TEST_F(MainWindowTest, TheWaitingNoticeEndsWithTheWait)
{
    ASSERT_TRUE(sensor.Start(sensorOptions));
    OpenWindow();
    Connect();
    const QString before = window->NoticeText();
    ASSERT_FALSE(before.isEmpty());
    QTest::mouseClick(Button("2002"), Qt::LeftButton);  // Read Config.
    EXPECT_EQ(window->NoticeText(), "Waiting for the sensor…");
    WaitForSensor();
    EXPECT_EQ(LastBox().text, "The parameters were read from the sensor.");
    EXPECT_EQ(window->NoticeText(), before);
}

// A trigger table that comes back implausible twice is not shown as the sensor's:
// the page keeps what it had and the status bar says which value was wrong.
TEST_F(MainWindowTest, AnImplausibleReplyAtConnectIsNamedAndNotShown)
{
    sensorOptions.garbleReplyCommand = PARAM_ID_READ_TRIGGER_THRESHOLD;
    sensorOptions.garbleReplyCount = 2;
    ASSERT_TRUE(sensor.Start(sensorOptions));
    OpenWindow();
    const QString before = Edit(2035)->text();
    Connect();
    EXPECT_EQ(Button("1103")->text(), "Disconn.");
    EXPECT_EQ(window->NoticeText().toStdString(),
              "Failed to read parameters: The sensor's reply was implausible twice (malformed reply, 0xA004): "
              "GateTriggerThreshold[15] is 2147483679, expected 0-100.");
    EXPECT_EQ(Edit(2035)->text(), before);
    EXPECT_NE(Edit(2035)->text(), "2147483679");
}

TEST_F(MainWindowTest, WithoutAPortConnectSaysNoDeviceDetected)
{
    OpenWindow(false);
    Combo("1101")->clear();
    Combo("1101")->setEditText(QString());
    Connect();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "No Device Detected");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
    EXPECT_EQ(Button("1103")->text(), "Connect");
}

TEST_F(MainWindowTest, AFailedOpenSaysWhyAndStaysNotConnected)
{
    OpenWindow();
    // Another program holds the port.
    {
        SensorSession other;
        ASSERT_TRUE(other.Open(sensor->PortPath(), 115200));
        Connect();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("Failed to open device", 0), 0u) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("is in use by another program"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(Button("1103")->text(), "Connect");
    EXPECT_FALSE(Find<QLabel>("1104")->isVisible());

    // A typed path that does not exist.
    boxes.clear();
    QComboBox* ports = Combo("1101");
    ports->setEditText("/dev/palo-no-such-port");
    Connect();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Cannot open the port /dev/palo-no-such-port: The port does not exist."),
              std::string::npos)
        << boxes[0].text;
    EXPECT_EQ(ports->currentText(), "/dev/palo-no-such-port") << "a typed path stays in the list";
    EXPECT_EQ(window->PortNumber(), RegisterSerialPortPath("/dev/palo-no-such-port"));
}

TEST_F(MainWindowTest, APortWithoutPermissionNamesItsOwnerAndGroup)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root opens every port";
    OpenWindow();
    ASSERT_EQ(chmod(sensor->PortPath().c_str(), 0), 0);
    Connect();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("Failed to open device", 0), 0u) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("Cannot open the port " + sensor->PortPath() + ": Permission denied"), std::string::npos)
        << boxes[0].text;
    // A pseudo-terminal is not dialout's: joining that group would not help.
    EXPECT_EQ(boxes[0].text.find("dialout"), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("group \""), std::string::npos) << boxes[0].text;
}

TEST_F(MainWindowTest, ATypedPathConnects)
{
    ASSERT_TRUE(sensor.Start(sensorOptions));
    OpenWindow(false);
    QComboBox* ports = Combo("1101");
    ASSERT_TRUE(FocusWidget(ports));
    ports->lineEdit()->selectAll();
    QTest::keyClicks(ports->lineEdit(), QString::fromStdString(sensor->PortPath()));
    QTest::keyClick(ports->lineEdit(), Qt::Key_Return);  // Enter in the port list presses Connect
    WaitForSensor();
    EXPECT_TRUE(boxes.empty()) << LastBox().text;
    EXPECT_EQ(Button("1103")->text(), "Disconn.");
    // The firmware page was handed the port it will open itself.
    auto* firmwarePage = dynamic_cast<FirmwarePage*>(window->Page(1189));
    ASSERT_NE(firmwarePage, nullptr);
    EXPECT_EQ(firmwarePage->PortNumber(), RegisterSerialPortPath(sensor->PortPath()));
}

// A port with a stable name (a fake by-id folder through the documented override)
// shows it in the list, and choosing that item connects to the same sensor.
TEST_F(MainWindowTest, TheStableNameOfAPortIsShownAndItsItemConnects)
{
    ASSERT_TRUE(sensor.Start(sensorOptions));
    const std::string byId = dataDir->File("usb-Silicon_Labs_CP2102_P520G-0002-if00-port0");
    ASSERT_EQ(symlink(sensor->PortPath().c_str(), byId.c_str()), 0);
    ASSERT_EQ(setenv("PALO520G_SERIAL_BY_ID_DIR", dataDir->Path().c_str(), 1), 0);
    OpenWindow(false);
    unsetenv("PALO520G_SERIAL_BY_ID_DIR");
    QComboBox* ports = Combo("1101");
    const int item = ports->findData(RegisterSerialPortPath(sensor->PortPath()));
    ASSERT_GE(item, 0) << "the by-id link's device is listed";
    EXPECT_EQ(ports->itemText(item).toStdString(), sensor->PortPath() + " [" + byId + "]");
    ports->setCurrentIndex(item);
    Connect();
    EXPECT_TRUE(boxes.empty()) << LastBox().text;
    EXPECT_EQ(Button("1103")->text(), "Disconn.");
}

TEST_F(MainWindowTest, EnterInTheBaudEditConnectsAndTheBaudIsSaved)
{
    OpenWindow();
    auto* baud = Find<QLineEdit>("1102");
    EXPECT_EQ(baud->text(), "115200");
    ASSERT_TRUE(FocusWidget(baud));
    baud->selectAll();
    QTest::keyClicks(baud, "57600");
    EXPECT_EQ(window->BaudRate(), 57600);
    QTest::keyClick(baud, Qt::Key_Return);
    WaitForSensor();
    EXPECT_EQ(Button("1103")->text(), "Disconn.");
    EXPECT_EQ(sensor->LineBaudRate(), 57600);
    EXPECT_NE(ConfigFileText().find("BaudRate=\"57600\""), std::string::npos);

    // Text that is not a number gives baud rate 0.
    baud->setText("fast");
    EXPECT_EQ(window->BaudRate(), 0);
}

TEST_F(MainWindowTest, UpdateFirmwareClosesTheConnectionAndDisablesConnect)
{
    OpenWindow();
    Connect();
    ASSERT_EQ(Button("1103")->text(), "Disconn.");

    QTest::mouseClick(Button("1189"), Qt::LeftButton);
    WaitForSensor();  // the port closes on the sensor thread
    EXPECT_FALSE(window->Session().IsConnected());
    EXPECT_FALSE(Find<QLabel>("1104")->isVisible());
    EXPECT_EQ(Button("1103")->text(), "Connect");
    EXPECT_FALSE(Button("1103")->isEnabled());
    EXPECT_TRUE(window->FindPage<FirmwarePage>()->isVisible());
    EXPECT_FALSE(window->FindPage<ParameterPage>()->isVisible());

    QTest::mouseClick(Button("1188"), Qt::LeftButton);
    EXPECT_TRUE(window->FindPage<TargetPage>()->isVisible());
    EXPECT_FALSE(window->FindPage<FirmwarePage>()->isVisible());
    EXPECT_TRUE(Button("1103")->isEnabled());

    QTest::mouseClick(Button("1187"), Qt::LeftButton);
    EXPECT_TRUE(window->FindPage<ParameterPage>()->isVisible());
    EXPECT_FALSE(window->FindPage<TargetPage>()->isVisible());
    EXPECT_TRUE(Button("1103")->isEnabled());
    EXPECT_FALSE(window->Session().IsConnected()) << "leaving the page does not reconnect";
}

TEST_F(MainWindowTest, AHangUpReturnsTheWindowToNotConnected)
{
    OpenWindow();
    Connect();
    ASSERT_EQ(Button("1103")->text(), "Disconn.");
    sensor->HangUp();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Button("1103")->text() == "Connect"; }, 5000));
    EXPECT_FALSE(Find<QLabel>("1104")->isVisible());
    EXPECT_FALSE(window->Session().IsConnected());
    // The user is told, not left to notice the button.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("The connection to " + sensor->PortPath() + " was lost", 0), 0u) << boxes[0].text;
    EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
}

TEST_F(MainWindowTest, TheLinkWatchLeavesAClaimedLineToItsWorker)
{
    windowOptions.linkWatchPeriodMs = 50;
    OpenWindow();
    Connect();
    ASSERT_EQ(Button("1103")->text(), "Disconn.");
    // A quiet line: only the bytes injected below arrive.
    ASSERT_TRUE(window->Session().SwitchReportOutput(false));
    ASSERT_FALSE(sensor->ReportOutputOn());
    const std::vector<uint8_t> noise(48, 0x5A);
    // Three watch periods pass for each case; the drain needs only one.
    const int watchPeriods = 3 * windowOptions.linkWatchPeriodMs;

    uint64_t sent = sensor->Counters().noiseBytesSent;
    {
        SensorSession::LineClaim claim = window->Session().ClaimLine();
        sensor->InjectBytes(noise);
        ASSERT_TRUE(QTest::qWaitFor([&] { return sensor->Counters().noiseBytesSent >= sent + noise.size(); }, 5000));
        QTest::qWait(watchPeriods);
        uint8_t buffer[256];
        int received = 0;
        for (int n = 1; n > 0 && received < static_cast<int>(noise.size());) {
            n = claim.Line().ReadData(buffer, sizeof buffer, 1000);
            received += n > 0 ? n : 0;
        }
        EXPECT_EQ(received, static_cast<int>(noise.size())) << "the worker's bytes were read away";
    }

    sent = sensor->Counters().noiseBytesSent;
    sensor->InjectBytes(noise);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sensor->Counters().noiseBytesSent >= sent + noise.size(); }, 5000));
    QTest::qWait(watchPeriods);
    uint8_t buffer[256];
    SensorSession::LineClaim claim = window->Session().ClaimLine();
    EXPECT_EQ(claim.Line().ReadData(buffer, sizeof buffer, 0), 0)
        << "an unclaimed line is drained";
}

TEST_F(MainWindowTest, EscapeDoesNotCloseTheWindowButTheCloseBoxDoes)
{
    OpenWindow();
    for (QWidget* target : {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(Button("1187")),
                            static_cast<QWidget*>(Edit(2020))}) {
        ASSERT_TRUE(FocusWidget(target));
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_TRUE(window->isVisible());
    }
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
}

TEST_F(MainWindowTest, ResizingScalesControlsAndFontsFollowTheSmallerFactor)
{
    OpenWindow();
    QPushButton* connect = Button("1103");
    NumericEdit* gate = Edit(2020);
    const QSize design(MainWindow::DESIGN_WIDTH, MainWindow::DESIGN_HEIGHT);
    ASSERT_EQ(window->size(), design);
    const QRect connectRect = connect->geometry();
    const QRect gateRect = gate->geometry();
    const int pixelSize = QFontInfo(connect->font()).pixelSize();

    window->resize(design.width() * 2, design.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(connect->width(), connectRect.width() * 2);
    EXPECT_EQ(connect->x(), connectRect.x() * 2);
    EXPECT_EQ(connect->height(), connectRect.height());
    EXPECT_EQ(gate->width(), gateRect.width() * 2);
    EXPECT_EQ(QFontInfo(connect->font()).pixelSize(), pixelSize);
    EXPECT_EQ(QFontInfo(gate->font()).pixelSize(), pixelSize);
    EXPECT_DOUBLE_EQ(window->LayoutScale(), 1.0);

    window->resize(design.width() * 2, design.height() * 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(connect->height(), connectRect.height() * 2);
    EXPECT_EQ(QFontInfo(connect->font()).pixelSize(), pixelSize * 2);
    EXPECT_DOUBLE_EQ(window->LayoutScale(), 2.0);

    window->resize(design);
    QCoreApplication::processEvents();
    EXPECT_EQ(connect->geometry(), connectRect);
    EXPECT_EQ(QFontInfo(connect->font()).pixelSize(), pixelSize);
}

// The parameter section holds what the user saved with Save Config.: closing keeps it
// as it is, whatever was read or written meanwhile.
TEST_F(MainWindowTest, ClosingSavesTheBaudRateAndLeavesTheParameterSection)
{
    WriteConfig("<?xml version=\"1.0\"?>\n<AppConfig Language=\"ENG\" baudrate=\"9600\" Other=\"kept\">"
                "<ParamSetting ObjectDisappearReportTime=\"60\"/></AppConfig>\n");
    OpenWindow();
    EXPECT_EQ(Find<QLineEdit>("1102")->text(), "9600") << "names match without regard to case";
    Find<QLineEdit>("1102")->setText("115200");
    Connect();
    ASSERT_TRUE(window->Session().IsConnected());
    ASSERT_EQ(window->Params().ObjectDisappearReportTime, 40u) << "the sensor's value was read";
    CloseWindow();
    const std::string text = ConfigFileText();
    EXPECT_NE(text.find("baudrate=\"115200\""), std::string::npos) << text;
    EXPECT_NE(text.find("Other=\"kept\""), std::string::npos) << text;
    EXPECT_NE(text.find("<ParamSetting ObjectDisappearReportTime=\"60\" />"), std::string::npos) << text;
    // The run's log file exists.
    EXPECT_FALSE(GetLocalFolderFileList(dataDir->File("Log"), "log").empty());
}

TEST_F(MainWindowTest, ADamagedConfigurationIsRefusedSaidWhyAndNeverSavedOver)
{
    // Well-formed up to a broken tail: nothing of it is taken, not even the baud rate.
    const std::string damaged = "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\" Other=\"kept\">\n"
                                "<ParamSetting DetectRangeMax=\"7.70\"/><Broken\n";
    WriteConfig(damaged);
    OpenWindow(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }, HANG_GUARD_MS)) << "no message says why";
    ASSERT_EQ(boxes.size(), 1u);
    const std::string path = dataDir->File("appConfig.xml");
    EXPECT_EQ(boxes[0].text.rfind("The configuration file " + path + " was not loaded: not well-formed at line ", 0), 0u)
        << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("default settings"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].icon, MessageIcon::Warning);
    EXPECT_EQ(Find<QLineEdit>("1102")->text(), "115200");

    // Every save of the run leaves the file alone: the baud rate's, and the one on closing.
    Find<QLineEdit>("1102")->setText("38400");
    window->SaveBaudRate();
    window->Params().ObjectDisappearReportTime = 77;
    CloseWindow();
    EXPECT_EQ(ConfigFileText(), damaged);

    const auto logs = GetLocalFolderFileList(dataDir->File("Log"), "log");
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = ReadWholeFile(dataDir->File("Log/" + logs[0]));
    EXPECT_NE(log.find(path + " was not loaded: not well-formed at line "), std::string::npos) << log;
}

TEST_F(MainWindowTest, TheLicenceIsShownAtTheFirstStartAndFromTheAboutItem)
{
    std::remove(dataDir->File("LicenseShown").c_str());
    OpenWindow(false);
    QWidget* licence = window->Licence();
    ASSERT_NE(licence, nullptr);
    EXPECT_TRUE(licence->isVisible());
    auto* text = licence->findChild<QWidget*>("LicenseText");
    ASSERT_NE(text, nullptr);
    EXPECT_NE(LoadLicenseText().find("MIT License"), std::string::npos);
    licence->hide();
    CloseWindow();

    OpenWindow(false);  // a second start in the same folder
    licence = window->Licence();
    EXPECT_FALSE(licence->isVisible());
    window->ShowAbout();
    EXPECT_TRUE(licence->isVisible());
    EXPECT_TRUE(window->isVisible()) << "the licence guards nothing";
}

TEST_F(MainWindowTest, TheTitleCarriesTheVersionAndTheDemoNote)
{
    OpenWindow(false);
    EXPECT_EQ(window->windowTitle().toStdString(), std::string("Palo520G Tool ") + PaloVersionText());
    EXPECT_FALSE(window->windowIcon().isNull());
    CloseWindow();

    windowOptions.titleSuffix = "Demo: virtual sensor on /dev/pts/9";
    OpenWindow(false);
    EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral("%1 - Demo: virtual sensor on /dev/pts/9").arg(PaloVersionText())))
        << window->windowTitle().toStdString();
}


// ---------------------------------------------------------------- configuration that cannot be used

// What a path holds, to compare two moments: a file's bytes, a folder's names and
// their contents, or the kind of anything else.
std::string PathSnapshot(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return "absent";
    if (S_ISFIFO(st.st_mode))
        return "fifo";
    if (S_ISREG(st.st_mode))
        return "file:" + ReadWholeFile(path);
    if (!S_ISDIR(st.st_mode))
        return "other";
    std::string listing = "folder:";
    for (const std::string& name : GetLocalFolderFileList(path))
        listing += name + "=" + ReadWholeFile(path + "/" + name) + ";";
    return listing;
}

// A folder nobody may create files in, root included: the immutable flag where the
// file system has it (root), else the permission bits. Undone at scope end.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const std::string& path) : path_(path)
    {
        if (geteuid() != 0) {
            made_ = chmod(path.c_str(), 0500) == 0;
            return;
        }
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            made_ = immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0)
            close(fd);
    }
    ~ReadOnlyFolder()
    {
        if (!made_)
            return;
        if (!immutable_) {
            chmod(path_.c_str(), 0700);
            return;
        }
        const int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        if (fd >= 0)
            close(fd);
    }
    [[nodiscard]] bool Made() const { return made_; }

private:
    std::string path_;
    bool made_ = false;
    bool immutable_ = false;
};

// A small file system of its own on the folder, filled up: only root may mount, and
// only in a mount namespace of this thread, which the rest of the machine never sees.
class FullFolder {
public:
    explicit FullFolder(const std::string& path) : path_(path)
    {
        if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return;
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~FullFolder()
    {
        if (mounted_)
            umount2(path_.c_str(), MNT_DETACH);
    }
    // Writes the files, then fills what is left with one more.
    bool Fill(const std::vector<std::pair<std::string, std::string>>& files)
    {
        if (!mounted_)
            return false;
        for (const auto& [name, bytes] : files) {
            if (!WriteWholeFile(path_ + "/" + name, bytes))
                return false;
        }
        FILE* filler = std::fopen((path_ + "/filler").c_str(), "wb");
        if (!filler)
            return false;
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
        }
        std::fclose(filler);
        // Nothing more fits, not even the first bytes of a save.
        FILE* probe = std::fopen((path_ + "/probe").c_str(), "wb");
        const bool full = !probe || std::fwrite(block.data(), 1, 64, probe) != 64 || std::fflush(probe) != 0;
        if (probe)
            std::fclose(probe);
        std::remove((path_ + "/probe").c_str());
        return full;
    }

private:
    std::string path_;
    bool mounted_ = false;
};

// A configuration that cannot be used is said at start, in a box and in the log
// where there is one; the file (or whatever stands there) is left exactly as it was
// through a run that changes and saves settings and closes the window; the run uses
// the defaults when the file was not taken.
TEST_F(MainWindowTest, AConfigurationThatCannotBeUsedIsSaidAtStartAndLeftAsItIs)
{
    const std::string good = "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\"/>\n";
    std::string randomBytes;
    std::mt19937 random(21);
    for (int i = 0; i < 512; ++i)
        randomBytes.push_back(static_cast<char>(random() & 0xFF));
    std::string deep = "<AppConfig BaudRate=\"9600\">";
    for (int i = 0; i < 100; ++i)
        deep += "<a>";
    for (int i = 0; i < 100; ++i)
        deep += "</a>";
    deep += "</AppConfig>";

    enum class Kind { File, Folder, Fifo, DataFolderIsAFile, ReadOnly, Full };
    const struct {
        const char* name;
        Kind kind;
        std::string text;      // the file's bytes
        std::string reason;    // how the box's reason starts
        bool defaults;         // the run uses the defaults (the file was not taken)
    } cases[] = {
        {"mismatched tag on line 4", Kind::File,
         "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\">\n<ObjectInfo CurrentDetectValueMA=\"12.34000\">\n"
         "</Upgrade>\n<ParamSetting DetectRangeMax=\"7.70\"/>\n</AppConfig>\n",
         "not well-formed at line 4", true},
        {"random bytes", Kind::File, randomBytes, "not well-formed at line ", true},
        {"nested too deep", Kind::File, deep, "elements nested deeper than 64 levels", true},
        {"a folder", Kind::Folder, good, "it is a folder", true},
        {"a FIFO", Kind::Fifo, "", "it is a named pipe (FIFO), not a file", true},
        {"a data folder that is a file", Kind::DataFolderIsAFile, good, "the data folder ", true},
        {"a read-only data folder", Kind::ReadOnly, good, "", false},
        {"a full data folder", Kind::Full, good, "No space left on device", false},
    };
    int folderNumber = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = dataDir->File("case" + std::to_string(++folderNumber));
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        std::unique_ptr<ReadOnlyFolder> readOnly;
        std::unique_ptr<FullFolder> full;
        switch (c.kind) {
        case Kind::File:
            ASSERT_TRUE(WriteWholeFile(folder + "/appConfig.xml", c.text));
            break;
        case Kind::Folder:
            ASSERT_EQ(mkdir((folder + "/appConfig.xml").c_str(), 0700), 0);
            ASSERT_TRUE(WriteWholeFile(folder + "/appConfig.xml/inside.xml", c.text));
            break;
        case Kind::Fifo:
            ASSERT_EQ(mkfifo((folder + "/appConfig.xml").c_str(), 0600), 0);
            break;
        case Kind::DataFolderIsAFile:
            ASSERT_EQ(rmdir(folder.c_str()), 0);
            ASSERT_TRUE(WriteWholeFile(folder, c.text));
            break;
        case Kind::ReadOnly:
            ASSERT_TRUE(WriteWholeFile(folder + "/appConfig.xml", c.text));
            ASSERT_TRUE(WriteWholeFile(folder + "/LicenseShown", "shown\n"));
            readOnly = std::make_unique<ReadOnlyFolder>(folder);
            if (!readOnly->Made()) {
                std::cout << "skipped: the folder could not be made read-only\n";
                continue;
            }
            break;
        case Kind::Full:
            full = std::make_unique<FullFolder>(folder);
            if (!full->Fill({{"appConfig.xml", c.text}, {"LicenseShown", "shown\n"}})) {
                std::cout << "skipped: no small file system could be mounted (root only)\n";
                continue;
            }
            break;
        }
        if (c.kind != Kind::ReadOnly && c.kind != Kind::Full && c.kind != Kind::DataFolderIsAFile) {
            ASSERT_TRUE(WriteWholeFile(folder + "/LicenseShown", "shown\n"));
        }
        SetProgramPathOverride(folder);
        const std::string path = GetAppConfigPath();
        const std::string watched = c.kind == Kind::DataFolderIsAFile ? folder : path;
        const std::string before = PathSnapshot(watched);

        boxes.clear();
        OpenWindow(false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }, HANG_GUARD_MS)) << "no message says why";
        ASSERT_EQ(boxes.size(), 1u);
        const std::string& text = boxes[0].text;
        if (c.defaults) {
            const std::string start = "The configuration file " + path + " was not loaded: " + c.reason;
            EXPECT_EQ(text.rfind(start, 0), 0u) << text;
            EXPECT_NE(text.find("default settings"), std::string::npos) << text;
            EXPECT_EQ(Find<QLineEdit>("1102")->text(), "115200");
        } else {
            const std::string start = "The data folder " + folder + " cannot take a save (" + c.reason;
            EXPECT_EQ(text.rfind(start, 0), 0u) << text;
            EXPECT_NE(text.find("will not be saved to " + path), std::string::npos) << text;
            EXPECT_EQ(Find<QLineEdit>("1102")->text(), "9600") << "the file itself was fine";
        }
        EXPECT_EQ(boxes[0].icon, MessageIcon::Warning);

        // A run that changes and saves settings, and closes.
        Find<QLineEdit>("1102")->setText("38400");
        window->SaveBaudRate();
        TypeAndLeave(Edit(2020), "66");
        QTest::mouseClick(Button("2005"), Qt::LeftButton);
        answer = [](const QuestionRecord&) { return 0; };
        CloseWindow();
        EXPECT_EQ(PathSnapshot(watched), before);

        if (c.kind == Kind::File || c.kind == Kind::Folder || c.kind == Kind::Fifo) {
            const auto logs = GetLocalFolderFileList(folder + "/Log", "log");
            ASSERT_EQ(logs.size(), 1u);
            const std::string log = ReadWholeFile(folder + "/Log/" + logs[0]);
            EXPECT_NE(log.find(path + " was not loaded: " + c.reason), std::string::npos) << log;
        }
    }
}

// A hand edit of the file while the window runs (here: the update address) stays
// through the saves of the run and the one on closing.
TEST_F(MainWindowTest, WhatAnotherProgramAddsToTheFileMeanwhileIsKept)
{
    WriteConfig("<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\"/>\n");
    OpenWindow(false);
    const std::string edited = "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\" Custom=\"mine\">\n"
                               "\t<Upgrade Url=\"http://updates.example/palo\" />\n</AppConfig>\n";
    WriteConfig(edited);
    Find<QLineEdit>("1102")->setText("38400");
    window->SaveBaudRate();
    TypeAndLeave(Edit(2020), "66");
    QTest::mouseClick(Button("2005"), Qt::LeftButton);
    answer = [](const QuestionRecord&) { return 0; };
    CloseWindow();
    const std::string text = ConfigFileText();
    for (const char* piece : {"Custom=\"mine\"", "<Upgrade Url=\"http://updates.example/palo\" />",
                              "BaudRate=\"38400\"", "Gate0TriggerThreshold=\"66\""})
        EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
}

// Refresh while connected to a path typed into the port box keeps that path in the
// list and selected, and Disconnect names it, also when another entry was chosen
// meanwhile.
TEST_F(MainWindowTest, RefreshWhileConnectedKeepsTheTypedPortAndDisconnectNamesIt)
{
    ASSERT_TRUE(sensor.Start(sensorOptions));
    const std::string link = dataDir->File("sensor-link");
    ASSERT_EQ(symlink(sensor->PortPath().c_str(), link.c_str()), 0);
    const struct {
        const char* name;
        std::vector<std::string> typed;  // the last one connects
        bool chooseTheFirst;             // then the first is chosen while connected
    } cases[] = {
        {"the pseudo-terminal", {sensor->PortPath()}, false},
        {"a link to it, after another path", {sensor->PortPath(), link}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OpenWindow(false);
        QComboBox* ports = Combo("1101");
        for (const std::string& path : c.typed) {
            ASSERT_TRUE(FocusWidget(ports));
            ports->lineEdit()->selectAll();
            QTest::keyClicks(ports->lineEdit(), QString::fromStdString(path));
            // Tab takes a path into the list; Enter in the port box presses Connect.
            QTest::keyClick(ports->lineEdit(), &path == &c.typed.back() ? Qt::Key_Return : Qt::Key_Tab);
        }
        WaitForSensor();
        ASSERT_EQ(Button("1103")->text(), "Disconn.") << LastBox().text;
        const std::string connected = c.typed.back();

        QTest::mouseClick(Button("1100"), Qt::LeftButton);  // Refresh
        EXPECT_EQ(ports->currentText().toStdString(), connected);
        EXPECT_EQ(window->PortNumber(), RegisterSerialPortPath(connected));
        EXPECT_NE(window->ConnectionStatusText().toStdString().find(connected), std::string::npos)
            << window->ConnectionStatusText().toStdString();
        for (const std::string& path : c.typed)
            EXPECT_GE(ports->findData(RegisterSerialPortPath(path)), 0) << path << " stays in the list";
        if (c.chooseTheFirst)
            ports->setCurrentIndex(ports->findData(RegisterSerialPortPath(c.typed.front())));

        Connect();  // Disconn.
        EXPECT_EQ(window->NoticeText().toStdString(), "Disconnected from " + connected + ".");
        CloseWindow();
    }
}

}  // namespace
