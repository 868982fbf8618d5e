#include "app/widgets/CTAVO_Palo520G_ToolDlg.h"
#include "app/widgets/CTAVO_Palo520G_ToolApp.h"

#include <algorithm>
#include <charconv>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>

#include "app/AppConfig.h"
#include "app/LogOutput.h"
#include "app/StringTable.h"
#include "common/FileUtils.h"
#include "controls/widgets/MessageBox.h"
#include "controls/widgets/UiFont.h"
#include "controls/widgets/WaitCursor.h"
#include "device/SerialPortRegistry.h"
#include "params/RadarOperatorConfig.h"
#include "params/widgets/CParamSettingDlg.h"

namespace {

constexpr int kTemplate = 1000;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// Message texts keep the string table's CR LF; Qt breaks lines at LF alone.
std::string DisplayText(std::string text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r')
            out.push_back(c);
    }
    return out;
}

// The baud edit read as a signed integer: the leading number, 0 when there is none.
int ParseBaud(const QString& text)
{
    const std::string utf8 = text.trimmed().toStdString();
    const char* begin = utf8.c_str();
    const char* end = begin + utf8.size();
    if (begin != end && *begin == '+')
        ++begin;
    int value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop == begin)
        return 0;
    return value;
}

// The window's icon: a sensor sending out range rings.
QIcon ToolIcon()
{
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 120, 215));
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
        painter.setPen(QPen(Qt::white, std::max(1.0, size / 16.0)));
        painter.setBrush(Qt::NoBrush);
        const QPointF origin(size * 0.2, size * 0.8);
        for (double radius : {0.3, 0.5, 0.7})
            painter.drawArc(QRectF(origin.x() - radius * size, origin.y() - radius * size, 2 * radius * size,
                                   2 * radius * size),
                            0, 90 * 16);
        painter.setBrush(Qt::white);
        painter.drawEllipse(origin, size / 12.0, size / 12.0);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

CTAVO_Palo520G_ToolDlg::CTAVO_Palo520G_ToolDlg(MainWindowOptions options, QWidget* parent)
    : QDialog(parent), options_(std::move(options))
{
    setObjectName(QString::number(kTemplate));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setFont(HeiFont(9));
    setWindowIcon(ToolIcon());
    setWindowTitle(Text(LoadCaption(kTemplate, "caption")));
    BuildControls();
    InitDialog();
}

void CTAVO_Palo520G_ToolDlg::BuildControls()
{
    resize(kDesignWidth, kDesignHeight);

    auto pageButton = [this](int id, int top) {
        auto* button = new QPushButton(Text(LoadCaption(kTemplate, std::to_string(id))), this);
        button->setObjectName(QString::number(id));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setGeometry(10, top, 152, 34);
        connect(button, &QPushButton::clicked, this, [this, id] { OnPageButton(id); });
        return button;
    };
    paramButton_ = pageButton(1187, 10);
    targetButton_ = pageButton(1188, 50);
    firmwareButton_ = pageButton(1189, 90);

    auto* portLabel = new QLabel(Text(LoadCaption(kTemplate, "label:1101")), this);
    portLabel->setObjectName(QStringLiteral("label:1101"));
    portLabel->setGeometry(10, 140, 152, 20);
    portList_ = new QComboBox(this);
    portList_->setObjectName(QStringLiteral("1101"));
    portList_->setGeometry(10, 162, 152, 26);
    // Editable: pseudo-terminals and symbolic links are never enumerated, so a
    // path may be typed in.
    portList_->setEditable(true);
    portList_->setInsertPolicy(QComboBox::NoInsert);
    portList_->lineEdit()->setObjectName(QStringLiteral("1101:edit"));

    auto* baudLabel = new QLabel(Text(LoadCaption(kTemplate, "label:1102")), this);
    baudLabel->setObjectName(QStringLiteral("label:1102"));
    baudLabel->setGeometry(10, 196, 152, 20);
    baudEdit_ = new QLineEdit(this);
    baudEdit_->setObjectName(QStringLiteral("1102"));
    baudEdit_->setGeometry(10, 218, 152, 26);

    refreshButton_ = new QPushButton(Text(LoadCaption(kTemplate, "1100")), this);
    refreshButton_->setObjectName(QStringLiteral("1100"));
    refreshButton_->setGeometry(10, 256, 72, 32);
    connectButton_ = new QPushButton(Text(LoadCaption(kTemplate, "1103")), this);
    connectButton_->setObjectName(QStringLiteral("1103"));
    connectButton_->setGeometry(90, 256, 72, 32);
    connectButton_->setDefault(true);

    versionStatic_ = new QLabel(Text(LoadCaption(kTemplate, "1104")), this);
    versionStatic_->setObjectName(QStringLiteral("1104"));
    versionStatic_->setGeometry(10, 298, 152, 56);
    versionStatic_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    versionStatic_->setWordWrap(true);
    versionStatic_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    pageArea_ = new QWidget(this);
    pageArea_->setObjectName(QStringLiteral("1200"));
    pageArea_->setGeometry(172, 8, CParamSettingDlg::kDesignWidth, CParamSettingDlg::kDesignHeight);

    connect(refreshButton_, &QPushButton::clicked, this, &CTAVO_Palo520G_ToolDlg::OnRefreshPorts);
    connect(connectButton_, &QPushButton::clicked, this, &CTAVO_Palo520G_ToolDlg::OnConnect);
    connect(portList_, &QComboBox::currentIndexChanged, this, &CTAVO_Palo520G_ToolDlg::OnPortSelChange);
    connect(portList_->lineEdit(), &QLineEdit::editingFinished, this, &CTAVO_Palo520G_ToolDlg::AcceptTypedPort);
    connect(baudEdit_, &QLineEdit::textChanged, this, &CTAVO_Palo520G_ToolDlg::OnBaudChange);
    // Enter in the port list or the baud edit acts as a press of Connect.
    portList_->installEventFilter(this);
    portList_->lineEdit()->installEventFilter(this);
    baudEdit_->installEventFilter(this);

    linkWatch_.setInterval(kLinkWatchPeriodMs);
    connect(&linkWatch_, &QTimer::timeout, this, &CTAVO_Palo520G_ToolDlg::WatchLink);
}

