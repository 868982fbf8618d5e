// The target information page in the main window, against the virtual sensor:
// live runs, replay, recording with its description, the status bar.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "MainWindowFixture.h"
#include "app/StringTable.h"
#include "chart/widgets/WaveChart.h"
#include "common/FileUtils.h"
#include "controls/widgets/ColorLabel.h"
#include "monitor/RecordSidecar.h"
#include "monitor/widgets/TargetPage.h"
#include "params/widgets/ParameterPage.h"

namespace {

constexpr int RUN_HANG_GUARD_MS = 15000;

const std::string SAMPLE_RECORD = std::string(PALO_SOURCE_DIR) + "/tests/data/RadarData_sample.dat";

// The estimated current in a status text ("…:0.05535 mA"), or "" when there is none.
std::string CurrentOf(const QString& status)
{
    const int colon = status.lastIndexOf(QLatin1Char(':'));
    const int unit = status.lastIndexOf(QStringLiteral(" mA"));
    return colon >= 0 && unit > colon ? status.mid(colon + 1, unit - colon - 1).toStdString() : std::string();
}

std::string FirstFileWithExtension(const std::string& folder, const std::string& extension)
{
    const std::vector<std::string> files = GetLocalFolderFileList(folder, extension);
    return files.empty() ? std::string() : folder + "/" + files.front();
}

class TargetPageTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        // The scene's 40 s cycle in 2 s, at 80 reports a second.
        sensorOptions.streamTimeScale = 20.0;
    }

    TargetPage* Page() const { return dynamic_cast<TargetPage*>(window->Page(1188)); }
    // Shows the page; a live run it starts is going once the sensor thread is idle.
    void ShowPage()
    {
        QTest::mouseClick(Button("1188"), Qt::LeftButton);
        WaitForSensor();
    }

    bool WaitForReports(uint64_t count)
    {
        return QTest::qWaitFor([&] { return Page()->Worker().ReportCount() >= count; }, RUN_HANG_GUARD_MS);
    }

    // Replays a file as fast as it goes and returns every status text shown, in order.
    std::vector<QString> ReplayStatuses(const std::string& path)
    {
        WaitForSensor();  // the last run's report output goes off first
        QSignalSpy statuses(Page(), &TargetPage::statusUpdated);
        QSignalSpy runs(Page(), &TargetPage::runStateChanged);
        Page()->SetReplaySpeedIndex(static_cast<int>(TargetPage::ReplaySpeeds().size()) - 1);
        Page()->ReplayFile(path);
        WaitForSensor();
        EXPECT_TRUE(Page()->Worker().IsRunning() || runs.count() > 0);
        // The run ends by itself at the end of the file (runStateChanged false).
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !runs.isEmpty() && !runs.last().at(0).toBool(); }, RUN_HANG_GUARD_MS));
        std::vector<QString> texts;
        for (const QList<QVariant>& signal : statuses)
            texts.push_back(signal.at(0).toString());
        return texts;
    }
};

TEST_F(TargetPageTest, BeforeAnyReportThePageShowsNobodyAtZero)
{
    OpenWindow();
    ShowPage();
    ASSERT_TRUE(Page()->isVisible());
    EXPECT_FALSE(Page()->Worker().IsRunning()) << "no run without a connection";
    EXPECT_EQ(Page()->StatusText().toStdString(),
              "Target Status: None\nTarget Distance: 0.00m\nEstimated average operating current\n"
              "  (current configuration):0.04118 mA\n");
    EXPECT_TRUE(Find<ColorLabel>("3001")->HasPicture()) << "the no-target picture";
    const std::vector<double> energies = Find<WaveChart>("3011")->waves[0].buffer.GetValues();
    ASSERT_FALSE(energies.empty());
    for (double value : energies)
        EXPECT_EQ(value, 0.0);
    const StateHistory& band = Page()->Charts().Band().History();
    EXPECT_TRUE(std::all_of(band.begin(), band.end(), [](uint8_t code) { return code == STATE_NO_REPORT; }));
    // The live button of a page without a sensor says why it does nothing.
    QTest::mouseClick(Button("3003"), Qt::LeftButton);
    EXPECT_EQ(LastBox().text, "Device Not Connected");
    EXPECT_EQ(Button("3003")->text(), "Start");
}

