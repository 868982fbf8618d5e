// The target information page in the main window, against the virtual sensor:
// live runs, replay, recording with its description, the status bar, what the
// status bar says when a run ends, record folders that cannot take the record,
// replay speeds and the position slider, and texts that fit their controls.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QStyleOptionComboBox>
#include <QThread>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "MainWindowFixture.h"
#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "chart/widgets/WaveChart.h"
#include "common/FileUtils.h"
#include "controls/widgets/ColorLabel.h"
#include "monitor/RecordSidecar.h"
#include "monitor/widgets/TargetPage.h"
#include "params/widgets/ParameterPage.h"

namespace {

// Hang guard for a live run: far above what it takes.
constexpr int LIVE_GUARD_MS = 15000;

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

// A copy of the sample record in the folder with a description beside it that
// gives the report rate and the thresholds the recording was made with.
std::string DescribedSample(const std::string& folder, double stateReportFreq, uint32_t triggerDb = 48)
{
    const std::string path = folder + "/described.dat";
    EXPECT_TRUE(WriteWholeFile(path, ReadWholeFile(SAMPLE_RECORD)));
    RecordSidecar description;
    description.params.StateReportFreq = stateReportFreq;
    std::fill(std::begin(description.params.GateTriggerThreshold), std::end(description.params.GateTriggerThreshold),
              triggerDb);
    description.status = SIDECAR_COMPLETE;
    EXPECT_TRUE(WriteRecordSidecar(SidecarPathOf(path), description));
    return path;
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

    // Stops the live run the page started, ticks Save Data with this folder and
    // starts a run again.
    void RestartRecordingInto(const std::string& folder)
    {
        Button("3003")->click();
        WaitForSensor();
        Find<QCheckBox>("3030")->click();
        Find<QLineEdit>("3031")->setText(QString::fromStdString(folder));
        Button("3003")->click();
        WaitForSensor();
    }

    bool WaitForReports(uint64_t count)
    {
        return QTest::qWaitFor([&] { return Page()->Worker().ReportCount() >= count; }, LIVE_GUARD_MS);
    }

    // Replays a file as fast as it goes and returns every status text shown, in order.
    std::vector<QString> ReplayStatuses(const std::string& path)
    {
        WaitForSensor();  // the last run's report output goes off first
        QSignalSpy statuses(Page(), &TargetPage::statusUpdated);
        QSignalSpy runs(Page(), &TargetPage::runStateChanged);
        Page()->SetReplaySpeedIndex(static_cast<int>(TargetPage::ReplayChoices().size()) - 1);
        Page()->ReplayFile(path);
        WaitForSensor();
        EXPECT_TRUE(Page()->Worker().IsRunning() || runs.count() > 0);
        // The run ends by itself at the end of the file (runStateChanged false).
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !runs.isEmpty() && !runs.last().at(0).toBool(); }, LIVE_GUARD_MS));
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
    const std::vector<double> energies = Find<WaveChart>("3011")->WaveBuffer(0).GetValues();
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->StatusText().contains("Presence"); }, LIVE_GUARD_MS))
        << Page()->StatusText().toStdString();
    const std::vector<double> energies = Find<WaveChart>("3011")->WaveBuffer(0).GetValues();
    ASSERT_FALSE(energies.empty());
    EXPECT_GT(*std::max_element(energies.begin(), energies.end()), 0.0);
    ASSERT_TRUE(WaitForReports(200));  // past a whole cycle of the scene
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->RunStatusText().isEmpty(); }, LIVE_GUARD_MS));
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
    const ChartRect plot = Find<WaveChart>("3010")->PlotRect();
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
                                LIVE_GUARD_MS));
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
        LIVE_GUARD_MS));
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
        QTest::qWaitFor([&] { return window->NoticeText().startsWith("Recording stopped: cannot write "); }, LIVE_GUARD_MS);
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

