#include "app/widgets/ConnectionPanel.h"

#include <unistd.h>

#include <algorithm>

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/StringTable.h"
#include "common/ValueParse.h"
#include "device/SerialPortRegistry.h"

namespace {

constexpr int TEMPLATE_ID = 1000;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString Caption(const std::string& key)
{
    return Text(LoadCaption(TEMPLATE_ID, key));
}

}  // namespace

ConnectionPanel::ConnectionPanel(std::vector<std::string> extraPortPaths, std::string selectPortPath,
                                   QWidget* parent)
    : QWidget(parent), extraPortPaths_(std::move(extraPortPaths)), selectPortPath_(std::move(selectPortPath))
{
    setObjectName(QStringLiteral("connectionPanel"));
    // Design rectangle in the window: x 10-162, y 140-354.
    resize(152, 214);

    auto* portLabel = new QLabel(Caption("label:1101"), this);
    portLabel->setObjectName(QStringLiteral("label:1101"));
    portLabel->setGeometry(0, 0, 152, 20);
    portList_ = new QComboBox(this);
    portList_->setObjectName(QStringLiteral("1101"));
    portList_->setGeometry(0, 22, 152, 26);
    // Editable: pseudo-terminals and symbolic links are never enumerated, so a
    // path may be typed in.
    portList_->setEditable(true);
    portList_->setInsertPolicy(QComboBox::NoInsert);
    portList_->lineEdit()->setObjectName(QStringLiteral("1101:edit"));

    auto* baudLabel = new QLabel(Caption("label:1102"), this);
    baudLabel->setObjectName(QStringLiteral("label:1102"));
    baudLabel->setGeometry(0, 56, 152, 20);
    baudEdit_ = new QLineEdit(this);
    baudEdit_->setObjectName(QStringLiteral("1102"));
    baudEdit_->setGeometry(0, 78, 152, 26);

    refreshButton_ = new QPushButton(Caption("1100"), this);
    refreshButton_->setObjectName(QStringLiteral("1100"));
    refreshButton_->setGeometry(0, 116, 72, 32);
    connectButton_ = new QPushButton(Caption("1103"), this);
    connectButton_->setObjectName(QStringLiteral("1103"));
    connectButton_->setGeometry(80, 116, 72, 32);
    connectButton_->setDefault(true);

    versionStatic_ = new QLabel(Caption("1104"), this);
    versionStatic_->setObjectName(QStringLiteral("1104"));
    versionStatic_->setGeometry(0, 158, 152, 56);
    versionStatic_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    versionStatic_->setWordWrap(true);
    versionStatic_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    versionStatic_->hide();

    connect(refreshButton_, &QPushButton::clicked, this, &ConnectionPanel::RefreshPorts);
    connect(connectButton_, &QPushButton::clicked, this, &ConnectionPanel::connectRequested);
    connect(portList_, &QComboBox::currentIndexChanged, this, &ConnectionPanel::OnPortSelChange);
    connect(portList_->lineEdit(), &QLineEdit::editingFinished, this, &ConnectionPanel::AcceptTypedPort);
    connect(baudEdit_, &QLineEdit::textChanged, this, &ConnectionPanel::OnBaudChange);
    // Enter in the port list or the baud edit acts as a press of Connect.
    portList_->installEventFilter(this);
    portList_->lineEdit()->installEventFilter(this);
    baudEdit_->installEventFilter(this);
}

ConnectionPanel::~ConnectionPanel()
{
    // The focus leaving the controls while the window goes must not reach this
    // half-destroyed panel.
    portList_->removeEventFilter(this);
    portList_->lineEdit()->removeEventFilter(this);
    baudEdit_->removeEventFilter(this);
    portList_->lineEdit()->disconnect(this);
    portList_->disconnect(this);
    baudEdit_->disconnect(this);
}

