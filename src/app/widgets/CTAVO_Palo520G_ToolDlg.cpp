#include "app/widgets/CTAVO_Palo520G_ToolDlg.h"
#include "app/widgets/CTAVO_Palo520G_ToolApp.h"

#include <algorithm>

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QStatusBar>

#include "app/AppConfig.h"
#include "app/LogOutput.h"
#include "app/StringTable.h"
#include "common/FileUtils.h"
#include "controls/widgets/MessageBox.h"
#include "controls/widgets/UiFont.h"
#include "controls/widgets/WaitCursor.h"
#include "app/widgets/CConnectionPanel.h"
#include "common/DbgOutput.h"
#include "device/SerialPortRegistry.h"
#include "params/RadarOperatorConfig.h"
#include "params/widgets/CParamSettingDlg.h"

namespace {

// A one-line label that ends its text in "…" where the room runs out, rather than
// cutting it off beside the next widget.
class CElidedLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }
    QSize sizeHint() const override { return QSize(0, QLabel::sizeHint().height()); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect room = contentsRect();
        painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         fontMetrics().elidedText(text(), Qt::ElideRight, room.width()));
    }
};

constexpr int kTemplate = 1000;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

constexpr int kRunStatusPeriodMs = 1000;

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
    setMinimumSize(static_cast<int>(kDesignWidth * kMinimumLayoutScale),
                   static_cast<int>(kDesignHeight * kMinimumLayoutScale));

    if (options_.pages.empty())
        options_.pages = ToolPageSpecs();
    int top = 10;
    for (const ToolPageSpec& spec : options_.pages) {
        auto* button = new QPushButton(Text(LoadCaption(kTemplate, spec.captionKey)), this);
        button->setObjectName(QString::number(spec.buttonId));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setGeometry(10, top, 152, 34);
        const int id = spec.buttonId;
        connect(button, &QPushButton::clicked, this, [this, id] { OnPageButton(id); });
        pages_.push_back(PageSlot{id, button, nullptr});
        top += 40;
    }

    panel_ = new CConnectionPanel(options_.extraPortPaths, options_.selectPortPath, this);
    panel_->move(10, 140);

    pageArea_ = new QWidget(this);
    pageArea_->setObjectName(QStringLiteral("1200"));
    pageArea_->setGeometry(172, 8, CParamSettingDlg::kDesignWidth, CParamSettingDlg::kDesignHeight);

    // The status bar: notices on the left, the connection and the shown page's run on the right.
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("statusBar"));
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setGeometry(0, kDesignHeight - kStatusBarHeight, kDesignWidth, kStatusBarHeight);
    notice_ = new CElidedLabel(statusBar_);
    notice_->setObjectName(QStringLiteral("notice"));
    statusBar_->addWidget(notice_, 1);
    runStatus_ = new QLabel(statusBar_);
    runStatus_->setObjectName(QStringLiteral("runStatus"));
    connectionStatus_ = new QLabel(statusBar_);
    connectionStatus_->setObjectName(QStringLiteral("connectionStatus"));
    statusBar_->addPermanentWidget(runStatus_);
    statusBar_->addPermanentWidget(connectionStatus_);
    runStatusTimer_.setInterval(kRunStatusPeriodMs);
    connect(&runStatusTimer_, &QTimer::timeout, this, &CTAVO_Palo520G_ToolDlg::UpdateRunStatus);

    connect(panel_, &CConnectionPanel::connectRequested, this, &CTAVO_Palo520G_ToolDlg::OnConnect);
    connect(panel_, &CConnectionPanel::portSelectionChanged, this, &CTAVO_Palo520G_ToolDlg::HandPortSelection);

    linkWatch_.setInterval(kLinkWatchPeriodMs);
    connect(&linkWatch_, &QTimer::timeout, this, &CTAVO_Palo520G_ToolDlg::WatchLink);
}

