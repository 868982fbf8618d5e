#include "monitor/widgets/TargetPage.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "chart/widgets/WaveChart.h"
#include "common/DbgOutput.h"
#include "common/FileUtils.h"
#include "common/Version.h"
#include "controls/widgets/ColorLabel.h"
#include "controls/widgets/MessageBox.h"
#include "device/SerialPortRegistry.h"
#include "session/widgets/SensorThread.h"

namespace {

constexpr int TEMPLATE = 3000;
constexpr int SLIDER_STEPS = 1000;
constexpr int REPLAY_CONTROLS_PERIOD_MS = 200;
constexpr int DEFAULT_SPEED_CHOICE = 2;  // ×1
// Report rates of a description that ×1 plays at, reports a second.
constexpr double MIN_RECORDED_RATE = 0.01;
constexpr double MAX_RECORDED_RATE = 1000.0;

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString Caption(int id) { return Text(LoadCaption(TEMPLATE, std::to_string(id))); }

std::string SizeText(uint64_t bytes)
{
    char text[32];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    else if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    return text;
}

std::string FileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// "4", "2.5": a report rate as the speed list names it.
std::string RateText(double perSecond)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", perSecond);
    return text;
}

class JumpToClickStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

TargetPage::TargetPage(ToolPageContext& context, QWidget* parent)
    : QWidget(parent),
      sensor_(context.sensor),
      params_(context.params),
      notify_(context.notify),
      worker_(nullptr, events_)
{
    setObjectName(QString::number(TEMPLATE));
    BuildControls();
    charts_ = std::make_unique<TargetCharts>(*energyChart_, *rangeChart_);
    charts_->SetParamSetting(&params_);
    charts_->SetBandSource(StateBandSourceOf(worker_));
    // The charts take each report on the worker thread; the rest of the page on its own.
    events_.SetReportHook([this](const TargetReport& report) { charts_->AppendReport(report); });
    // The report each notice was emitted for, so that a fast replay shows every one
    // in turn rather than only the newest.
    connect(&events_, &AcquisitionEventSink::reportArrived, this, &TargetPage::OnReport, Qt::QueuedConnection);
    connect(&events_, &AcquisitionEventSink::replayEnded, this, &TargetPage::OnReplayEnded, Qt::QueuedConnection);
    // The window says so when its link watch finds the port closed.
    connect(&events_, &AcquisitionEventSink::lineLost, this, &TargetPage::OnLineLost, Qt::QueuedConnection);
    connect(&events_, &AcquisitionEventSink::recordingFailed, this, &TargetPage::OnRecordFailed, Qt::QueuedConnection);

    LoadPictures();
    LoadKeys();
    saveDataCheck_->setChecked(worker_.saveData != 0);
    OnSaveData();
    pathEdit_->setText(Text(worker_.saveDataPath));

    const int fontSize = static_cast<int>(9 * uiScale_);
    statusText_->SetDarkStyle(nullptr, std::nullopt, fontSize);
    indicator_->SetDarkStyle(nullptr, QString(), fontSize);
    SetupCharts();
    RefreshParams();
    UpdateStatus();
    SetRunControls(false, false);
}

TargetPage::~TargetPage()
{
    EndRun(RunEnd::CLOSING);
    worker_.saveDataPath = pathEdit_->text().toStdString();
    SaveKeys();
}

