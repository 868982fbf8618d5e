#include "params/widgets/ParameterPage.h"

#include <algorithm>

#include <QApplication>
#include <QCoreApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "common/DbgOutput.h"
#include "common/ValueParse.h"
#include "controls/widgets/BalloonTip.h"
#include "controls/widgets/NumericEdit.h"
#include "controls/widgets/MessageBox.h"
#include "params/ParamEditSession.h"
#include "params/ParamFileSection.h"
#include "params/ParamReadBack.h"
#include "params/RadarOperatorConfig.h"
#include "session/widgets/SensorThread.h"
#include "params/widgets/ThresholdDialog.h"

namespace {

constexpr int TEMPLATE = 2000;
constexpr double LIMIT_TOLERANCE = 1e-16;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString Caption(const std::string& key)
{
    return Text(LoadCaption(TEMPLATE, key));
}

QString IdName(int id)
{
    return QString::number(id);
}

QString SignedText(uint32_t value)
{
    return QString::number(static_cast<int32_t>(value));
}

// The look of a control whose value is not on the sensor: a frame in the colour of
// its label. Qt's style sheets only for as long as the mark is shown.
constexpr const char* MARK_COLOUR = "#d9730d";

QString MarkStyle(const QWidget* widget)
{
    const QString colour = QString::fromLatin1(MARK_COLOUR);
    if (qobject_cast<const QLabel*>(widget) || qobject_cast<const QRadioButton*>(widget))
        return QStringLiteral("color: %1;").arg(colour);
    if (qobject_cast<const QComboBox*>(widget))
        return QStringLiteral("QComboBox { border: 2px solid %1; border-radius: 2px; padding: 1px 4px; }").arg(colour);
    return QStringLiteral("QLineEdit { border: 2px solid %1; border-radius: 2px; background: #fff4e6; }").arg(colour);
}

// A control whose value differs from a compared profile: the same frame in blue,
// so that it does not read as unwritten.
constexpr const char* COMPARED_COLOUR = "#1f6fd1";

QString ComparedMarkStyle(const QWidget* widget)
{
    return MarkStyle(widget).replace(QString::fromLatin1(MARK_COLOUR), QString::fromLatin1(COMPARED_COLOUR))
        .replace(QStringLiteral("#fff4e6"), QStringLiteral("#e8f0fc"));
}

}  // namespace

ParameterPage::ParameterPage(ToolPageContext& context, QWidget* parent)
    : QWidget(parent), sensor_(context.sensor), setting_(&context.params), notify_(context.notify)
{
    setObjectName(IdName(TEMPLATE));
    BuildControls();

    // The record starts as the configuration's section left it (the defaults when
    // there is none); only Save Config. writes the section.
    LoadConfigSection();

    rangeMinEdit_->SetType(DIGITAL_DOUBLE);
    rangeMaxEdit_->SetType(DIGITAL_DOUBLE);
    disappearEdit_->SetType(DIGITAL_UINT32);
    disappearEdit_->SetMinValue(DigitalValue::UInt32(PARAM_ABSENCE_MIN), LIMIT_TOLERANCE);
    disappearEdit_->SetMaxValue(DigitalValue::UInt32(PARAM_ABSENCE_MAX), LIMIT_TOLERANCE);
    for (auto* table : {&triggerEdits_, &holdEdits_}) {
        for (NumericEdit* edit : *table) {
            edit->SetType(DIGITAL_UINT32);
            edit->SetMinValue(DigitalValue::UInt32(PARAM_THRESHOLD_MIN), LIMIT_TOLERANCE);
            edit->SetMaxValue(DigitalValue::UInt32(PARAM_THRESHOLD_MAX), LIMIT_TOLERANCE);
        }
    }
    UpdateControls();

    // What the controls show now counts as held; every change from here on is marked.
    const auto number = [](NumericEdit* edit) {
        return [edit] { return QString::number(ParseDigitalText(edit->text().toStdString()), 'g', 12); };
    };
    const auto label = [this](const QString& name) { return findChild<QWidget*>(name); };
    AddMarkedControl({rangeMinEdit_}, label(QStringLiteral("label:2010")), number(rangeMinEdit_));
    AddMarkedControl({rangeMaxEdit_}, label(QStringLiteral("label:2011")), number(rangeMaxEdit_));
    AddMarkedControl({stateFreqCombo_}, label(QStringLiteral("label:2012")), [this] { return stateFreqCombo_->currentText(); });
    AddMarkedControl({rangeFreqCombo_}, label(QStringLiteral("label:2013")), [this] { return rangeFreqCombo_->currentText(); });
    AddMarkedControl({normalRadio_, fastRadio_}, label(QStringLiteral("label:2014")),
                     [this] { return fastRadio_->isChecked() ? QStringLiteral("fast") : QStringLiteral("normal"); });
    AddMarkedControl({disappearEdit_}, label(QStringLiteral("label:2016")), number(disappearEdit_));
    firstTableMark_ = marks_.size();
    for (auto* table : {&triggerEdits_, &holdEdits_}) {
        for (NumericEdit* edit : *table)
            AddMarkedControl({edit}, label(QStringLiteral("gate:") + edit->objectName()), number(edit));
    }
    for (NumericEdit* edit : findChildren<NumericEdit*>())
        connect(edit, &QLineEdit::textChanged, this, &ParameterPage::RefreshMarks);
    for (QComboBox* combo : {stateFreqCombo_, rangeFreqCombo_})
        connect(combo, &QComboBox::currentTextChanged, this, &ParameterPage::RefreshMarks);
    connect(fastRadio_, &QRadioButton::toggled, this, &ParameterPage::RefreshMarks);
    TakeBaseline();
}