TEST_F(TargetPageTest, ADescriptionThatCannotBeUsedIsSaidAndTheReplayGoesOn)
{
    // A folder used to abort the window, a FIFO to hang it, and values out of range to
    // reach the current and the axes.
    OpenWindow(false);
    ShowPage();
    const std::string record = dataDir->File("RadarData_x.dat");
    const std::string description = SidecarPathOf(record);
    ASSERT_TRUE(WriteWholeFile(record, ReadWholeFile(SAMPLE_RECORD)));
    const struct {
        const char* name;
        void (*make)(const std::string& path);
        std::string notice;
    } cases[] = {
        {"folder", [](const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0); },
         "Replaying RadarData_x.dat with the current parameters: its description cannot be used (Is a directory)."},
        {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
         "Replaying RadarData_x.dat with the current parameters: its description cannot be used (not a regular file)."},
        {"malformed", [](const std::string& path) { ASSERT_TRUE(WriteWholeFile(path, "{\"format\":")); },
         "Replaying RadarData_x.dat with the current parameters: its description cannot be used (not a record "
         "description)."},
        {"out of range",
         [](const std::string& path) {
             ASSERT_TRUE(WriteWholeFile(path, R"({"format": "palo520g-record", "param_setting":
                 {"ResponseFreq": 0, "DetectRangeMax": 1e300, "StateReportFreq": -4}})"));
         },
         "Replaying RadarData_x.dat with the parameters it was recorded with; the defaults are used for values that "
         "cannot be used: DetectRangeMax 1e+300, ResponseFreq 0, StateReportFreq -4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(description);
        c.make(description);
        QSignalSpy statuses(Page(), &TargetPage::statusUpdated);
        QSignalSpy runs(Page(), &TargetPage::runStateChanged);
        Page()->SetReplaySpeedIndex(static_cast<int>(TargetPage::ReplayChoices().size()) - 1);
        Page()->ReplayFile(record);
        // Said as the replay starts; its end is said after it.
        EXPECT_EQ(window->NoticeText().toStdString(), c.notice);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !runs.isEmpty() && !runs.last().at(0).toBool(); }, LIVE_GUARD_MS));
        ASSERT_GE(statuses.size(), 2);
        EXPECT_EQ(CurrentOf(statuses.at(statuses.size() - 2).at(0).toString()), "0.05535")
            << "the default parameters' current";
        EXPECT_EQ(Page()->Worker().ReportCount(), 3u);
    }
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->ConnectionStatusText() == "Not connected"; }, LIVE_GUARD_MS));
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

TEST_F(TargetPageTest, ReportsQueuedBeforeTheRunEndsAreNotShownAfterIt)
{
    // The page's thread is held while the worker goes on, so that reports wait in the
    // queue when the run ends: none of them may bring an old state back.
    const std::string replayFile = std::string(PALO_SOURCE_DIR) + "/tests/data/RadarData_20000.dat";
    const struct {
        const char* name;
        bool replay;
        const char* button;
    } cases[] = {{"Stop", false, "3003"},
                 {"Disconn.", false, "1103"},
                 {"leaving the page", false, "1187"},
                 {"Stop of a replay at the fastest speed", true, "3004"}};
    OpenWindow();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!window->Session().IsConnected())
            Connect();
        if (!Page()->isVisible())
            ShowPage();
        // A replay at the fastest speed can reach the end of its file before a slow
        // build (a sanitizer's) shows its first "Presence": it is started again until
        // reports are caught waiting to be shown.
        bool caught = false;
        for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
            if (c.replay) {
                if (Page()->Worker().IsRunning()) {
                    Button("3003")->click();
                    WaitForSensor();
                }
                Page()->SetReplaySpeedIndex(static_cast<int>(TargetPage::ReplayChoices().size()) - 1);
                Page()->ReplayFile(replayFile);
                WaitForSensor();
            } else if (!Page()->Worker().IsRunning()) {
                Button("3003")->click();
                WaitForSensor();
            }
            if (!QTest::qWaitFor([&] { return Page()->StatusText().contains("Presence"); }, LIVE_GUARD_MS))
                continue;
            const uint64_t before = Page()->Worker().ReportCount();
            QThread::msleep(300);
            caught = Page()->Worker().ReportCount() > before + 5;
        }
        ASSERT_TRUE(caught) << "the run was never caught with reports waiting to be shown";
        // Nothing was shown while the thread was held: the spy misses none of the late ones.
        QSignalSpy statuses(Page(), &TargetPage::statusUpdated);
        Button(c.button)->click();
        ASSERT_FALSE(Page()->Worker().IsWorkerActive());
        const qsizetype atEnd = statuses.count();
        WaitForSensor();
        QTest::qWait(100);
        std::vector<std::string> late;
        for (qsizetype i = atEnd; i < statuses.count(); ++i) {
            if (!statuses.at(i).at(0).toString().startsWith("Target Status: None"))
                late.push_back(statuses.at(i).at(0).toString().toStdString());
        }
        EXPECT_TRUE(late.empty()) << late.size() << " old states shown after the end, the first: " << late.front();
        EXPECT_TRUE(Page()->StatusText().startsWith("Target Status: None")) << Page()->StatusText().toStdString();
    }
}