void TargetPage::BuildControls()
{
    resize(PAGE_DESIGN_WIDTH, PAGE_DESIGN_HEIGHT);
    setAutoFillBackground(true);
    QPalette dark = palette();
    dark.setColor(QPalette::Window, QColor(0x2A, 0x32, 0x3C));
    dark.setColor(QPalette::WindowText, Qt::white);
    setPalette(dark);

    auto button = [this](int id, const QString& text, QRect rect) {
        auto* widget = new QPushButton(text, this);
        widget->setObjectName(QString::number(id));
        widget->setGeometry(rect);
        return widget;
    };

    indicator_ = new ColorLabel(this);
    indicator_->setObjectName(QStringLiteral("3001"));
    indicator_->setGeometry(68, 8, 112, 112);
    statusText_ = new ColorLabel(this);
    statusText_->setObjectName(QStringLiteral("3002"));
    statusText_->setGeometry(4, 124, 240, 116);

    startButton_ = button(3003, Caption(3003), QRect(6, 246, 116, 28));
    replayButton_ = button(3004, Caption(3004), QRect(126, 246, 116, 28));
    connect(startButton_, &QPushButton::clicked, this, &TargetPage::OnStart);
    connect(replayButton_, &QPushButton::clicked, this, &TargetPage::OnReplay);

    replaySlider_ = new QSlider(Qt::Horizontal, this);
    replaySlider_->setObjectName(QStringLiteral("replayPosition"));
    replaySlider_->setRange(0, SLIDER_STEPS);
    replaySlider_->setGeometry(6, 280, 236, 20);
    // A click on the groove puts the handle there (and starts a drag), as in a media
    // player, instead of moving it a page towards the click.
    auto* sliderStyle = new JumpToClickStyle;
    sliderStyle->setParent(replaySlider_);
    replaySlider_->setStyle(sliderStyle);
    connect(replaySlider_, &QSlider::sliderReleased, this,
            [this] { SeekReplayFraction(static_cast<double>(replaySlider_->value()) / SLIDER_STEPS); });
    // The keys and the wheel move it without a drag: the replay follows at once.
    connect(replaySlider_, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && action != QAbstractSlider::SliderNoAction)
            SeekReplayFraction(static_cast<double>(replaySlider_->sliderPosition()) / SLIDER_STEPS);
    });
    pauseButton_ = button(0, Text(LoadStringText(TEXT_PAUSE)), QRect(6, 304, 58, 26));
    pauseButton_->setObjectName(QStringLiteral("replayPause"));
    connect(pauseButton_, &QPushButton::clicked, this, [this] { SetReplayPaused(!worker_.IsPaused()); });
    stepButton_ = button(0, Text(LoadStringText(TEXT_STEP)), QRect(68, 304, 46, 26));
    stepButton_->setObjectName(QStringLiteral("replayStep"));
    connect(stepButton_, &QPushButton::clicked, this, &TargetPage::StepReplay);
    // Wide enough for "×1 (4/s)" and "500 ms each" in either language.
    speedCombo_ = new QComboBox(this);
    speedCombo_->setObjectName(QStringLiteral("replaySpeed"));
    speedCombo_->setGeometry(118, 304, 124, 26);
    connect(speedCombo_, &QComboBox::activated, this, &TargetPage::SetReplaySpeedIndex);

    saveDataCheck_ = new QCheckBox(Caption(3030), this);
    saveDataCheck_->setObjectName(QStringLiteral("3030"));
    saveDataCheck_->setGeometry(6, 338, 236, 24);
    connect(saveDataCheck_, &QCheckBox::clicked, this, &TargetPage::OnSaveData);
    pathEdit_ = new QLineEdit(this);
    pathEdit_->setObjectName(QStringLiteral("3031"));
    pathEdit_->setGeometry(6, 364, 236, 24);
    browseButton_ = button(3032, Caption(3032), QRect(126, 392, 116, 28));
    connect(browseButton_, &QPushButton::clicked, this, &TargetPage::OnBrowse);

    energyChart_ = new WaveChart(this);
    energyChart_->setObjectName(QStringLiteral("3011"));
    energyChart_->setGeometry(248, 4, 428, 206);
    rangeChart_ = new WaveChart(this);
    rangeChart_->setObjectName(QStringLiteral("3010"));
    rangeChart_->setGeometry(248, 214, 428, 206);

    replayTimer_ = new QTimer(this);
    replayTimer_->setInterval(REPLAY_CONTROLS_PERIOD_MS);
    connect(replayTimer_, &QTimer::timeout, this, &TargetPage::UpdateReplayControls);
}

void TargetPage::LoadPictures()
{
    // A missing picture leaves the indicator without one for that state.
    const char* files[3] = {"Image/Nobody.png", "Image/Motion.png", "Image/Motionless.png"};
    for (int i = 0; i < 3; ++i) {
        const std::string path = FindResourcePath(files[i]);
        if (path.empty())
            DbgOutputA(2, "The picture %s was not found\r\n", files[i]);
        stateImages_[i].reset(path.empty() ? nullptr : Gdiplus_LoadBitmapFromFileA(path.c_str()));
    }
}

