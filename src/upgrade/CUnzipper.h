#pragma once
// Firmware archives: unpacking a fetched zip into a version folder, and making one
// from partition images for publishing.
//
// Unpacking takes the archive whole or not at all. It refuses, writing nothing, an
// archive with an entry whose name is absolute or has a ".." part, an entry that
// is a symbolic link, more than UNZIP_MAX_ENTRIES entries, or entries whose sizes
// add up to more than UNZIP_MAX_TOTAL_BYTES, or two entries of the same name. The
// entries are written into a temporary folder beside the destination
// (".<name>.unpack", one fixed name, so a process killed half-way leaves at most
// one, which the next unpacking replaces); only when every one is written does
// that folder take the destination's place (the older destination moves to
// ".<name>.old" and is removed), so a reader sees the old folder or the complete
// new one. Callers serialise unpacking into one folder.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

constexpr uint64_t UNZIP_MAX_TOTAL_BYTES = 64ull * 1024 * 1024;
constexpr int UNZIP_MAX_ENTRIES = 1024;
// The largest archive that can unpack within those limits: the images, deflate's
// worst-case growth on data that does not compress (under 1/64), and the headers
// of every entry with a generous allowance for names and extra fields.
constexpr uint64_t ARCHIVE_MAX_BYTES = UNZIP_MAX_TOTAL_BYTES + UNZIP_MAX_TOTAL_BYTES / 64 + UNZIP_MAX_ENTRIES * 4096ull;

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

// Removes what unpacking killed half-way left in a folder that holds destinations:
// temporary folders are removed; an older destination that was moved aside and
// whose place is empty is put back, since the new one never arrived. Covers the
// fixed names above and the ".unpack-XXXXXX"/".old-XXXXXX" folders of earlier
// versions of the tool. Names that match neither are left alone.
void CleanUnpackLeftovers(const std::string& folder);

// Writes a zip at path holding each (name in the archive, file on disk), deflated.
// False with the reason in *error when a file cannot be read or the zip written;
// nothing is left at path then.
bool CreateZipArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries,
                      std::string* error);