TEST_F(TargetPageTest, ALiveRunShowsReportsUntilStopped)
{
    OpenWindow();
    Connect();
    ShowPage();
    ASSERT_TRUE(Page()->Worker().IsRunning()) << "showing the page on a connection starts a run";
    EXPECT_EQ(Button("3003")->text(), "Stop");
    EXPECT_FALSE(Button("3004")->isEnabled());
    EXPECT_TRUE(sensor->ReportOutputOn());

    // The scene walks someone in: the status leaves "None", the energies leave 0 dB.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->StatusText().contains("Presence"); }, RUN_HANG_GUARD_MS))
        << Page()->StatusText().toStdString();
    const std::vector<double> energies = Find<WaveChart>("3011")->waves[0].buffer.GetValues();
    ASSERT_FALSE(energies.empty());
    EXPECT_GT(*std::max_element(energies.begin(), energies.end()), 0.0);
    ASSERT_TRUE(WaitForReports(200));  // past a whole cycle of the scene
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->RunStatusText().isEmpty(); }, RUN_HANG_GUARD_MS));
    EXPECT_TRUE(window->RunStatusText().startsWith("Live · ")) << window->RunStatusText().toStdString();

    QTest::mouseClick(Button("3003"), Qt::LeftButton);
    EXPECT_FALSE(Page()->Worker().IsWorkerActive()) << "Stop returns once the worker has ended";
    EXPECT_EQ(Button("3003")->text(), "Start");
    EXPECT_TRUE(Page()->StatusText().startsWith("Target Status: None"));
    // The output goes off on the sensor thread; the page's buttons wait for it.
    WaitForSensor();
    EXPECT_TRUE(Button("3004")->isEnabled());
    EXPECT_FALSE(sensor->ReportOutputOn()) << "the run switched the sensor's output off";

    // The band shows the states of the run: each column in the colour of its state.
    const StateHistory history = Page()->Worker().GetStateHistory();
    const QImage chart = Find<WaveChart>("3010")->grab().toImage();
    const ChartRect plot = Find<WaveChart>("3010")->plotRect;
    const TargetChartSettings& settings = Page()->Charts().settings;
    const uint32_t colours[4] = {0xFF000000u, settings.DistanceWaveWnd_NobodyColor, settings.DistanceWaveWnd_MotionColor,
                                 settings.DistanceWaveWnd_MotionlessColor};
    std::set<int> classesInHistory;
    for (uint8_t code : history)
        classesInHistory.insert(StateBandClassOf(code));
    EXPECT_GE(classesInHistory.size(), 3u) << "nobody, moving and motionless in one cycle";
    // Each column in the colour of its history entry. The range curve and the title
    // cross the band here and there, so most of the columns and of their rows are enough.
    const int width = plot.right - plot.left;
    const int bandHeight = Page()->Charts().Band().BandHeight();
    ASSERT_GT(bandHeight, 4);
    int goodColumns = 0;
    std::set<uint32_t> coloursSeen;
    for (int column = 0; column < width; ++column) {
        const int entry = std::clamp(static_cast<int>(std::lround(column / (width / 240.0))), 0, 239);
        const uint32_t expected = colours[StateBandClassOf(history[static_cast<size_t>(entry)])];
        int matching = 0;
        for (int row = 1; row < bandHeight - 1; ++row)
            matching += (chart.pixel(plot.left + column, plot.top + row) | 0xFF000000u) == expected;
        if (matching > bandHeight / 2) {
            ++goodColumns;
            coloursSeen.insert(expected);
        }
    }
    EXPECT_GE(goodColumns, width * 9 / 10);
    EXPECT_GE(coloursSeen.size(), 3u) << "the colours of nobody, moving and motionless";
}