ParameterPage::~ParameterPage()
{
    // An edit that still has the focus commits when the base class takes it away:
    // that must not reach this half-destroyed page.
    for (QObject* control : findChildren<QObject*>())
        control->disconnect(this);
    // The section is not written here: it holds what the user saved with Save
    // Config., not whatever was read, typed or written last.
}

void ParameterPage::LoadConfigSection()
{
    const XMLNode section = gAppConfigDoc.FindElement("AppConfig").FindChild("ParamSetting");
    if (!section)
        return;
    // Taken in as a parameter file is: a value that does not read leaves the record
    // as it is, values outside the rules are corrected as typed ones would be.
    const ParamFileSection read = ReadParamFileSection(section, *setting_);
    const std::string path = GetAppConfigPath();
    std::string text;
    MessageIcon icon = MessageIcon::Information;
    int caption = TEXT_NOTE;
    if (read.Refused()) {
        text = FormatStringText(TEXT_PARAM_SECTION_REFUSED, path.c_str(), ParamFileProblemText(read).c_str());
        icon = MessageIcon::Warning;
        caption = TEXT_ERROR;
    } else {
        *setting_ = read.record;
        if (read.notices.empty())
            return;
        std::string lines;
        for (const ParamNotice& notice : read.notices) {
            lines += "\n" + notice.field;
            if (notice.gate >= 0)
                lines += "[" + std::to_string(notice.gate) + "]";
            lines += ": " + notice.text;
        }
        text = FormatStringText(TEXT_PARAM_SECTION_CORRECTED, path.c_str(), lines.c_str());
    }
    DbgOutputA(1, "%s\r\n", text.c_str());
    // Said once the window is up.
    QTimer::singleShot(0, this, [this, text, icon, caption] {
        ShowMessageBox(this, DisplayText(text), LoadStringText(caption), icon);
    });
}

