#pragma once
// The target information page: a state picture, the status text with the target's
// state, distance and the estimated operating current, the energy chart and the
// range chart with its state band, fed by the acquisition worker live from the
// sensor or replayed from a record file; recording of live runs into a folder.
//
// Replay controls beyond Start/Stop: a position slider (a click or a drag moves the
// replay there), pause, one report at a time and a speed. A record file's
// description (RecordSidecar.h) supplies the parameters and current constants of its
// replay and the report rate that speed ×1 plays at.
//
// Showing the page or connecting while it is shown starts a live run; a replay runs
// only when asked for. Leaving the page ends the run (the other pages need the line)
// and the status bar says so, as it says how every run ended.
//
// Controls carry their numeric ids as object names ("3003", ...). The worker's
// notices arrive as queued signals (AcquisitionEventSink.h), numbered by run: those
// of a run that has ended are dropped.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "app/widgets/IToolPage.h"
#include "chart/widgets/FrameClock.h"
#include "controls/imagelib/GdiplusImage.h"
#include "controls/widgets/ScreenSaverInhibitor.h"
#include "monitor/AcquisitionWorker.h"
#include "monitor/CurrentEstimate.h"
#include "monitor/widgets/AcquisitionEventSink.h"
#include "monitor/widgets/TargetCharts.h"
#include "params/ParamSetting.h"
#include "session/SensorSession.h"

class ColorLabel;
class WaveChart;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

class TargetPage : public QWidget, public IToolPage {
    Q_OBJECT

public:
    // Builds the page (template 3000) and initialises it: pictures, the AppConfig and
    // ObjectInfo keys, the charts, the first status (None).
    TargetPage(ToolPageContext& context, QWidget* parent = nullptr);
    // Stops a run and saves the page's keys.
    ~TargetPage() override;

    // A run in the mode replayMode names; a live run needs the connection (else the
    // "Device Not Connected" box).
    void StartRealtimeShow();
    // The worker part of a start, once the report output is on.
    void StartWorker();
    // Ends the run as the user's Stop does (safe when none) and restores the controls.
    void StopRealtimeShow();
    // Whether a run (live, or a replay) is starting or going on.
    [[nodiscard]] bool RunActive() const { return starting_ || worker_.IsRunning(); }
    void OnStart();   // 3003
    void OnReplay();  // 3004: stops a replay, or asks for a file and replays it
    // Replays the file as if it had been chosen in the file dialog.
    void ReplayFile(const std::string& path);
    void OnSaveData();  // 3030
    void OnBrowse();    // 3032
    // The status text and the indicator from the last report.
    void UpdateStatus();
    // The status text and the indicator for one report, as each report's notice shows them.
    void ShowStatus(int state, int distanceCm);
    void SetupCharts();
    // The parameter record's thresholds and detection range on the charts.
    void RefreshParams();

    // Replay controls.
    void SetReplayPaused(bool paused);
    void StepReplay();
    // A choice of the speed list: a multiple of the recording's own report rate (of
    // ReplayInterval when the file has no description), or one report every
    // ReplayInterval ms whatever the recording's rate; speed 0 = as fast as possible.
    struct ReplayChoice {
        double speed;
        bool fixedInterval;
    };
    // Speed choice index into ReplayChoices(); the last entry is "as fast as possible".
    void SetReplaySpeedIndex(int index);
    [[nodiscard]] static const std::vector<ReplayChoice>& ReplayChoices();
    // The recording's own pause between reports at ×1 in ms; negative when the file
    // being replayed has no description (×1 then plays at ReplayInterval).
    [[nodiscard]] double RecordedPeriodMs() const { return recordedPeriodMs_; }
    // Goes on at the first whole frame at or after this fraction (0..1) of the file.
    void SeekReplayFraction(double fraction);

    // --- IToolPage ---
    QWidget* PageWidget() override { return this; }
    void OnPageShown() override;
    void OnPageHidden() override;
    void OnConnected() override;
    void OnDisconnecting() override;
    void OnConnectionLost() override;
    void OnSensorBusy(bool busy) override;
    void SetPortSelection(int portNumber, int baudRate) override;
    void SetLayoutScale(double scale) override;
    [[nodiscard]] std::string RunStatusText() override;