void TargetPage::LoadKeys()
{
    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    LoadAcquisitionSettings(appConfig, worker_);
    // The element exists in memory from now on (the file is not written).
    XMLNode objectInfo = appConfig.GetOrAddChild("ObjectInfo");
    LoadTargetChartSettings(objectInfo, charts_->settings);
    LoadCurrentConstants(objectInfo, constants_);
}

void TargetPage::SaveKeys()
{
    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    SaveAcquisitionSettings(appConfig, worker_);
    XMLNode objectInfo = appConfig.GetOrAddChild("ObjectInfo");
    SaveTargetChartSettings(objectInfo, charts_->settings);
    SaveCurrentConstants(objectInfo, constants_);
    SaveAppConfig();
}

// ---- charts and status ----

const ParamSetting& TargetPage::ShownParams() const
{
    return replayDescription_ ? replayDescription_->params : params_;
}

const CurrentConstants& TargetPage::ShownConstants() const
{
    return replayDescription_ ? replayDescription_->constants : constants_;
}

void TargetPage::SetupCharts()
{
    charts_->SetupCharts(uiScale_);
}

void TargetPage::RefreshParams()
{
    charts_->SetParamSetting(&ShownParams());
    keptChartParams_.reset();
    charts_->RefreshParams();
}

void TargetPage::UpdateStatus()
{
    const TargetReport report = worker_.LastReport();
    ShowStatus(report.state, report.distanceCm);
}

void TargetPage::ShowStatus(int state, int distanceCm)
{
    if (!TakeStatus(state, distanceCm))
        return;
    // A text sooner than STATUS_INTERVAL_MS after the last one waits for its frame;
    // the newest text then is the one shown.
    FrameClock& frames = FrameClock::Instance();
    if (frames.IsWaiting(statusText_))
        return;
    if (statusPutMs_ >= 0 && frames.NowMs() < statusPutMs_ + STATUS_INTERVAL_MS) {
        frames.RunAt(statusText_, statusPutMs_ + STATUS_INTERVAL_MS, [this] { PutStatus(); });
        return;
    }
    PutStatus();
}

bool TargetPage::TakeStatus(int state, int distanceCm)
{
    TargetReport report;
    report.state = state;
    report.distanceCm = distanceCm;
    const double current = EstimateCurrent(report.state, ShownParams(), ShownConstants());
    int statusId = 0;
    double distance = 0.0;
    int picture = -1;
    switch (report.state) {
    case TARGET_STATE_NONE:
    case TARGET_STATE_NONE_ALT:
        statusId = TEXT_TARGET_NONE;
        picture = 0;
        break;
    case TARGET_STATE_MOVING:
        statusId = TEXT_TARGET_PRESENCE;
        distance = report.distanceCm / 100.0;
        picture = 1;
        break;
    case TARGET_STATE_MOTIONLESS:
        statusId = TEXT_TARGET_MOTIONLESS;
        distance = report.distanceCm / 100.0;
        picture = 2;
        break;
    default:
        break;
    }
    QString text;
    if (statusId != 0) {
        text = Text(DisplayText(
            FormatStringText(TEXT_TARGET_STATUS, LoadStringText(statusId).c_str(), distance, current)));
        // The picture is scaled to the indicator at each paint: it is painted again
        // only when the state changes, not with every report.
        if (picture != shownPicture_) {
            indicator_->SetBitmap(stateImages_[picture].get());
            shownPicture_ = picture;
        }
    }
    if (text == statusShown_)
        return false;
    statusShown_ = text;
    emit statusUpdated(text);
    return true;
}

void TargetPage::PutStatus()
{
    // A live run told of a newer report while this frame was waiting; it is taken now.
    if (currentRun_ != 0 && worker_.replayMode == 0) {
        if (const auto newest = events_.TakeNewest())
            TakeStatus(newest->first, newest->second);
    }
    statusText_->setText(statusShown_);
    statusPutMs_ = FrameClock::Instance().NowMs();
}

QString TargetPage::StatusText() const
{
    return statusShown_;
}

// ---- runs ----