TEST_F(TargetPageTest, LeavingThePageOrDisconnectingEndsTheRun)
{
    OpenWindow();
    Connect();
    ShowPage();
    ASSERT_TRUE(WaitForReports(1));
    QTest::mouseClick(Button("1187"), Qt::LeftButton);
    EXPECT_FALSE(Page()->Worker().IsWorkerActive());
    WaitForSensor();
    EXPECT_FALSE(sensor->ReportOutputOn());

    ShowPage();
    WaitForSensor();
    ASSERT_TRUE(Page()->Worker().IsRunning()) << "shown again on the connection: a new run";
    ASSERT_TRUE(WaitForReports(1));
    QTest::mouseClick(Button("1103"), Qt::LeftButton);  // Disconn.
    EXPECT_FALSE(Page()->Worker().IsWorkerActive());
    WaitForSensor();
    EXPECT_EQ(Button("1103")->text(), "Connect");
    EXPECT_EQ(Button("3003")->text(), "Start");
}

TEST_F(TargetPageTest, ReplayOfASmallRecordShowsEachReportThenStops)
{
    OpenWindow(false);
    ShowPage();
    const std::vector<QString> statuses = ReplayStatuses(SAMPLE_RECORD);
    // Three whole frames and a partial fourth: nobody, motionless at 1.20 m, moving at
    // 2.50 m (with the default parameters: the file has no description), then the stop.
    ASSERT_GE(statuses.size(), 2u);
    const QString last = statuses[statuses.size() - 2];
    EXPECT_TRUE(last.startsWith("Target Status: Presence\nTarget Distance: 2.50m")) << last.toStdString();
    EXPECT_EQ(CurrentOf(last), "0.05535");
    EXPECT_NE(std::find_if(statuses.begin(), statuses.end(),
                           [](const QString& s) { return s.contains("Presence(Motionless)\nTarget Distance: 1.20m"); }),
              statuses.end());
    EXPECT_TRUE(statuses.back().startsWith("Target Status: None")) << "the end stops the run";
    EXPECT_EQ(Page()->Worker().ReportCount(), 3u);
    EXPECT_EQ(Button("3004")->text(), "Replay");
    EXPECT_EQ(Page()->Worker().lastReplayFile, SAMPLE_RECORD);
}

TEST_F(TargetPageTest, ReplayControlsPauseStepAndMoveTheReplay)
{
    OpenWindow(false);
    ShowPage();
    // Before a replay the controls are there but do nothing.
    EXPECT_FALSE(Button("replayPause")->isEnabled());
    EXPECT_FALSE(Button("replayStep")->isEnabled());

    Page()->ReplayFile(std::string(PALO_SOURCE_DIR) + "/tests/data/RadarData_20000.dat");  // 500 ms a report
    ASSERT_TRUE(Page()->Worker().IsRunning());
    ASSERT_TRUE(WaitForReports(1));
    QTest::mouseClick(Button("replayPause"), Qt::LeftButton);
    EXPECT_EQ(Button("replayPause")->text(), "Resume");
    EXPECT_TRUE(Button("replayStep")->isEnabled());
    EXPECT_TRUE(Page()->Worker().IsPaused());
    // The report of the pause still in progress comes; then one per Step.
    const uint64_t paused = Page()->Worker().ReportCount();
    QTest::mouseClick(Button("replayStep"), Qt::LeftButton);
    ASSERT_TRUE(WaitForReports(paused + 1));
    EXPECT_LE(Page()->Worker().ReportCount(), paused + 2);

    // Half way through the file: the position follows the seek.
    Page()->SeekReplayFraction(0.5);
    QTest::mouseClick(Button("replayStep"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->Worker().ReplayPosition() > Page()->Worker().ReplayFileSize() / 2; },
                                RUN_HANG_GUARD_MS));
    // The seek lands on the next whole 80-byte frame; the report in progress may
    // still come before the step's own.
    EXPECT_LT(Page()->Worker().ReplayPosition(), Page()->Worker().ReplayFileSize() / 2 + 3 * 80);

    QTest::mouseClick(Button("replayPause"), Qt::LeftButton);
    EXPECT_EQ(Button("replayPause")->text(), "Pause");
    EXPECT_FALSE(Button("replayStep")->isEnabled());
    QTest::mouseClick(Button("3004"), Qt::LeftButton);  // Stop
    EXPECT_FALSE(Page()->Worker().IsWorkerActive());
    EXPECT_EQ(Button("3004")->text(), "Replay");
    EXPECT_FALSE(Button("replayPause")->isEnabled());
}

