#include "firmware/widgets/FirmwarePage.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QUiLoader>
#include <QVBoxLayout>

#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "common/DbgOutput.h"
#include "common/FileUtils.h"
#include "controls/widgets/MessageBox.h"
#include "device/SerialPortRegistry.h"
#include "firmware/SensorVersion.h"
#include "firmware/widgets/QueuedBootloaderSink.h"
#include "upgrade/FirmwareFetch.h"

namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A text of the table as a label shows it: without its line end.
QString LabelText(const std::string& text) {
    QString label = FromUtf8(DisplayText(text));
    while (label.endsWith(QLatin1Char('\n'))) label.chop(1);
    return label;
}

// The configuration's AppConfig element (may be empty).
XMLNode AppConfigRoot() { return gAppConfigDoc.FindElement("AppConfig"); }

// The Url of the Upgrade element as the configuration holds it; empty when none.
std::string ConfiguredUpdateAddress(XMLNode appConfig) {
    const auto url = appConfig.FindChild("Upgrade").GetAttributeText("Url");
    return url ? *url : std::string();
}

// The Url of the Upgrade element as appConfig.xml holds it now; nothing when the
// file cannot be read or names none.
std::optional<std::string> UpdateAddressInFile() {
    uint8_t* data = nullptr;
    const size_t length = ReadFileData(GetAppConfigPath(), &data);
    XMLParser doc;
    const bool loaded = length > 0 && doc.LoadBuffer(data, length);
    ReleaseFileData(data);
    if (!loaded) return std::nullopt;
    std::string url = ConfiguredUpdateAddress(doc.FindElement("AppConfig"));
    if (url.empty()) return std::nullopt;
    return url;
}

bool UpdateAddressFromEnvironment() {
    const char* env = std::getenv(UPDATE_URL_ENVIRONMENT);
    return env && *env;
}

}  // namespace

// Fetch progress, called on the worker: hands percent and rate to the page.
class FirmwarePage::FetchListener : public INetFileCopyProgressListener {
public:
    explicit FetchListener(FirmwarePage& page) : page_(page) {}
    void Reset() { lastPercent_ = -1; }
    int OnProgress(void*, uint64_t done, uint64_t total, double bytesPerSecond) override {
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
        if (percent != lastPercent_) {
            lastPercent_ = percent;
            const std::string text = FormatStringText(TEXT_FETCH_PROGRESS, percent, bytesPerSecond / 1024.0);
            FirmwarePage* page = &page_;
            QMetaObject::invokeMethod(
                page,
                [page, percent, text] {
                    page->findChild<QProgressBar*>(QStringLiteral("GetVersionProgress"))->setValue(percent);
                    page->findChild<QLabel*>(QStringLiteral("GetVersionProgressText"))->setText(LabelText(text));
                    page->runStatus_ = text;
                },
                Qt::QueuedConnection);
        }
        return page_.stopping_.load() || page_.interrupting_.load() ? 0 : 1;
    }

private:
    FirmwarePage& page_;
    int lastPercent_ = -1;  // worker only
};

FirmwarePage::FirmwarePage(ToolPageContext& context, QWidget* parent)
    : QWidget(parent), sensor_(context.sensor), notify_(context.notify), workEnded_(context.workEnded) {
    setObjectName(QStringLiteral("DownloadDlg"));
    queuedSink_ = std::make_unique<QueuedBootloaderSink>(this, static_cast<IBootloaderSink&>(*this));
    boot_ = std::make_unique<CBootloader>(*queuedSink_);
    fetchListener_ = std::make_unique<FetchListener>(*this);
    BuildFromSkin();
    LoadImagePathFromConfig();
    ShowImagePath();
    LoadUpdateAddress();
    for (const char* name : {"VersionCombo", "GetFWButton", "GetFWAndDownloadButton"}) {
        findChild<QWidget*>(QLatin1String(name))->setEnabled(false);
    }
    downloadingInfoLable_->setVisible(false);
    ConnectControls();
}

FirmwarePage::~FirmwarePage() {
    stopping_.store(true);
    boot_->RequestStop();
    if (worker_.joinable()) worker_.join();
    boot_->SetLine(nullptr);
    claim_.Release();
}

