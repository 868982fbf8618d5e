#include "params/widgets/ThresholdDialog.h"

#include <algorithm>
#include <ctime>
#include <string>

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/StringTable.h"
#include "common/DbgOutput.h"
#include "common/ValueParse.h"
#include "controls/widgets/ColorLabel.h"
#include "controls/widgets/MessageBox.h"
#include "controls/widgets/NumericEdit.h"
#include "session/widgets/SensorThread.h"
#include "params/ParamEditSession.h"
#include "params/RadarOperatorConfig.h"

namespace {

constexpr int TEMPLATE = 3500;
constexpr double LIMIT_TOLERANCE = 1e-16;

// Rows of the tables view: trigger before/after, hold before/after.
enum : int { ROW_TRIGGER_BEFORE = 0, ROW_TRIGGER_AFTER, ROW_HOLD_BEFORE, ROW_HOLD_AFTER, ROW_COUNT };

// A changed gate's cell in an "after" row.
const QColor CHANGED_BACKGROUND(255, 214, 153);

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString StringText(int id)
{
    return Text(LoadStringText(id));
}

std::string TableText(const std::optional<GateTables>& tables, bool trigger)
{
    if (!tables)
        return "unknown";
    std::string text;
    for (uint32_t value : trigger ? tables->trigger : tables->hold) {
        if (!text.empty())
            text += ' ';
        text += std::to_string(value);
    }
    return text;
}

// Both tables in one command-mode bracket; none when a read fails. On the sensor thread.
std::optional<GateTables> ReadTablesFrom(SensorSession& session)
{
    ParamSetting record;
    if (!session.ReadThresholds(record))
        return std::nullopt;
    GateTables tables;
    std::copy(std::begin(record.GateTriggerThreshold), std::end(record.GateTriggerThreshold), tables.trigger.begin());
    std::copy(std::begin(record.GateHoldThreshold), std::end(record.GateHoldThreshold), tables.hold.begin());
    return tables;
}

}  // namespace

ThresholdDialog::ThresholdDialog(SensorThread& sensor, QWidget* parent)
    : QDialog(parent),
      sensor_(sensor),
      worker_(std::make_unique<CSensingGenerateWorker>(nullptr, sink_))
{
    setObjectName(QString::number(TEMPLATE));
    setWindowTitle(Text(LoadCaption(TEMPLATE, "caption")));
    setModal(true);
    BuildControls();
    connect(&sink_, &SensingEventSink::progressChanged, this, &ThresholdDialog::OnProgress, Qt::QueuedConnection);
    connect(&sink_, &SensingEventSink::finished, this, [this](bool success) { OnFinished(success ? 1 : 0); },
            Qt::QueuedConnection);

    // Initialisation: the inputs as the edits show them, their types and limits.
    for (NumericEdit* edit : {triggerEdit_, holdEdit_, scanEdit_})
        edit->SetType(DIGITAL_UINT32);
    for (NumericEdit* edit : {triggerEdit_, holdEdit_}) {
        edit->SetMinValue(DigitalValue::UInt32(SENSING_COEFFICIENT_MIN), LIMIT_TOLERANCE);
        edit->SetMaxValue(DigitalValue::UInt32(SENSING_COEFFICIENT_MAX), LIMIT_TOLERANCE);
    }
    scanEdit_->SetMinValue(DigitalValue::UInt32(SENSING_SCAN_TIME_MIN), LIMIT_TOLERANCE);
    scanEdit_->SetMaxValue(DigitalValue::UInt32(SENSING_SCAN_TIME_MAX), LIMIT_TOLERANCE);
    SetInputs(triggerCoefficient_, holdCoefficient_, scanTime_);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    status_->SetTextAlign(STRING_ALIGN_NEAR, STRING_ALIGN_CENTER, 0);
    status_->clear();
    success_ = 0;
    // The tables a run would start from, so that the user sees them before Start.
    RequestTables([this](std::optional<GateTables> tables) {
        before_ = tables;
        ShowTables();
    });
}

ThresholdDialog::~ThresholdDialog()
{
    // The worker posts through sink_ into this dialog: it ends before either goes.
    worker_->Stop();
    claim_.Release();
}