RecordSidecar TargetPage::DescribeRecording() const
{
    RecordSidecar description;
    description.toolVersion = PaloVersionText();
    description.port = SerialPortPathFromNumber(portNumber_);
    description.baudRate = baudRate_;
    description.firmwareVersion = sensor_.Session().Version();
    description.serialNumber = sensor_.Session().SerialNumber();
    description.params = params_;
    description.constants = constants_;
    return description;
}

bool TargetPage::CheckRecordFolder()
{
    std::string why;
    if (PrepareWritableFolder(worker_.saveDataPath, &why))
        return true;
    UntickSaveData();
    const std::string text = FormatStringText(TEXT_RECORD_FOLDER_UNUSABLE, worker_.saveDataPath.c_str(), why.c_str());
    Notify(text);
    ShowMessageBox(this, text + "\n\n" + LoadStringText(TEXT_RECORD_UNTICKED), LoadStringText(TEXT_ERROR),
                   MessageIcon::Error, true);
    return false;
}

void TargetPage::UntickSaveData()
{
    saveDataCheck_->setChecked(false);
    worker_.saveData = 0;
    pathEdit_->setEnabled(false);
    browseButton_->setEnabled(false);
}

void TargetPage::StartRealtimeShow()
{
    worker_.saveDataPath = pathEdit_->text().toStdString();
    SaveKeys();
    const bool replay = worker_.replayMode != 0;
    // Another exchange with the sensor is in progress (the last run's report output
    // going off, a connect): the run starts once it has ended.
    if (sensor_.IsBusy()) {
        startWhenIdle_ = true;
        return;
    }
    startWhenIdle_ = false;
    recordedPeriodMs_ = -1.0;
    if (!replay) {
        if (!sensor_.Session().IsConnected()) {
            ShowMessageBox(this, LoadStringText(TEXT_DEVICE_NOT_CONNECTED), LoadStringText(TEXT_ERROR), MessageIcon::Error, true);
            return;
        }
        replayDescription_.reset();
        worker_.recordDescription = DescribeRecording();
        // A folder that cannot take the record is said now, not found out by the worker.
        if (worker_.saveData != 0 && !CheckRecordFolder()) {
            // The box waited for the user: the page may have gone or a run started meanwhile.
            if (!isVisible() || RunActive() || !sensor_.Session().IsConnected() || sensor_.IsBusy())
                return;
        }
        startNotice_ = worker_.saveData != 0
                           ? FormatStringText(TEXT_RECORDING_TO, worker_.saveDataPath.c_str())
                           : FormatStringText(TEXT_LIVE_STARTED, SerialPortPathFromNumber(portNumber_).c_str());
    } else {
        const ReplayDescription read = LoadReplayDescription(worker_.lastReplayFile);
        const std::string name = FileNameOf(worker_.lastReplayFile);
        if (read.usable) {
            const RecordSidecar& description = read.sidecar;
            replayDescription_ = description;
            // A rate no sensor reports at (a hand-edited description) leaves ×1 at the
            // configured interval.
            const double rate = description.params.StateReportFreq;
            if (rate >= MIN_RECORDED_RATE && rate <= MAX_RECORDED_RATE)
                recordedPeriodMs_ = 1000.0 / rate;
            std::string list;
            for (const std::string& item : read.replaced) list += (list.empty() ? "" : ", ") + item;
            startNotice_ = list.empty() ? FormatStringText(TEXT_REPLAY_DESCRIBED, name.c_str())
                                        : FormatStringText(TEXT_REPLAY_DESCRIPTION_REPLACED, name.c_str(), list.c_str());
        } else {
            replayDescription_.reset();
            startNotice_ = read.found
                               ? FormatStringText(TEXT_REPLAY_DESCRIPTION_UNUSABLE, name.c_str(), read.error.c_str())
                               : FormatStringText(TEXT_REPLAY_UNDESCRIBED, name.c_str());
        }
    }

    // The displays start empty, with this run's thresholds, before the worker can
    // deliver its first report.
    charts_->SetParamSetting(&ShownParams());
    keptChartParams_.reset();
    charts_->ResetDisplays();
    // The speed list names this file's own rate.
    FillSpeedChoices();
    ApplyReplaySpeed(speedCombo_->currentIndex());
    // The sensor's report output goes on (for a replay too) on the sensor thread,
    // so that a sensor that does not answer never holds the window; the worker
    // starts once it has answered or timed out, unless Stop came first.
    worker_.switchReportOutput = false;
    if (sensor_.Session().IsConnected()) {
        starting_ = true;
        SetRunControls(true, replay);
        sensor_.Run<SensorResult>(
            this, [](SensorSession& session) { return session.SwitchReportOutput(true); },
            [this](const SensorResult&) {
                if (!starting_)
                    return;
                starting_ = false;
                StartWorker();
            });
        return;
    }
    StartWorker();
}