void CTAVO_Palo520G_ToolDlg::InitDialog()
{
    agreement_ = TAVO_EULADlg_Create(this, "Palo520G", nullptr);
    TAVO_EULADlg_CheckShowEULA(agreement_);

    QString title = QStringLiteral("%1(v%2)").arg(windowTitle(), QString::fromLatin1(PaloVersionText()));
    title_ = title;
    if (!options_.titleSuffix.empty())
        title += QStringLiteral(" - ") + Text(options_.titleSuffix);
    setWindowTitle(title);

    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    int baudRate = 115200;
    ReadConfigValue(appConfig, "BaudRate", 5, &baudRate);
    panel_->SetBaudRate(baudRate);

    // Pages in the page area, the first one shown.
    ToolPageContext context{connection_, params_, [this](const std::string& text) { ShowNotice(text); }};
    const QRect area = pageArea_->geometry();
    for (size_t i = 0; i < pages_.size(); ++i) {
        pages_[i].page = options_.pages[i].create(context, this);
        QWidget* widget = pages_[i].page->PageWidget();
        widget->setGeometry(area);
        widget->hide();
    }
    pageArea_->hide();
    if (!pages_.empty()) {
        pages_.front().button->setChecked(true);
        pages_.front().page->PageWidget()->show();
        pages_.front().page->OnPageShown();
    }
    panel_->SetConnectEnabled(true);

    logFile_ = OpenLogOutput(GetProgramPath());
    ShowConnectionStatus();
    runStatusTimer_.start();

    panel_->RefreshPorts();

    resizeTool_.SetWindow(this);
    resizeTool_.ClearItems();
    resizeTool_.SetInitialSize(size());
    resizeTool_.AddChildWindows(this);
    resizeTool_.SetEnabled(true);
}

CTAVO_Palo520G_ToolDlg::~CTAVO_Palo520G_ToolDlg()
{
    linkWatch_.stop();
    runStatusTimer_.stop();
    resizeTool_.SetEnabled(false);
    resizeTool_.ClearItems();
    panel_->disconnect(this);

    TAVO_EULADlg_Destroy(agreement_);
    agreement_ = nullptr;

    // Pages go first to last, each saving its section and ending what uses the
    // line, before the connection closes.
    for (PageSlot& slot : pages_)
        slot.page.reset();

    if (connection_.IsConnected())
        connection_.Close();

    SaveBaudRate();
    CloseLogOutput(logFile_);
}

int CTAVO_Palo520G_ToolDlg::PortNumber() const
{
    return panel_->PortNumber();
}

int CTAVO_Palo520G_ToolDlg::BaudRate() const
{
    return panel_->BaudRate();
}

IToolPage* CTAVO_Palo520G_ToolDlg::Page(int buttonId) const
{
    for (const PageSlot& slot : pages_) {
        if (slot.buttonId == buttonId)
            return slot.page.get();
    }
    return nullptr;
}

CParamSettingDlg* CTAVO_Palo520G_ToolDlg::ParamPage() const
{
    return dynamic_cast<CParamSettingDlg*>(Page(1187));
}

QWidget* CTAVO_Palo520G_ToolDlg::TargetPage() const
{
    IToolPage* page = Page(1188);
    return page ? page->PageWidget() : nullptr;
}

QWidget* CTAVO_Palo520G_ToolDlg::FirmwareWindow() const
{
    IToolPage* page = Page(1189);
    return page ? page->PageWidget() : nullptr;
}

void CTAVO_Palo520G_ToolDlg::HandPortSelection(int portNumber, int baudRate)
{
    for (PageSlot& slot : pages_) {
        if (slot.page)
            slot.page->SetPortSelection(portNumber, baudRate);
    }
}

void CTAVO_Palo520G_ToolDlg::OnConnect()
{
    panel_->AcceptTypedPort();
    const int portNumber = panel_->PortNumber();
    const int baudRate = panel_->BaudRate();
    bool openFailed = false;
    {
        WaitCursor wait;
        if (connection_.IsConnected()) {
            CloseConnection();
        } else if (portNumber <= 0) {
            ShowMessageBox(this, LoadStringText(TEXT_NO_DEVICE_DETECTED), LoadStringText(TEXT_ERROR),
                           MessageIcon::Error, true);
            panel_->SetConnectText(TEXT_CONNECT);
        } else if (ConnectDevice(portNumber, baudRate) != 1) {
            openFailed = true;
        }
    }
    if (openFailed) {
        // The box says why, so that a user knows what to change.
        const std::string why = connection_.OpenFailureText(SerialPortPathFromNumber(portNumber));
        ShowMessageBox(this, DisplayText(LoadStringText(TEXT_DEVICE_OPEN_FAILED) + "\n\n" + why),
                       LoadStringText(TEXT_ERROR), MessageIcon::Error, true);
        panel_->SetConnectText(TEXT_CONNECT);
    }
    SaveBaudRate();
}