TEST_F(TargetPageTest, ConnectingOrComingBackAfterAReplayStartsALiveRun)
{
    OpenWindow();
    ShowPage();
    // A replay that ends by itself, without a sensor.
    const std::vector<QString> statuses = ReplayStatuses(SAMPLE_RECORD);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(window->NoticeText().toStdString(), "Replay of RadarData_sample.dat ended: 3 reports.")
        << "the notice of the replay does not outlive it";

    Connect();
    WaitForSensor();
    ASSERT_TRUE(Page()->Worker().IsRunning()) << "connecting on the shown page starts a run";
    EXPECT_EQ(Page()->Worker().replayMode, 0);
    EXPECT_EQ(Button("3003")->text(), "Stop");
    EXPECT_EQ(Button("3004")->text(), "Replay");
    EXPECT_TRUE(sensor->ReportOutputOn());
    EXPECT_EQ(window->NoticeText().toStdString(), "Showing live reports from " + sensor->PortPath() + ".");

    // A replay stopped by leaving the page: coming back shows the sensor again.
    Button("3003")->click();
    WaitForSensor();
    Page()->SetReplaySpeedIndex(2);
    Page()->ReplayFile(std::string(PALO_SOURCE_DIR) + "/tests/data/RadarData_20000.dat");
    WaitForSensor();
    ASSERT_TRUE(Page()->Worker().IsRunning());
    ASSERT_EQ(Page()->Worker().replayMode, 1);
    Button("1187")->click();
    WaitForSensor();
    EXPECT_TRUE(window->NoticeText().startsWith("Replay of RadarData_20000.dat stopped on leaving the page"))
        << window->NoticeText().toStdString();
    ShowPage();
    ASSERT_TRUE(Page()->Worker().IsRunning());
    EXPECT_EQ(Page()->Worker().replayMode, 0);
    EXPECT_EQ(Button("3003")->text(), "Stop");
}

TEST_F(TargetPageTest, EachVisitRecordsIntoOneFileAndTheStatusBarSaysWhere)
{
    OpenWindow();
    Connect();
    const std::string folder = dataDir->File("records");
    ShowPage();
    Button("3003")->click();  // the run the page started: not recorded
    WaitForSensor();
    EXPECT_EQ(window->NoticeText().toStdString().rfind("Live run ended: ", 0), 0u) << window->NoticeText().toStdString();
    Find<QCheckBox>("3030")->click();
    Find<QLineEdit>("3031")->setText(QString::fromStdString(folder));
    Button("1187")->click();

    // Three visits, each long enough for reports: one record each, and leaving says
    // which file holds the visit's reports.
    std::set<std::string> named;
    for (int visit = 1; visit <= 3; ++visit) {
        SCOPED_TRACE(visit);
        ShowPage();
        ASSERT_TRUE(Page()->Worker().IsRunning());
        EXPECT_EQ(window->NoticeText().toStdString(), "Recording to " + folder);
        ASSERT_TRUE(WaitForReports(10));
        const std::string record = Page()->Worker().RecordFilePath();
        Button("1187")->click();
        EXPECT_FALSE(Page()->Worker().IsWorkerActive()) << "leaving the page ends the run";
        WaitForSensor();
        const std::string notice = window->NoticeText().toStdString();
        EXPECT_EQ(notice.rfind("Live run stopped on leaving the page: ", 0), 0u) << notice;
        EXPECT_NE(notice.find("recorded to " + record + "."), std::string::npos) << notice;
        EXPECT_TRUE(std::filesystem::exists(record));
        named.insert(record);
    }
    EXPECT_EQ(named.size(), 3u);
    EXPECT_EQ(GetLocalFolderFileList(folder, "dat").size(), 3u) << "one record per visit, no more";
}

