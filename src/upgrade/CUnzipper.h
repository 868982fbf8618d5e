#pragma once
// Firmware archives: unpacking a fetched zip into a version folder, and making one
// from partition images for publishing.
//
// Unpacking takes the archive whole or not at all. It refuses, writing nothing, an
// archive with an entry whose name is absolute or has a ".." part, an entry that
// is a symbolic link, more than UNZIP_MAX_ENTRIES entries, or entries whose sizes
// add up to more than UNZIP_MAX_TOTAL_BYTES. The entries are written into a new
// temporary folder beside the destination; only when every one is written does
// that folder take the destination's place (an older destination is removed), so
// a reader sees the old folder or the complete new one.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

constexpr uint64_t UNZIP_MAX_TOTAL_BYTES = 64ull * 1024 * 1024;
constexpr int UNZIP_MAX_ENTRIES = 1024;

struct UnzipResult {
    bool ok = false;
    std::string reason;        // why it failed, for the user
    std::vector<std::string> files;  // the names written, in archive order
};

class CUnzipper {
public:
    // Unpacks the archive into destination (created with its parents). With
    // overwrite false an existing destination is refused.
    [[nodiscard]] static UnzipResult Unzip(const std::string& archivePath, const std::string& destination,
                                           bool overwrite);
};

// Writes a zip at path holding each (name in the archive, file on disk), deflated.
// False with the reason in *error when a file cannot be read or the zip written;
// nothing is left at path then.
bool CreateZipArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries,
                      std::string* error);