void TargetPage::StartWorker()
{
    const bool replay = worker_.replayMode != 0;
    // The run has the line to itself.
    claim_ = sensor_.Session().ClaimLine();
    worker_.SetLine(&claim_.Line());
    // The notices of this run carry its number; those of earlier runs are dropped.
    events_.SetRun(++runCounter_, replay);
    currentRun_ = runCounter_;
    const int result = worker_.Start();
    UpdateStatus();
    if (result != ACQUISITION_STARTED) {
        currentRun_ = 0;
        claim_.Release();
        replayDescription_.reset();
        worker_.replayMode = 0;
        RefreshParams();
        SetRunControls(false, false);
        return;
    }
    rateCount_ = 0;
    rateTime_ = std::chrono::steady_clock::now();
    rate_ = 0.0;
    SetRunControls(true, replay);
    screenSaver_.Inhibit(QStringLiteral("Showing live target reports"));
    Notify(startNotice_);
    emit runStateChanged(true);
}

void TargetPage::StopRealtimeShow()
{
    EndRun(RunEnd::USER);
}

void TargetPage::EndRun(RunEnd why)
{
    const bool wasRunning = worker_.IsRunning();
    const bool wasStarting = starting_;
    startWhenIdle_ = false;
    starting_ = false;
    worker_.Stop();
    claim_.Release();
    // What the worker still queued belongs to a run that has ended.
    currentRun_ = 0;
    const std::string notice = wasRunning && why != RunEnd::CLOSING ? EndNotice(why) : std::string();
    // The report output goes off on the sensor thread, so that stopping never waits
    // on a sensor that does not answer; only a window that is closing (its sensor
    // thread stopped) does it here.
    bool noticeQueued = false;
    if ((wasRunning || wasStarting) && sensor_.Session().IsConnected()) {
        if (sensor_.IsRunning()) {
            sensor_.Run<SensorResult>(
                this, [](SensorSession& session) { return session.SwitchReportOutput(false); },
                [this, notice](const SensorResult&) {
                    if (!notice.empty())
                        Notify(notice);
                });
            noticeQueued = true;
        } else {
            (void)sensor_.Session().SwitchReportOutput(false);
        }
    }
    if (!notice.empty() && !noticeQueued)
        Notify(notice);
    // The last picture of a described replay stays as it was, its thresholds with it,
    // rather than dropping the energy curve to 0 dB under the window's thresholds.
    if (replayDescription_) {
        keptChartParams_ = replayDescription_->params;
        charts_->SetParamSetting(&*keptChartParams_);
    }
    replayDescription_.reset();
    // Connecting or showing the page again starts a live run; a replay is only ever
    // started by asking for one.
    worker_.replayMode = 0;
    recordedPeriodMs_ = -1.0;
    UpdateStatus();
    SetRunControls(false, false);
    screenSaver_.Release();
    if (wasRunning)
        emit runStateChanged(false);
}

std::string TargetPage::EndNotice(RunEnd why) const
{
    const std::string reports = std::to_string(worker_.ReportCount());
    if (worker_.replayMode != 0) {
        const std::string file = FileNameOf(worker_.lastReplayFile);
        return FormatStringText(why == RunEnd::PAGE_LEFT ? TEXT_REPLAY_LEFT : TEXT_REPLAY_ENDED, file.c_str(),
                                reports.c_str());
    }
    const std::string record = worker_.RecordFilePath();
    const bool recorded = !record.empty() && worker_.RecordFailure().path.empty();
    if (why == RunEnd::PAGE_LEFT) {
        return recorded ? FormatStringText(TEXT_LIVE_LEFT_RECORDED, reports.c_str(), record.c_str())
                        : FormatStringText(TEXT_LIVE_LEFT, reports.c_str());
    }
    return recorded ? FormatStringText(TEXT_LIVE_ENDED_RECORDED, reports.c_str(), record.c_str())
                    : FormatStringText(TEXT_LIVE_ENDED, reports.c_str());
}