TEST_F(TargetPageTest, ARecordingDescribesItselfAndReplaysWithTheLiveCurrent)
{
    OpenWindow();
    Connect();
    // Report frequencies other than the defaults, written to the sensor by the parameter page.
    window->Params().ResponseFreq = 1.0;
    window->Params().RangeReportFreq = 2.0;
    window->Params().StateReportFreq = 8.0;
    window->FindPage<ParameterPage>()->UpdateControls();
    window->FindPage<ParameterPage>()->OnWrite();
    WaitForSensor();
    ASSERT_EQ(LastBox().text, "The parameters were written to the sensor.");

    const std::string folder = dataDir->File("records");
    ShowPage();
    QTest::mouseClick(Button("3003"), Qt::LeftButton);  // stop the run the page started
    WaitForSensor();
    Find<QCheckBox>("3030")->click();
    Find<QLineEdit>("3031")->setText(QString::fromStdString(folder));
    QSignalSpy liveStatuses(Page(), &TargetPage::statusUpdated);
    QTest::mouseClick(Button("3003"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::set<std::string> currents;
            for (const QList<QVariant>& s : liveStatuses)
                currents.insert(CurrentOf(s.at(0).toString()));
            return currents.size() >= 2;  // with and without a target
        },
        RUN_HANG_GUARD_MS));
    QTest::mouseClick(Button("3003"), Qt::LeftButton);
    std::set<std::string> liveCurrents;
    for (const QList<QVariant>& s : liveStatuses)
        liveCurrents.insert(CurrentOf(s.at(0).toString()));

    const std::string record = FirstFileWithExtension(folder, "dat");
    ASSERT_FALSE(record.empty());
    RecordSidecar description;
    ASSERT_TRUE(ReadRecordSidecar(SidecarPathOf(record), description));
    EXPECT_EQ(description.port, sensor->PortPath());
    EXPECT_EQ(description.firmwareVersion, "v1.0.2");
    EXPECT_EQ(description.params.StateReportFreq, 8.0);
    EXPECT_EQ(description.params.RangeReportFreq, 2.0);
    EXPECT_EQ(description.params.ResponseFreq, 1.0);
    EXPECT_EQ(description.status, SIDECAR_COMPLETE);
    EXPECT_TRUE(description.endedNormally);
    EXPECT_EQ(description.bytesWritten, std::filesystem::file_size(record));
    EXPECT_EQ(description.reportsWritten, Page()->Worker().ReportCount());
    EXPECT_FALSE(description.startTime.empty());
    EXPECT_FALSE(description.endTime.empty());

    // Replayed later against other parameters: the recording's own decide.
    QTest::mouseClick(Button("1103"), Qt::LeftButton);  // Disconn.
    InitParamSetting(window->Params());
    std::set<std::string> replayCurrents;
    const std::vector<QString> replayed = ReplayStatuses(record);
    for (size_t i = 0; i + 1 < replayed.size(); ++i)
        replayCurrents.insert(CurrentOf(replayed[i]));
    EXPECT_EQ(replayCurrents, liveCurrents);

    // Without its description the same file shows the window's parameters instead.
    std::filesystem::remove(SidecarPathOf(record));
    std::set<std::string> undescribedCurrents;
    const std::vector<QString> undescribed = ReplayStatuses(record);
    for (size_t i = 0; i + 1 < undescribed.size(); ++i)
        undescribedCurrents.insert(CurrentOf(undescribed[i]));
    EXPECT_NE(undescribedCurrents, liveCurrents);
}