void ParameterPage::BuildControls()
{
    resize(PAGE_DESIGN_WIDTH, PAGE_DESIGN_HEIGHT);

    auto label = [this](const std::string& key, QRect rect) {
        auto* widget = new QLabel(Caption(key), this);
        widget->setObjectName(QString::fromStdString(key));
        widget->setGeometry(rect);
        return widget;
    };
    auto edit = [](QWidget* parent, int id, QRect rect) {
        auto* widget = new NumericEdit(parent);
        widget->setObjectName(IdName(id));
        widget->setGeometry(rect);
        return widget;
    };
    auto combo = [this](int id, QRect rect) {
        auto* widget = new QComboBox(this);
        widget->setObjectName(IdName(id));
        widget->setGeometry(rect);
        for (const std::string& entry : ReportFreqList())
            widget->addItem(Text(entry));
        return widget;
    };

    label("label:2010", QRect(12, 12, 150, 24));
    rangeMinEdit_ = edit(this, 2010, QRect(165, 12, 90, 24));
    label("label:2012", QRect(290, 12, 170, 24));
    stateFreqCombo_ = combo(2012, QRect(465, 12, 90, 24));
    label("label:2011", QRect(12, 46, 150, 24));
    rangeMaxEdit_ = edit(this, 2011, QRect(165, 46, 90, 24));
    label("label:2013", QRect(290, 46, 170, 24));
    rangeFreqCombo_ = combo(2013, QRect(465, 46, 90, 24));
    label("label:2016", QRect(12, 80, 150, 24));
    disappearEdit_ = edit(this, 2016, QRect(165, 80, 90, 24));
    label("label:2014", QRect(290, 80, 170, 24));
    normalRadio_ = new QRadioButton(Caption("2014"), this);
    normalRadio_->setObjectName(IdName(2014));
    normalRadio_->setGeometry(465, 80, 84, 24);
    fastRadio_ = new QRadioButton(Caption("2015"), this);
    fastRadio_->setObjectName(IdName(2015));
    fastRadio_->setGeometry(552, 80, 84, 24);

    auto gateGroup = [&](int firstId, int top, std::array<NumericEdit*, PARAM_GATE_COUNT>& edits) {
        auto* group = new QGroupBox(Caption("group:" + std::to_string(firstId)), this);
        group->setObjectName(QStringLiteral("group:%1").arg(firstId));
        group->setGeometry(12, top, 656, 120);
        for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
            const int column = gate % 8;
            const int row = gate / 8;
            const int x = 14 + column * 80;
            auto* gateLabel = new QLabel(QStringLiteral("%1").arg(gate, 2, 10, QLatin1Char('0')), group);
            gateLabel->setObjectName(QStringLiteral("gate:%1").arg(firstId + gate));
            gateLabel->setAlignment(Qt::AlignCenter);
            gateLabel->setGeometry(x, 20 + row * 48, 70, 18);
            edits[gate] = edit(group, firstId + gate, QRect(x, 40 + row * 48, 70, 24));
            edits[gate]->setAlignment(Qt::AlignCenter);
        }
    };
    gateGroup(2020, 116, triggerEdits_);
    gateGroup(2040, 244, holdEdits_);

    struct ButtonSpec {
        int id;
        void (ParameterPage::*handler)();
    };
    const ButtonSpec buttons[] = {
        {2002, &ParameterPage::OnRead},         {2003, &ParameterPage::OnWrite},
        {2004, &ParameterPage::OnGenThreshold}, {2005, &ParameterPage::OnSaveConfig},
        {2001, &ParameterPage::OnReset},
    };
    int x = 12;
    for (const ButtonSpec& spec : buttons) {
        auto* button = new QPushButton(Caption(std::to_string(spec.id)), this);
        button->setObjectName(IdName(spec.id));
        button->setGeometry(x, 378, 100, 32);
        connect(button, &QPushButton::clicked, this, spec.handler);
        x += 110;
    }
    BuildProfileButton(QRect(x, 378, 116, 32));

    // Only the user's choices run the handlers; UpdateControls never does.
    connect(stateFreqCombo_, &QComboBox::activated, this, &ParameterPage::OnStateReportFreqSelected);
    connect(rangeFreqCombo_, &QComboBox::activated, this, &ParameterPage::OnRangeReportFreqSelected);
    connect(rangeMinEdit_, &BalloonEdit::editChanged, this, &ParameterPage::OnRangeMinChanged);
    connect(rangeMaxEdit_, &BalloonEdit::editChanged, this, &ParameterPage::OnRangeMaxChanged);
}