void FirmwarePage::BuildFromSkin() {
    const bool chinese = GetUiLanguage() == UiLanguage::SimplifiedChinese;
    skinPath_ = FindResourcePath(std::string("Skin/") + (chinese ? "CHS" : "ENG") + "/Download/Download_FW.xml");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    QFile file(QString::fromStdString(skinPath_));
    if (!skinPath_.empty() && file.open(QFile::ReadOnly)) {
        QUiLoader loader;
        skin_ = loader.load(&file, this);
    }
    if (!skin_) {
        DbgOutputA(2, "The skin file Download/Download_FW.xml was not found or did not load\r\n");
        skin_ = new QWidget(this);
    }
    layout->addWidget(skin_);

    // A control the skin lacks is made (hidden), so the page works without it.
    const auto control = [this]<class T>(const char* name, T*) -> T* {
        if (T* found = skin_->findChild<T*>(QLatin1String(name))) return found;
        DbgOutputA(2, "The skin has no control %s\r\n", name);
        T* made = new T(skin_);
        made->setObjectName(QLatin1String(name));
        made->hide();
        return made;
    };
    runningMode_ = control("RunningMode", static_cast<QLabel*>(nullptr));
    deviceId_ = control("DeviceId", static_cast<QLabel*>(nullptr));
    downLoadAppCombo_ = control("DownLoadAppCombo", static_cast<QComboBox*>(nullptr));
    downloadingInfoLable_ = control("DownloadingInfoLable", static_cast<QLabel*>(nullptr));
    fileSize_ = control("FileSize", static_cast<QLabel*>(nullptr));
    fileVerifyNum_ = control("FileVerifyNum", static_cast<QLabel*>(nullptr));
    downloadProgressText_ = control("DownloadProgressText", static_cast<QLabel*>(nullptr));
    downloadProgress_ = control("DownloadProgress", static_cast<QProgressBar*>(nullptr));
    downloadInfoEdit_ = control("DownloadInfoEdit", static_cast<QPlainTextEdit*>(nullptr));
    downloadFilePath_ = control("DownloadFilePath", static_cast<QLineEdit*>(nullptr));
    firmwareVersion_ = control("FirmwareVersion", static_cast<QLabel*>(nullptr));
    updateAddress_ = control("UpdateAddressEdit", static_cast<QLineEdit*>(nullptr));
    control("VersionCombo", static_cast<QComboBox*>(nullptr));
    control("GetVersionProgress", static_cast<QProgressBar*>(nullptr))->setRange(0, 100);
    control("GetVersionProgressText", static_cast<QLabel*>(nullptr));
    for (const char* name : {"PathButton", "DownloadButton", "UpdateFWInfoButton", "ClearEditButton",
                             "CheckVersionButton", "GetFWButton", "GetFWAndDownloadButton"}) {
        control(name, static_cast<QPushButton*>(nullptr));
    }
    downloadInfoEdit_->setReadOnly(true);
    downloadProgress_->setValue(0);
}

void FirmwarePage::ConnectControls() {
    const auto button = [this](const char* name) { return findChild<QPushButton*>(QLatin1String(name)); };
    connect(button("UpdateFWInfoButton"), &QPushButton::clicked, this, [this] { StartWorker(MODE_UPDATE_INFO); });
    connect(button("PathButton"), &QPushButton::clicked, this, &FirmwarePage::SelectFilePath);
    connect(button("DownloadButton"), &QPushButton::clicked, this, &FirmwarePage::OnDownloadClicked);
    connect(button("ClearEditButton"), &QPushButton::clicked, this, &FirmwarePage::OnClearEdit);
    connect(button("CheckVersionButton"), &QPushButton::clicked, this, [this, button] {
        if (WorkerRunning()) return;
        auto* versions = findChild<QComboBox*>(QStringLiteral("VersionCombo"));
        versions->clear();
        versions->setEnabled(false);
        button("GetFWButton")->setEnabled(false);
        button("GetFWAndDownloadButton")->setEnabled(false);
        StartServerWorker(MODE_CHECK_VERSION);
    });
    connect(button("GetFWButton"), &QPushButton::clicked, this, [this] { StartServerWorker(MODE_GET_FW); });
    connect(button("GetFWAndDownloadButton"), &QPushButton::clicked, this,
            [this] { StartServerWorker(MODE_GET_AND_DOWNLOAD); });
    connect(downloadFilePath_, &QLineEdit::textChanged, this, &FirmwarePage::OnPathTextChanged);
    connect(downloadFilePath_, &QLineEdit::editingFinished, this, &FirmwarePage::RememberImagePath);
    connect(updateAddress_, &QLineEdit::editingFinished, this, &FirmwarePage::CommitUpdateAddress);
    connect(downLoadAppCombo_, &QComboBox::activated, this, &FirmwarePage::OnPartitionSelected);
}