    // --- State, for the window and tests ---
    [[nodiscard]] CAcquisitionWorker& Worker() { return worker_; }
    [[nodiscard]] TargetCharts& Charts() { return *charts_; }
    [[nodiscard]] QString StatusText() const;
    [[nodiscard]] double UiScale() const { return uiScale_; }
    // The parameters and constants the charts and the current estimate use now: a
    // replayed file's own when it has a description, the window's otherwise.
    [[nodiscard]] const ParamSetting& ShownParams() const;
    [[nodiscard]] const CurrentConstants& ShownConstants() const;
    [[nodiscard]] bool ReplaysWithDescription() const { return replayDescription_.has_value(); }

signals:
    // The status text changed (after each report and at start and stop).
    void statusUpdated(const QString& text);
    // A run started or stopped.
    void runStateChanged(bool running);

protected:

private:
    // Why a run ends, for what the status bar says about it.
    enum class RunEnd { USER, PAGE_LEFT, DISCONNECT, LINE_LOST, REPLAY_END, CLOSING };

    // The worker's notices of run number run, on the page's thread.
    void OnReport(quint64 run, int state, int distanceCm);
    void OnReplayEnded(quint64 run);
    void OnLineLost(quint64 run);
    void OnRecordFailed(quint64 run);
    // The text and the picture for one report; false when the text is the one already there.
    bool TakeStatus(int state, int distanceCm);
    // Puts the newest text on the label.
    void PutStatus();
    void EndRun(RunEnd why);
    [[nodiscard]] std::string EndNotice(RunEnd why) const;
    // Recording into worker_.saveDataPath is possible; else the user is told, Save
    // Data is unticked and the run goes on without recording.
    bool CheckRecordFolder();
    void UntickSaveData();
    void FillSpeedChoices();
    void ApplyReplaySpeed(int index);

    void BuildControls();
    void LoadPictures();
    void LoadKeys();
    void SaveKeys();
    void SetRunControls(bool running, bool replay);
    void UpdateReplayControls();
    void Notify(const std::string& text);
    [[nodiscard]] RecordSidecar DescribeRecording() const;

    SensorThread& sensor_;
    SensorSession::LineClaim claim_;  // held while the worker runs
    bool startWhenIdle_ = false;      // a run was asked for while the sensor thread was busy
    bool starting_ = false;           // the report output is going on; the worker starts next
    ParamSetting& params_;
    std::function<void(const std::string&)> notify_;
    double uiScale_ = 1.0;
    int portNumber_ = 0;
    int baudRate_ = 0;

    CurrentConstants constants_;
    std::optional<RecordSidecar> replayDescription_;  // of the file being replayed
    // The thresholds of the last described replay, which its last picture keeps
    // showing until the charts are refreshed or the next run starts.
    std::optional<ParamSetting> keptChartParams_;
    double recordedPeriodMs_ = -1.0;
    std::string startNotice_;   // said once the run's worker has started
    quint64 runCounter_ = 0;    // numbers the runs
    quint64 currentRun_ = 0;    // the number of the run going on; 0 = none

    ColorLabel* indicator_ = nullptr;   // 3001
    int shownPicture_ = -1;             // the state picture the indicator shows; -1 = none yet
    ColorLabel* statusText_ = nullptr;  // 3002
    QPushButton* startButton_ = nullptr;  // 3003
    QPushButton* replayButton_ = nullptr; // 3004
    WaveChart* rangeChart_ = nullptr;      // 3010
    WaveChart* energyChart_ = nullptr;     // 3011
    QCheckBox* saveDataCheck_ = nullptr;  // 3030
    QLineEdit* pathEdit_ = nullptr;       // 3031
    QPushButton* browseButton_ = nullptr; // 3032
    QSlider* replaySlider_ = nullptr;
    QPushButton* pauseButton_ = nullptr;
    QPushButton* stepButton_ = nullptr;
    QComboBox* speedCombo_ = nullptr;
    QTimer* replayTimer_ = nullptr;
    // The status text changes with every report; the label takes a new one at most
    // every STATUS_INTERVAL_MS, on the charts' frame clock, the newest text when its
    // frame comes: a sensor reporting 140 times a second would otherwise have it
    // laid out and painted that often, faster than anyone can read it.
    static constexpr int STATUS_INTERVAL_MS = 3 * FrameClock::FRAME_INTERVAL_MS;
    QString statusShown_;           // the text of the newest report, shown or waiting
    qint64 statusPutMs_ = -1;       // FrameClock time the label last took a text

    struct BitmapDeleter {
        void operator()(GpBitmap* b) const { Gdiplus_DeleteBitmap(b); }
    };
    std::unique_ptr<GpBitmap, BitmapDeleter> stateImages_[3];

    CScreenSaverInhibitor screenSaver_;
    // The report rate of the status bar: the count and time of the last look.
    uint64_t rateCount_ = 0;
    std::chrono::steady_clock::time_point rateTime_;
    double rate_ = 0.0;

    std::unique_ptr<TargetCharts> charts_;
    AcquisitionEventSink events_;  // before the worker: it emits through it until joined
    CAcquisitionWorker worker_;  // after the charts: the destructor stops it before they go
};