void ParameterPage::UpdateControls()
{
    rangeMinEdit_->setText(Text(FormatDistance(setting_->DetectRangeMin)));
    rangeMaxEdit_->setText(Text(FormatDistance(setting_->DetectRangeMax)));
    if (IsFastResponse(setting_->ResponseFreq))
        fastRadio_->setChecked(true);
    else
        normalRadio_->setChecked(true);

    {
        std::vector<std::string> rangeList;
        for (int i = 0; i < rangeFreqCombo_->count(); ++i)
            rangeList.push_back(rangeFreqCombo_->itemText(i).toStdString());
        const int index = SelectNearestFreq(rangeList, setting_->RangeReportFreq);
        if (index >= 0)
            rangeFreqCombo_->setCurrentIndex(index);
    }
    {
        const std::vector<std::string> stateList = FillStateReportFreqList(setting_->RangeReportFreq);
        stateFreqCombo_->clear();
        for (const std::string& entry : stateList)
            stateFreqCombo_->addItem(Text(entry));
        const int index = SelectNearestFreq(stateList, setting_->StateReportFreq);
        stateFreqCombo_->setCurrentIndex(index);
    }

    disappearEdit_->setText(SignedText(setting_->ObjectDisappearReportTime));
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        triggerEdits_[gate]->setText(SignedText(setting_->GateTriggerThreshold[gate]));
        holdEdits_[gate]->setText(SignedText(setting_->GateHoldThreshold[gate]));
    }
}

void ParameterPage::ReadControls()
{
    *setting_ = ControlsRecord();
}

ParamSetting ParameterPage::ControlsRecord() const
{
    ParamSetting shown = *setting_;
    shown.DetectRangeMin = ParseDigitalText(rangeMinEdit_->text().toStdString());
    shown.DetectRangeMax = ParseDigitalText(rangeMaxEdit_->text().toStdString());
    shown.ResponseFreq = ResponseFreqOfSpeed(!normalRadio_->isChecked());
    shown.StateReportFreq = ParseDigitalText(stateFreqCombo_->currentText().toStdString());
    shown.RangeReportFreq = ParseDigitalText(rangeFreqCombo_->currentText().toStdString());
    shown.ObjectDisappearReportTime = static_cast<uint32_t>(ParseLeadingInt32(disappearEdit_->text().toStdString()));
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        shown.GateTriggerThreshold[gate] =
            static_cast<uint32_t>(ParseLeadingInt32(triggerEdits_[gate]->text().toStdString()));
        shown.GateHoldThreshold[gate] = static_cast<uint32_t>(ParseLeadingInt32(holdEdits_[gate]->text().toStdString()));
    }
    return shown;
}

void ParameterPage::ShowHeld(const ParamSetting& held)
{
    *setting_ = held;
    UpdateControls();
    TakeBaseline();
}

void ParameterPage::ShowHeldKeepingUnwritten(const ParamSetting& held)
{
    const ParamSetting typed = ControlsRecord();
    ParamSetting shown = held;
    if (IsUnwritten(rangeMinEdit_))
        shown.DetectRangeMin = typed.DetectRangeMin;
    if (IsUnwritten(rangeMaxEdit_))
        shown.DetectRangeMax = typed.DetectRangeMax;
    if (IsUnwritten(normalRadio_))
        shown.ResponseFreq = typed.ResponseFreq;
    if (IsUnwritten(stateFreqCombo_))
        shown.StateReportFreq = typed.StateReportFreq;
    if (IsUnwritten(rangeFreqCombo_))
        shown.RangeReportFreq = typed.RangeReportFreq;
    if (IsUnwritten(disappearEdit_))
        shown.ObjectDisappearReportTime = typed.ObjectDisappearReportTime;
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        if (IsUnwritten(triggerEdits_[gate]))
            shown.GateTriggerThreshold[gate] = typed.GateTriggerThreshold[gate];
        if (IsUnwritten(holdEdits_[gate]))
            shown.GateHoldThreshold[gate] = typed.GateHoldThreshold[gate];
    }
    // The marks are taken against what the sensor holds, then the typed values come back.
    ShowHeld(held);
    *setting_ = shown;
    UpdateControls();
    RefreshMarks();
}

void ParameterPage::ShowResult(const SensorResult& result, int successId, int failureId)
{
    if (result) {
        ShowMessageBox(this, LoadStringText(successId), LoadStringText(TEXT_SUCCESS), MessageIcon::Information);
    } else if (result.failure == SensorFailure::NotConnected) {
        ShowMessageBox(this, LoadStringText(TEXT_DEVICE_NOT_CONNECTED), LoadStringText(TEXT_ERROR), MessageIcon::Error);
    } else {
        // The reason tells the user what to look at: the baud rate for a sensor
        // that does not answer, the value for an implausible reply.
        ShowMessageBox(this, LoadStringText(failureId) + "\n" + SensorResultText(result), LoadStringText(TEXT_ERROR),
                       MessageIcon::Error);
    }
}

