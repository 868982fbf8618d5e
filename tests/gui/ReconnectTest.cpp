// The window after a replug: the line is lost, the sensor comes back under the same
// link name, and the window connects again by itself and resumes the live run.
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include "MainWindowFixture.h"
#include "device/WireTrace.h"
#include "monitor/widgets/TargetPage.h"
#include "support/TempDir.h"

namespace {

constexpr int GUARD_MS = 20000;

class ReconnectTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        sensorOptions.streamTimeScale = 20.0;
        sensorOptions.linkPath = dataDir->File("ttyPalo520G");
        windowOptions.linkWatchPeriodMs = 50;
        windowOptions.extraPortPaths = {sensorOptions.linkPath};
        windowOptions.selectPortPath = sensorOptions.linkPath;
    }

    TargetPage* Page() const { return dynamic_cast<TargetPage*>(window->Page(1188)); }

    void OpenOnTargetPage()
    {
        ASSERT_TRUE(sensor.Start(sensorOptions));
        OpenWindow(false);
        Connect();
        ASSERT_TRUE(window->Session().IsConnected());
        QTest::mouseClick(Button("1188"), Qt::LeftButton);
        WaitForSensor();
    }

    bool WaitForReports(uint64_t count)
    {
        return QTest::qWaitFor([&] { return Page()->Worker().ReportCount() >= count; }, GUARD_MS);
    }

    // Unplugs: the line hangs up and the link goes with it.
    bool Unplug()
    {
        sensor->HangUp();
        return QTest::qWaitFor([&] { return window->Reconnecting(); }, GUARD_MS);
    }
};

TEST_F(ReconnectTest, TheWindowReconnectsAndTheLiveRunResumes)
{
    OpenOnTargetPage();
    ASSERT_TRUE(WaitForReports(10));
    for (int drop = 1; drop <= 2; ++drop) {
        SCOPED_TRACE(drop);
        boxes.clear();
        ASSERT_TRUE(Unplug());
        EXPECT_FALSE(Page()->RunActive());
        const std::string reconnecting =
            "The line to " + sensorOptions.linkPath + " was lost; the tool reconnects when it comes back";
        EXPECT_TRUE(window->NoticeText().startsWith(QString::fromStdString("The connection to " + sensorOptions.linkPath)));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text.rfind("The connection to " + sensorOptions.linkPath + " was lost", 0), 0u);
        EXPECT_NE(boxes[0].text.find(reconnecting), std::string::npos) << boxes[0].text;
        // Plugged back: a new terminal behind the same name.
        ASSERT_TRUE(sensor.Start(sensorOptions));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Reconnecting() && window->Session().IsConnected(); }, GUARD_MS))
            << window->NoticeText().toStdString();
        // The run starts again and the new sensor's reports arrive.
        ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->Worker().IsRunning(); }, GUARD_MS));
        const uint64_t sentBefore = sensor->Counters().reportFramesSent;
        ASSERT_TRUE(QTest::qWaitFor([&] { return sensor->Counters().reportFramesSent > sentBefore + 10; }, GUARD_MS));
        ASSERT_TRUE(WaitForReports(10));
        EXPECT_NE(window->ConnectionStatusText().toStdString().find(sensorOptions.linkPath), std::string::npos);
    }
}

TEST_F(ReconnectTest, ARecordingGoesOnInANewFileNamedInTheStatusBar)
{
    OpenOnTargetPage();
    const std::string folder = dataDir->File("records");
    Button("3003")->click();
    WaitForSensor();
    Find<QCheckBox>("3030")->click();
    Find<QLineEdit>("3031")->setText(QString::fromStdString(folder));
    Button("3003")->click();
    WaitForSensor();
    ASSERT_TRUE(WaitForReports(10));
    const std::string first = Page()->Worker().RecordFilePath();
    ASSERT_FALSE(first.empty());

    ASSERT_TRUE(Unplug());
    ASSERT_TRUE(sensor.Start(sensorOptions));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->Worker().IsRunning() && !Page()->Worker().RecordFilePath().empty(); },
                                GUARD_MS));
    ASSERT_TRUE(WaitForReports(10));
    const std::string second = Page()->Worker().RecordFilePath();
    EXPECT_NE(second, first);
    window->UpdateRunStatus();
    const std::string name = second.substr(second.find_last_of('/') + 1);
    EXPECT_NE(window->RunStatusText().toStdString().find(name), std::string::npos)
        << window->RunStatusText().toStdString();
}

TEST_F(ReconnectTest, SwitchedOffTheLossIsSaidInABoxAndNothingReconnects)
{
    OpenOnTargetPage();
    window->SetAutoReconnect(false);
    sensor->HangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }, GUARD_MS));
    EXPECT_FALSE(window->Reconnecting());
    EXPECT_EQ(LastBox().text.find("reconnects"), std::string::npos) << LastBox().text;
    ASSERT_TRUE(sensor.Start(sensorOptions));
    // Several watch periods with the port back: still not connected.
    const uint64_t commands = sensor->Counters().commandsReceived;
    QTest::qWait(500);
    EXPECT_FALSE(window->Session().IsConnected());
    EXPECT_EQ(sensor->Counters().commandsReceived, commands);
    EXPECT_NE(ConfigFileText().find("AutoReconnect=\"0\""), std::string::npos);
}

TEST_F(ReconnectTest, TheWireTraceSettingTracesTheWindowsExchanges)
{
    ASSERT_TRUE(sensor.Start(sensorOptions));
    OpenWindow(false);
    const std::string trace = dataDir->File("window.trace");
    ASSERT_TRUE(window->SetWireTraceFile(trace));
    Connect();
    ASSERT_TRUE(window->SetWireTraceFile({}));
    EXPECT_EQ(CurrentWireTrace(), nullptr);
    const std::string text = ReadWholeFile(trace);
    EXPECT_NE(text.find(" 00FF enter-command-mode > FD FC FB FA 04 00 FF 00 02 00 04 03 02 01 < "), std::string::npos)
        << text;
    EXPECT_NE(text.find(" read-version "), std::string::npos);
    EXPECT_NE(ConfigFileText().find("WireTraceFile=\"\""), std::string::npos);
}

}  // namespace