int CTAVO_Palo520G_ToolDlg::ConnectDevice(int portNumber, int baudRate)
{
    // A failed read shows nothing: the record keeps what was read so far.
    if (!connection_.Connect(portNumber, baudRate, params_))
        return 0;
    panel_->ShowConnected(connection_.Version(), connection_.SerialNumber());
    const std::string path = SerialPortPathFromNumber(portNumber);
    ShowConnectionStatus();
    // An open port with nothing answering is most often the wrong baud rate.
    ShowNotice(connection_.Version().empty() ? FormatStringText(TEXT_NO_VERSION, path.c_str())
                                             : FormatStringText(TEXT_CONNECTED_TO, path.c_str()));
    // The page keeps what it had for what could not be read (or could not be right): say so.
    if (!connection_.Version().empty() && connection_.ReadResult() != OPERATOR_OK) {
        std::string text = LoadStringText(TEXT_READ_PARAMS_FAILED);
        if (connection_.ReadResult() == OPERATOR_MALFORMED_REPLY)
            text += ": " + OperatorFailureDetail();
        ShowNotice(text);
    }
    for (PageSlot& slot : pages_)
        slot.page->OnConnected();
    linkWatch_.start();
    return 1;
}

void CTAVO_Palo520G_ToolDlg::CloseConnection()
{
    // Whatever uses the line ends before the port closes.
    for (PageSlot& slot : pages_)
        slot.page->OnDisconnecting();
    connection_.Close();
    SetNotConnected();
    ShowNotice(FormatStringText(TEXT_DISCONNECTED_FROM, SerialPortPathFromNumber(panel_->PortNumber()).c_str()));
}

void CTAVO_Palo520G_ToolDlg::SetNotConnected()
{
    linkWatch_.stop();
    panel_->ShowNotConnected();
    ShowConnectionStatus();
}

void CTAVO_Palo520G_ToolDlg::ShowConnectionStatus()
{
    if (!connection_.IsConnected()) {
        connectionStatus_->setText(Text(LoadStringText(TEXT_NOT_CONNECTED)));
        return;
    }
    const std::string path = SerialPortPathFromNumber(panel_->PortNumber());
    connectionStatus_->setText(Text(connection_.Version().empty()
                                        ? FormatStringText(TEXT_CONNECTED_SILENT, path.c_str(), panel_->BaudRate())
                                        : FormatStringText(TEXT_CONNECTED, path.c_str(), panel_->BaudRate(),
                                                           connection_.Version().c_str(),
                                                           connection_.SerialNumber().c_str())));
}

void CTAVO_Palo520G_ToolDlg::ShowNotice(const std::string& text)
{
    DbgOutputA(2, "%s\r\n", text.c_str());
    // A long notice may not fit beside the connection and the run: it ends in "…"
    // and the whole text shows on hover.
    notice_->setText(Text(DisplayText(text)));
    notice_->setToolTip(notice_->text());
}

void CTAVO_Palo520G_ToolDlg::UpdateRunStatus()
{
    std::string text;
    for (PageSlot& slot : pages_) {
        if (slot.page && slot.page->PageWidget()->isVisible())
            text = slot.page->RunStatusText();
    }
    runStatus_->setText(Text(text));
    runStatus_->setVisible(!text.empty());
}

QString CTAVO_Palo520G_ToolDlg::NoticeText() const
{
    return notice_->text();
}

QString CTAVO_Palo520G_ToolDlg::ConnectionStatusText() const
{
    return connectionStatus_->text();
}

QString CTAVO_Palo520G_ToolDlg::RunStatusText() const
{
    return runStatus_->text();
}

bool CTAVO_Palo520G_ToolDlg::LineInUse() const
{
    if (connection_.IsLineClaimed())
        return true;
    for (const PageSlot& slot : pages_) {
        if (slot.page->PageWidget()->isVisible() && slot.page->UsesLine())
            return true;
    }
    return false;
}