TEST_F(TargetPageTest, AFolderThatCannotTakeTheRecordIsSaidInABoxAndSaveDataIsUnticked)
{
    ASSERT_TRUE(WriteWholeFile(dataDir->File("plain"), "a file, not a folder"));
    const struct {
        const char* name;
        std::string folder;
        const char* why;
    } cases[] = {
        {"regular file", dataDir->File("plain"), "Not a directory"},
        {"folder below a file", dataDir->File("plain/sub"), "Not a directory"},
        {"folder nobody may write into", "/proc/self", ""},
    };
    OpenWindow();
    Connect();
    ShowPage();
    Button("3003")->click();
    WaitForSensor();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        if (!Find<QCheckBox>("3030")->isChecked())
            Find<QCheckBox>("3030")->click();
        Find<QLineEdit>("3031")->setText(QString::fromStdString(c.folder));
        Button("3003")->click();
        WaitForSensor();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(LastBox().text.rfind("Cannot record into the folder " + c.folder + ": " + c.why, 0), 0u) << LastBox().text;
        EXPECT_NE(LastBox().text.find("\"Save Data\" is unticked"), std::string::npos) << LastBox().text;
        EXPECT_FALSE(Find<QCheckBox>("3030")->isChecked());
        EXPECT_EQ(Page()->Worker().saveData, 0);
        ASSERT_TRUE(Page()->Worker().IsRunning()) << "the run goes on without recording";
        ASSERT_TRUE(WaitForReports(5));
        EXPECT_TRUE(Page()->Worker().RecordFilePath().empty());
        EXPECT_EQ(window->RunStatusText().toStdString().find("recording"), std::string::npos);
        Button("3003")->click();
        WaitForSensor();
        EXPECT_EQ(window->NoticeText().toStdString().rfind("Live run ended: ", 0), 0u) << window->NoticeText().toStdString();
        EXPECT_EQ(window->NoticeText().toStdString().find("recorded"), std::string::npos);
    }
}