namespace {

// What a parameter operation on the sensor thread hands back to the page.
struct ParamOutcome {
    SensorResult result;
    SensorResult readBack;
    ParamSetting record;  // what was read, or read back after a write
};

}  // namespace

void ParameterPage::OnRead()
{
    if (!sensor_.CanRun())
        return;
    sensor_.Run<ParamOutcome>(
        this,
        [record = *setting_](SensorSession& session) mutable {
            ParamOutcome outcome;
            outcome.result = session.ReadParameters(record);
            outcome.record = record;
            return outcome;
        },
        [this](ParamOutcome outcome) {
            // Read replaces what the page shows with what the sensor holds.
            if (outcome.result)
                ShowHeld(outcome.record);
            ShowResult(outcome.result, TEXT_READ_PARAMS_SUCCEEDED, TEXT_READ_PARAMS_FAILED);
        });
}

void ParameterPage::ShowReadBackFailure(int noteId, const SensorResult& readBack)
{
    ShowMessageBox(this,
                   DisplayText(LoadStringText(TEXT_WRITE_PARAMS_SUCCEEDED) + "\n\n" + LoadStringText(noteId) + "\n" +
                               SensorResultText(readBack)),
                   LoadStringText(TEXT_NOTE), MessageIcon::Warning);
}

void ParameterPage::OnWrite()
{
    if (!sensor_.CanRun())
        return;
    ReadControls();
    // The sensor keeps distances as whole gates: what it stores is read back in the
    // same bracket and shown, with a balloon where it differs from what was written.
    sensor_.Run<ParamOutcome>(
        this,
        [written = *setting_](SensorSession& session) {
            ParamOutcome outcome;
            outcome.record = written;
            outcome.readBack.failure = SensorFailure::NotConnected;
            outcome.result = session.WriteParameters(written, &outcome.record, &outcome.readBack);
            return outcome;
        },
        [this, written = *setting_](ParamOutcome outcome) {
            if (ShowWriteOutcome(outcome.result, outcome.readBack, outcome.readBack ? outcome.record : written,
                                 TEXT_WRITE_READ_BACK_FAILED, TEXT_WRITE_PARAMS_SUCCEEDED)) {
                for (const StoredDifference& difference : CompareStored(written, outcome.record))
                    ShowStoredBalloon(difference);
            }
        });
}

void ParameterPage::OnReset()
{
    if (!sensor_.CanRun())
        return;
    // Nothing on the page changes unless the sensor was reset.
    if (!sensor_.Session().IsConnected()) {
        ShowMessageBox(this, LoadStringText(TEXT_DEVICE_NOT_CONNECTED), LoadStringText(TEXT_ERROR), MessageIcon::Error);
        return;
    }
    // It replaces the sensor's tables, which a threshold generation may have made.
    const QuestionRecord question{LoadStringText(TEXT_RESET_QUESTION), LoadStringText(TEXT_CONFIRM),
                                  {LoadStringText(TEXT_RESET_CHOICE), LoadStringText(TEXT_CANCEL)}, 1, 1};
    if (AskQuestion(this, question) != 0)
        return;
    ParamSetting defaults = *setting_;
    InitParamSetting(defaults);
    // The sensor's hold table is now the factory motion table, not the default the
    // record holds: show what the sensor holds.
    sensor_.Run<ParamOutcome>(
        this,
        [defaults](SensorSession& session) {
            ParamOutcome outcome;
            outcome.record = defaults;
            outcome.readBack.failure = SensorFailure::NotConnected;
            outcome.result = session.FactoryReset(defaults, &outcome.record, &outcome.readBack);
            return outcome;
        },
        [this, defaults](ParamOutcome outcome) {
            ShowWriteOutcome(outcome.result, outcome.readBack, outcome.readBack ? outcome.record : defaults,
                             TEXT_RESET_READ_BACK_FAILED, TEXT_RESET_SUCCEEDED);
        });
}

bool ParameterPage::ShowWriteOutcome(const SensorResult& result, const SensorResult& readBack,
                                     const ParamSetting& stored, int readBackNote, int successId)
{
    if (!result) {
        ShowResult(result, successId, TEXT_WRITE_PARAMS_FAILED);
        return false;
    }
    // Without a read-back the sensor is taken to hold what was sent.
    ShowHeld(stored);
    if (readBack)
        ShowResult(result, successId, TEXT_WRITE_PARAMS_FAILED);
    else
        ShowReadBackFailure(readBackNote, readBack);
    return readBack.Ok();
}