void CTAVO_Palo520G_ToolDlg::InitDialog()
{
    agreement_ = TAVO_EULADlg_Create(this, "Palo520G", nullptr);
    TAVO_EULADlg_CheckShowEULA(agreement_);

    QString title = QStringLiteral("%1(v%2)").arg(windowTitle(), QString::fromLatin1(PaloVersionText()));
    if (!options_.titleSuffix.empty())
        title += QStringLiteral(" - ") + Text(options_.titleSuffix);
    setWindowTitle(title);

    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    ReadConfigValue(appConfig, "BaudRate", 5, &baudRate_);
    baudEdit_->setText(QString::number(baudRate_));

    device_ = TAVO_Interface_RadarDevice_Serial_Create();

    // Pages in the page area.
    const QRect area = pageArea_->geometry();
    paramPage_ = new CParamSettingDlg(device_, &params_, this);
    paramPage_->setGeometry(area);
    targetPage_ = new QWidget(this);
    targetPage_->setObjectName(QStringLiteral("3000"));
    targetPage_->setGeometry(area);
    firmwareWindow_ = new QWidget(this);
    firmwareWindow_->setObjectName(QStringLiteral("DownloadDlg"));
    firmwareWindow_->setGeometry(area);

    pageArea_->hide();
    versionStatic_->hide();
    paramButton_->setChecked(true);
    paramPage_->hide();
    targetPage_->hide();
    firmwareWindow_->hide();
    paramPage_->show();
    connectButton_->setEnabled(true);

    logFile_ = OpenLogOutput(GetProgramPath());

    OnRefreshPorts();

    resizeTool_.SetWindow(this);
    resizeTool_.ClearItems();
    resizeTool_.SetInitialSize(size());
    resizeTool_.AddChildWindows(this);
    resizeTool_.SetEnabled(true);
}

CTAVO_Palo520G_ToolDlg::~CTAVO_Palo520G_ToolDlg()
{
    // The base class hides the window after this body: the focus leaving the
    // panel's controls then must not reach this half-destroyed window.
    portList_->removeEventFilter(this);
    portList_->lineEdit()->removeEventFilter(this);
    baudEdit_->removeEventFilter(this);
    portList_->lineEdit()->disconnect(this);
    portList_->disconnect(this);
    baudEdit_->disconnect(this);
    linkWatch_.stop();
    resizeTool_.SetEnabled(false);
    resizeTool_.ClearItems();

    TAVO_EULADlg_Destroy(agreement_);
    agreement_ = nullptr;

    // The pages save their sections before the device goes.
    delete paramPage_;
    paramPage_ = nullptr;
    delete targetPage_;
    targetPage_ = nullptr;

    if (TAVO_Interface_RadarDevice_IsConnected(device_)) {
        TAVO_Interface_RadarDevice_Serial_Close(device_);
        versionStatic_->hide();
    }
    TAVO_Interface_RadarDevice_Serial_Destroy(device_);
    device_ = nullptr;

    SaveBaudRate();
    CloseLogOutput(logFile_);
}

