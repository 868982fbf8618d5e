#include "app/widgets/MainWindow.h"
#include "app/widgets/ToolApplication.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileDialog>
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
#include "common/UserPlaces.h"
#include "controls/widgets/MessageBox.h"
#include "controls/widgets/UiFont.h"
#include "app/widgets/ConnectionPanel.h"
#include "common/DbgOutput.h"
#include "device/NetworkPort.h"
#include "device/SerialPortRegistry.h"
#include "device/WireTrace.h"
#include "firmware/SensorVersion.h"
#include "params/RadarOperatorConfig.h"
#include "params/widgets/ParameterPage.h"

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

constexpr int TEMPLATE = 1000;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

constexpr int RUN_STATUS_PERIOD_MS = 1000;

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

MainWindow::MainWindow(MainWindowOptions options, QWidget* parent)
    : QDialog(parent), options_(std::move(options))
{
    setObjectName(QString::number(TEMPLATE));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setFont(HeiFont(9));
    setWindowIcon(ToolIcon());
    setWindowTitle(Text(LoadCaption(TEMPLATE, "caption")));
    BuildControls();
    InitDialog();
}

void MainWindow::BuildControls()
{
    resize(DESIGN_WIDTH, DESIGN_HEIGHT);
    setMinimumSize(static_cast<int>(DESIGN_WIDTH * MINIMUM_LAYOUT_SCALE),
                   static_cast<int>(DESIGN_HEIGHT * MINIMUM_LAYOUT_SCALE));

    if (options_.pages.empty())
        options_.pages = ToolPageSpecs();
    int top = 10;
    for (const ToolPageSpec& spec : options_.pages) {
        auto* button = new QPushButton(Text(LoadCaption(TEMPLATE, spec.captionKey)), this);
        button->setObjectName(QString::number(spec.buttonId));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setGeometry(10, top, 152, 34);
        const int id = spec.buttonId;
        connect(button, &QPushButton::clicked, this, [this, id] { OnPageButton(id); });
        pages_.push_back(PageSlot{id, button, nullptr});
        top += 40;
    }

    panel_ = new ConnectionPanel(options_.extraPortPaths, options_.selectPortPath, this);
    panel_->move(10, 140);

    pageArea_ = new QWidget(this);
    pageArea_->setObjectName(QStringLiteral("1200"));
    pageArea_->setGeometry(172, 8, PAGE_DESIGN_WIDTH, PAGE_DESIGN_HEIGHT);

    // The status bar: notices on the left, the connection and the shown page's run on the right.
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("statusBar"));
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setGeometry(0, DESIGN_HEIGHT - STATUS_BAR_HEIGHT, DESIGN_WIDTH, STATUS_BAR_HEIGHT);
    notice_ = new CElidedLabel(statusBar_);
    notice_->setObjectName(QStringLiteral("notice"));
    statusBar_->addWidget(notice_, 1);
    runStatus_ = new QLabel(statusBar_);
    runStatus_->setObjectName(QStringLiteral("runStatus"));
    connectionStatus_ = new QLabel(statusBar_);
    connectionStatus_->setObjectName(QStringLiteral("connectionStatus"));
    statusBar_->addPermanentWidget(runStatus_);
    statusBar_->addPermanentWidget(connectionStatus_);
    runStatusTimer_.setInterval(RUN_STATUS_PERIOD_MS);
    connect(&runStatusTimer_, &QTimer::timeout, this, &MainWindow::UpdateRunStatus);

    connect(&sensorThread_, &SensorThread::busyChanged, this, &MainWindow::ShowSensorBusy);
    connect(panel_, &ConnectionPanel::connectRequested, this, &MainWindow::OnConnect);
    connect(panel_, &ConnectionPanel::portSelectionChanged, this, &MainWindow::HandPortSelection);

    linkWatch_.setInterval(options_.linkWatchPeriodMs);
    connect(&linkWatch_, &QTimer::timeout, this, &MainWindow::WatchLink);
    returnWatch_.setInterval(options_.linkWatchPeriodMs);
    connect(&returnWatch_, &QTimer::timeout, this, &MainWindow::WatchForReturn);
}