TEST_F(TargetPageTest, AFolderRemovedDuringTheRunLosesTheRecordingAndSaysSo)
{
    OpenWindow();
    Connect();
    const std::string folder = dataDir->File("going");
    ShowPage();
    RestartRecordingInto(folder);
    ASSERT_TRUE(WaitForReports(5));
    const std::string record = Page()->Worker().RecordFilePath();
    ASSERT_TRUE(std::filesystem::exists(record));
    std::filesystem::remove_all(folder);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }, LIVE_GUARD_MS)) << "the removal is noticed during the run";
    EXPECT_EQ(LastBox().text.rfind("Recording stopped: cannot write " + record +
                                       ": the file was removed during the run, and what was recorded is lost",
                                   0),
              0u)
        << LastBox().text;
    EXPECT_FALSE(Find<QCheckBox>("3030")->isChecked());
    const uint64_t reports = Page()->Worker().ReportCount();
    EXPECT_TRUE(WaitForReports(reports + 5)) << "the run goes on";
    Button("3003")->click();
    WaitForSensor();
    EXPECT_EQ(window->NoticeText().toStdString().find(record), std::string::npos)
        << "nothing claims a record that is not there: " << window->NoticeText().toStdString();
    EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(TargetPageTest, PathsOf300CharactersRecordReplayAndAreKept)
{
    // Deeper than one name may be long.
    const std::string folder =
        dataDir->File(std::string(120, 'r') + "/" + std::string(120, 's') + "/" + std::string(60, 't'));
    ASSERT_GT(folder.size(), 300u);
    OpenWindow();
    Connect();
    ShowPage();
    RestartRecordingInto(folder);
    ASSERT_TRUE(WaitForReports(20));
    Button("3003")->click();
    WaitForSensor();
    EXPECT_TRUE(boxes.empty()) << LastBox().text;
    const std::string record = FirstFileWithExtension(folder, "dat");
    ASSERT_FALSE(record.empty()) << "the record is in the folder named, not in a cut one";
    EXPECT_EQ(record, Page()->Worker().RecordFilePath());
    EXPECT_GT(record.size(), 320u);

    // The replay of a file with that long a path shows the recorded reports.
    const uint64_t recorded = Page()->Worker().ReportCount();
    ReplayStatuses(record);
    EXPECT_EQ(Page()->Worker().ReportCount(), recorded);
    EXPECT_EQ(Page()->Worker().lastReplayFile, record);

    // Both paths come back whole from the configuration file.
    window.reset();
    gAppConfigDoc.Clear();
    OpenWindow();
    EXPECT_EQ(Find<QLineEdit>("3031")->text().toStdString(), folder);
    EXPECT_EQ(Page()->Worker().lastReplayFile, record);
}

TEST_F(TargetPageTest, SpeedOneIsTheRecordingsOwnRateAndTheIntervalIsAChoiceOfItsOwn)
{
    WriteConfig("<AppConfig ReplayInterval=\"500\"/>");
    OpenWindow(false);
    ShowPage();
    const auto labels = [this] {
        std::vector<std::string> texts;
        for (int i = 0; i < Combo("replaySpeed")->count(); ++i)
            texts.push_back(Combo("replaySpeed")->itemText(i).toStdString());
        return texts;
    };
    const std::vector<std::string> idle = labels();
    ASSERT_EQ(idle.size(), TargetPage::ReplayChoices().size());
    EXPECT_EQ(idle[2], "×1 (as recorded)");
    EXPECT_EQ(idle[7], "500 ms each");
    EXPECT_EQ(idle.back(), "Fastest");

    // Paused at once, so that the list is read while the replay is on.
    const struct {
        const char* name;
        double rate;  // 0: no description
        const char* one;
    } cases[] = {{"no description", 0.0, "×1 (500 ms)"},
                 {"described, 4 reports/s", 4.0, "×1 (4/s)"},
                 {"described, 2.5 reports/s", 2.5, "×1 (2.5/s)"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = c.rate > 0 ? DescribedSample(dataDir->Path(), c.rate) : SAMPLE_RECORD;
        Page()->SetReplaySpeedIndex(2);
        Page()->ReplayFile(file);
        ASSERT_TRUE(Page()->Worker().IsRunning());
        Page()->SetReplayPaused(true);
        EXPECT_EQ(labels()[2], c.one);
        EXPECT_EQ(labels()[7], "500 ms each");
        EXPECT_FALSE(Combo("replaySpeed")->toolTip().isEmpty());
        Button("3004")->click();
    }
    EXPECT_EQ(labels()[2], "×1 (as recorded)");
}

TEST_F(TargetPageTest, TheSpeedChoicesPaceByTheirOwnPeriod)
{
    // Each replay ends within the guard only when its choice paces by the period named:
    // the other one would take minutes for the sample's three reports.
    const struct {
        const char* name;
        int replayInterval;  // ms, from the configuration
        double rate;         // the description's reports a second
        int choice;
    } cases[] = {
        {"×1 at the recording's 1000/s, not the configured minute", 60000, 1000.0, 2},
        {"×4 of the recording's rate", 60000, 40.0, 4},
        {"the configured 1 ms, not the recording's 0.01/s", 1, 0.01, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteConfig("<AppConfig ReplayInterval=\"" + std::to_string(c.replayInterval) + "\"/>");
        OpenWindow(false);
        ShowPage();
        Page()->SetReplaySpeedIndex(c.choice);
        QSignalSpy runs(Page(), &TargetPage::runStateChanged);
        Page()->ReplayFile(DescribedSample(dataDir->Path(), c.rate));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !runs.isEmpty() && !runs.last().at(0).toBool(); }, LIVE_GUARD_MS));
        EXPECT_EQ(Page()->Worker().ReportCount(), 3u);
        window.reset();
        gAppConfigDoc.Clear();
    }
}

