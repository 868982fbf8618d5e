#include "firmware/widgets/CDownloadDlg.h"

#include <algorithm>
#include <climits>

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
#include "firmware/SensorVersion.h"
#include "firmware/widgets/QueuedBootloaderSink.h"
#include "upgrade/FirmwareFetch.h"

namespace {

constexpr int IMAGE_PATH_MAX_CHARS = 259;

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A text of the table as a label shows it: without its line end.
QString LabelText(const std::string& text) {
    QString label = FromUtf8(DisplayText(text));
    while (label.endsWith(QLatin1Char('\n'))) label.chop(1);
    return label;
}

std::string CutPath(const std::string& path) {
    return QString::fromStdString(path).left(IMAGE_PATH_MAX_CHARS).toStdString();
}

// The configuration's AppConfig element (may be empty).
XMLNode AppConfigRoot() { return gAppConfigDoc.FindElement("AppConfig"); }

}  // namespace

// Fetch progress, called on the worker: hands percent and rate to the page.
class CDownloadDlg::FetchListener : public INetFileCopyProgressListener {
public:
    explicit FetchListener(CDownloadDlg& page) : page_(page) {}
    void Reset() { lastPercent_ = -1; }
    int OnProgress(void*, uint64_t done, uint64_t total, double bytesPerSecond) override {
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
        if (percent != lastPercent_) {
            lastPercent_ = percent;
            const std::string text = FormatStringText(TEXT_FETCH_PROGRESS, percent, bytesPerSecond / 1024.0);
            CDownloadDlg* page = &page_;
            QMetaObject::invokeMethod(
                page,
                [page, percent, text] {
                    page->findChild<QProgressBar*>(QStringLiteral("GetVersionProgress"))->setValue(percent);
                    page->findChild<QLabel*>(QStringLiteral("GetVersionProgressText"))->setText(LabelText(text));
                    page->runStatus_ = text;
                },
                Qt::QueuedConnection);
        }
        return page_.stopping_.load() ? 0 : 1;
    }

private:
    CDownloadDlg& page_;
    int lastPercent_ = -1;  // worker only
};

CDownloadDlg::CDownloadDlg(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("DownloadDlg"));
    queuedSink_ = std::make_unique<CQueuedBootloaderSink>(this, static_cast<IBootloaderSink&>(*this));
    boot_ = std::make_unique<CBootloader>(*queuedSink_);
    fetchListener_ = std::make_unique<FetchListener>(*this);
    BuildFromSkin();
    LoadImagePathFromConfig();
    ShowImagePath();
    for (const char* name : {"VersionCombo", "GetFWButton", "GetFWAndDownloadButton"}) {
        findChild<QWidget*>(QLatin1String(name))->setEnabled(false);
    }
    downloadingInfoLable_->setVisible(false);
    ConnectControls();
}

CDownloadDlg::~CDownloadDlg() {
    stopping_.store(true);
    boot_->RequestStop();
    if (worker_.joinable()) worker_.join();
}