void MainWindow::InitDialog()
{
    licence_ = new LicenceDialog(QStringLiteral("Palo520G"), this);
    licence_->ShowOnFirstStart();

    QString title = QStringLiteral("%1 %2").arg(windowTitle(), QString::fromLatin1(PaloVersionText()));
    title_ = title;
    if (!options_.titleSuffix.empty())
        title += QStringLiteral(" - ") + Text(options_.titleSuffix);
    setWindowTitle(title);

    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    int baudRate = 115200;
    ReadConfigValue(appConfig, "BaudRate", baudRate);
    panel_->SetBaudRate(baudRate);
    // A wire trace switched on in an earlier run goes on into the same file.
    if (const auto trace = appConfig.GetAttributeText("WireTraceFile"); trace && !trace->empty())
        SetWireTraceFile(*trace);

    // Pages in the page area, the first one shown.
    ToolPageContext context{sensorThread_, params_, [this](const std::string& text) { ShowNotice(text); },
                            [this] { OnPageWorkEnded(); }};
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

    logFile_ = OpenLogOutput(GetLogFolder());
    // A configuration file that did not load is left as it is (no save of this run
    // touches it) and the settings start from their defaults: the log and the user
    // are told why, the user once the window is up.
    // A data folder that cannot take a save (read-only, full) is said at start too,
    // rather than at the first save that fails.
    std::string configText;
    if (const std::string refusal = AppConfigRefusal(); !refusal.empty())
        configText = FormatStringText(TEXT_CONFIG_REFUSED, GetAppConfigPath().c_str(), refusal.c_str());
    else if (const std::string unwritable = AppConfigUnwritable(); !unwritable.empty())
        configText = FormatStringText(TEXT_CONFIG_UNWRITABLE_AT_START, GetProgramPath().c_str(), unwritable.c_str(),
                                      GetAppConfigPath().c_str());
    if (!configText.empty()) {
        DbgOutputA(1, "%s\r\n", configText.c_str());
        QTimer::singleShot(0, this, [this, configText] {
            ShowMessageBox(this, DisplayText(configText), LoadStringText(TEXT_ERROR), MessageIcon::Warning);
        });
    }
    ShowConnectionStatus();
    runStatusTimer_.start();

    panel_->RefreshPorts();

    resizeTool_.SetWindow(this);
    resizeTool_.ClearItems();
    resizeTool_.SetInitialSize(size());
    resizeTool_.AddChildWindows(this);
    resizeTool_.SetEnabled(true);
}

MainWindow::~MainWindow()
{
    linkWatch_.stop();
    returnWatch_.stop();
    runStatusTimer_.stop();
    resizeTool_.SetEnabled(false);
    resizeTool_.ClearItems();
    panel_->disconnect(this);

    // The exchange in progress ends first (its result is dropped); then the pages
    // go first to last, each saving its section and ending what uses the line,
    // before the connection closes.
    sensorThread_.Stop();
    for (PageSlot& slot : pages_)
        slot.page.reset();

    if (session_.IsConnected())
        session_.Close();

    SaveBaudRate();
    CloseLogOutput(logFile_);
}

int MainWindow::PortNumber() const
{
    return panel_->PortNumber();
}

int MainWindow::BaudRate() const
{
    return panel_->BaudRate();
}

IToolPage* MainWindow::Page(int buttonId) const
{
    for (const PageSlot& slot : pages_) {
        if (slot.buttonId == buttonId)
            return slot.page.get();
    }
    return nullptr;
}

bool MainWindow::ShowPageNamed(const std::string& name)
{
    for (size_t i = 0; i < pages_.size(); ++i) {
        if (options_.pages[i].name == name) {
            OnPageButton(pages_[i].buttonId);
            return true;
        }
    }
    return false;
}

void MainWindow::ShowPage(const IToolPage* page)
{
    for (const PageSlot& slot : pages_) {
        if (slot.page.get() == page)
            OnPageButton(slot.buttonId);
    }
}

void MainWindow::HandPortSelection(int portNumber, int baudRate)
{
    for (PageSlot& slot : pages_) {
        if (slot.page)
            slot.page->SetPortSelection(portNumber, baudRate);
    }
}

