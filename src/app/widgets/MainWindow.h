#pragma once
// The main window: page buttons and the connection panel on the left, one of
// three pages on the right. It owns the sensor session with the thread that talks
// to the sensor, the parameter record and the run's log file, and lends the
// session's thread and the record to its pages.
//
// Controls carry their numeric ids as object names ("1103", ...).

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <QDialog>
#include <QTimer>

#include "app/widgets/LayoutScaler.h"
#include "app/widgets/LicenceDialog.h"
#include "app/widgets/ToolPages.h"
#include "params/ParamSetting.h"
#include "session/SensorSession.h"
#include "session/widgets/SensorThread.h"

class ConnectionPanel;
class ParameterPage;
class QLabel;
class QPushButton;
class QStatusBar;

struct MainWindowOptions {
    // Paths added to the port list after every enumeration (--port, the demo's
    // pseudo-terminal): such ports are never enumerated by the system.
    std::vector<std::string> extraPortPaths;
    // Selected after every enumeration when it is in the list.
    std::string selectPortPath;
    // Appended to the window title (demo mode).
    std::string titleSuffix;
    // The pages, in button order; empty = ToolPageSpecs().
    std::vector<ToolPageSpec> pages;
    // How often a connection is checked for a hang-up while nothing else reads it.
    int linkWatchPeriodMs = 500;
};

class MainWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr int DESIGN_WIDTH = 860;
    static constexpr int DESIGN_HEIGHT = 464;
    static constexpr int STATUS_BAR_HEIGHT = 24;  // at the bottom of the design size
    // The smallest layout scale the window can be shrunk to: below it the scaled
    // fonts stop being readable.
    static constexpr double MINIMUM_LAYOUT_SCALE = 0.75;

    explicit MainWindow(MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Opens the port, reads version, serial number and every parameter on the
    // sensor thread, then shows them and lets the pages show them; a port that
    // does not open gets a message box saying why.
    void ConnectDevice(int portNumber, int baudRate);
    // Stores the baud rate into the configuration and saves the file.
    void SaveBaudRate();

    void OnConnect();
    // A notice in the status bar, also written to the log.
    void ShowNotice(const std::string& text);
    void OnPageButton(int id);
    // Shows the page registered under this name ("params", ...); false for a name
    // no page has.
    bool ShowPageNamed(const std::string& name);
    // Shows this page.
    void ShowPage(const IToolPage* page);
    // The About item: versions and the licence agreement.
    void ShowAbout();

    // --- State, for tests ---
    [[nodiscard]] SensorSession& Session() { return session_; }
    [[nodiscard]] SensorThread& Sensor() { return sensorThread_; }
    // True while no exchange with the sensor is queued or running.
    [[nodiscard]] bool SensorIdle() const { return !sensorThread_.IsBusy(); }
    [[nodiscard]] ParamSetting& Params() { return params_; }
    [[nodiscard]] int PortNumber() const;
    [[nodiscard]] int BaudRate() const;
    [[nodiscard]] double LayoutScale() const { return layoutScale_; }
    // The page of a page button (1187, 1188, 1189); null for another id.
    [[nodiscard]] IToolPage* Page(int buttonId) const;
    // The first page of that class; null when there is none.
    template <class PageType>
    [[nodiscard]] PageType* FindPage() const
    {
        for (const PageSlot& slot : pages_) {
            if (auto* page = dynamic_cast<PageType*>(slot.page.get()))
                return page;
        }
        return nullptr;
    }
    [[nodiscard]] const LayoutScaler& ResizeTool() const { return resizeTool_; }
    [[nodiscard]] LicenceDialog* Licence() const { return licence_; }
    [[nodiscard]] QString NoticeText() const;
    [[nodiscard]] QString ConnectionStatusText() const;
    [[nodiscard]] QString RunStatusText() const;
    // Asks the shown page what its run is doing (the status bar does so every second).
    void UpdateRunStatus();
    // What the About item shows beside the licence: versions, build date and the
    // connected sensor.
    [[nodiscard]] std::string AboutText() const;
    // True while a lost line is watched for its return, to connect again by itself.
    [[nodiscard]] bool Reconnecting() const { return reconnecting_; }
    // The settings the window's context menu switches: reconnect after a replug (on
    // unless switched off), and the wire trace into a file (empty = off).
    void SetAutoReconnect(bool on);
    [[nodiscard]] bool AutoReconnect() const;
    bool SetWireTraceFile(const std::string& path);


protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Asks every page first (unwritten values, a download in progress).
    void closeEvent(QCloseEvent* event) override;

private:
    struct PageSlot {
        int buttonId;
        QPushButton* button;
        std::unique_ptr<IToolPage> page;
    };

    void BuildControls();
    void InitDialog();
    void CloseConnection();
    void SetNotConnected();
    void HandPortSelection(int portNumber, int baudRate);
    void WatchLink();
    // While reconnecting: connects again once the lost port is back.
    void WatchForReturn();
    void ChooseWireTraceFile();
    void ShowConnectionStatus();
    void ShowSensorBusy(bool busy);
    void OnPageWorkEnded();
    void FinishConnect(int portNumber, const SensorResult& opened, const ParamSetting& record);
    // Connect found the sensor in its bootloader: says so and offers the firmware page.
    void OfferFirmwarePage(int portNumber);
    [[nodiscard]] bool LineInUse() const;
    [[nodiscard]] bool CurrentPageTakesPortOver() const;

    MainWindowOptions options_;
    QString title_;  // without the "*" of unwritten parameter changes
    LicenceDialog* licence_ = nullptr;
    LayoutScaler resizeTool_;
    double layoutScale_ = 1.0;
    SensorSession session_;
    SensorThread sensorThread_{session_};  // joined before the session goes
    // Copies of the session's identity for the user-interface thread.
    std::string sensorVersion_;
    std::string sensorSerialNumber_;
    // The port of the open connection: the panel's selection may change meanwhile
    // (a Refresh, another entry chosen).
    int connectedPort_ = 0;
    ParamSetting params_;
    FILE* logFile_ = nullptr;
    QTimer linkWatch_;
    QTimer returnWatch_;        // runs while reconnecting_
    bool reconnecting_ = false;  // the line was lost and the same port is watched for
    std::vector<PageSlot> pages_;  // in button order; destroyed first to last

    ConnectionPanel* panel_ = nullptr;
    QWidget* pageArea_ = nullptr;  // 1200
    QStatusBar* statusBar_ = nullptr;
    QLabel* notice_ = nullptr;  // the last notice, on the status bar's left
    QString noticeBeforeWait_;  // shown again when a wait for the sensor ends without a word
    QLabel* connectionStatus_ = nullptr;
    QLabel* runStatus_ = nullptr;
    QTimer runStatusTimer_;
    bool closePending_ = false;  // a close waits for a page's work to end
};