// ------------------------------------------------------------------ image path

void FirmwarePage::LoadImagePathFromConfig() {
    XMLNode root = AppConfigRoot();
    // Empty until the user names an image: a folder is no image to download.
    imagePath_.clear();
    if (!root) return;
    // Added in memory when missing; written with the next save.
    const XMLNode download = root.GetOrAddChild("Download");
    if (const auto path = download.GetAttributeText("DownloadFilePath")) imagePath_ = *path;
}

void FirmwarePage::ShowImagePath() {
    const QString path = QString::fromStdString(imagePath_);
    if (downloadFilePath_->text() != path) downloadFilePath_->setText(path);
    downloadFilePath_->setToolTip(path);
}

void FirmwarePage::OnPathTextChanged(const QString& text) {
    imagePath_ = text.toStdString();
    downloadFilePath_->setToolTip(QString::fromStdString(imagePath_));
}

void FirmwarePage::SelectFilePath() {
    // The dialog opens where the last image was, else in the folder fetched images go to.
    QString start = downloadFilePath_->text();
    if (start.isEmpty()) {
        const std::string folder = FirmwareFolder();
        std::error_code error;
        start = QString::fromStdString(std::filesystem::is_directory(folder, error) ? folder : GetProgramPath());
    }
    const QString filter = FromUtf8(LoadStringText(TEXT_FW_IMAGE_FILTER)) + QStringLiteral(";;") +
                           FromUtf8(LoadStringText(TEXT_ALL_FILES_FILTER));
    const QString chosen = QFileDialog::getOpenFileName(nullptr, QString(), start, filter, nullptr, QFileDialog::ReadOnly);
    if (chosen.isEmpty()) return;
    SetChosenImagePath(chosen.toStdString());
}

void FirmwarePage::SetChosenImagePath(const std::string& path) {
    imagePath_ = path;
    ShowImagePath();
    RememberImagePath();
}

void FirmwarePage::RememberImagePath() {
    XMLNode download = AppConfigRoot().GetOrAddChild("Download");
    if (download.GetAttributeText("DownloadFilePath").value_or(std::string()) == imagePath_) return;
    download.SetAttributeText("DownloadFilePath", imagePath_);
    SaveAppConfig();
}

// ------------------------------------------------------------------ update address

void FirmwarePage::LoadUpdateAddress() {
    if (UpdateAddressFromEnvironment()) {
        // The variable rules for the whole run; the field shows what is used.
        updateAddress_->setText(FromUtf8(std::getenv(UPDATE_URL_ENVIRONMENT)));
        updateAddress_->setReadOnly(true);
        updateAddress_->setToolTip(FromUtf8(LoadStringText(TEXT_UPDATE_ADDRESS_FROM_ENVIRONMENT)));
        return;
    }
    addressInFile_ = ConfiguredUpdateAddress(AppConfigRoot());
    updateAddress_->setText(FromUtf8(addressInFile_));
}

void FirmwarePage::CommitUpdateAddress() {
    if (updateAddress_->isReadOnly()) return;
    const std::string address = updateAddress_->text().trimmed().toStdString();
    XMLNode root = AppConfigRoot();
    if (!root || ConfiguredUpdateAddress(root) == address) return;
    root.GetOrAddChild("Upgrade").SetAttributeText("Url", address);
    if (SaveAppConfig()) {
        addressInFile_ = address;
    } else if (notify_) {
        notify_(FormatStringText(TEXT_UPDATE_ADDRESS_NOT_SAVED, GetAppConfigPath().c_str()));
    }
}

std::string FirmwarePage::UpdateAddressForCheck() {
    CommitUpdateAddress();
    XMLNode root = AppConfigRoot();
    // A user may have written another address into the file while the tool runs
    // (a file that this page could not save to still holds the old one: no change).
    if (const auto inFile = UpdateAddressInFile(); inFile && root && *inFile != addressInFile_) {
        addressInFile_ = *inFile;
        root.GetOrAddChild("Upgrade").SetAttributeText("Url", *inFile);
        if (!updateAddress_->isReadOnly()) updateAddress_->setText(FromUtf8(*inFile));
        const std::string text = FormatStringText(TEXT_UPDATE_ADDRESS_FROM_FILE, GetAppConfigPath().c_str(), inFile->c_str());
        AppendLog(0, text + "\r\n");
        if (notify_) notify_(text);
    }
    const std::string address = UpdateAddressFromSettings(root);
    if (address.empty()) {
        ShowMessageBox(this, LoadStringText(TEXT_NO_UPDATE_ADDRESS), LoadStringText(TEXT_ERROR), MessageIcon::Error, true);
        updateAddress_->setFocus();
    }
    return address;
}