void CTAVO_Palo520G_ToolDlg::OnRefreshPorts()
{
    {
        const QSignalBlocker block(portList_);
        portList_->clear();
        for (const SerialPortInfo& port : EnumSerialPortName()) {
            QString text = Text(port.path);
            if (!port.description.empty())
                text += QStringLiteral(" (%1)").arg(Text(port.description));
            portList_->addItem(text, port.portNumber);
        }
        for (const std::string& path : options_.extraPortPaths) {
            const int number = RegisterSerialPortPath(path);
            if (number > 0 && portList_->findData(number) < 0)
                portList_->addItem(Text(path), number);
        }
        int selected = portList_->count() > 0 ? 0 : -1;
        if (!options_.selectPortPath.empty()) {
            const int wanted = portList_->findData(RegisterSerialPortPath(options_.selectPortPath));
            if (wanted >= 0)
                selected = wanted;
        }
        portList_->setCurrentIndex(selected);
        if (selected < 0)
            portList_->setEditText(QString());
    }
    portNumber_ = 0;
    if (portList_->currentIndex() >= 0)
        portNumber_ = portList_->currentData().toInt();
    CopyPortToFirmwareWindow();
}

void CTAVO_Palo520G_ToolDlg::OnPortSelChange()
{
    portNumber_ = 0;
    if (portList_->currentIndex() >= 0)
        portNumber_ = portList_->currentData().toInt();
    CopyPortToFirmwareWindow();
}

void CTAVO_Palo520G_ToolDlg::AcceptTypedPort()
{
    const QString typed = portList_->currentText().trimmed();
    const int index = portList_->currentIndex();
    if (index >= 0 && portList_->itemText(index) == typed)
        return;
    if (typed.isEmpty()) {
        portNumber_ = 0;
        CopyPortToFirmwareWindow();
        return;
    }
    const int number = RegisterSerialPortPath(typed.toStdString());
    int item = portList_->findData(number);
    if (item < 0) {
        portList_->addItem(typed, number);
        item = portList_->count() - 1;
    }
    portList_->setCurrentIndex(item);  // reports through OnPortSelChange
    portNumber_ = number;
    CopyPortToFirmwareWindow();
}

void CTAVO_Palo520G_ToolDlg::CopyPortToFirmwareWindow()
{
    firmwarePortNumber_ = portNumber_;
    firmwareBaudRate_ = baudRate_;
}

void CTAVO_Palo520G_ToolDlg::OnBaudChange()
{
    baudRate_ = ParseBaud(baudEdit_->text());
}

void CTAVO_Palo520G_ToolDlg::OnConnect()
{
    AcceptTypedPort();
    bool openFailed = false;
    {
        WaitCursor wait;
        if (TAVO_Interface_RadarDevice_IsConnected(device_)) {
            TAVO_Interface_RadarDevice_Serial_Close(device_);
            SetNotConnected();
        } else if (portNumber_ <= 0) {
            ShowMessageBox(this, LoadStringText(10102), LoadStringText(10000), MessageIcon::Error, true);
            connectButton_->setText(Text(LoadStringText(10100)));
        } else if (ConnectDevice(portNumber_, baudRate_) == 1) {
            connectButton_->setText(Text(LoadStringText(10101)));
        } else {
            openFailed = true;
        }
    }
    if (openFailed) {
        ShowMessageBox(this, DisplayText(OpenFailureText(portNumber_, baudRate_)), LoadStringText(10000),
                       MessageIcon::Error, true);
        connectButton_->setText(Text(LoadStringText(10100)));
    }
    SaveBaudRate();
}

std::string CTAVO_Palo520G_ToolDlg::OpenFailureText(int portNumber, int baudRate) const
{
    std::string text = LoadStringText(10104);
    const std::string path = SerialPortPathFromNumber(portNumber);
    std::string reason;
    switch (TAVO_Interface_RadarDevice_GetLastOpenError(device_)) {
    case eRADAR_OPEN_PERMISSION_DENIED: reason = FormatStringText(22001, path.c_str()); break;
    case eRADAR_OPEN_BUSY: reason = FormatStringText(22002, path.c_str()); break;
    case eRADAR_OPEN_NO_SUCH_PORT: reason = FormatStringText(22003, path.c_str()); break;
    case eRADAR_OPEN_BAD_BAUD_RATE: reason = FormatStringText(22004, baudRate); break;
    default: break;
    }
    if (!reason.empty())
        text += "\r\n\r\n" + reason;
    return text;
}