void TargetPage::OnReport(quint64 run, int state, int distanceCm)
{
    if (run != currentRun_)
        return;
    if (worker_.replayMode != 0) {
        ShowStatus(state, distanceCm);
        return;
    }
    // A live run: the newest report is taken now, or by the status frame that waits.
    if (FrameClock::Instance().IsWaiting(statusText_))
        return;
    if (const auto newest = events_.TakeNewest())
        ShowStatus(newest->first, newest->second);
}

void TargetPage::OnReplayEnded(quint64 run)
{
    if (run == currentRun_)
        EndRun(RunEnd::REPLAY_END);
}

void TargetPage::OnLineLost(quint64 run)
{
    if (run == currentRun_)
        EndRun(RunEnd::LINE_LOST);
}

void TargetPage::OnRecordFailed(quint64 run)
{
    const RecordFailureInfo failure = worker_.RecordFailure();
    if (run != currentRun_ || failure.path.empty())
        return;
    // Recording has stopped for good in this run: the box says so, and the check box
    // no longer claims that the run records.
    UntickSaveData();
    const std::string text = FormatStringText(TEXT_RECORD_FAILED, failure.path.c_str(), failure.reason.c_str());
    Notify(text);
    ShowMessageBox(this, text + "\n\n" + LoadStringText(TEXT_RECORD_UNTICKED), LoadStringText(TEXT_ERROR),
                   MessageIcon::Error, true);
}

void TargetPage::SetRunControls(bool running, bool replay)
{
    startButton_->setText(running && !replay ? Text(LoadStringText(TEXT_STOP)) : Text(LoadStringText(TEXT_START)));
    replayButton_->setText(running && replay ? Text(LoadStringText(TEXT_STOP)) : Text(LoadStringText(TEXT_REPLAY)));
    startButton_->setEnabled(!running || !replay);
    replayButton_->setEnabled(!running || replay);
    saveDataCheck_->setEnabled(!running);
    pathEdit_->setEnabled(!running && worker_.saveData != 0);
    browseButton_->setEnabled(!running && worker_.saveData != 0);

    const bool replaying = running && replay;
    replaySlider_->setEnabled(replaying);
    pauseButton_->setEnabled(replaying);
    pauseButton_->setText(Text(LoadStringText(TEXT_PAUSE)));
    stepButton_->setEnabled(false);
    if (!replaying)
        replaySlider_->setValue(0);
    FillSpeedChoices();
    if (replaying)
        replayTimer_->start();
    else
        replayTimer_->stop();
}

void TargetPage::FillSpeedChoices()
{
    // ×1 is the recording's own rate when its description names it; the configured
    // interval is a choice of its own.
    const int index = speedCombo_->currentIndex() < 0 ? DEFAULT_SPEED_CHOICE : speedCombo_->currentIndex();
    const bool replaying = worker_.replayMode != 0;  // set only while a replay starts or runs
    speedCombo_->clear();
    for (const ReplayChoice& choice : ReplayChoices()) {
        std::string label;
        std::string tip;
        if (choice.speed <= 0) {
            label = LoadStringText(TEXT_FASTEST);
        } else if (choice.fixedInterval) {
            label = FormatStringText(TEXT_SPEED_FIXED, worker_.replayInterval);
            tip = FormatStringText(TEXT_SPEED_FIXED_TIP, worker_.replayInterval);
        } else if (choice.speed == 1.0) {
            if (!replaying) {
                label = LoadStringText(TEXT_SPEED_AS_RECORDED);
                tip = FormatStringText(TEXT_SPEED_AS_RECORDED_TIP, worker_.replayInterval);
            } else if (recordedPeriodMs_ > 0) {
                const std::string rate = RateText(1000.0 / recordedPeriodMs_);
                label = FormatStringText(TEXT_SPEED_RECORDED, rate.c_str());
                tip = FormatStringText(TEXT_SPEED_RECORDED_TIP, rate.c_str());
            } else {
                label = FormatStringText(TEXT_SPEED_CONFIGURED, worker_.replayInterval);
                tip = FormatStringText(TEXT_SPEED_UNDESCRIBED_TIP, worker_.replayInterval);
            }
        } else {
            label = "×" + RateText(choice.speed);
        }
        speedCombo_->addItem(Text(label));
        if (!tip.empty())
            speedCombo_->setItemData(speedCombo_->count() - 1, Text(tip), Qt::ToolTipRole);
    }
    speedCombo_->setCurrentIndex(std::clamp(index, 0, speedCombo_->count() - 1));
    speedCombo_->setToolTip(speedCombo_->currentData(Qt::ToolTipRole).toString());
}

