#pragma once
// Fetching one firmware version into the firmware folder, shared by the firmware
// page and the command-line tool:
//
//   <data folder>/FW_Image/download.zip        the last archive fetched (verified)
//   <data folder>/FW_Image/<version>/APP0.bin  the images of a version
//
// Every fetch downloads to the same archive path and replaces the version
// folder's images as a whole. A failed fetch leaves no archive and no new folder;
// an older version folder stays as it was.

#include <string>
#include <vector>

#include "upgrade/CUpgradeClient.h"

constexpr const char* FIRMWARE_FOLDER_NAME = "FW_Image";
constexpr const char* FIRMWARE_ARCHIVE_NAME = "download.zip";

// <data folder>/FW_Image
[[nodiscard]] std::string FirmwareFolder();
// <firmware folder>/download.zip
[[nodiscard]] std::string FirmwareArchivePath(const std::string& firmwareFolder);
// <version folder>/APP<partition>.bin
[[nodiscard]] std::string PartitionImagePath(const std::string& versionFolder, int partition);

// The pieces of a ";"-separated version list that are newer than the device
// version, in their order.
[[nodiscard]] std::vector<std::string> NewerVersions(const std::string& history, const std::string& deviceVersion);

struct FirmwareFetchResult {
    enum class Stage { Done, Logon, VersionInfo, Download, Unpack };
    Stage stage = Stage::Done;
    std::string reason;         // why it failed
    std::string versionFolder;  // set once the version is known
    std::vector<std::string> images;  // names unpacked

    [[nodiscard]] bool Ok() const { return stage == Stage::Done; }
    // The message id for the stage that failed: TEXT_SERVER_LOGON_FAILED, TEXT_SERVER_VERSION_LIST_FAILED or TEXT_SERVER_DOWNLOAD_FAILED.
    [[nodiscard]] int MessageId() const;
};

// Logs on, finds the version, downloads and verifies its archive, and unpacks it
// into the version folder (created with its parents only once the images are
// complete). One fetch at a time per firmware folder: a second one fails at once
// with the reason. Each fetch removes what earlier fetches that were killed left
// (temporary files and folders). The listener sees the download's progress.
[[nodiscard]] FirmwareFetchResult FetchFirmwareVersion(CUpgradeClient& client, const std::string& version,
                                                       const std::string& firmwareFolder,
                                                       INetFileCopyProgressListener* listener);

// The image a fetched version offers for a partition: APP<partition>.bin when the
// partition is 0 or more and that file exists, otherwise the first ".bin" file of
// the folder by name; empty when it has none.
[[nodiscard]] std::string ChooseFetchedImage(const std::string& versionFolder, int partition);