TEST_F(TargetPageTest, AClickOnTheSliderMovesTheReplayThere)
{
    OpenWindow(false);
    ShowPage();
    Page()->ReplayFile(std::string(PALO_SOURCE_DIR) + "/tests/data/RadarData_20000.dat");  // 500 ms a report
    ASSERT_TRUE(WaitForReports(1));
    Page()->SetReplayPaused(true);
    auto* slider = Find<QSlider>("replayPosition");
    const uint64_t size = Page()->Worker().ReplayFileSize();
    for (double fraction : {0.75, 0.25}) {
        SCOPED_TRACE(fraction);
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier,
                          QPoint(static_cast<int>(slider->width() * fraction), slider->height() / 2));
        QTest::mouseClick(Button("replayStep"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const double at = static_cast<double>(Page()->Worker().ReplayPosition()) / static_cast<double>(size);
                return std::abs(at - fraction) < 0.1;
            },
            LIVE_GUARD_MS))
            << Page()->Worker().ReplayPosition() << " of " << size;
    }
    Button("3004")->click();
}

TEST_F(TargetPageTest, AReplayThatEndsKeepsItsLastPicture)
{
    OpenWindow(false);
    ShowPage();
    const std::string file = DescribedSample(dataDir->Path(), 4.0, 77);
    ReplayStatuses(file);
    ASSERT_FALSE(Page()->Worker().IsRunning());
    const TargetReport last = Page()->Worker().LastReport();
    // The chart shows the newest 16 values of its buffer, one per gate.
    const auto shown = [this](int wave) {
        const std::vector<double> values = Find<WaveChart>("3011")->WaveBuffer(wave).GetValues();
        EXPECT_GE(values.size(), static_cast<size_t>(TARGET_GATE_COUNT));
        return std::vector<double>(values.end() - std::min<size_t>(values.size(), TARGET_GATE_COUNT), values.end());
    };
    const std::vector<double> energies = shown(0);
    ASSERT_EQ(energies.size(), static_cast<size_t>(TARGET_GATE_COUNT));
    EXPECT_GT(*std::max_element(energies.begin(), energies.end()), 0.0) << "not a flat line at 0 dB";
    for (int gate = 0; gate < TARGET_GATE_COUNT; ++gate)
        EXPECT_DOUBLE_EQ(energies[static_cast<size_t>(gate)], last.gateEnergyDb[gate]) << gate;
    // The thresholds it was recorded with stay beside them.
    EXPECT_EQ(shown(1).front(), 77.0);
    // The next refresh shows the window's parameters again.
    Page()->RefreshParams();
    EXPECT_EQ(shown(1).front(), static_cast<double>(window->Params().GateTriggerThreshold[0]));
}