void TargetPage::OnStart()
{
    if (RunActive()) {
        StopRealtimeShow();
        return;
    }
    worker_.replayMode = 0;
    StartRealtimeShow();
}

void TargetPage::OnReplay()
{
    if (RunActive()) {
        StopRealtimeShow();
        worker_.replayMode = 0;
        replayButton_->setText(Text(LoadStringText(TEXT_REPLAY)));
        return;
    }
    const QString filter = Text(LoadStringText(TEXT_DATA_FILES)) + QStringLiteral(" (*.dat);;") +
                           Text(LoadStringText(TEXT_ALL_FILES)) + QStringLiteral(" (*)");
    const QString chosen = QFileDialog::getOpenFileName(this, QString(), Text(worker_.lastReplayFile), filter);
    if (chosen.isEmpty())
        return;
    ReplayFile(chosen.toStdString());
}

void TargetPage::ReplayFile(const std::string& path)
{
    if (RunActive())
        StopRealtimeShow();
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
    } else {
        // The worker would end at once without a word; say why instead.
        Notify(FormatStringText(TEXT_REPLAY_UNREADABLE, path.c_str()));
        ShowMessageBox(this, FormatStringText(TEXT_REPLAY_UNREADABLE, path.c_str()), LoadStringText(TEXT_ERROR),
                       MessageIcon::Error, true);
        return;
    }
    worker_.lastReplayFile = path;
    worker_.replayMode = 1;
    StartRealtimeShow();
}

void TargetPage::OnSaveData()
{
    worker_.saveData = saveDataCheck_->isChecked() ? 1 : 0;
    pathEdit_->setEnabled(worker_.saveData != 0);
    browseButton_->setEnabled(worker_.saveData != 0);
}

void TargetPage::OnBrowse()
{
    const QString folder = QFileDialog::getExistingDirectory(this, QString(), pathEdit_->text());
    if (!folder.isEmpty())
        pathEdit_->setText(folder);
}

// ---- replay controls ----

const std::vector<TargetPage::ReplayChoice>& TargetPage::ReplayChoices()
{
    static const std::vector<ReplayChoice> choices = {
        {0.25, false}, {0.5, false}, {1.0, false}, {2.0, false}, {4.0, false},
        {8.0, false},  {16.0, false}, {1.0, true}, {0.0, false},
    };
    return choices;
}

void TargetPage::SetReplaySpeedIndex(int index)
{
    if (index < 0 || index >= static_cast<int>(ReplayChoices().size()))
        return;
    if (speedCombo_->currentIndex() != index)
        speedCombo_->setCurrentIndex(index);
    speedCombo_->setToolTip(speedCombo_->currentData(Qt::ToolTipRole).toString());
    ApplyReplaySpeed(index);
}

void TargetPage::ApplyReplaySpeed(int index)
{
    if (index < 0 || index >= static_cast<int>(ReplayChoices().size()))
        index = DEFAULT_SPEED_CHOICE;
    const ReplayChoice& choice = ReplayChoices()[static_cast<size_t>(index)];
    // A negative period is the configured ReplayInterval.
    worker_.SetReplayPeriod(choice.fixedInterval ? -1.0 : recordedPeriodMs_);
    worker_.SetReplaySpeed(choice.speed);
}

