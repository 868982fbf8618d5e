#include "params/widgets/CSensingGeneratorDlg.h"

#include <algorithm>
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
#include "controls/widgets/CColorStatic.h"
#include "controls/widgets/CDigitalEdit.h"
#include "controls/widgets/MessageEvent.h"
#include "controls/widgets/WaitCursor.h"
#include "device/CommandModeScope.h"
#include "params/ParamEditSession.h"
#include "params/RadarOperatorConfig.h"

namespace {

constexpr int kTemplate = 3500;
constexpr double kLimitTolerance = 1e-16;

// Rows of the tables view: trigger before/after, hold before/after.
enum : int { ROW_TRIGGER_BEFORE = 0, ROW_TRIGGER_AFTER, ROW_HOLD_BEFORE, ROW_HOLD_AFTER, ROW_COUNT };

// A changed gate's cell in an "after" row.
const QColor kChangedBackground(255, 214, 153);

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

}  // namespace

CSensingGeneratorDlg::CSensingGeneratorDlg(CSensorConnection& connection, QWidget* parent)
    : QDialog(parent),
      connection_(connection),
      sink_(this),
      worker_(std::make_unique<CSensingGenerateWorker>(connection.Handle(), sink_))
{
    setObjectName(QString::number(kTemplate));
    setWindowTitle(Text(LoadCaption(kTemplate, "caption")));
    setModal(true);
    BuildControls();

    // Initialisation: the inputs as the edits show them, their types and limits.
    for (CDigitalEdit* edit : {triggerEdit_, holdEdit_, scanEdit_})
        edit->SetType(DIGITAL_UINT32);
    for (CDigitalEdit* edit : {triggerEdit_, holdEdit_}) {
        edit->SetMinValue(DigitalValue::UInt32(SENSING_COEFFICIENT_MIN), kLimitTolerance);
        edit->SetMaxValue(DigitalValue::UInt32(SENSING_COEFFICIENT_MAX), kLimitTolerance);
    }
    scanEdit_->SetMinValue(DigitalValue::UInt32(SENSING_SCAN_TIME_MIN), kLimitTolerance);
    scanEdit_->SetMaxValue(DigitalValue::UInt32(SENSING_SCAN_TIME_MAX), kLimitTolerance);
    SetInputs(triggerCoefficient_, holdCoefficient_, scanTime_);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    status_->SetTextAlign(STRING_ALIGN_NEAR, STRING_ALIGN_CENTER, 0);
    status_->clear();
    success_ = 0;
    // The tables a run would start from, so that the user sees them before Start.
    before_ = ReadTables();
    ShowTables();
}

CSensingGeneratorDlg::~CSensingGeneratorDlg()
{
    // The worker posts through sink_ into this dialog: it ends before either goes.
    worker_->Stop();
    claim_.Release();
}