void ParameterPage::OnGenThreshold()
{
    if (!sensor_.CanRun())
        return;
    ThresholdDialog dialog(sensor_, this);
    dialog.SetInputs(DEFAULT_TRIGGER_COEFFICIENT, DEFAULT_HOLD_COEFFICIENT, DEFAULT_SCAN_TIME);
    const int closedWith = dialog.exec();
    // Left to its scan, the sensor replaces both tables later: what the page shows
    // is about to become old, and nothing here will notice it.
    if (!dialog.LeftScanEnd().empty() && notify_)
        notify_(FormatStringText(TEXT_GENERATION_LEFT_SCANNING, dialog.LeftScanEnd().c_str()));
    if (closedWith != QDialog::Accepted)
        return;
    // The sensor holds new tables: read both. Only the threshold edits are refreshed,
    // so that values typed into the other controls and not written yet stay.
    sensor_.Run<ParamOutcome>(
        this,
        [record = *setting_](SensorSession& session) mutable {
            ParamOutcome outcome;
            outcome.result = session.ReadThresholds(record);
            outcome.record = record;
            return outcome;
        },
        [this](ParamOutcome outcome) {
            if (!outcome.result) {
                // Old tables must not pass for the generated ones.
                ShowMessageBox(this,
                               DisplayText(LoadStringText(TEXT_GENERATION_READ_BACK_FAILED) + "\n" +
                                           SensorResultText(outcome.result)),
                               LoadStringText(TEXT_ERROR), MessageIcon::Error);
                return;
            }
            std::copy(std::begin(outcome.record.GateTriggerThreshold), std::end(outcome.record.GateTriggerThreshold),
                      setting_->GateTriggerThreshold);
            std::copy(std::begin(outcome.record.GateHoldThreshold), std::end(outcome.record.GateHoldThreshold),
                      setting_->GateHoldThreshold);
            for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
                triggerEdits_[gate]->setText(SignedText(setting_->GateTriggerThreshold[gate]));
                holdEdits_[gate]->setText(SignedText(setting_->GateHoldThreshold[gate]));
            }
            TakeTableBaseline();
        });
}

void ParameterPage::OnSensorBusy(bool busy)
{
    for (const char* id : {"2001", "2002", "2003", "2004"}) {
        if (auto* button = findChild<QPushButton*>(QString::fromLatin1(id)))
            button->setEnabled(!busy);
    }
}

void ParameterPage::OnConnected()
{
    // The window has just read every parameter into the record. Values typed and
    // not written stay on the page (marked, now against the sensor's values); the
    // other controls show what the sensor holds. When the read failed the page
    // stays as it was (the status bar says why) and the record follows it again.
    if (sensor_.Session().ReadResult())
        ShowHeldKeepingUnwritten(*setting_);
    else
        ReadControls();
}

LeaveAnswer ParameterPage::ConfirmLeave(PageLeave why)
{
    // A page switch keeps every value as it is; closing the window would lose them.
    if (why != PageLeave::CLOSE_WINDOW || !HasUnwrittenChanges())
        return LeaveAnswer::LEAVE;
    const QuestionRecord question{LoadStringText(TEXT_UNWRITTEN_ON_CLOSE), LoadStringText(TEXT_CONFIRM),
                                  {LoadStringText(TEXT_DISCARD_AND_CLOSE), LoadStringText(TEXT_CANCEL)}, 1, 1};
    return AskQuestion(this, question) == 0 ? LeaveAnswer::LEAVE : LeaveAnswer::STAY;
}

QWidget* ParameterPage::ControlOf(const std::string& field, int gate) const
{
    if (field == "DetectRangeMin")
        return rangeMinEdit_;
    if (field == "DetectRangeMax")
        return rangeMaxEdit_;
    if (field == "StateReportFreq")
        return stateFreqCombo_;
    if (field == "RangeReportFreq")
        return rangeFreqCombo_;
    if (field == "ResponseFreq")
        return fastRadio_->isChecked() ? static_cast<QWidget*>(fastRadio_) : normalRadio_;
    if (field == "ObjectDisappearReportTime")
        return disappearEdit_;
    if (field == "GateTriggerThreshold" && gate >= 0 && gate < PARAM_GATE_COUNT)
        return triggerEdits_[gate];
    if (field == "GateHoldThreshold" && gate >= 0 && gate < PARAM_GATE_COUNT)
        return holdEdits_[gate];
    return nullptr;
}

