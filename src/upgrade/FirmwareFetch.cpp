#include "upgrade/FirmwareFetch.h"

#include <cstdio>

#include "app/StringTable.h"
#include "common/FileUtils.h"
#include "upgrade/CUnzipper.h"
#include "upgrade/FetchFolderLock.h"

std::string FirmwareFolder() { return CombinePathName(GetProgramPath(), FIRMWARE_FOLDER_NAME); }

std::string FirmwareArchivePath(const std::string& firmwareFolder) {
    return CombinePathName(firmwareFolder, FIRMWARE_ARCHIVE_NAME);
}

std::string PartitionImagePath(const std::string& versionFolder, int partition) {
    return CombinePathName(versionFolder, "APP" + std::to_string(partition) + ".bin");
}

std::vector<std::string> NewerVersions(const std::string& history, const std::string& deviceVersion) {
    std::vector<std::string> newer;
    size_t start = 0;
    while (start <= history.size()) {
        size_t end = history.find(';', start);
        if (end == std::string::npos) end = history.size();
        const std::string piece = history.substr(start, end - start);
        if (CompareVersion(piece, deviceVersion) > 0) newer.push_back(piece);
        start = end + 1;
    }
    return newer;
}


int FirmwareFetchResult::MessageId() const {
    switch (stage) {
    case Stage::Logon: return TEXT_SERVER_LOGON_FAILED;
    case Stage::VersionInfo: return TEXT_SERVER_VERSION_LIST_FAILED;
    case Stage::Download:
    case Stage::Unpack: return TEXT_SERVER_DOWNLOAD_FAILED;
    case Stage::Done: break;
    }
    return 0;
}

FirmwareFetchResult FetchFirmwareVersion(CUpgradeClient& client, const std::string& version,
                                         const std::string& firmwareFolder, INetFileCopyProgressListener* listener) {
    FirmwareFetchResult result;
    const auto fail = [&](FirmwareFetchResult::Stage stage, const std::string& reason) {
        result.stage = stage;
        result.reason = reason;
        return result;
    };
    if (!client.Logon()) return fail(FirmwareFetchResult::Stage::Logon, client.LastError());
    VersionInfo info;
    if (!client.GetVersionInfo(version, info)) return fail(FirmwareFetchResult::Stage::VersionInfo, client.LastError());
    // The catalogue only admits plain version names, so the folder stays inside
    // and never meets the folder's own files; checked again here, where it matters.
    std::string why;
    if (!CheckVersionName(info.version, &why)) return fail(FirmwareFetchResult::Stage::VersionInfo, why);
    result.versionFolder = CombinePathName(firmwareFolder, info.version);
    // Only the firmware folder is made now: the version folder appears with its
    // images, so a failed fetch leaves no empty one behind.
    if (!RecursiveCreateDirectory(firmwareFolder)) {
        return fail(FirmwareFetchResult::Stage::Download,
                    FormatStringText(TEXT_CANNOT_CREATE_FOLDER, firmwareFolder.c_str()));
    }
    FetchFolderLock lock(firmwareFolder);
    if (!lock.Held()) return fail(FirmwareFetchResult::Stage::Download, lock.Reason());
    // The lock makes every temporary in the folder a leftover of a run that ended.
    CleanUnpackLeftovers(firmwareFolder);
    const std::string archive = FirmwareArchivePath(firmwareFolder);
    if (!client.DownloadFile(info.source, archive, info.expected, listener)) {
        return fail(FirmwareFetchResult::Stage::Download, client.LastError());
    }
    UnzipResult unzip = CUnzipper::Unzip(archive, result.versionFolder, true);
    if (!unzip.ok) {
        // An archive that may not be unpacked is not kept either.
        std::remove(archive.c_str());
        return fail(FirmwareFetchResult::Stage::Unpack, FormatStringText(TEXT_ARCHIVE_NOT_UNPACKED, unzip.reason.c_str()));
    }
    result.images = std::move(unzip.files);
    return result;
}

std::string ChooseFetchedImage(const std::string& versionFolder, int partition) {
    if (partition >= 0) {
        const std::string image = PartitionImagePath(versionFolder, partition);
        if (IsFileExist(image)) return image;
    }
    const std::vector<std::string> images = GetLocalFolderFileList(versionFolder, "bin");
    return images.empty() ? std::string() : CombinePathName(versionFolder, images.front());
}
