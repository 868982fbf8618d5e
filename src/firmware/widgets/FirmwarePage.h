#pragma once
// The firmware update page: reads the sensor's firmware information, downloads a
// local image or one fetched from the update server into a partition, with a log
// box and progress display.
//
// The controls come from the skin file Skin/<ENG|CHS>/Download/Download_FW.xml
// (chosen by the UI language), loaded at run time and found by object name.
//
// Threads: every device procedure and every server exchange runs on the page's one
// worker thread while the page is disabled; the worker never touches a widget.
// Its notices reach the page as queued calls (QueuedBootloaderSink, and the same
// for fetch progress and messages), and its end re-enables the page. The worker
// works on the sensor session's line under a claim the page takes for the run;
// the page only copies the port selection. Destroying the page asks the worker to
// stop (cancelling a transfer and the wait after a reset), joins it, then ends the claim.
//
// A download that stops half-way leaves the sensor in its bootloader without an
// application. So while one runs, closing the window or leaving the page asks
// first: by default the download finishes (the window closes afterwards, or the
// page stays); interrupted anyway, the page says where that leaves the sensor.
//
// The update address is the Url of the configuration's Upgrade element, shown in
// a field of the page; a check reads the file again first, so that an address
// written into appConfig.xml while the tool runs is the one used.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <QWidget>

#include "app/widgets/IToolPage.h"
#include "firmware/Bootloader.h"
#include "session/widgets/SensorThread.h"
#include "upgrade/CUpgradeClient.h"

class QueuedBootloaderSink;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class FirmwarePage : public QWidget, public IToolPage, private IBootloaderSink {
    Q_OBJECT

public:
    // What the worker runs.
    enum WorkerMode {
        MODE_DOWNLOAD = 0,           // DownloadFW with the selected partition and the image path
        MODE_UPDATE_INFO = 1,        // UpdateFWInfo
        MODE_GET_AND_DOWNLOAD = 2,   // UpdateFWInfo, then GetFWAndDownload
        MODE_CHECK_VERSION = 3,      // CheckVersion's sensor read and server exchange
        MODE_GET_FW = 4,             // GetFW for the GetFWButton action
    };

    explicit FirmwarePage(ToolPageContext& context, QWidget* parent = nullptr);
    ~FirmwarePage() override;

    // --- IToolPage ---
    QWidget* PageWidget() override { return this; }
    [[nodiscard]] bool TakesPortOver() const override { return true; }
    void SetPortSelection(int portNumber, int baudRate) override;
    [[nodiscard]] std::string RunStatusText() override;
    // Asks while a download runs (see the top of this file).
    [[nodiscard]] LeaveAnswer ConfirmLeave(PageLeave why) override;

    // The copies last handed over by the main window.
    [[nodiscard]] int PortNumber() const { return boot_->portNumber; }
    [[nodiscard]] int BaudRate() const { return boot_->baudRate; }
    [[nodiscard]] int SelectedPartition() const { return boot_->selectedPartition; }
    [[nodiscard]] const std::string& ImagePath() const { return imagePath_; }
    [[nodiscard]] bool WorkerRunning() const { return worker_.joinable(); }
    // The worker runs a download (local, or fetch and download).
    [[nodiscard]] bool DownloadRunning() const;
    // The skin file the page was built from.
    [[nodiscard]] const std::string& SkinPath() const { return skinPath_; }

    // How long a download waits for the sensor to restart into its bootloader (a real
    // sensor's time unless set); only while no worker runs.
    void SetBootResetWaitMs(int ms) { boot_->resetWaitMs = ms; }
    // Called on the worker before each data packet of a download (see
    // CBootloader::beforePacket); only while no worker runs.
    void SetBeforePacketHook(std::function<void(uint32_t serial)> hook) { boot_->beforePacket = std::move(hook); }

    // The PathButton action after the dialog: takes the path, stores it in the
    // configuration at once and shows it.
    void SetChosenImagePath(const std::string& path);

signals:
    // The worker has ended and the page is usable again.
    void WorkerFinished(int mode, bool result);

private:
    void BuildFromSkin();
    void ConnectControls();
    void LoadImagePathFromConfig();
    void ShowImagePath();
    // Stores the image path in the configuration (and saves it) when it changed.
    void RememberImagePath();