void MainWindow::OnConnect()
{
    // One exchange at a time: Connect waits for the one in progress to end. A
    // page's run on the line ends with the connection; it only keeps Connect waiting.
    if (sensorThread_.IsBusy())
        return;
    // The user takes over: no reconnect of the lost port behind their back.
    returnWatch_.stop();
    reconnecting_ = false;
    panel_->AcceptTypedPort();
    const int portNumber = panel_->PortNumber();
    const int baudRate = panel_->BaudRate();
    if (session_.IsConnected()) {
        CloseConnection();
    } else if (session_.IsLineClaimed()) {
        return;
    } else if (portNumber <= 0) {
        ShowMessageBox(this, LoadStringText(TEXT_NO_DEVICE_DETECTED), LoadStringText(TEXT_ERROR), MessageIcon::Error, true);
        panel_->SetConnectText(TEXT_CONNECT);
    } else {
        ConnectDevice(portNumber, baudRate);
    }
    SaveBaudRate();
}

void MainWindow::ConnectDevice(int portNumber, int baudRate)
{
    ShowNotice(FormatStringText(TEXT_CONNECTING_TO, SerialPortPathFromNumber(portNumber).c_str()));
    // The record goes to the sensor thread as a copy and comes back read.
    struct Outcome {
        SensorResult opened;
        ParamSetting record;
        bool inBootloader = false;
    };
    sensorThread_.Run<Outcome>(
        this,
        [portNumber, baudRate, record = params_](SensorSession& session) mutable {
            Outcome outcome;
            outcome.opened = session.Connect(portNumber, baudRate, record);
            outcome.record = record;
            // A sensor that answers but gives no version may be left in its bootloader.
            outcome.inBootloader = outcome.opened && ConnectedSensorInBootloader(session);
            return outcome;
        },
        [this, portNumber](Outcome outcome) {
            FinishConnect(portNumber, outcome.opened, outcome.record);
            if (outcome.inBootloader)
                OfferFirmwarePage(portNumber);
        });
}

void MainWindow::OfferFirmwarePage(int portNumber)
{
    // Its parameters cannot be read: say why and offer the page that recovers it.
    const std::string path = SerialPortPathFromNumber(portNumber);
    ShowNotice(FormatStringText(TEXT_CONNECT_IN_BOOTLOADER_NOTICE, path.c_str()));
    QuestionRecord question;
    question.text = DisplayText(FormatStringText(TEXT_CONNECT_IN_BOOTLOADER, path.c_str()));
    question.caption = LoadStringText(TEXT_CONNECT_IN_BOOTLOADER_CAPTION);
    question.choices = {LoadStringText(TEXT_CHOICE_SHOW_FIRMWARE_PAGE), LoadStringText(TEXT_CHOICE_NOT_NOW)};
    question.defaultChoice = 0;
    question.escapeChoice = 1;
    if (AskQuestion(this, question) == 0)
        ShowPageNamed("firmware");
}

void MainWindow::FinishConnect(int portNumber, const SensorResult& opened, const ParamSetting& record)
{
    if (!opened && reconnecting_) {
        // The port is back but does not open yet (udev still setting its permissions,
        // a server that has not taken it up): tried again on the next tick.
        ShowNotice(FormatStringText(TEXT_RECONNECTING_NOTICE, SerialPortPathFromNumber(portNumber).c_str()) + " (" +
                   SensorResultText(opened) + ")");
        panel_->SetConnectText(TEXT_CONNECT);
        returnWatch_.start();
        return;
    }
    if (!opened) {
        // The box says why, so that a user knows what to change.
        ShowNotice(SensorResultText(opened));
        ShowMessageBox(this, LoadStringText(TEXT_DEVICE_OPEN_FAILED) + "\n\n" + SensorResultText(opened), LoadStringText(TEXT_ERROR),
                       MessageIcon::Error, true);
        panel_->SetConnectText(TEXT_CONNECT);
        return;
    }
    // The sensor thread is idle again: the session may be asked directly.
    sensorVersion_ = session_.Version();
    sensorSerialNumber_ = session_.SerialNumber();
    const SensorResult& read = session_.ReadResult();
    // A failed read leaves in the record what was read so far.
    params_ = record;
    connectedPort_ = portNumber;
    panel_->ShowConnected(sensorVersion_, sensorSerialNumber_);
    const std::string path = SerialPortPathFromNumber(portNumber);
    ShowConnectionStatus();
    // An open port with nothing answering is most often the wrong baud rate.
    if (sensorVersion_.empty()) {
        std::string text = FormatStringText(TEXT_NO_VERSION, path.c_str());
        if (!read)
            text += " (" + SensorResultText(read) + ")";
        ShowNotice(text);
    } else {
        ShowNotice(FormatStringText(reconnecting_ ? TEXT_RECONNECTED_TO : TEXT_CONNECTED_TO, path.c_str()));
    }
    reconnecting_ = false;
    // The page keeps what it had for what could not be read (or could not be right): say so.
    if (!sensorVersion_.empty() && !read)
        ShowNotice(LoadStringText(TEXT_READ_PARAMS_FAILED) + ": " + SensorResultText(read));
    for (PageSlot& slot : pages_)
        slot.page->OnConnected();
    linkWatch_.start();
}