int CTAVO_Palo520G_ToolDlg::ConnectDevice(int portNumber, int baudRate)
{
    if (!TAVO_Interface_RadarDevice_Serial_OpenByPortNum(device_, portNumber, baudRate, 2, 1, 1, 1, 150))
        return 0;

    std::string version;
    std::string serialNumber;
    TAVO_Interface_RadarDevice_GetVersion(device_, version);
    TAVO_Interface_RadarDevice_GetSerialNumber(device_, serialNumber);
    versionStatic_->setText(QStringLiteral("Version\uFF1A%1\nSN:%2").arg(Text(version), Text(serialNumber)));
    versionStatic_->show();

    // A failed read shows nothing: the record keeps what was read so far.
    (void)ReadAllParams(device_, params_);
    TAVO_Interface_RadarDevice_StopCmdMode(device_);

    paramPage_->UpdateControls();
    linkWatch_.start();
    return 1;
}

void CTAVO_Palo520G_ToolDlg::SetNotConnected()
{
    linkWatch_.stop();
    versionStatic_->hide();
    connectButton_->setText(Text(LoadStringText(10100)));
}

void CTAVO_Palo520G_ToolDlg::WatchLink()
{
    if (!TAVO_Interface_RadarDevice_IsConnected(device_)) {
        SetNotConnected();
        return;
    }
    // Nothing else reads the line on the parameter page: a short read drains the
    // report stream and lets the device library notice a hang-up.
    if (paramPage_ && paramPage_->isVisible()) {
        char scratch[4096];
        while (TAVO_Interface_RadarDevice_ReadData(device_, scratch, sizeof scratch, 0, 0) > 0) {
        }
        if (!TAVO_Interface_RadarDevice_IsConnected(device_))
            SetNotConnected();
    }
}

void CTAVO_Palo520G_ToolDlg::SaveBaudRate()
{
    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    appConfig.SetAttributeInt64("BaudRate", baudRate_);
    SaveAppConfig();
}

void CTAVO_Palo520G_ToolDlg::OnPageButton(int id)
{
    paramPage_->hide();
    targetPage_->hide();
    firmwareWindow_->hide();
    switch (id) {
    case 1187:
        paramButton_->setChecked(true);
        paramPage_->show();
        connectButton_->setEnabled(true);
        break;
    case 1188:
        targetButton_->setChecked(true);
        targetPage_->show();
        connectButton_->setEnabled(true);
        break;
    case 1189:
        firmwareButton_->setChecked(true);
        firmwareWindow_->show();
        connectButton_->setEnabled(false);
        // The firmware window opens the port itself when it needs it.
        if (TAVO_Interface_RadarDevice_IsConnected(device_)) {
            TAVO_Interface_RadarDevice_Serial_Close(device_);
            SetNotConnected();
        }
        break;
    default:
        break;
    }
}

void CTAVO_Palo520G_ToolDlg::OnSysCommand(int command)
{
    if ((command & 0xFFF0) == kAboutCommand)
        TAVO_EULADlg_Show(agreement_, 5);
}

void CTAVO_Palo520G_ToolDlg::keyPressEvent(QKeyEvent* event)
{
    // Escape never closes the window; only the close box does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CTAVO_Palo520G_ToolDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress &&
        (watched == portList_ || watched == portList_->lineEdit() || watched == baudEdit_)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && connectButton_->isEnabled()) {
            connectButton_->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CTAVO_Palo520G_ToolDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (isMinimized())
        return;
    double xFactor = 1.0;
    double yFactor = 1.0;
    if (resizeTool_.Resize(event->size().width(), event->size().height(), &xFactor, &yFactor) == 1)
        layoutScale_ = std::min(xFactor, yFactor);
}

void CTAVO_Palo520G_ToolDlg::contextMenuEvent(QContextMenuEvent* event)
{
    // The window menu's About item: Linux desktops give no access to a window's
    // system menu, so it sits in the window's own context menu.
    const std::string about = LoadStringText(101);
    if (about.empty())
        return;
    QMenu menu(this);
    QAction* action = menu.addAction(Text(about));
    connect(action, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
    menu.exec(event->globalPos());
}
