#pragma once
// The connection panel of the main window: the port list (enumerated ports, paths
// given on the command line and paths typed in), the baud edit, Refresh, Connect
// and the version static. It keeps the selection; the window decides what Connect
// does.
//
// Controls carry their numeric ids as object names ("1101", "1102", "1100",
// "1103", "1104").

#include <string>
#include <vector>

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class ConnectionPanel : public QWidget {
    Q_OBJECT

public:
    // Paths added to the port list after every enumeration (--port, the demo's
    // pseudo-terminal: such ports are never enumerated), and the path selected
    // after every enumeration when it is in the list.
    ConnectionPanel(std::vector<std::string> extraPortPaths, std::string selectPortPath, QWidget* parent);
    ~ConnectionPanel() override;

    // Enumerates the ports again. The selected port stays selected while it is in
    // the list; otherwise the wanted one (selectPortPath), or the first, is selected.
    // Paths typed in stay in the list while they exist or are selected.
    void RefreshPorts();
    // A path typed into the port list becomes an entry and the selection.
    void AcceptTypedPort();

    [[nodiscard]] int PortNumber() const { return portNumber_; }
    [[nodiscard]] int BaudRate() const { return baudRate_; }
    void SetBaudRate(int baudRate);

    // Connected: "Version: …\nSN: …" shown, the button says Disconn.; not connected:
    // the static hidden, the button says Connect.
    void ShowConnected(const std::string& version, const std::string& serialNumber);
    void ShowNotConnected();
    // The Connect button's text alone (after a failed connect).
    void SetConnectText(int stringId);
    void SetConnectEnabled(bool enabled);

signals:
    // Connect was pressed (or Enter in the port list or the baud edit).
    void connectRequested();
    // The selected port changed, or the list was enumerated again.
    void portSelectionChanged(int portNumber, int baudRate);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnPortSelChange();
    void OnBaudChange();

    std::vector<std::string> extraPortPaths_;
    std::string selectPortPath_;
    std::vector<std::string> typedPortPaths_;  // accepted from the port box, in order
    int portNumber_ = 0;
    int baudRate_ = 115200;

    QComboBox* portList_ = nullptr;         // 1101
    QLineEdit* baudEdit_ = nullptr;         // 1102
    QPushButton* refreshButton_ = nullptr;  // 1100
    QPushButton* connectButton_ = nullptr;  // 1103
    QLabel* versionStatic_ = nullptr;       // 1104
};