void CSensingGeneratorDlg::BuildControls()
{
    auto* layout = new QVBoxLayout(this);
    // As large as its contents: the tables are shown whole, nothing stretches.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* inputs = new QGridLayout;
    const struct {
        int id;
        CDigitalEdit** edit;
    } rows[] = {{3501, &triggerEdit_}, {3502, &holdEdit_}, {3503, &scanEdit_}};
    int row = 0;
    for (const auto& spec : rows) {
        auto* label = new QLabel(Text(LoadCaption(kTemplate, "label:" + std::to_string(spec.id))), this);
        label->setObjectName(QStringLiteral("label:%1").arg(spec.id));
        auto* edit = new CDigitalEdit(this);
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

    status_ = new CColorStatic(this);
    status_->setObjectName(QStringLiteral("3511"));
    status_->setMinimumHeight(40);
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    startButton_ = new QPushButton(StringText(TEXT_START), this);
    startButton_->setObjectName(QStringLiteral("3510"));
    startButton_->setDefault(true);
    startButton_->setMinimumWidth(100);
    undoButton_ = new QPushButton(StringText(TEXT_UNDO), this);
    undoButton_->setObjectName(QString::number(kUndoId));
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
    tables_->setObjectName(QString::number(kTablesId));
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

    connect(startButton_, &QPushButton::clicked, this, &CSensingGeneratorDlg::OnStart);
    connect(undoButton_, &QPushButton::clicked, this, &CSensingGeneratorDlg::OnUndo);
}

void CSensingGeneratorDlg::SetInputs(int triggerCoefficient, int holdCoefficient, int scanTime)
{
    triggerCoefficient_ = triggerCoefficient;
    holdCoefficient_ = holdCoefficient;
    scanTime_ = scanTime;
    triggerEdit_->setText(Text(FormatDistance(triggerCoefficient)));
    holdEdit_->setText(Text(FormatDistance(holdCoefficient)));
    scanEdit_->setText(Text(FormatDistance(scanTime)));
}

void CSensingGeneratorDlg::OnStart()
{
    if (running_)
        StopRun();
    else
        StartRun();
}

void CSensingGeneratorDlg::StartRun()
{
    // A value typed but not committed yet (Enter in an edit presses Start) gets the
    // edit's limits before it is read.
    for (CDigitalEdit* edit : {triggerEdit_, holdEdit_, scanEdit_})
        edit->Commit();

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

    // What the sensor holds now, to show beside the result and for Undo.
    before_ = ReadTables();
    after_.reset();
    ShowTables();

    claim_ = connection_.ClaimLine();
    awaitingFinish_ = true;
    if (!worker_->Start(triggerCoefficient_, holdCoefficient_, scanTime_)) {
        // The thread could not start: end as a refused command does.
        claim_.Release();
        OnFinished(0);
    }
}

void CSensingGeneratorDlg::StopRun()
{
    // Stop returns once the worker's body has returned; its WM_SENSING_FINISHED is
    // then on its way and re-enables the edits.
    worker_->Stop();
    claim_.Release();
    startButton_->setText(StringText(TEXT_START));
    running_ = 0;
}

void CSensingGeneratorDlg::customEvent(QEvent* event)
{
    const CMessageEvent* message = CMessageEvent::Cast(event);
    if (!message) {
        QDialog::customEvent(event);
        return;
    }
    switch (message->Message()) {
    case WM_SENSING_PROGRESS: OnProgress(static_cast<int>(message->WParam())); break;
    case WM_SENSING_FINISHED: OnFinished(static_cast<int>(message->WParam())); break;
    default: break;
    }
}

void CSensingGeneratorDlg::OnProgress(int progress)
{
    progress_->setValue(std::clamp(progress, 0, 100));
    ShowStatus(FormatStringText(TEXT_GENERATE_PROGRESS, progress));
}

void CSensingGeneratorDlg::OnFinished(int success)
{
    if (!awaitingFinish_)
        return;
    awaitingFinish_ = false;
    success_ = success;
    SetInputsEnabled(true);
    worker_->Stop();
    claim_.Release();
    startButton_->setText(StringText(TEXT_START));
    running_ = 0;

    if (!success_) {
        std::string text = LoadStringText(TEXT_GENERATE_FAILED);
        // A refused command says nothing else; name the usual reason.
        if (!connection_.IsConnected()) text += "\n" + LoadStringText(TEXT_DEVICE_NOT_CONNECTED);
        ShowStatus(text);
        return;
    }
    progress_->setValue(100);
    after_ = ReadTables();
    ShowTables();
    DbgOutputA(2, "Threshold generation, GateTriggerThreshold: %s -> %s\r\n", TableText(before_, true).c_str(),
               TableText(after_, true).c_str());
    DbgOutputA(2, "Threshold generation, GateHoldThreshold: %s -> %s\r\n", TableText(before_, false).c_str(),
               TableText(after_, false).c_str());
    std::string text = LoadStringText(TEXT_GENERATED);
    if (!after_)
        text += "\n" + LoadStringText(TEXT_AFTER_UNREADABLE);
    ShowStatus(text);
    undoButton_->setEnabled(before_.has_value());
}

void CSensingGeneratorDlg::OnUndo()
{
    if (running_ || !before_)
        return;
    ParamSetting previous;
    std::copy(before_->trigger.begin(), before_->trigger.end(), previous.GateTriggerThreshold);
    std::copy(before_->hold.begin(), before_->hold.end(), previous.GateHoldThreshold);
    int result = OPERATOR_OK;
    {
        WaitCursor wait;
        CommandModeScope mode(connection_.Handle());
        result = RadarOperatorConfig_WriteTriggerThreshold(connection_.Handle(), previous);
        if (result == OPERATOR_OK)
            result = RadarOperatorConfig_WriteHoldThreshold(connection_.Handle(), previous);
    }
    // Show what the sensor holds now, whichever way it went.
    after_ = ReadTables();
    ShowTables();
    if (result == OPERATOR_OK) {
        undoButton_->setEnabled(false);
        ShowStatus(LoadStringText(TEXT_UNDONE));
    } else {
        ShowStatus(LoadStringText(TEXT_UNDO_FAILED));
    }
}

std::optional<GateTables> CSensingGeneratorDlg::ReadTables()
{
    ParamSetting record;
    int result = OPERATOR_OK;
    {
        WaitCursor wait;
        CommandModeScope mode(connection_.Handle());
        result = RadarOperatorConfig_ReadTriggerThreshold(connection_.Handle(), record);
        if (result == OPERATOR_OK)
            result = RadarOperatorConfig_ReadHoldThreshold(connection_.Handle(), record);
    }
    if (result != OPERATOR_OK)
        return std::nullopt;
    GateTables tables;
    std::copy(std::begin(record.GateTriggerThreshold), std::end(record.GateTriggerThreshold), tables.trigger.begin());
    std::copy(std::begin(record.GateHoldThreshold), std::end(record.GateHoldThreshold), tables.hold.begin());
    return tables;
}

void CSensingGeneratorDlg::ShowTables()
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
            item->setBackground(changed ? QBrush(kChangedBackground) : QBrush());
            item->setData(Qt::UserRole, changed);
        }
    };
    fill(ROW_TRIGGER_BEFORE, before_, true, std::nullopt);
    fill(ROW_TRIGGER_AFTER, after_, true, before_);
    fill(ROW_HOLD_BEFORE, before_, false, std::nullopt);
    fill(ROW_HOLD_AFTER, after_, false, before_);
}

void CSensingGeneratorDlg::ShowStatus(const std::string& text)
{
    status_->setText(Text(text));
}

void CSensingGeneratorDlg::SetInputsEnabled(bool enabled)
{
    for (CDigitalEdit* edit : {triggerEdit_, holdEdit_, scanEdit_})
        edit->setEnabled(enabled);
}

void CSensingGeneratorDlg::keyPressEvent(QKeyEvent* event)
{
    // Escape does nothing; Enter presses the default button (Start) as usual.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CSensingGeneratorDlg::reject()
{
    CloseDialog();
}

void CSensingGeneratorDlg::accept()
{
    CloseDialog();
}

void CSensingGeneratorDlg::CloseDialog()
{
    // A run is stopped before the dialog goes; its late WM_SENSING_FINISHED is
    // then of no interest.
    if (running_ || worker_->IsRunning()) {
        awaitingFinish_ = false;
        StopRun();
        success_ = worker_->Success();
        SetInputsEnabled(true);
    }
    done(success_ == 1 ? QDialog::Accepted : QDialog::Rejected);
}