void ThresholdDialog::BuildControls()
{
    auto* layout = new QVBoxLayout(this);
    // As large as its contents: the tables are shown whole, nothing stretches.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* inputs = new QGridLayout;
    const struct {
        int id;
        NumericEdit** edit;
    } rows[] = {{3501, &triggerEdit_}, {3502, &holdEdit_}, {3503, &scanEdit_}};
    int row = 0;
    for (const auto& spec : rows) {
        auto* label = new QLabel(Text(LoadCaption(TEMPLATE, "label:" + std::to_string(spec.id))), this);
        label->setObjectName(QStringLiteral("label:%1").arg(spec.id));
        auto* edit = new NumericEdit(this);
        edit->setObjectName(QString::number(spec.id));
        edit->setFixedWidth(90);
        label->setBuddy(edit);
        inputs->addWidget(label, row, 0);
        inputs->addWidget(edit, row, 1);
        *spec.edit = edit;
        ++row;
    }
    inputs->setColumnStretch(2, 1);
    layout->addLayout(inputs);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("3504"));
    progress_->setTextVisible(false);
    layout->addWidget(progress_);

    status_ = new ColorLabel(this);
    status_->setObjectName(QStringLiteral("3511"));
    status_->setMinimumHeight(40);
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    startButton_ = new QPushButton(StringText(TEXT_START), this);
    startButton_->setObjectName(QStringLiteral("3510"));
    startButton_->setDefault(true);
    startButton_->setMinimumWidth(100);
    undoButton_ = new QPushButton(StringText(TEXT_UNDO), this);
    undoButton_->setObjectName(QString::number(UNDO_ID));
    undoButton_->setEnabled(false);
    undoButton_->setAutoDefault(false);
    undoButton_->setMinimumWidth(100);
    buttons->addWidget(startButton_);
    buttons->addWidget(undoButton_);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    auto* group = new QGroupBox(StringText(TEXT_TABLES_TITLE), this);
    auto* groupLayout = new QVBoxLayout(group);
    tables_ = new QTableWidget(ROW_COUNT, PARAM_GATE_COUNT, group);
    tables_->setObjectName(QString::number(TABLES_ID));
    tables_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tables_->setSelectionMode(QAbstractItemView::NoSelection);
    tables_->setFocusPolicy(Qt::NoFocus);
    tables_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tables_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QStringList gates;
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate)
        gates << QStringLiteral("%1").arg(gate, 2, 10, QLatin1Char('0'));
    tables_->setHorizontalHeaderLabels(gates);
    tables_->setVerticalHeaderLabels({StringText(TEXT_TRIGGER_BEFORE), StringText(TEXT_TRIGGER_AFTER),
                                      StringText(TEXT_HOLD_BEFORE), StringText(TEXT_HOLD_AFTER)});
    tables_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tables_->horizontalHeader()->setDefaultSectionSize(34);
    tables_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tables_->verticalHeader()->setDefaultSectionSize(24);
    for (int r = 0; r < ROW_COUNT; ++r) {
        for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            tables_->setItem(r, gate, item);
        }
    }
    // The whole table without scrolling.
    const int width = tables_->verticalHeader()->sizeHint().width() + PARAM_GATE_COUNT * 34 + 2 * tables_->frameWidth();
    const int height = tables_->horizontalHeader()->sizeHint().height() + ROW_COUNT * 24 + 2 * tables_->frameWidth();
    tables_->setFixedSize(width, height);
    groupLayout->addWidget(tables_);
    layout->addWidget(group);

    connect(startButton_, &QPushButton::clicked, this, &ThresholdDialog::OnStart);
    connect(undoButton_, &QPushButton::clicked, this, &ThresholdDialog::OnUndo);
}

void ThresholdDialog::SetInputs(int triggerCoefficient, int holdCoefficient, int scanTime)
{
    triggerCoefficient_ = triggerCoefficient;
    holdCoefficient_ = holdCoefficient;
    scanTime_ = scanTime;
    triggerEdit_->setText(Text(FormatDistance(triggerCoefficient)));
    holdEdit_->setText(Text(FormatDistance(holdCoefficient)));
    scanEdit_->setText(Text(FormatDistance(scanTime)));
}

void ThresholdDialog::OnStart()
{
    if (running_)
        StopRun();
    else
        StartRun();
}