void CDownloadDlg::BuildFromSkin() {
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

void CDownloadDlg::ConnectControls() {
    const auto button = [this](const char* name) { return findChild<QPushButton*>(QLatin1String(name)); };
    connect(button("UpdateFWInfoButton"), &QPushButton::clicked, this, [this] { StartWorker(MODE_UPDATE_INFO); });
    connect(button("PathButton"), &QPushButton::clicked, this, &CDownloadDlg::SelectFilePath);
    connect(button("DownloadButton"), &QPushButton::clicked, this, &CDownloadDlg::OnDownloadClicked);
    connect(button("ClearEditButton"), &QPushButton::clicked, this, &CDownloadDlg::OnClearEdit);
    connect(button("CheckVersionButton"), &QPushButton::clicked, this, [this, button] {
        auto* versions = findChild<QComboBox*>(QStringLiteral("VersionCombo"));
        versions->clear();
        versions->setEnabled(false);
        button("GetFWButton")->setEnabled(false);
        button("GetFWAndDownloadButton")->setEnabled(false);
        StartWorker(MODE_CHECK_VERSION);
    });
    connect(button("GetFWButton"), &QPushButton::clicked, this, [this] { StartWorker(MODE_GET_FW); });
    connect(button("GetFWAndDownloadButton"), &QPushButton::clicked, this,
            [this] { StartWorker(MODE_GET_AND_DOWNLOAD); });
    connect(downloadFilePath_, &QLineEdit::textChanged, this, &CDownloadDlg::OnPathTextChanged);
    connect(downLoadAppCombo_, &QComboBox::activated, this, &CDownloadDlg::OnPartitionSelected);
}

// ------------------------------------------------------------------ image path

void CDownloadDlg::LoadImagePathFromConfig() {
    XMLNode root = AppConfigRoot();
    imagePath_ = GetProgramPath();
    if (!root) return;
    // Added in memory when missing; written with the next save.
    const XMLNode download = root.GetOrAddChild("Download");
    if (const auto path = download.GetAttributeText("DownloadFilePath")) imagePath_ = CutPath(*path);
}

void CDownloadDlg::ShowImagePath() {
    const QString path = QString::fromStdString(imagePath_);
    if (downloadFilePath_->text() != path) downloadFilePath_->setText(path);
    downloadFilePath_->setToolTip(path);
}

void CDownloadDlg::OnPathTextChanged(const QString& text) {
    imagePath_ = text.left(IMAGE_PATH_MAX_CHARS).toStdString();
    downloadFilePath_->setToolTip(QString::fromStdString(imagePath_));
}

void CDownloadDlg::SelectFilePath() {
    const QString chosen = QFileDialog::getOpenFileName(nullptr, QString(), downloadFilePath_->text(),
                                                        QStringLiteral("Download Files (*.bin);;All Files (*)"),
                                                        nullptr, QFileDialog::ReadOnly);
    if (chosen.isEmpty()) return;
    SetChosenImagePath(chosen.toStdString());
}

void CDownloadDlg::SetChosenImagePath(const std::string& path) {
    imagePath_ = CutPath(path);
    XMLNode root = AppConfigRoot();
    root.GetOrAddChild("Download").SetAttributeText("DownloadFilePath", imagePath_);
    SaveAppConfig();
    ShowImagePath();
}

// ------------------------------------------------------------------ actions

void CDownloadDlg::SetPortSelection(int portNumber, int baudRate) {
    if (WorkerRunning()) return;  // the worker reads them
    boot_->portNumber = portNumber;
    boot_->baudRate = baudRate;
}

std::string CDownloadDlg::RunStatusText() { return WorkerRunning() ? LabelText(runStatus_).toStdString() : std::string(); }

void CDownloadDlg::OnDownloadClicked() {
    if (!IsFileExist(imagePath_)) {
        ShowMessageBox(this, LoadStringText(TEXT_BIN_OPEN_FAILED), LoadStringText(TEXT_NOTE), MessageIcon::Error, true);
        return;
    }
    StartWorker(MODE_DOWNLOAD);
}

void CDownloadDlg::OnClearEdit() {
    downloadInfoEdit_->setReadOnly(false);
    downloadInfoEdit_->selectAll();
    downloadInfoEdit_->clear();
    downloadInfoEdit_->setReadOnly(true);
}

void CDownloadDlg::OnPartitionSelected(int index) {
    if (downLoadAppCombo_->count() > 0 && index >= 0 && !WorkerRunning()) {
        boot_->selectedPartition = downLoadAppCombo_->itemData(index).toInt();
    }
}

bool CDownloadDlg::StartWorker(WorkerMode mode) {
    if (WorkerRunning()) return false;
    // What the worker needs from the page's thread is copied now.
    updateAddress_ = UpdateAddressFromSettings(AppConfigRoot());
    selectedVersion_ = findChild<QComboBox*>(QStringLiteral("VersionCombo"))->currentText().toStdString();
    downloadPath_ = imagePath_;
    downloadPartition_ = boot_->selectedPartition;
    runStatus_.clear();
    fetchListener_->Reset();
    boot_->ClearStop();
    skin_->setEnabled(false);
    worker_ = std::thread([this, mode] { RunWorker(mode); });
    return true;
}

void CDownloadDlg::RunWorker(WorkerMode mode) {
    bool result = false;
    std::string versionFolder;
    switch (mode) {
    case MODE_DOWNLOAD: result = boot_->DownloadFW(downloadPartition_, downloadPath_); break;
    case MODE_UPDATE_INFO: result = boot_->UpdateFWInfo(); break;
    case MODE_GET_AND_DOWNLOAD: result = UpdateInfoKeepingPartition() && GetFWAndDownloadOnWorker(); break;
    case MODE_CHECK_VERSION: result = CheckVersionOnWorker(); break;
    case MODE_GET_FW: result = GetFWOnWorker(versionFolder, TEXT_ERROR); break;
    }
    QMetaObject::invokeMethod(
        this,
        [this, mode, result, versionFolder] {
            OnWorkerEnded(mode, result);
            if (mode == MODE_GET_FW && result) {
                // The GetFWButton action: the partition's image, or the folder's first.
                imagePath_ = CutPath(ChooseFetchedImage(versionFolder, boot_->selectedPartition));
                ShowImagePath();
            }
            emit WorkerFinished(mode, result);
        },
        Qt::QueuedConnection);
}

void CDownloadDlg::OnWorkerEnded(WorkerMode /*mode*/, bool /*result*/) {
    if (worker_.joinable()) worker_.join();
    runStatus_.clear();
    skin_->setEnabled(true);
}

// ------------------------------------------------------------------ server (worker)

bool CDownloadDlg::CheckVersionOnWorker() {
    const std::string deviceVersion = ReadSensorVersionForUpdate(boot_->Device(), boot_->portNumber, boot_->baudRate);
    CUpgradeClient client(updateAddress_);
    PostLog(FormatStringText(TEXT_CHECKING_SERVER, client.Address().c_str()));
    if (!client.Logon()) {
        PostMessageBox(TEXT_SERVER_LOGON_FAILED, TEXT_NOTE,
                       client.Address().empty() ? std::string() : client.LastError());
        return false;
    }
    std::string history;
    if (!client.GetHistoryVersion(history)) {
        PostMessageBox(TEXT_SERVER_VERSION_LIST_FAILED, TEXT_NOTE, client.LastError());
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

bool CDownloadDlg::GetFWOnWorker(std::string& versionFolder, int captionId) {
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
    CUpgradeClient client(updateAddress_);
    const FirmwareFetchResult fetched =
        FetchFirmwareVersion(client, selectedVersion_, FirmwareFolder(), fetchListener_.get());
    if (!fetched.Ok()) {
        const bool noAddress = fetched.stage == FirmwareFetchResult::Stage::Logon && client.Address().empty();
        PostMessageBox(fetched.MessageId(), captionId, noAddress ? std::string() : fetched.reason);
        return false;
    }
    versionFolder = fetched.versionFolder;
    PostLog(FormatStringText(TEXT_FETCHED, selectedVersion_.c_str(), versionFolder.c_str()));
    return true;
}

bool CDownloadDlg::UpdateInfoKeepingPartition() {
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

bool CDownloadDlg::GetFWAndDownloadOnWorker() {
    std::string versionFolder;
    if (!GetFWOnWorker(versionFolder, TEXT_ERROR)) return false;
    const int partition = boot_->selectedPartition;
    const std::string image = partition >= 0 ? PartitionImagePath(versionFolder, partition) : std::string();
    if (image.empty() || !IsFileExist(image)) {
        PostMessageBox(TEXT_BIN_FILE_ERROR, TEXT_NOTE, {});
        return false;
    }
    return boot_->DownloadFW(partition, image);
}

void CDownloadDlg::PostMessageBox(int stringId, int captionId, const std::string& detail) {
    std::string text = LoadStringText(stringId);
    if (stringId == TEXT_SERVER_LOGON_FAILED && detail.empty()) {
        text += "\n" + LoadStringText(TEXT_NO_UPDATE_ADDRESS);
    } else if (!detail.empty()) {
        text += "\n" + FormatStringText(TEXT_REASON, detail.c_str());
    }
    PostLog(text + "\r\n");
    QMetaObject::invokeMethod(
        this,
        [this, text, captionId] {
            ShowMessageBox(this, text, LoadStringText(captionId), MessageIcon::Information, true);
        },
        Qt::QueuedConnection);
}

void CDownloadDlg::PostLog(const std::string& text) {
    QMetaObject::invokeMethod(this, [this, text] { AppendLog(0, text); }, Qt::QueuedConnection);
}

// ------------------------------------------------------------------ bootloader notices

void CDownloadDlg::ShowMessage(int /*stringId*/, const std::string& text) {
    ShowMessageBox(this, text, LoadStringText(TEXT_NOTE), MessageIcon::Information, true);
}

void CDownloadDlg::AppendLog(int /*stringId*/, const std::string& text) {
    downloadInfoEdit_->moveCursor(QTextCursor::End);
    downloadInfoEdit_->insertPlainText(FromUtf8(DisplayText(text)));
    downloadInfoEdit_->moveCursor(QTextCursor::End);
    if (WorkerRunning()) runStatus_ = text;
}

void CDownloadDlg::SetLabel(BootLabel label, const std::string& text) {
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

void CDownloadDlg::SetProgressRange(uint32_t maximum) {
    downloadProgress_->setRange(0, static_cast<int>(std::min<uint32_t>(maximum, INT32_MAX)));
}

void CDownloadDlg::SetProgressValue(uint32_t value) {
    downloadProgress_->setValue(static_cast<int>(std::min<uint32_t>(value, INT32_MAX)));
}

void CDownloadDlg::SetBusyVisible(bool visible) { downloadingInfoLable_->setVisible(visible); }

void CDownloadDlg::SetPartitionList(const std::vector<PartitionItem>& items, int selected) {
    // Filled without reporting a selection: the procedure chose it already.
    const QSignalBlocker blocker(downLoadAppCombo_);
    downLoadAppCombo_->clear();
    for (const PartitionItem& item : items) downLoadAppCombo_->addItem(FromUtf8(item.text), item.tag);
    downLoadAppCombo_->setCurrentIndex(selected);
}

void CDownloadDlg::ScrollLogToEnd() {
    downloadInfoEdit_->verticalScrollBar()->setValue(downloadInfoEdit_->verticalScrollBar()->maximum());
}