void MainWindow::ShowSensorBusy(bool busy)
{
    // The window goes on; only what would talk to the sensor waits.
    panel_->SetConnectEnabled(!busy && !CurrentPageTakesPortOver());
    for (PageSlot& slot : pages_) {
        QWidget* widget = slot.page->PageWidget();
        if (busy)
            widget->setCursor(Qt::BusyCursor);
        else
            widget->unsetCursor();
        slot.page->OnSensorBusy(busy);
    }
    // An exchange that ends without a notice of its own (a read that answers in a
    // box) gives back the notice from before it: "Waiting" must not outlast the wait.
    const std::string waitingText = LoadStringText(TEXT_WAITING_FOR_SENSOR);
    const QString waiting = Text(DisplayText(waitingText));
    if (busy) {
        if (notice_->text() != waiting)
            noticeBeforeWait_ = notice_->text();
        ShowNotice(waitingText);
    } else if (notice_->text() == waiting) {
        notice_->setText(noticeBeforeWait_);
        notice_->setToolTip(noticeBeforeWait_);
    }
}

void MainWindow::CloseConnection()
{
    // Whatever uses the line ends before the port closes; what the pages still send
    // (the report output off) is queued before the close.
    for (PageSlot& slot : pages_)
        slot.page->OnDisconnecting();
    linkWatch_.stop();
    const std::string path = SerialPortPathFromNumber(connectedPort_);
    sensorThread_.Run<bool>(
        this,
        [](SensorSession& session) {
            session.Close();
            return true;
        },
        [this, path](bool) {
            sensorVersion_.clear();
            sensorSerialNumber_.clear();
            SetNotConnected();
            ShowNotice(FormatStringText(TEXT_DISCONNECTED_FROM, path.c_str()));
        });
}

void MainWindow::SetNotConnected()
{
    linkWatch_.stop();
    panel_->ShowNotConnected();
    ShowConnectionStatus();
}

void MainWindow::ShowConnectionStatus()
{
    if (!session_.IsConnected()) {
        connectionStatus_->setText(Text(LoadStringText(TEXT_NOT_CONNECTED)));
        return;
    }
    const std::string path = SerialPortPathFromNumber(connectedPort_);
    connectionStatus_->setText(Text(sensorVersion_.empty()
                                        ? FormatStringText(TEXT_CONNECTED_SILENT, path.c_str(), panel_->BaudRate())
                                        : FormatStringText(TEXT_CONNECTED, path.c_str(), panel_->BaudRate(),
                                                           sensorVersion_.c_str(),
                                                           sensorSerialNumber_.c_str())));
}

void MainWindow::ShowNotice(const std::string& text)
{
    DbgOutputA(2, "%s\r\n", text.c_str());
    // A long notice may not fit beside the connection and the run: it ends in "…"
    // and the whole text shows on hover.
    notice_->setText(Text(DisplayText(text)));
    notice_->setToolTip(notice_->text());
}

void MainWindow::UpdateRunStatus()
{
    std::string text;
    bool pageHasThePort = false;
    for (PageSlot& slot : pages_) {
        if (slot.page && slot.page->PageWidget()->isVisible()) {
            text = slot.page->RunStatusText();
            pageHasThePort = slot.page->TakesPortOver() && !text.empty();
        }
    }
    runStatus_->setText(Text(text));
    runStatus_->setVisible(!text.empty());
    // A page that opened the port itself is talking to the sensor (its status names
    // the port): "Not connected" beside it would say otherwise.
    connectionStatus_->setVisible(!pageHasThePort);
}

