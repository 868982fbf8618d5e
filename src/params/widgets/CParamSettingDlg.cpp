#include "params/widgets/CParamSettingDlg.h"


#include <QApplication>
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
#include "controls/widgets/CBalloonWnd.h"
#include "controls/widgets/CDigitalEdit.h"
#include "controls/widgets/MessageBox.h"
#include "controls/widgets/WaitCursor.h"
#include "device/CommandModeScope.h"
#include "params/RadarOperatorConfig.h"
#include "params/SensorConnection.h"

namespace {

constexpr int kTemplate = 2000;
constexpr double kLimitTolerance = 1e-16;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString Caption(const std::string& key)
{
    return Text(LoadCaption(kTemplate, key));
}

QString IdName(int id)
{
    return QString::number(id);
}

QString SignedText(uint32_t value)
{
    return QString::number(static_cast<int32_t>(value));
}

}  // namespace

CParamSettingDlg::CParamSettingDlg(ToolPageContext& context, QWidget* parent)
    : QWidget(parent), connection_(context.connection), setting_(&context.params)
{
    setObjectName(IdName(kTemplate));
    BuildControls();

    // Initialisation: the section exists in memory from now on (the file is not written).
    XMLNode section = gAppConfigDoc.FindElement("AppConfig").GetOrAddChild("ParamSetting");
    LoadParamSetting(section, *setting_);

    rangeMinEdit_->SetType(DIGITAL_DOUBLE);
    rangeMaxEdit_->SetType(DIGITAL_DOUBLE);
    disappearEdit_->SetType(DIGITAL_UINT32);
    disappearEdit_->SetMinValue(DigitalValue::UInt32(PARAM_ABSENCE_MIN), kLimitTolerance);
    disappearEdit_->SetMaxValue(DigitalValue::UInt32(PARAM_ABSENCE_MAX), kLimitTolerance);
    for (auto* table : {&triggerEdits_, &holdEdits_}) {
        for (CDigitalEdit* edit : *table) {
            edit->SetType(DIGITAL_UINT32);
            edit->SetMinValue(DigitalValue::UInt32(PARAM_THRESHOLD_MIN), kLimitTolerance);
            edit->SetMaxValue(DigitalValue::UInt32(PARAM_THRESHOLD_MAX), kLimitTolerance);
        }
    }
    UpdateControls();
}

CParamSettingDlg::~CParamSettingDlg()
{
    // An edit that still has the focus commits when the base class takes it away:
    // that must not reach this half-destroyed page.
    for (QObject* control : {static_cast<QObject*>(rangeMinEdit_), static_cast<QObject*>(rangeMaxEdit_),
                             static_cast<QObject*>(stateFreqCombo_), static_cast<QObject*>(rangeFreqCombo_)})
        control->disconnect(this);

    XMLNode section = gAppConfigDoc.FindElement("AppConfig").GetOrAddChild("ParamSetting");
    SaveParamSetting(section, *setting_);
    SaveAppConfig();
}