void ParameterPage::ShowBalloonAt(QWidget* control, const std::string& title, const std::string& text, int key)
{
    if (!control)
        return;
    if (auto* edit = qobject_cast<NumericEdit*>(control)) {
        edit->ShowBalloonTip(title, text, BALLOON_ICON_INFO, key);
        return;
    }
    if (!storedBalloon_)
        storedBalloon_ = BalloonTip::CreateBalloon(control);
    if (storedBalloon_)
        storedBalloon_->ShowBalloon(title, text, BALLOON_ICON_INFO, control->mapToGlobal(QPoint(0, control->height() - 2)),
                                    key);
}

void ParameterPage::ShowStoredBalloon(const StoredDifference& difference)
{
    ShowBalloonAt(ControlOf(difference.field, difference.gate), LoadStringText(TEXT_STORED_VALUE), difference.text,
                  STORED_VALUE_BALLOON_KEY);
}

// ---------------------------------------------------------------- unwritten-change marks

void ParameterPage::AddMarkedControl(std::vector<QWidget*> framed, QWidget* label, std::function<QString()> value)
{
    MarkedControl mark{std::move(framed), label, std::move(value), QString(), false, false, QString(), QString()};
    mark.baseline = mark.value();
    marks_.push_back(std::move(mark));
}

void ParameterPage::TakeBaseline()
{
    for (MarkedControl& mark : marks_)
        mark.baseline = mark.value();
    RefreshMarks();
}

void ParameterPage::TakeTableBaseline()
{
    for (size_t i = firstTableMark_; i < marks_.size(); ++i)
        marks_[i].baseline = marks_[i].value();
    RefreshMarks();
}

void ParameterPage::StyleMark(MarkedControl& mark)
{
    std::vector<QWidget*> widgets = mark.framed;
    if (mark.label)
        widgets.push_back(mark.label);
    for (QWidget* widget : widgets) {
        widget->setStyleSheet(mark.marked     ? MarkStyle(widget)
                              : mark.compared ? ComparedMarkStyle(widget)
                                              : QString());
    }
    for (QWidget* widget : mark.framed)
        widget->setToolTip(mark.compared ? mark.comparedTip : QString());
}

void ParameterPage::RefreshMarks()
{
    bool any = false;
    for (MarkedControl& mark : marks_) {
        const QString value = mark.value();
        const bool marked = value != mark.baseline;
        // A comparison's mark lasts while the control shows what was compared.
        const bool compared = mark.compared && value == mark.comparedValue;
        any = any || marked;
        if (marked == mark.marked && compared == mark.compared)
            continue;
        mark.marked = marked;
        mark.compared = compared;
        StyleMark(mark);
    }
    // The window shows a "*" in its title while the page holds unwritten values. It
    // builds that title itself: setWindowModified would want a "[*]" placeholder in
    // the title and warn without one, so the attribute and its change event are set
    // directly.
    QWidget* top = window();
    if (top && top != this && top->isWindowModified() != any) {
        top->setAttribute(Qt::WA_WindowModified, any);
        QEvent changed(QEvent::ModifiedChange);
        QCoreApplication::sendEvent(top, &changed);
    }
    anyMarked_ = any;
}

bool ParameterPage::IsUnwritten(const QWidget* control) const
{
    for (const MarkedControl& mark : marks_) {
        if (std::find(mark.framed.begin(), mark.framed.end(), control) != mark.framed.end())
            return mark.marked;
    }
    return false;
}

bool ParameterPage::IsMarkedByComparison(const QWidget* control) const
{
    for (const MarkedControl& mark : marks_) {
        if (std::find(mark.framed.begin(), mark.framed.end(), control) != mark.framed.end())
            return mark.compared;
    }
    return false;
}