void FirmwarePage::StartServerWorker(WorkerMode mode) {
    if (WorkerRunning() || !sensor_.CanRun()) return;
    workerAddress_ = UpdateAddressForCheck();
    if (workerAddress_.empty()) return;
    StartWorker(mode);
}

// ------------------------------------------------------------------ actions

void FirmwarePage::SetPortSelection(int portNumber, int baudRate) {
    if (WorkerRunning()) return;  // the worker reads them
    boot_->portNumber = portNumber;
    boot_->baudRate = baudRate;
}

std::string FirmwarePage::RunStatusText() {
    if (!WorkerRunning()) return {};
    // The window's own connection is closed while this page talks to the sensor:
    // the status names the port the page uses.
    const std::string doing = runStatus_.empty() ? LoadStringText(TEXT_WAITING_FOR_SENSOR) : LabelText(runStatus_).toStdString();
    return FormatStringText(TEXT_FW_RUN_STATUS, SerialPortPathFromNumber(boot_->portNumber).c_str(), doing.c_str());
}

bool FirmwarePage::DownloadRunning() const {
    return WorkerRunning() && (workerMode_ == MODE_DOWNLOAD || workerMode_ == MODE_GET_AND_DOWNLOAD);
}

LeaveAnswer FirmwarePage::ConfirmLeave(PageLeave why) {
    if (!DownloadRunning()) return LeaveAnswer::LEAVE;
    const bool closing = why == PageLeave::CLOSE_WINDOW;
    // Already interrupted: the worker ends at the next packet; a close waits for that.
    if (interrupting_.load()) return closing ? LeaveAnswer::LEAVE_WHEN_DONE : LeaveAnswer::LEAVE;
    enum { CLOSE_WHEN_DONE, INTERRUPT_AND_CLOSE, KEEP_OPEN };
    enum { STAY, INTERRUPT_AND_LEAVE };
    QuestionRecord question;
    question.caption = LoadStringText(TEXT_FW_DOWNLOAD_RUNNING_CAPTION);
    if (closing) {
        question.text = DisplayText(LoadStringText(TEXT_FW_CLOSE_DURING_DOWNLOAD));
        question.choices = {LoadStringText(TEXT_FW_CHOICE_CLOSE_WHEN_DONE), LoadStringText(TEXT_FW_CHOICE_INTERRUPT_AND_CLOSE),
                            LoadStringText(TEXT_FW_CHOICE_KEEP_OPEN)};
        question.defaultChoice = CLOSE_WHEN_DONE;
        question.escapeChoice = KEEP_OPEN;
    } else {
        question.text = DisplayText(LoadStringText(TEXT_FW_LEAVE_DURING_DOWNLOAD));
        question.choices = {LoadStringText(TEXT_FW_CHOICE_STAY), LoadStringText(TEXT_FW_CHOICE_INTERRUPT_AND_LEAVE)};
        question.defaultChoice = STAY;
        question.escapeChoice = STAY;
    }
    const int choice = AskQuestion(this, question);
    // The download goes on while the question is open and may have ended meanwhile.
    const bool running = DownloadRunning();
    if (closing) {
        if (choice == KEEP_OPEN) return LeaveAnswer::STAY;
        if (choice == INTERRUPT_AND_CLOSE && running) InterruptDownload();
        return running ? LeaveAnswer::LEAVE_WHEN_DONE : LeaveAnswer::LEAVE;
    }
    if (choice != INTERRUPT_AND_LEAVE) return LeaveAnswer::STAY;
    if (running) InterruptDownload();
    return LeaveAnswer::LEAVE;
}

void FirmwarePage::InterruptDownload() {
    interrupting_.store(true);
    boot_->RequestStop();
}

void FirmwarePage::OnDownloadClicked() {
    if (!IsFileExist(imagePath_)) {
        ShowMessageBox(this, LoadStringText(TEXT_BIN_OPEN_FAILED), LoadStringText(TEXT_ERROR), MessageIcon::Error, true);
        return;
    }
    RememberImagePath();
    StartWorker(MODE_DOWNLOAD);
}