void CParamSettingDlg::BuildControls()
{
    resize(kDesignWidth, kDesignHeight);

    auto label = [this](const std::string& key, QRect rect) {
        auto* widget = new QLabel(Caption(key), this);
        widget->setObjectName(QString::fromStdString(key));
        widget->setGeometry(rect);
        return widget;
    };
    auto edit = [](QWidget* parent, int id, QRect rect) {
        auto* widget = new CDigitalEdit(parent);
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

    auto gateGroup = [&](int firstId, int top, std::array<CDigitalEdit*, PARAM_GATE_COUNT>& edits) {
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
        void (CParamSettingDlg::*handler)();
    };
    const ButtonSpec buttons[] = {
        {2002, &CParamSettingDlg::OnRead},         {2003, &CParamSettingDlg::OnWrite},
        {2004, &CParamSettingDlg::OnGenThreshold}, {2005, &CParamSettingDlg::OnSaveConfig},
        {2001, &CParamSettingDlg::OnReset},
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
    connect(stateFreqCombo_, &QComboBox::activated, this, &CParamSettingDlg::OnStateReportFreqSelected);
    connect(rangeFreqCombo_, &QComboBox::activated, this, &CParamSettingDlg::OnRangeReportFreqSelected);
    connect(rangeMinEdit_, &CXEdit::editChanged, this, &CParamSettingDlg::OnRangeMinChanged);
    connect(rangeMaxEdit_, &CXEdit::editChanged, this, &CParamSettingDlg::OnRangeMaxChanged);
}

void CParamSettingDlg::UpdateControls()
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

void CParamSettingDlg::ReadControls()
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

void CParamSettingDlg::ShowResult(int result, int successId, int failureId)
{
    if (result == OPERATOR_OK) {
        ShowMessageBox(this, LoadStringText(successId), LoadStringText(10002), MessageIcon::Information);
    } else if (result == OPERATOR_NOT_CONNECTED) {
        ShowMessageBox(this, LoadStringText(10103), LoadStringText(10000), MessageIcon::Error);
    } else {
        ShowMessageBox(this, LoadStringText(failureId), LoadStringText(10000), MessageIcon::Error);
    }
}

int CParamSettingDlg::RunInCommandMode(const std::function<int(TAVO_RadarDeviceHandle)>& sequence)
{
    WaitCursor wait;
    CommandModeScope mode(connection_.Handle());
    return sequence(connection_.Handle());
}

void CParamSettingDlg::OnRead()
{
    const int result = RunInCommandMode([this](TAVO_RadarDeviceHandle device) { return ReadAllParams(device, *setting_); });
    if (result == OPERATOR_OK)
        UpdateControls();
    ShowResult(result, 10150, 10151);
}

void CParamSettingDlg::OnWrite()
{
    ReadControls();
    const int result = RunInCommandMode([this](TAVO_RadarDeviceHandle device) { return WriteAllParams(device, *setting_); });
    ShowResult(result, 10152, 10153);
}

void CParamSettingDlg::OnReset()
{
    InitParamSetting(*setting_);
    UpdateControls();
    const int result = RunInCommandMode([this](TAVO_RadarDeviceHandle device) { return FactoryResetSequence(device, *setting_); });
    ShowResult(result, 10152, 10153);
}

void CParamSettingDlg::OnGenThreshold()
{
    // The threshold generator is not part of this page yet.
}

void CParamSettingDlg::OnSaveConfig()
{
    XMLNode section = gAppConfigDoc.FindElement("AppConfig").GetOrAddChild("ParamSetting");
    SaveParamSetting(section, *setting_);
    SaveAppConfig();
}

void CParamSettingDlg::OnStateReportFreqSelected()
{
    setting_->StateReportFreq = ParseDigitalText(stateFreqCombo_->currentText().toStdString());
}

void CParamSettingDlg::OnRangeReportFreqSelected()
{
    setting_->RangeReportFreq = ParseDigitalText(rangeFreqCombo_->currentText().toStdString());
    const std::vector<std::string> stateList = FillStateReportFreqList(setting_->RangeReportFreq);
    stateFreqCombo_->clear();
    for (const std::string& entry : stateList)
        stateFreqCombo_->addItem(Text(entry));
    stateFreqCombo_->setCurrentIndex(SelectNearestFreq(stateList, setting_->StateReportFreq));
}

CDigitalEdit* CParamSettingDlg::EditOf(RangeField field) const
{
    return field == RangeField::DetectRangeMin ? rangeMinEdit_ : rangeMaxEdit_;
}

void CParamSettingDlg::ShowRangeText(const RangeNotice& notice, const std::string& text)
{
    // The rule runs again for its own correction by itself: the edit must not
    // report this change as a new commit.
    CDigitalEdit* edit = EditOf(notice.field);
    const QSignalBlocker block(edit);
    edit->setText(Text(text));
}

void CParamSettingDlg::ShowRangeNotice(const RangeNotice& notice)
{
    EditOf(notice.field)->ShowBalloonTip("Data Invalid", notice.text, BALLOON_ICON_INFO, notice.key);
}

void CParamSettingDlg::OnRangeMinChanged()
{
    setting_->DetectRangeMin = ParseDigitalText(rangeMinEdit_->text().toStdString());
    CommitRangeEdit(*setting_, RangeField::DetectRangeMin, *this);
}

void CParamSettingDlg::OnRangeMaxChanged()
{
    setting_->DetectRangeMax = ParseDigitalText(rangeMaxEdit_->text().toStdString());
    CommitRangeEdit(*setting_, RangeField::DetectRangeMax, *this);
}

void CParamSettingDlg::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        UpdateControls();
}

void CParamSettingDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape do nothing on the page itself.
    const int key = event->key();
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