QString MainWindow::NoticeText() const
{
    return notice_->text();
}

QString MainWindow::ConnectionStatusText() const
{
    return connectionStatus_->text();
}

QString MainWindow::RunStatusText() const
{
    return runStatus_->text();
}

bool MainWindow::LineInUse() const
{
    return session_.IsLineClaimed() || sensorThread_.IsBusy();
}

void MainWindow::WatchLink()
{
    // While nobody else reads the line, a short read drains the report stream and
    // lets the device library notice a hang-up; a worker reading it notices itself.
    if (!LineInUse())
        session_.Drain();
    if (session_.IsConnected() || sensorThread_.IsBusy())
        return;
    for (PageSlot& slot : pages_)
        slot.page->OnConnectionLost();
    SetNotConnected();
    const std::string path = SerialPortPathFromNumber(connectedPort_);
    std::string text = FormatStringText(TEXT_CONNECTION_LOST, path.c_str());
    ShowNotice(text);
    if (AutoReconnect() && connectedPort_ > 0) {
        // The watch starts before the box: the box waits for a user, the reconnect
        // does not (on a bench nobody may be there to close it).
        reconnecting_ = true;
        returnWatch_.start();
        text += "\n\n" + FormatStringText(TEXT_RECONNECTING_NOTICE, path.c_str());
    }
    ShowMessageBox(this, DisplayText(text), LoadStringText(TEXT_ERROR), MessageIcon::Error, true);
}

void MainWindow::WatchForReturn()
{
    if (!reconnecting_) {
        returnWatch_.stop();
        return;
    }
    if (sensorThread_.IsBusy() || session_.IsConnected() || session_.IsLineClaimed())
        return;
    // A device path is looked for here; a network address is tried by the connect
    // itself, on the sensor thread, so that an unreachable host never holds the window.
    const std::string path = SerialPortPathFromNumber(connectedPort_);
    if (!IsNetworkPortName(path) && !PortPresent(path))
        return;
    returnWatch_.stop();
    ConnectDevice(connectedPort_, panel_->BaudRate());
}

bool MainWindow::AutoReconnect() const
{
    int on = 1;
    ReadConfigValue(gAppConfigDoc.FindElement("AppConfig"), "AutoReconnect", on);
    return on != 0;
}

void MainWindow::SetAutoReconnect(bool on)
{
    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    appConfig.SetAttributeInt64("AutoReconnect", on ? 1 : 0);
    SaveAppConfig();
    if (!on && reconnecting_) {
        reconnecting_ = false;
        returnWatch_.stop();
    }
}

bool MainWindow::SetWireTraceFile(const std::string& path)
{
    const std::shared_ptr<WireTrace> before = CurrentWireTrace();
    std::shared_ptr<WireTrace> trace;
    if (!path.empty()) {
        std::string why;
        trace = WireTrace::Create(path, &why);
        if (!trace) {
            ShowMessageBox(this, DisplayText(FormatStringText(TEXT_TRACE_OPEN_FAILED, path.c_str(), why.c_str())),
                           LoadStringText(TEXT_ERROR), MessageIcon::Error, true);
            return false;
        }
    }
    SetWireTrace(trace);
    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    appConfig.SetAttributeText("WireTraceFile", path);
    SaveAppConfig();
    if (trace)
        ShowNotice(FormatStringText(TEXT_WIRE_TRACE_ON, path.c_str()));
    else if (before)
        ShowNotice(FormatStringText(TEXT_WIRE_TRACE_OFF, before->Path().c_str()));
    return true;
}

void MainWindow::ChooseWireTraceFile()
{
    if (CurrentWireTrace()) {
        SetWireTraceFile({});
        return;
    }
    const QString chosen = QFileDialog::getSaveFileName(
        this, Text(LoadStringText(TEXT_MENU_WIRE_TRACE)), Text(GetProgramPath() + "/wire.trace"));
    if (!chosen.isEmpty())
        SetWireTraceFile(chosen.toStdString());
}