void ThresholdDialog::StartRun()
{
    // A value typed but not committed yet (Enter in an edit presses Start) gets the
    // edit's limits before it is read.
    for (NumericEdit* edit : {triggerEdit_, holdEdit_, scanEdit_})
        edit->Commit();

    // A stopped scan still followed is left to the sensor: the new command takes over.
    // Its worker's last notices are still queued and must not count for this run.
    if (stoppedScan_) {
        stoppedScan_ = false;
        ++finishesToSkip_;
        worker_->Stop();
        claim_.Release();
    }
    running_ = 1;
    success_ = 0;
    status_->clear();
    progress_->setValue(0);
    startButton_->setText(StringText(TEXT_STOP));
    SetInputsEnabled(false);
    undoButton_->setEnabled(false);
    triggerCoefficient_ = ParseLeadingInt32(triggerEdit_->text().toStdString());
    holdCoefficient_ = ParseLeadingInt32(holdEdit_->text().toStdString());
    scanTime_ = ParseLeadingInt32(scanEdit_->text().toStdString());

    // What the sensor holds now, to show beside the result and for Undo; the run
    // starts once they are read (unless Stop came first). After a stopped run the
    // tables from before it stay the Undo point.
    RequestTables([this](std::optional<GateTables> tables) {
        if (!keepBefore_ || !before_)
            before_ = tables;
        after_.reset();
        ShowTables();
        if (!running_)
            return;
        claim_ = sensor_.Session().ClaimLine();
        worker_->SetLine(&claim_.Line());
        runStart_ = std::chrono::system_clock::now();
        if (!worker_->Start(triggerCoefficient_, holdCoefficient_, scanTime_)) {
            // The thread could not start: end as a refused command does.
            claim_.Release();
            OnFinished(0);
        }
    });
}

void ThresholdDialog::StopRun()
{
    startButton_->setText(StringText(TEXT_START));
    running_ = 0;
    SetInputsEnabled(true);
    if (!worker_->IsRunning()) {
        // Stopped while the tables were read: the command never went out.
        ShowStatus(LoadStringText(TEXT_STOPPED));
        return;
    }
    // The sensor has the command and cannot be told to stop: the worker goes on
    // following it, so that the dialog can show the tables it leaves and offer Undo.
    stoppedScan_ = true;
    keepBefore_ = true;
    ShowStatus(FormatStringText(TEXT_GENERATION_STOPPED, ScanEndText().c_str()));
}

