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
#include <QShowEvent>

#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "common/ValueParse.h"
#include "controls/widgets/BalloonTip.h"
#include "controls/widgets/NumericEdit.h"
#include "controls/widgets/MessageBox.h"
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

}  // namespace

ParameterPage::ParameterPage(ToolPageContext& context, QWidget* parent)
    : QWidget(parent), sensor_(context.sensor), setting_(&context.params)
{
    setObjectName(IdName(TEMPLATE));
    BuildControls();

    // Initialisation: the section exists in memory from now on (the file is not written).
    XMLNode section = gAppConfigDoc.FindElement("AppConfig").GetOrAddChild("ParamSetting");
    LoadParamSetting(section, *setting_);

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

    XMLNode section = gAppConfigDoc.FindElement("AppConfig").GetOrAddChild("ParamSetting");
    SaveParamSetting(section, *setting_);
    SaveAppConfig();
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
        button->setGeometry(x, 378, 120, 32);
        connect(button, &QPushButton::clicked, this, spec.handler);
        x += 132;
    }

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
    setting_->DetectRangeMin = ParseDigitalText(rangeMinEdit_->text().toStdString());
    setting_->DetectRangeMax = ParseDigitalText(rangeMaxEdit_->text().toStdString());
    setting_->ResponseFreq = ResponseFreqOfSpeed(!normalRadio_->isChecked());
    setting_->StateReportFreq = ParseDigitalText(stateFreqCombo_->currentText().toStdString());
    setting_->RangeReportFreq = ParseDigitalText(rangeFreqCombo_->currentText().toStdString());
    setting_->ObjectDisappearReportTime = static_cast<uint32_t>(ParseLeadingInt32(disappearEdit_->text().toStdString()));
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        setting_->GateTriggerThreshold[gate] =
            static_cast<uint32_t>(ParseLeadingInt32(triggerEdits_[gate]->text().toStdString()));
        setting_->GateHoldThreshold[gate] =
            static_cast<uint32_t>(ParseLeadingInt32(holdEdits_[gate]->text().toStdString()));
    }
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
            if (outcome.result) {
                *setting_ = outcome.record;
                UpdateControls();
            }
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
            if (ShowWriteOutcome(outcome.result, outcome.readBack, outcome.record, TEXT_WRITE_READ_BACK_FAILED)) {
                for (const StoredDifference& difference : CompareStored(written, outcome.record))
                    ShowStoredBalloon(difference);
            }
        });
}

void ParameterPage::OnReset()
{
    if (!sensor_.CanRun())
        return;
    InitParamSetting(*setting_);
    UpdateControls();
    // The sensor's hold table is now the factory motion table, not the default the
    // record holds: show what the sensor holds.
    sensor_.Run<ParamOutcome>(
        this,
        [defaults = *setting_](SensorSession& session) {
            ParamOutcome outcome;
            outcome.record = defaults;
            outcome.readBack.failure = SensorFailure::NotConnected;
            outcome.result = session.FactoryReset(defaults, &outcome.record, &outcome.readBack);
            return outcome;
        },
        [this](ParamOutcome outcome) {
            ShowWriteOutcome(outcome.result, outcome.readBack, outcome.record, TEXT_RESET_READ_BACK_FAILED);
        });
}

bool ParameterPage::ShowWriteOutcome(const SensorResult& result, const SensorResult& readBack,
                                     const ParamSetting& stored, int readBackNote)
{
    if (!result) {
        ShowResult(result, TEXT_WRITE_PARAMS_SUCCEEDED, TEXT_WRITE_PARAMS_FAILED);
        return false;
    }
    if (readBack) {
        *setting_ = stored;
        UpdateControls();
    }
    TakeBaseline();
    if (readBack)
        ShowResult(result, TEXT_WRITE_PARAMS_SUCCEEDED, TEXT_WRITE_PARAMS_FAILED);
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
    if (dialog.exec() != QDialog::Accepted)
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
    UpdateControls();
    // The window has just read every parameter: the controls show what the sensor holds.
    if (sensor_.Session().ReadResult())
        TakeBaseline();
}

void ParameterPage::ShowStoredBalloon(const StoredDifference& difference)
{
    QWidget* control = nullptr;
    if (difference.field == "DetectRangeMin")
        control = rangeMinEdit_;
    else if (difference.field == "DetectRangeMax")
        control = rangeMaxEdit_;
    else if (difference.field == "StateReportFreq")
        control = stateFreqCombo_;
    else if (difference.field == "RangeReportFreq")
        control = rangeFreqCombo_;
    else if (difference.field == "ResponseFreq")
        control = fastRadio_->isChecked() ? static_cast<QWidget*>(fastRadio_) : normalRadio_;
    else if (difference.field == "ObjectDisappearReportTime")
        control = disappearEdit_;
    else if (difference.field == "GateTriggerThreshold" && difference.gate >= 0 && difference.gate < PARAM_GATE_COUNT)
        control = triggerEdits_[difference.gate];
    else if (difference.field == "GateHoldThreshold" && difference.gate >= 0 && difference.gate < PARAM_GATE_COUNT)
        control = holdEdits_[difference.gate];
    if (!control)
        return;
    const std::string title = LoadStringText(TEXT_STORED_VALUE);
    if (auto* edit = qobject_cast<NumericEdit*>(control)) {
        edit->ShowBalloonTip(title, difference.text, BALLOON_ICON_INFO, STORED_VALUE_BALLOON_KEY);
        return;
    }
    if (!storedBalloon_)
        storedBalloon_ = BalloonTip::CreateBalloon(control);
    if (storedBalloon_)
        storedBalloon_->ShowBalloon(title, difference.text, BALLOON_ICON_INFO,
                                    control->mapToGlobal(QPoint(0, control->height() - 2)), STORED_VALUE_BALLOON_KEY);
}

// ---------------------------------------------------------------- unwritten-change marks

void ParameterPage::AddMarkedControl(std::vector<QWidget*> framed, QWidget* label, std::function<QString()> value)
{
    MarkedControl mark{std::move(framed), label, std::move(value), QString(), false};
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

void ParameterPage::RefreshMarks()
{
    bool any = false;
    for (MarkedControl& mark : marks_) {
        const bool marked = mark.value() != mark.baseline;
        any = any || marked;
        if (marked == mark.marked)
            continue;
        mark.marked = marked;
        std::vector<QWidget*> widgets = mark.framed;
        if (mark.label)
            widgets.push_back(mark.label);
        for (QWidget* widget : widgets)
            widget->setStyleSheet(marked ? MarkStyle(widget) : QString());
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

bool ParameterPage::HasUnwrittenChanges() const
{
    return anyMarked_;
}

void ParameterPage::OnSaveConfig()
{
    XMLNode section = gAppConfigDoc.FindElement("AppConfig").GetOrAddChild("ParamSetting");
    SaveParamSetting(section, *setting_);
    SaveAppConfig();
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
    const QSignalBlocker block(edit);
    edit->setText(Text(text));
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

void ParameterPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        UpdateControls();
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