void MainWindow::SaveBaudRate()
{
    XMLNode appConfig = gAppConfigDoc.FindElement("AppConfig");
    appConfig.SetAttributeInt64("BaudRate", panel_->BaudRate());
    SaveAppConfig();
}

void MainWindow::OnPageButton(int id)
{
    // The shown page may keep the screen (a download in progress): its button stays pressed.
    for (PageSlot& slot : pages_) {
        if (slot.buttonId != id && !slot.page->PageWidget()->isHidden() && isVisible() &&
            slot.page->ConfirmLeave(PageLeave::SWITCH_PAGE) != LeaveAnswer::LEAVE) {
            slot.button->setChecked(true);
            return;
        }
    }
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
    if (takesPortOver && session_.IsConnected())
        CloseConnection();
    panel_->SetConnectEnabled(!takesPortOver && !sensorThread_.IsBusy());
    chosen->page->PageWidget()->show();
    chosen->page->OnPageShown();
}

void MainWindow::ShowAbout()
{
    licence_->SetInfoText(AboutText());
    licence_->Present();
}

std::string MainWindow::AboutText() const
{
    std::string text = FormatStringText(TEXT_ABOUT_VERSION, PaloVersionText()) + "\n" +
                       FormatStringText(TEXT_ABOUT_BUILD_DATE, PaloBuildDateText()) + "\n" +
                       FormatStringText(TEXT_ABOUT_QT_VERSION, qVersion()) + "\n" +
                       LoadStringText(TEXT_ABOUT_LICENCE) + "\n";
    if (session_.IsConnected())
        text += FormatStringText(TEXT_ABOUT_SENSOR, sensorVersion_.c_str(), sensorSerialNumber_.c_str());
    else
        text += LoadStringText(TEXT_ABOUT_NO_SENSOR);
    return text;
}

void MainWindow::changeEvent(QEvent* event)
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

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Every page is asked, shown or not: unwritten values stay on a hidden page.
    bool waitForWork = false;
    for (PageSlot& slot : pages_) {
        const LeaveAnswer answer = slot.page->ConfirmLeave(PageLeave::CLOSE_WINDOW);
        if (answer == LeaveAnswer::STAY) {
            closePending_ = false;
            event->ignore();
            return;
        }
        waitForWork = waitForWork || answer == LeaveAnswer::LEAVE_WHEN_DONE;
    }
    if (waitForWork) {
        closePending_ = true;
        ShowNotice(LoadStringText(TEXT_CLOSE_WHEN_DONE));
        event->ignore();
        return;
    }
    closePending_ = false;
    QDialog::closeEvent(event);
}

void MainWindow::OnPageWorkEnded()
{
    // Out of the page's own call: closing destroys nothing here, but the page
    // finishes its handler first.
    if (closePending_)
        QTimer::singleShot(0, this, [this] {
            if (closePending_)
                close();
        });
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape never closes the window; only the close box does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent* event)
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

void MainWindow::contextMenuEvent(QContextMenuEvent* event)
{
    // The window menu's About item: Linux desktops give no access to a window's
    // system menu, so it sits in the window's own context menu.
    const std::string about = LoadStringText(TEXT_ABOUT_MENU);
    if (about.empty())
        return;
    QMenu menu(this);
    QAction* action = menu.addAction(Text(about));
    connect(action, &QAction::triggered, this, &MainWindow::ShowAbout);
    menu.addSeparator();
    QAction* reconnect = menu.addAction(Text(LoadStringText(TEXT_MENU_RECONNECT)));
    reconnect->setCheckable(true);
    reconnect->setChecked(AutoReconnect());
    connect(reconnect, &QAction::toggled, this, &MainWindow::SetAutoReconnect);
    QAction* trace = menu.addAction(Text(LoadStringText(TEXT_MENU_WIRE_TRACE)));
    trace->setCheckable(true);
    trace->setChecked(CurrentWireTrace() != nullptr);
    connect(trace, &QAction::triggered, this, &MainWindow::ChooseWireTraceFile);
    menu.exec(event->globalPos());
}

bool MainWindow::CurrentPageTakesPortOver() const
{
    for (const PageSlot& slot : pages_) {
        if (slot.page && !slot.page->PageWidget()->isHidden())
            return slot.page->TakesPortOver();
    }
    return false;
}