void ConnectionPanel::RefreshPorts()
{
    // The selection stays when its port is still there: a Refresh while connected
    // must not put another port in front of the one in use.
    const int previous = portList_->currentIndex() >= 0 ? portList_->currentData().toInt() : 0;
    {
        const QSignalBlocker block(portList_);
        portList_->clear();
        for (const SerialPortInfo& port : EnumSerialPortName()) {
            QString text = Text(port.path);
            if (!port.description.empty())
                text += QStringLiteral(" (%1)").arg(Text(port.description));
            // The stable name tells two adapters of one kind apart after a replug.
            if (!port.byIdPath.empty())
                text += QStringLiteral(" [%1]").arg(Text(port.byIdPath));
            portList_->addItem(text, port.portNumber);
        }
        // Paths that are never enumerated: those of the command line, and those typed
        // in that still exist or are selected (a pseudo-terminal that went away is dropped).
        for (const std::string& path : extraPortPaths_) {
            const int number = RegisterSerialPortPath(path);
            if (number > 0 && portList_->findData(number) < 0)
                portList_->addItem(Text(path), number);
        }
        std::vector<std::string> typedKept;
        for (const std::string& path : typedPortPaths_) {
            const int number = RegisterSerialPortPath(path);
            if (number != previous && ::access(path.c_str(), F_OK) != 0)
                continue;
            typedKept.push_back(path);
            if (portList_->findData(number) < 0)
                portList_->addItem(Text(path), number);
        }
        typedPortPaths_ = std::move(typedKept);
        int selected = portList_->count() > 0 ? 0 : -1;
        if (!selectPortPath_.empty()) {
            const int wanted = portList_->findData(RegisterSerialPortPath(selectPortPath_));
            if (wanted >= 0)
                selected = wanted;
        }
        if (previous > 0 && portList_->findData(previous) >= 0)
            selected = portList_->findData(previous);
        portList_->setCurrentIndex(selected);
        if (selected < 0)
            portList_->setEditText(QString());
    }
    OnPortSelChange();
}

void ConnectionPanel::OnPortSelChange()
{
    portNumber_ = 0;
    if (portList_->currentIndex() >= 0)
        portNumber_ = portList_->currentData().toInt();
    emit portSelectionChanged(portNumber_, baudRate_);
}

void ConnectionPanel::AcceptTypedPort()
{
    const QString typed = portList_->currentText().trimmed();
    const int index = portList_->currentIndex();
    if (index >= 0 && portList_->itemText(index) == typed)
        return;
    if (typed.isEmpty()) {
        portNumber_ = 0;
        emit portSelectionChanged(portNumber_, baudRate_);
        return;
    }
    const int number = RegisterSerialPortPath(typed.toStdString());
    if (std::find(typedPortPaths_.begin(), typedPortPaths_.end(), typed.toStdString()) == typedPortPaths_.end())
        typedPortPaths_.push_back(typed.toStdString());
    int item = portList_->findData(number);
    if (item < 0) {
        portList_->addItem(typed, number);
        item = portList_->count() - 1;
    }
    const QSignalBlocker block(portList_);
    portList_->setCurrentIndex(item);
    OnPortSelChange();
}

void ConnectionPanel::OnBaudChange()
{
    // Not a number gives 0, which the open is given unchanged. The firmware
    // page's copy follows only a change of port or a new enumeration.
    baudRate_ = ParseLeadingInt32(baudEdit_->text().trimmed().toStdString());
}

void ConnectionPanel::SetBaudRate(int baudRate)
{
    baudEdit_->setText(QString::number(baudRate));
    baudRate_ = baudRate;
}

void ConnectionPanel::ShowConnected(const std::string& version, const std::string& serialNumber)
{
    versionStatic_->setText(Text(FormatStringText(TEXT_VERSION_AND_SN, version.c_str(), serialNumber.c_str())));
    versionStatic_->show();
    SetConnectText(TEXT_DISCONNECT);
}

void ConnectionPanel::ShowNotConnected()
{
    versionStatic_->hide();
    SetConnectText(TEXT_CONNECT);
}

void ConnectionPanel::SetConnectText(int stringId)
{
    connectButton_->setText(Text(LoadStringText(stringId)));
}

void ConnectionPanel::SetConnectEnabled(bool enabled)
{
    connectButton_->setEnabled(enabled);
}

bool ConnectionPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress &&
        (watched == portList_ || watched == portList_->lineEdit() || watched == baudEdit_)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && connectButton_->isEnabled()) {
            connectButton_->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