void TargetPage::SetReplayPaused(bool paused)
{
    if (!worker_.IsRunning() || worker_.replayMode == 0)
        return;
    worker_.SetPaused(paused);
    pauseButton_->setText(Text(LoadStringText(paused ? TEXT_RESUME : TEXT_PAUSE)));
    stepButton_->setEnabled(paused);
}

void TargetPage::StepReplay()
{
    worker_.StepReport();
}

void TargetPage::SeekReplayFraction(double fraction)
{
    if (!worker_.IsRunning() || worker_.replayMode == 0)
        return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    worker_.SeekReplay(static_cast<uint64_t>(std::llround(fraction * static_cast<double>(worker_.ReplayFileSize()))));
}

void TargetPage::UpdateReplayControls()
{
    const uint64_t size = worker_.ReplayFileSize();
    if (size == 0 || replaySlider_->isSliderDown())
        return;
    const double fraction = static_cast<double>(worker_.ReplayPosition()) / static_cast<double>(size);
    replaySlider_->setValue(static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * SLIDER_STEPS)));
}

// ---- status and notices ----

void TargetPage::Notify(const std::string& text)
{
    if (notify_ && !text.empty())
        notify_(text);
}

std::string TargetPage::RunStatusText()
{
    if (!worker_.IsRunning())
        return {};
    const auto now = std::chrono::steady_clock::now();
    const uint64_t count = worker_.ReportCount();
    const double seconds = std::chrono::duration<double>(now - rateTime_).count();
    if (seconds >= 0.5) {
        rate_ = static_cast<double>(count - std::min(count, rateCount_)) / seconds;
        rateCount_ = count;
        rateTime_ = now;
    }
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", rate_);
    const std::string reports = std::to_string(count);
    if (worker_.replayMode != 0) {
        const uint64_t size = worker_.ReplayFileSize();
        const int percent = size ? static_cast<int>(worker_.ReplayPosition() * 100 / size) : 0;
        std::string text = FormatStringText(TEXT_RUN_REPLAY, rate, reports.c_str(), percent);
        if (worker_.IsPaused())
            text += LoadStringText(TEXT_RUN_PAUSED);
        return text;
    }
    std::string text = FormatStringText(TEXT_RUN_LIVE, rate, reports.c_str());
    const std::string record = worker_.RecordFilePath();
    if (!record.empty() && worker_.RecordFailure().path.empty())
        text += FormatStringText(TEXT_RUN_RECORDING, FileNameOf(record).c_str(), SizeText(worker_.RecordedBytes()).c_str());
    return text;
}

// ---- the window's calls ----

void TargetPage::OnPageShown()
{
    RefreshParams();
    if (sensor_.Session().IsConnected() && !RunActive()) {
        worker_.replayMode = 0;
        StartRealtimeShow();
    }
}

void TargetPage::OnPageHidden()
{
    // A run holds the line, which the other pages need: it ends here, and the status
    // bar says so (and where it recorded), since coming back starts a new one.
    EndRun(RunEnd::PAGE_LEFT);
}

void TargetPage::OnConnected()
{
    RefreshParams();
    // Shown while the window connects: a live run starts as it would on showing the page.
    if (isVisible() && !RunActive()) {
        worker_.replayMode = 0;
        StartRealtimeShow();
    }
}

void TargetPage::OnDisconnecting()
{
    EndRun(RunEnd::DISCONNECT);
}

void TargetPage::OnConnectionLost()
{
    if (RunActive() && worker_.replayMode == 0)
        EndRun(RunEnd::LINE_LOST);
}

void TargetPage::OnSensorBusy(bool busy)
{
    // A run cannot start while another exchange has the sensor.
    if (!RunActive()) {
        startButton_->setEnabled(!busy);
        replayButton_->setEnabled(!busy);
    }
    if (busy || !startWhenIdle_)
        return;
    startWhenIdle_ = false;
    // Still wanted: the page is shown and, for a live run, the sensor still connected.
    if (isVisible() && !RunActive() && (worker_.replayMode != 0 || sensor_.Session().IsConnected()))
        StartRealtimeShow();
}

void TargetPage::SetPortSelection(int portNumber, int baudRate)
{
    portNumber_ = portNumber;
    baudRate_ = baudRate;
}

void TargetPage::SetLayoutScale(double scale)
{
    uiScale_ = scale;
    SetupCharts();
}