void FirmwarePage::OnClearEdit() {
    downloadInfoEdit_->setReadOnly(false);
    downloadInfoEdit_->selectAll();
    downloadInfoEdit_->clear();
    downloadInfoEdit_->setReadOnly(true);
}

void FirmwarePage::OnPartitionSelected(int index) {
    if (downLoadAppCombo_->count() > 0 && index >= 0 && !WorkerRunning()) {
        boot_->selectedPartition = downLoadAppCombo_->itemData(index).toInt();
    }
}

bool FirmwarePage::StartWorker(WorkerMode mode) {
    // The main connection may still be closing on the sensor thread.
    if (WorkerRunning() || !sensor_.CanRun()) return false;
    // What the worker needs from the page's thread is copied now (the address by
    // the server actions, which check it first).
    selectedVersion_ = findChild<QComboBox*>(QStringLiteral("VersionCombo"))->currentText().toStdString();
    downloadPath_ = imagePath_;
    downloadPartition_ = boot_->selectedPartition;
    runStatus_.clear();
    fetchListener_->Reset();
    boot_->ClearStop();
    interrupting_.store(false);
    workerMode_ = mode;
    // The worker has the line to itself until it ends.
    claim_ = sensor_.Session().ClaimLine();
    boot_->SetLine(&claim_.Line());
    skin_->setEnabled(false);
    worker_ = std::thread([this, mode] { RunWorker(mode); });
    return true;
}

void FirmwarePage::RunWorker(WorkerMode mode) {
    bool result = false;
    std::string versionFolder;
    std::string version;
    switch (mode) {
    case MODE_DOWNLOAD: result = boot_->DownloadFW(downloadPartition_, downloadPath_); break;
    case MODE_UPDATE_INFO:
        result = boot_->UpdateFWInfo();
        version = VersionAfterInfoOnWorker(result);
        break;
    case MODE_GET_AND_DOWNLOAD: result = UpdateInfoKeepingPartition() && GetFWAndDownloadOnWorker(); break;
    case MODE_CHECK_VERSION: result = CheckVersionOnWorker(); break;
    case MODE_GET_FW: result = GetFWOnWorker(versionFolder); break;
    }
    QMetaObject::invokeMethod(
        this,
        [this, mode, result, versionFolder, version] {
            if (!version.empty()) ShowVersion(version);
            OnWorkerEnded(mode, result);
            if (mode == MODE_GET_FW && result) {
                // The GetFWButton action: the partition's image, or the folder's first.
                imagePath_ = ChooseFetchedImage(versionFolder, boot_->selectedPartition);
                ShowImagePath();
                RememberImagePath();
            }
            emit WorkerFinished(mode, result);
            // A close that waited for the download goes ahead now (after any box above).
            if (workEnded_) workEnded_();
        },
        Qt::QueuedConnection);
}

std::string FirmwarePage::VersionAfterInfoOnWorker(bool infoRead) {
    if (!infoRead) return LoadStringText(TEXT_FW_VERSION_UNKNOWN);
    if (boot_->inBootloader) return LoadStringText(TEXT_FW_VERSION_BOOTLOADER);
    // The bootloader's query does not give the application's version: ask it as the
    // main window does.
    const std::string version = ReadSensorFirmwareVersion(*boot_->Line(), boot_->portNumber, boot_->baudRate);
    return version.empty() ? LoadStringText(TEXT_FW_VERSION_UNKNOWN) : FormatStringText(TEXT_FW_VERSION, version.c_str());
}

void FirmwarePage::ShowVersion(const std::string& text) {
    firmwareVersion_->setText(LabelText(text));
}

void FirmwarePage::OnWorkerEnded(WorkerMode mode, bool result) {
    if (worker_.joinable()) worker_.join();
    boot_->SetLine(nullptr);
    claim_.Release();
    runStatus_.clear();
    skin_->setEnabled(true);
    if (mode == MODE_DOWNLOAD || mode == MODE_GET_AND_DOWNLOAD) {
        // The application the sensor runs now is the new one, if it starts at all.
        if (result) ShowVersion(LoadStringText(TEXT_FW_VERSION_UNKNOWN));
        else ReportDownloadEnd();
    }
    interrupting_.store(false);
}

