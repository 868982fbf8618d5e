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

#include <atomic>
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

    explicit FirmwarePage(SensorThread& sensor, QWidget* parent = nullptr);
    ~FirmwarePage() override;

    // --- IToolPage ---
    QWidget* PageWidget() override { return this; }
    [[nodiscard]] bool TakesPortOver() const override { return true; }
    void SetPortSelection(int portNumber, int baudRate) override;
    [[nodiscard]] std::string RunStatusText() override;

    // The copies last handed over by the main window.
    [[nodiscard]] int PortNumber() const { return boot_->portNumber; }
    [[nodiscard]] int BaudRate() const { return boot_->baudRate; }
    [[nodiscard]] int SelectedPartition() const { return boot_->selectedPartition; }
    [[nodiscard]] const std::string& ImagePath() const { return imagePath_; }
    [[nodiscard]] bool WorkerRunning() const { return worker_.joinable(); }
    // The skin file the page was built from.
    [[nodiscard]] const std::string& SkinPath() const { return skinPath_; }

    // How long a download waits for the sensor to restart into its bootloader (a real
    // sensor's time unless set); only while no worker runs.
    void SetBootResetWaitMs(int ms) { boot_->resetWaitMs = ms; }

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
    bool GetFWOnWorker(std::string& versionFolder, int captionId);
    // UpdateFWInfo, keeping the partition the user chose when it is still offered.
    bool UpdateInfoKeepingPartition();
    bool GetFWAndDownloadOnWorker();
    // UI side, when the worker has ended.
    void OnWorkerEnded(WorkerMode mode, bool result);

    // Queued from the worker.
    void PostMessageBox(int stringId, int captionId, const std::string& detail);
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
    QWidget* skin_ = nullptr;

    std::unique_ptr<QueuedBootloaderSink> queuedSink_;
    SensorThread& sensor_;
    SensorSession::LineClaim claim_;  // held while the worker runs
    std::unique_ptr<CBootloader> boot_;  // the firmware procedures, on the claimed line
    std::unique_ptr<FetchListener> fetchListener_;
    std::string imagePath_;

    // Set by the page before the worker starts, read by the worker only.
    std::string updateAddress_;
    std::string selectedVersion_;
    std::string downloadPath_;  // image path and partition handed to mode 0
    int downloadPartition_ = -1;

    std::thread worker_;
    std::atomic<bool> stopping_{false};  // the page is going: transfers cancel
    std::string runStatus_;              // what the status bar shows while the worker runs
};