    // The update address field: filled from the configuration (or the environment
    // variable, which then rules for the run), stored into it when edited.
    void LoadUpdateAddress();
    void CommitUpdateAddress();
    // The address a check uses now: the field's, unless appConfig.xml names
    // another one since it was last read (the field then shows that one). An
    // empty address is explained in a box, and the field gets the focus.
    [[nodiscard]] std::string UpdateAddressForCheck();
    // Starts a server action once an address is known.
    void StartServerWorker(WorkerMode mode);

    // Asks the running download to end before its next packet.
    void InterruptDownload();
    // After a download that failed: where it leaves the sensor, in the log, the
    // status bar and a box.
    void ReportDownloadEnd();
    void ShowVersion(const std::string& text);

    void SelectFilePath();
    void OnDownloadClicked();
    void OnClearEdit();
    void OnPathTextChanged(const QString& text);
    void OnPartitionSelected(int index);

    // Starts the worker in the mode unless one runs; the page is disabled until it ends.
    bool StartWorker(WorkerMode mode);
    // Worker side.
    void RunWorker(WorkerMode mode);
    bool CheckVersionOnWorker();
    bool GetFWOnWorker(std::string& versionFolder);
    // The version label's text after an information query (worker).
    std::string VersionAfterInfoOnWorker(bool infoRead);
    // UpdateFWInfo, keeping the partition the user chose when it is still offered.
    bool UpdateInfoKeepingPartition();
    bool GetFWAndDownloadOnWorker();
    // UI side, when the worker has ended.
    void OnWorkerEnded(WorkerMode mode, bool result);

    // Queued from the worker: an error box with the message and, when given, the reason.
    void PostMessageBox(int stringId, const std::string& detail);
    void PostLog(const std::string& text);

    // --- IBootloaderSink, on the page's thread (through the queued sink) ---
    void ShowMessage(int stringId, const std::string& text) override;
    void AppendLog(int stringId, const std::string& text) override;
    void SetLabel(BootLabel label, const std::string& text) override;
    void SetProgressRange(uint32_t maximum) override;
    void SetProgressValue(uint32_t value) override;
    void SetBusyVisible(bool visible) override;
    void SetPartitionList(const std::vector<PartitionItem>& items, int selected) override;
    void ScrollLogToEnd() override;

    class FetchListener;
    friend class FetchListener;

    std::string skinPath_;
    QLabel* runningMode_ = nullptr;            // RunningMode
    QLabel* deviceId_ = nullptr;               // DeviceId
    QComboBox* downLoadAppCombo_ = nullptr;    // DownLoadAppCombo
    QLabel* downloadingInfoLable_ = nullptr;   // DownloadingInfoLable
    QLabel* fileSize_ = nullptr;               // FileSize
    QLabel* fileVerifyNum_ = nullptr;          // FileVerifyNum
    QLabel* downloadProgressText_ = nullptr;   // DownloadProgressText
    QProgressBar* downloadProgress_ = nullptr; // DownloadProgress
    QPlainTextEdit* downloadInfoEdit_ = nullptr;  // DownloadInfoEdit
    QLineEdit* downloadFilePath_ = nullptr;    // DownloadFilePath
    QLabel* firmwareVersion_ = nullptr;        // FirmwareVersion
    QLineEdit* updateAddress_ = nullptr;       // UpdateAddressEdit
    QWidget* skin_ = nullptr;

    std::unique_ptr<QueuedBootloaderSink> queuedSink_;
    SensorThread& sensor_;
    std::function<void(const std::string&)> notify_;  // the window's status bar and log; may be empty
    std::function<void()> workEnded_;                 // tells a waiting close that the worker ended; may be empty
    SensorSession::LineClaim claim_;  // held while the worker runs
    std::unique_ptr<CBootloader> boot_;  // the firmware procedures, on the claimed line
    std::unique_ptr<FetchListener> fetchListener_;
    std::string imagePath_;
    std::string addressInFile_;  // the update address appConfig.xml held when last read or saved

    // Set by the page before the worker starts, read by the worker only.
    std::string workerAddress_;
    std::string selectedVersion_;
    std::string downloadPath_;  // image path and partition handed to mode 0
    int downloadPartition_ = -1;

    std::thread worker_;
    WorkerMode workerMode_ = MODE_DOWNLOAD;  // of the running worker; user-interface thread
    std::atomic<bool> stopping_{false};      // the page is going: transfers cancel
    std::atomic<bool> interrupting_{false};  // the user interrupted the download: transfers cancel
    std::string runStatus_;                  // what the status bar shows while the worker runs
};
