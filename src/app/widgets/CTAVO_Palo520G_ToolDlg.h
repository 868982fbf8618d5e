#pragma once
// The main window: page buttons and the connection panel on the left, one of
// three pages on the right. It owns the device handle, the parameter record and
// the run's log file, and lends the handle and the record to its pages.
//
// Controls carry their numeric ids as object names ("1103", ...).

#include <cstdio>
#include <string>
#include <vector>

#include <QDialog>
#include <QTimer>

#include "app/widgets/CWndResizeTool.h"
#include "app/widgets/EULADlg.h"
#include "device/RadarDevice.h"
#include "params/ParamSetting.h"

class CParamSettingDlg;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

struct MainWindowOptions {
    // Paths added to the port list after every enumeration (--port, the demo's
    // pseudo-terminal): such ports are never enumerated by the system.
    std::vector<std::string> extraPortPaths;
    // Selected after every enumeration when it is in the list.
    std::string selectPortPath;
    // Appended to the window title (demo mode).
    std::string titleSuffix;
};

class CTAVO_Palo520G_ToolDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kDesignWidth = 860;
    static constexpr int kDesignHeight = 440;
    // How often a connection is checked for a hang-up while nothing else reads it.
    static constexpr int kLinkWatchPeriodMs = 500;

    explicit CTAVO_Palo520G_ToolDlg(MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~CTAVO_Palo520G_ToolDlg() override;

    // Opens the port, shows version and serial number, reads every parameter and
    // lets the pages show them. 1 when the port opened, 0 otherwise.
    int ConnectDevice(int portNumber, int baudRate);
    // Stores the baud rate into the configuration and saves the file.
    void SaveBaudRate();

    void OnRefreshPorts();
    void OnPortSelChange();
    void OnBaudChange();
    void OnConnect();
    void OnPageButton(int id);
    // A command of the window menu; 16 shows the licence agreement.
    void OnSysCommand(int command);

    // --- State, for tests ---
    [[nodiscard]] TAVO_RadarDeviceHandle Device() const { return device_; }
    [[nodiscard]] ParamSetting& Params() { return params_; }
    [[nodiscard]] int PortNumber() const { return portNumber_; }
    [[nodiscard]] int BaudRate() const { return baudRate_; }
    [[nodiscard]] double LayoutScale() const { return layoutScale_; }
    [[nodiscard]] CParamSettingDlg* ParamPage() const { return paramPage_; }
    [[nodiscard]] QWidget* TargetPage() const { return targetPage_; }
    [[nodiscard]] QWidget* FirmwareWindow() const { return firmwareWindow_; }
    [[nodiscard]] const CWndResizeTool& ResizeTool() const { return resizeTool_; }
    [[nodiscard]] EULADlgHandle Agreement() const { return agreement_; }
    // The port number and baud rate last handed to the firmware window.
    [[nodiscard]] int FirmwarePortNumber() const { return firmwarePortNumber_; }
    [[nodiscard]] int FirmwareBaudRate() const { return firmwareBaudRate_; }

    static constexpr int kAboutCommand = 16;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void InitDialog();
    void SetNotConnected();
    void AcceptTypedPort();
    void CopyPortToFirmwareWindow();
    void WatchLink();
    [[nodiscard]] std::string OpenFailureText(int portNumber, int baudRate) const;

    MainWindowOptions options_;
    EULADlgHandle agreement_ = nullptr;
    CWndResizeTool resizeTool_;
    double layoutScale_ = 1.0;
    CParamSettingDlg* paramPage_ = nullptr;
    QWidget* targetPage_ = nullptr;      // placeholder until the target page exists
    QWidget* firmwareWindow_ = nullptr;  // placeholder until the download window exists
    int portNumber_ = 0;
    int baudRate_ = 115200;
    int firmwarePortNumber_ = 0;
    int firmwareBaudRate_ = 0;
    TAVO_RadarDeviceHandle device_ = nullptr;
    ParamSetting params_;
    FILE* logFile_ = nullptr;
    QTimer linkWatch_;

    QPushButton* paramButton_ = nullptr;     // 1187
    QPushButton* targetButton_ = nullptr;    // 1188
    QPushButton* firmwareButton_ = nullptr;  // 1189
    QComboBox* portList_ = nullptr;          // 1101
    QLineEdit* baudEdit_ = nullptr;          // 1102
    QPushButton* refreshButton_ = nullptr;   // 1100
    QPushButton* connectButton_ = nullptr;   // 1103
    QLabel* versionStatic_ = nullptr;        // 1104
    QWidget* pageArea_ = nullptr;            // 1200
};