void FirmwarePage::ReportDownloadEnd() {
    int textId = 0;
    if (boot_->LeftInBootloader()) {
        textId = boot_->WasInterrupted() || interrupting_.load() ? TEXT_FW_INTERRUPTED_IN_BOOTLOADER : TEXT_FW_FAILED_IN_BOOTLOADER;
        ShowVersion(LoadStringText(TEXT_FW_VERSION_BOOTLOADER));
    } else if (interrupting_.load()) {
        textId = TEXT_FW_STOPPED_UNCHANGED;
    } else {
        return;  // failed before the sensor was touched: the failure has been shown
    }
    const std::string text = LoadStringText(textId);
    AppendLog(textId, text + "\r\n");
    ScrollLogToEnd();
    if (notify_) notify_(text);
    ShowMessageBox(this, text, LoadStringText(textId == TEXT_FW_STOPPED_UNCHANGED ? TEXT_NOTE : TEXT_ERROR),
                   textId == TEXT_FW_STOPPED_UNCHANGED ? MessageIcon::Information : MessageIcon::Error, true);
}

// ------------------------------------------------------------------ server (worker)

bool FirmwarePage::CheckVersionOnWorker() {
    const std::string shown = ReadSensorFirmwareVersion(*boot_->Line(), boot_->portNumber, boot_->baudRate);
    QMetaObject::invokeMethod(
        this,
        [this, shown] {
            ShowVersion(shown.empty() ? LoadStringText(TEXT_FW_VERSION_UNKNOWN) : FormatStringText(TEXT_FW_VERSION, shown.c_str()));
        },
        Qt::QueuedConnection);
    std::string deviceVersion = shown;
    deviceVersion.erase(std::remove(deviceVersion.begin(), deviceVersion.end(), 'v'), deviceVersion.end());
    CUpgradeClient client(workerAddress_);
    PostLog(FormatStringText(TEXT_CHECKING_SERVER, client.Address().c_str()));
    if (!client.Logon()) {
        PostMessageBox(TEXT_SERVER_LOGON_FAILED, client.LastError());
        return false;
    }
    std::string history;
    if (!client.GetHistoryVersion(history)) {
        PostMessageBox(TEXT_SERVER_VERSION_LIST_FAILED, client.LastError());
        return false;
    }
    const std::vector<std::string> newer = NewerVersions(history, deviceVersion);
    std::string names;
    for (const std::string& name : newer) names += (names.empty() ? "" : ", ") + name;
    const std::string sensor = deviceVersion.empty() ? LoadStringText(TEXT_UNKNOWN) : deviceVersion;
    PostLog(newer.empty() ? FormatStringText(TEXT_NO_NEWER_VERSION, sensor.c_str())
                          : FormatStringText(TEXT_NEWER_VERSIONS, names.c_str()));
    QMetaObject::invokeMethod(
        this,
        [this, newer] {
            auto* versions = findChild<QComboBox*>(QStringLiteral("VersionCombo"));
            versions->clear();
            for (const std::string& name : newer) versions->addItem(FromUtf8(name));
            const bool any = versions->count() > 0;
            if (any) versions->setCurrentIndex(0);
            versions->setEnabled(any);
            findChild<QPushButton*>(QStringLiteral("GetFWButton"))->setEnabled(any);
            findChild<QPushButton*>(QStringLiteral("GetFWAndDownloadButton"))->setEnabled(any);
        },
        Qt::QueuedConnection);
    return !newer.empty();
}

bool FirmwarePage::GetFWOnWorker(std::string& versionFolder) {
    if (selectedVersion_.empty()) return false;
    QMetaObject::invokeMethod(
        this,
        [this] {
            auto* bar = findChild<QProgressBar*>(QStringLiteral("GetVersionProgress"));
            bar->setRange(0, 100);
            bar->setValue(0);
        },
        Qt::QueuedConnection);
    PostLog(FormatStringText(TEXT_FETCHING, selectedVersion_.c_str()));
    CUpgradeClient client(workerAddress_);
    const FirmwareFetchResult fetched =
        FetchFirmwareVersion(client, selectedVersion_, FirmwareFolder(), fetchListener_.get());
    if (!fetched.Ok()) {
        // An interrupted fetch is reported as the interruption, not as a failure.
        if (!interrupting_.load()) PostMessageBox(fetched.MessageId(), fetched.reason);
        return false;
    }
    versionFolder = fetched.versionFolder;
    PostLog(FormatStringText(TEXT_FETCHED, selectedVersion_.c_str(), versionFolder.c_str()));
    return true;
}