void CTAVO_Palo520G_ToolDlg::WatchLink()
{
    // While nobody else reads the line, a short read drains the report stream and
    // lets the device library notice a hang-up; a worker reading it notices itself.
    if (connection_.IsConnected() && !LineInUse()) {
        char scratch[4096];
        while (TAVO_Interface_RadarDevice_ReadData(connection_.Handle(), scratch, sizeof scratch, 0, 0) > 0) {
        }
    }
    if (connection_.IsConnected())
        return;
    for (PageSlot& slot : pages_)
        slot.page->OnConnectionLost();
    SetNotConnected();
    const std::string text = FormatStringText(TEXT_CONNECTION_LOST, SerialPortPathFromNumber(panel_->PortNumber()).c_str());
    ShowNotice(text);
    ShowMessageBox(this, DisplayText(text), LoadStringText(TEXT_ERROR), MessageIcon::Error, true);
}

void CTAVO_Palo520G_ToolDlg::SaveBaudRate()
{
    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    appConfig.SetAttributeInt64("BaudRate", panel_->BaudRate());
    SaveAppConfig();
}

void CTAVO_Palo520G_ToolDlg::OnPageButton(int id)
{
    PageSlot* chosen = nullptr;
    for (PageSlot& slot : pages_) {
        if (slot.buttonId == id)
            chosen = &slot;
        else if (!slot.page->PageWidget()->isHidden()) {  // also before the window is shown
            slot.page->OnPageHidden();
            slot.page->PageWidget()->hide();
        }
    }
    if (chosen == nullptr)
        return;
    chosen->button->setChecked(true);
    const bool takesPortOver = chosen->page->TakesPortOver();
    // A page that opens the port itself gets it free; leaving it does not reconnect.
    if (takesPortOver && connection_.IsConnected())
        CloseConnection();
    panel_->SetConnectEnabled(!takesPortOver);
    chosen->page->PageWidget()->show();
    chosen->page->OnPageShown();
}

void CTAVO_Palo520G_ToolDlg::OnSysCommand(int command)
{
    if ((command & 0xFFF0) == kAboutCommand) {
        TAVO_EULADlg_SetInfoText(agreement_, AboutText());
        TAVO_EULADlg_Show(agreement_, 5);
    }
}

std::string CTAVO_Palo520G_ToolDlg::AboutText() const
{
    std::string text = FormatStringText(TEXT_ABOUT_VERSION, PaloVersionText()) + "\n" +
                       FormatStringText(TEXT_ABOUT_BUILD_DATE, PaloBuildDateText()) + "\n" +
                       FormatStringText(TEXT_ABOUT_QT_VERSION, qVersion()) + "\n";
    if (connection_.IsConnected())
        text += FormatStringText(TEXT_ABOUT_SENSOR, connection_.Version().c_str(), connection_.SerialNumber().c_str());
    else
        text += LoadStringText(TEXT_ABOUT_NO_SENSOR);
    return text;
}

void CTAVO_Palo520G_ToolDlg::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ModifiedChange || title_.isEmpty())
        return;
    // A page marks unwritten parameter changes as the window's modified state.
    QString title = title_ + (isWindowModified() ? QStringLiteral("*") : QString());
    if (!options_.titleSuffix.empty())
        title += QStringLiteral(" - ") + Text(options_.titleSuffix);
    setWindowTitle(title);
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

void CTAVO_Palo520G_ToolDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (isMinimized())
        return;
    double xFactor = 1.0;
    double yFactor = 1.0;
    if (resizeTool_.Resize(event->size().width(), event->size().height(), &xFactor, &yFactor) != 1)
        return;
    layoutScale_ = std::min(xFactor, yFactor);
    for (PageSlot& slot : pages_) {
        if (slot.page)
            slot.page->SetLayoutScale(layoutScale_);
    }
}

void CTAVO_Palo520G_ToolDlg::contextMenuEvent(QContextMenuEvent* event)
{
    // The window menu's About item: Linux desktops give no access to a window's
    // system menu, so it sits in the window's own context menu.
    const std::string about = LoadStringText(TEXT_ABOUT_MENU);
    if (about.empty())
        return;
    QMenu menu(this);
    QAction* action = menu.addAction(Text(about));
    connect(action, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
    menu.exec(event->globalPos());
}