TEST_F(TargetPageTest, TheTextsFitTheirControlsInBothLanguages)
{
    for (UiLanguage language : {UiLanguage::English, UiLanguage::SimplifiedChinese}) {
        SCOPED_TRACE(language == UiLanguage::English ? "English" : "Chinese");
        SetUiLanguage(language);
        OpenWindow(false);
        ShowPage();
        // The status text in its lines, the estimated current with its unit on one.
        auto* status = Find<ColorLabel>("3002");
        const QFontMetricsF metrics(status->font(), status);
        const QStringList lines = status->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_GE(lines.size(), 3);
        for (const QString& line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), status->width()) << line.toStdString();
        // Every speed, while idle and while a described file replays (paused).
        auto* speeds = Combo("replaySpeed");
        const auto checkSpeeds = [speeds] {
            QStyleOptionComboBox option;
            option.initFrom(speeds);
            option.editable = false;
            const int room = speeds->style()
                                 ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, speeds)
                                 .width();
            for (int i = 0; i < speeds->count(); ++i)
                EXPECT_LE(speeds->fontMetrics().horizontalAdvance(speeds->itemText(i)), room)
                    << speeds->itemText(i).toStdString();
        };
        checkSpeeds();
        Page()->ReplayFile(DescribedSample(dataDir->Path(), 2.5));
        Page()->SetReplayPaused(true);
        checkSpeeds();
        // The replay buttons beside the speed list, "Resume" the longest.
        for (const char* id : {"replayPause", "replayStep"}) {
            QPushButton* button = Button(id);
            const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
            EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 2 * margin, button->width())
                << button->text().toStdString();
        }
        Button("3004")->click();
        window.reset();
        gAppConfigDoc.Clear();
    }
}

// Reports repaint the charts and the status; the state picture is painted again
// only when the state changes, and then shows the new state's picture.
TEST_F(TargetPageTest, TheStatePictureIsPaintedOnlyWhenTheStateChanges)
{
    OpenWindow();
    ShowPage();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ColorLabel* indicator = Find<ColorLabel>("3001");
    WaveChart* range = Find<WaveChart>("3010");
    struct Counter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } indicatorPaints, rangePaints;
    const auto report = [&](int state, int distanceCm) {
        TargetReport r;
        r.state = state;
        r.distanceCm = distanceCm;
        const int before = rangePaints.paints;
        Page()->Charts().AppendReport(r);
        Page()->ShowStatus(state, distanceCm);
        // The window repaints everything that changed in one pass.
        return QTest::qWaitFor([&] { return rangePaints.paints > before; }, LIVE_GUARD_MS);
    };
    range->installEventFilter(&rangePaints);
    const QImage nobody = indicator->grab().toImage();
    ASSERT_TRUE(report(TARGET_STATE_MOVING, 150));
    QApplication::processEvents();
    const QImage moving = indicator->grab().toImage();
    EXPECT_NE(moving, nobody) << "the moving target's picture";
    indicator->installEventFilter(&indicatorPaints);

    for (int distance : {160, 230, 410, 90}) {
        ASSERT_TRUE(report(TARGET_STATE_MOVING, distance));
        EXPECT_EQ(indicatorPaints.paints, 0) << "same state, at " << distance << " cm";
        EXPECT_TRUE(Page()->StatusText().contains(QString::number(distance / 100.0, 'f', 2)));
    }
    ASSERT_TRUE(report(TARGET_STATE_NONE, 0));
    EXPECT_GT(indicatorPaints.paints, 0) << "the state changed";
    EXPECT_EQ(indicator->grab().toImage(), nobody);
    ASSERT_TRUE(report(TARGET_STATE_MOVING, 300));
    EXPECT_EQ(indicator->grab().toImage(), moving);
}

// Reports faster than the frame rate: each one's status is told, and the label
// ends up showing the newest, after at most a frame.
TEST_F(TargetPageTest, TheStatusLabelShowsTheNewestReportWithinAFrame)
{
    OpenWindow();
    ShowPage();
    ColorLabel* label = Find<ColorLabel>("3002");
    QSignalSpy statuses(Page(), &TargetPage::statusUpdated);
    for (int cm = 101; cm <= 150; ++cm)
        Page()->ShowStatus(TARGET_STATE_MOVING, cm);
    EXPECT_EQ(statuses.count(), 50);
    EXPECT_TRUE(Page()->StatusText().contains("1.50m")) << Page()->StatusText().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return label->text() == Page()->StatusText(); }, LIVE_GUARD_MS))
        << label->text().toStdString();
}

}  // namespace