bool FirmwarePage::UpdateInfoKeepingPartition() {
    const int chosen = boot_->selectedPartition;
    if (!boot_->UpdateFWInfo()) return false;
    // The query selects the first partition; the download goes where the user chose
    // when the sensor still offers that partition.
    if (chosen >= 0 && chosen < 32 && ((boot_->partitionMask >> chosen) & 1u) && chosen != boot_->selectedPartition) {
        boot_->selectedPartition = chosen;
        QMetaObject::invokeMethod(
            this,
            [this, chosen] {
                const QSignalBlocker blocker(downLoadAppCombo_);
                downLoadAppCombo_->setCurrentIndex(downLoadAppCombo_->findData(chosen));
            },
            Qt::QueuedConnection);
    }
    return true;
}

bool FirmwarePage::GetFWAndDownloadOnWorker() {
    std::string versionFolder;
    if (!GetFWOnWorker(versionFolder)) return false;
    const int partition = boot_->selectedPartition;
    const std::string image = partition >= 0 ? PartitionImagePath(versionFolder, partition) : std::string();
    if (image.empty() || !IsFileExist(image)) {
        PostMessageBox(TEXT_BIN_FILE_ERROR, {});
        return false;
    }
    return boot_->DownloadFW(partition, image);
}

void FirmwarePage::PostMessageBox(int stringId, const std::string& detail) {
    std::string text = LoadStringText(stringId);
    if (!detail.empty()) text += "\n" + FormatStringText(TEXT_REASON, detail.c_str());
    PostLog(text + "\r\n");
    QMetaObject::invokeMethod(
        this, [this, text] { ShowMessageBox(this, text, LoadStringText(TEXT_ERROR), MessageIcon::Error, true); },
        Qt::QueuedConnection);
}

void FirmwarePage::PostLog(const std::string& text) {
    QMetaObject::invokeMethod(this, [this, text] { AppendLog(0, text); }, Qt::QueuedConnection);
}

// ------------------------------------------------------------------ bootloader notices

void FirmwarePage::ShowMessage(int /*stringId*/, const std::string& text) {
    // Every box of the procedures reports a failure (no port, no image, no partition).
    ShowMessageBox(this, DisplayText(text), LoadStringText(TEXT_ERROR), MessageIcon::Error, true);
}

void FirmwarePage::AppendLog(int /*stringId*/, const std::string& text) {
    downloadInfoEdit_->moveCursor(QTextCursor::End);
    downloadInfoEdit_->insertPlainText(FromUtf8(DisplayText(text)));
    downloadInfoEdit_->moveCursor(QTextCursor::End);
    if (WorkerRunning()) runStatus_ = text;
}

void FirmwarePage::SetLabel(BootLabel label, const std::string& text) {
    QLabel* target = nullptr;
    switch (label) {
    case BootLabel::RunningMode: target = runningMode_; break;
    case BootLabel::DeviceId: target = deviceId_; break;
    case BootLabel::FileSize: target = fileSize_; break;
    case BootLabel::FileVerifyNum: target = fileVerifyNum_; break;
    case BootLabel::DownloadProgressText:
        target = downloadProgressText_;
        runStatus_ = text;
        break;
    }
    target->setText(LabelText(text));
}

void FirmwarePage::SetProgressRange(uint32_t maximum) {
    downloadProgress_->setRange(0, static_cast<int>(std::min<uint32_t>(maximum, INT32_MAX)));
}

void FirmwarePage::SetProgressValue(uint32_t value) {
    downloadProgress_->setValue(static_cast<int>(std::min<uint32_t>(value, INT32_MAX)));
}

void FirmwarePage::SetBusyVisible(bool visible) { downloadingInfoLable_->setVisible(visible); }

void FirmwarePage::SetPartitionList(const std::vector<PartitionItem>& items, int selected) {
    // Filled without reporting a selection: the procedure chose it already.
    const QSignalBlocker blocker(downLoadAppCombo_);
    downLoadAppCombo_->clear();
    for (const PartitionItem& item : items) downLoadAppCombo_->addItem(FromUtf8(item.text), item.tag);
    downLoadAppCombo_->setCurrentIndex(selected);
}

void FirmwarePage::ScrollLogToEnd() {
    downloadInfoEdit_->verticalScrollBar()->setValue(downloadInfoEdit_->verticalScrollBar()->maximum());
}