ParameterPage::MarkedControl* ParameterPage::MarkOf(const QWidget* control)
{
    for (MarkedControl& mark : marks_) {
        if (std::find(mark.framed.begin(), mark.framed.end(), control) != mark.framed.end())
            return &mark;
    }
    return nullptr;
}

bool ParameterPage::HasUnwrittenChanges() const
{
    return anyMarked_;
}

void ParameterPage::OnSaveConfig()
{
    // What is saved is what the page shows, through the rules a typed value goes
    // through (a value loaded from the file or read from a sensor may lie outside
    // them); a value they correct is shown corrected with its balloon, as when typed.
    const ParamSetting shown = ControlsRecord();
    ParamEditSession edits(shown);
    edits.CommitAbsence(shown.ObjectDisappearReportTime);
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        edits.CommitTriggerThreshold(gate, shown.GateTriggerThreshold[gate]);
        edits.CommitHoldThreshold(gate, shown.GateHoldThreshold[gate]);
    }
    edits.CommitRangeMax(rangeMaxEdit_->text().toStdString(), shown.DetectRangeMax);
    edits.CommitRangeMin(rangeMinEdit_->text().toStdString(), shown.DetectRangeMin);
    const ParamSetting saved = edits.Result();
    if (!edits.Notices().empty()) {
        *setting_ = saved;
        UpdateControls();
        RefreshMarks();
        for (const ParamNotice& notice : edits.Notices())
            ShowBalloonAt(ControlOf(notice.field, notice.gate), LoadStringText(TEXT_DATA_INVALID), notice.text,
                          notice.key);
    }

    SaveParamSetting(gAppConfigDoc.FindElement("AppConfig").GetOrAddChild("ParamSetting"), saved);
    const std::string path = GetAppConfigPath();
    std::string why;
    if (SaveAppConfig(&why)) {
        if (notify_)
            notify_(FormatStringText(TEXT_CONFIG_SAVED, path.c_str()));
        return;
    }
    const std::string text = FormatStringText(TEXT_CONFIG_UNWRITABLE_WHY, path.c_str(), why.c_str());
    if (notify_)
        notify_(text);
    ShowMessageBox(this, DisplayText(text), LoadStringText(TEXT_ERROR), MessageIcon::Error);
}

void ParameterPage::OnStateReportFreqSelected()
{
    setting_->StateReportFreq = ParseDigitalText(stateFreqCombo_->currentText().toStdString());
}

void ParameterPage::OnRangeReportFreqSelected()
{
    setting_->RangeReportFreq = ParseDigitalText(rangeFreqCombo_->currentText().toStdString());
    const std::vector<std::string> stateList = FillStateReportFreqList(setting_->RangeReportFreq);
    stateFreqCombo_->clear();
    for (const std::string& entry : stateList)
        stateFreqCombo_->addItem(Text(entry));
    stateFreqCombo_->setCurrentIndex(SelectNearestFreq(stateList, setting_->StateReportFreq));
}

NumericEdit* ParameterPage::EditOf(RangeField field) const
{
    return field == RangeField::DetectRangeMin ? rangeMinEdit_ : rangeMaxEdit_;
}

void ParameterPage::ShowRangeText(const RangeNotice& notice, const std::string& text)
{
    // The rule runs again for its own correction by itself: the edit must not
    // report this change as a new commit.
    NumericEdit* edit = EditOf(notice.field);
    {
        const QSignalBlocker block(edit);
        edit->setText(Text(text));
    }
    // A correction back to what the sensor holds takes the mark away.
    RefreshMarks();
}

void ParameterPage::ShowRangeNotice(const RangeNotice& notice)
{
    EditOf(notice.field)->ShowBalloonTip(LoadStringText(TEXT_DATA_INVALID), notice.text, BALLOON_ICON_INFO, notice.key);
}

void ParameterPage::OnRangeMinChanged()
{
    setting_->DetectRangeMin = ParseDigitalText(rangeMinEdit_->text().toStdString());
    CommitRangeEdit(*setting_, RangeField::DetectRangeMin, *this);
}

void ParameterPage::OnRangeMaxChanged()
{
    setting_->DetectRangeMax = ParseDigitalText(rangeMaxEdit_->text().toStdString());
    CommitRangeEdit(*setting_, RangeField::DetectRangeMax, *this);
}

void ParameterPage::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape do nothing on the page itself.
    const int key = event->key();
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