TEST_F(TargetPageTest, AFailedRecordWriteEndsRecordingWithANoticeAndTheRunGoesOn)
{
    OpenWindow();
    Connect();
    const std::string folder = dataDir->File("records");
    ShowPage();
    QTest::mouseClick(Button("3003"), Qt::LeftButton);  // stop the run the page started
    WaitForSensor();
    Find<QCheckBox>("3030")->click();
    Find<QLineEdit>("3031")->setText(QString::fromStdString(folder));
    QTest::mouseClick(Button("3003"), Qt::LeftButton);
    WaitForSensor();
    ASSERT_TRUE(Page()->Worker().IsRunning());

    // From now on no file of this process may grow past 4 KiB: the record's writes
    // fail as on a full disk (EFBIG instead of ENOSPC).
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool noticed =
        QTest::qWaitFor([&] { return window->NoticeText().startsWith("Recording stopped: cannot write "); }, RUN_HANG_GUARD_MS);
    const uint64_t reportsAtFailure = Page()->Worker().ReportCount();
    const bool wentOn = WaitForReports(reportsAtFailure + 20);
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(noticed) << window->NoticeText().toStdString();
    EXPECT_TRUE(wentOn) << "the run goes on without recording";
    EXPECT_TRUE(Page()->Worker().IsRunning());
    QTest::mouseClick(Button("3003"), Qt::LeftButton);
    const std::string record = FirstFileWithExtension(folder, "dat");
    ASSERT_FALSE(record.empty());
    EXPECT_LE(std::filesystem::file_size(record), 4096u);
    RecordSidecar description;
    ASSERT_TRUE(ReadRecordSidecar(SidecarPathOf(record), description));
    EXPECT_EQ(description.status, SIDECAR_INCOMPLETE);
    EXPECT_FALSE(description.endedNormally);
    EXPECT_EQ(description.error, "File too large");
    const std::vector<std::string> logs = GetLocalFolderFileList(dataDir->File("Log"), "log");
    ASSERT_EQ(logs.size(), 1u);
    window.reset();  // the log is complete once the window has closed it
    EXPECT_NE(ReadWholeFile(dataDir->File("Log/" + logs.front())).find("Recording stopped"), std::string::npos)
        << "the log says so too";
}

TEST_F(TargetPageTest, TheStatusBarSaysWhatTheConnectionIs)
{
    OpenWindow();
    EXPECT_EQ(window->ConnectionStatusText(), "Not connected");
    Connect();
    EXPECT_EQ(window->ConnectionStatusText().toStdString(),
              sensor->PortPath() + " · 115200 baud · v1.0.2 · P520G-SIM-0001");
    EXPECT_EQ(window->NoticeText().toStdString(), "Connected to " + sensor->PortPath() + ".");
    sensor->HangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->ConnectionStatusText() == "Not connected"; }, RUN_HANG_GUARD_MS));
    EXPECT_TRUE(window->NoticeText().startsWith(QString::fromStdString("The connection to " + sensor->PortPath())));
}

TEST_F(TargetPageTest, APortThatDoesNotAnswerIsNamedInTheStatusBar)
{
    sensorOptions.silent = true;
    OpenWindow();
    Connect();
    EXPECT_EQ(window->NoticeText().toStdString(),
              "The sensor on " + sensor->PortPath() +
                  " does not answer the version query: check the baud rate and the wiring. (no reply within 150 ms)");
    EXPECT_EQ(window->ConnectionStatusText().toStdString(), sensor->PortPath() + " · 115200 baud · no answer");
}

}  // namespace