std::string ThresholdDialog::ScanEndText() const
{
    const std::time_t end = std::chrono::system_clock::to_time_t(runStart_ + std::chrono::seconds(scanTime_));
    std::tm local{};
    localtime_r(&end, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

void ThresholdDialog::OnProgress(int progress)
{
    if (finishesToSkip_ > 0)
        return;  // a run given up for a newer one
    progress_->setValue(std::clamp(progress, 0, 100));
    // After a Stop the status keeps saying what the sensor is doing.
    if (running_)
        ShowStatus(FormatStringText(TEXT_GENERATE_PROGRESS, progress));
}

void ThresholdDialog::OnFinished(int success)
{
    // A run given up for a newer one ends before it, in the order of the queue.
    if (finishesToSkip_ > 0) {
        --finishesToSkip_;
        return;
    }
    if (!running_ && !stoppedScan_)
        return;
    const bool stoppedByUser = stoppedScan_;
    stoppedScan_ = false;
    worker_->Stop();
    claim_.Release();
    success_ = stoppedByUser ? 0 : success;

    if (!success) {
        SetInputsEnabled(true);
        startButton_->setText(StringText(TEXT_START));
        running_ = 0;
        std::string text = LoadStringText(TEXT_GENERATE_FAILED);
        // A refused command says nothing else; name the usual reason.
        if (!sensor_.Session().IsConnected())
            text += "\n" + LoadStringText(TEXT_DEVICE_NOT_CONNECTED);
        ShowStatus(text);
        // Undo is offered once the sensor has finished a scan.
        undoButton_->setEnabled(false);
        return;
    }
    ShowScanResult(stoppedByUser);
}

void ThresholdDialog::ShowScanResult(bool stoppedByUser)
{
    progress_->setValue(100);
    tablesChanged_ = true;
    // The run counts as going on until the new tables are read and shown.
    startButton_->setEnabled(false);
    RequestTables([this, stoppedByUser](std::optional<GateTables> tables) {
        after_ = tables;
        ShowTables();
        DbgOutputA(2, "Threshold generation, GateTriggerThreshold: %s -> %s\r\n", TableText(before_, true).c_str(),
                   TableText(after_, true).c_str());
        DbgOutputA(2, "Threshold generation, GateHoldThreshold: %s -> %s\r\n", TableText(before_, false).c_str(),
                   TableText(after_, false).c_str());
        std::string text = LoadStringText(stoppedByUser ? TEXT_GENERATION_STOPPED_DONE : TEXT_GENERATED);
        if (!after_)
            text += "\n" + LoadStringText(TEXT_AFTER_UNREADABLE);
        ShowStatus(text);
        SetInputsEnabled(true);
        startButton_->setEnabled(true);
        startButton_->setText(StringText(TEXT_START));
        running_ = 0;
        // The next run reads its own "before": this result is what the user now has.
        if (!stoppedByUser)
            keepBefore_ = false;
        undoButton_->setEnabled(before_.has_value());
    });
}

void ThresholdDialog::OnUndo()
{
    if (running_ || stoppedScan_ || !before_)
        return;
    ParamSetting previous;
    std::copy(before_->trigger.begin(), before_->trigger.end(), previous.GateTriggerThreshold);
    std::copy(before_->hold.begin(), before_->hold.end(), previous.GateHoldThreshold);
    if (sensor_.IsBusy())
        return;
    undoButton_->setEnabled(false);
    startButton_->setEnabled(false);
    struct Outcome {
        SensorResult written;
        std::optional<GateTables> tables;
    };
    sensor_.Run<Outcome>(
        this,
        [previous](SensorSession& session) {
            Outcome outcome;
            outcome.written = session.WriteThresholds(previous);
            // Show what the sensor holds now, whichever way it went.
            outcome.tables = ReadTablesFrom(session);
            return outcome;
        },
        [this](Outcome outcome) {
            tablesChanged_ = true;
            after_ = outcome.tables;
            ShowTables();
            startButton_->setEnabled(true);
            if (outcome.written) {
                ShowStatus(LoadStringText(TEXT_UNDONE));
            } else {
                undoButton_->setEnabled(true);
                ShowStatus(LoadStringText(TEXT_UNDO_FAILED) + "\n" + SensorResultText(outcome.written));
            }
        });
}

void ThresholdDialog::RequestTables(std::function<void(std::optional<GateTables>)> then)
{
    sensor_.Run<std::optional<GateTables>>(this, &ReadTablesFrom, std::move(then));
}

void ThresholdDialog::ShowTables()
{
    const auto fill = [this](int row, const std::optional<GateTables>& tables, bool trigger,
                             const std::optional<GateTables>& compareWith) {
        for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
            QTableWidgetItem* item = tables_->item(row, gate);
            const bool known = tables.has_value();
            const uint32_t value = known ? (trigger ? tables->trigger : tables->hold)[gate] : 0;
            item->setText(known ? QString::number(value) : QStringLiteral("-"));
            bool changed = false;
            if (known && compareWith) {
                const uint32_t other = (trigger ? compareWith->trigger : compareWith->hold)[gate];
                changed = other != value;
            }
            QFont font = tables_->font();
            font.setBold(changed);
            item->setFont(font);
            item->setBackground(changed ? QBrush(CHANGED_BACKGROUND) : QBrush());
            item->setData(Qt::UserRole, changed);
        }
    };
    fill(ROW_TRIGGER_BEFORE, before_, true, std::nullopt);
    fill(ROW_TRIGGER_AFTER, after_, true, before_);
    fill(ROW_HOLD_BEFORE, before_, false, std::nullopt);
    fill(ROW_HOLD_AFTER, after_, false, before_);
}

void ThresholdDialog::ShowStatus(const std::string& text)
{
    status_->setText(Text(text));
}

void ThresholdDialog::SetInputsEnabled(bool enabled)
{
    for (NumericEdit* edit : {triggerEdit_, holdEdit_, scanEdit_})
        edit->setEnabled(enabled);
}

void ThresholdDialog::keyPressEvent(QKeyEvent* event)
{
    // Escape does nothing; Enter presses the default button (Start) as usual.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ThresholdDialog::reject()
{
    CloseDialog();
}

void ThresholdDialog::accept()
{
    CloseDialog();
}

void ThresholdDialog::CloseDialog()
{
    // The sensor has a scan it cannot be told to stop: closing gives up the view of
    // its end and the Undo of what it replaces, so the user decides.
    if (worker_->IsRunning() && (running_ || stoppedScan_)) {
        const QuestionRecord question{FormatStringText(TEXT_GENERATION_CLOSE_QUESTION, ScanEndText().c_str()),
                                      LoadCaption(TEMPLATE, "caption"),
                                      {LoadStringText(TEXT_KEEP_OPEN), LoadStringText(TEXT_CLOSE_ANYWAY)},
                                      0,
                                      0};
        if (AskQuestion(this, question) != 1)
            return;
        leftScanEnd_ = ScanEndText();
    }
    // Whatever the worker still sends is of no interest once the dialog has gone.
    running_ = 0;
    stoppedScan_ = false;
    worker_->Stop();
    claim_.Release();
    SetInputsEnabled(true);
    done(tablesChanged_ ? QDialog::Accepted : QDialog::Rejected);
}
