// Firmware archives in builds without libzip (Windows): the project's own zip
// reader and writer over zlib (ZipFile.h), unpacked through the same checks and
// staging folder as the libzip version (UnpackFolder.h).

#include "upgrade/CUnzipper.h"

#include "upgrade/UnpackFolder.h"
#include "upgrade/ZipFile.h"

UnzipResult CUnzipper::Unzip(const std::string& archivePath, const std::string& destination, bool overwrite) {
    ZipReader zip;
    std::string why;
    if (!zip.Open(archivePath, UNZIP_MAX_ENTRIES, why)) return UnzipFailure(why);
    std::vector<UnpackEntry> entries;
    for (const ZipEntry& entry : zip.Entries()) {
        UnpackEntry unpack;
        unpack.name = entry.name;
        unpack.size = entry.size;
        unpack.link = entry.IsSymbolicLink();
        entries.push_back(std::move(unpack));
    }
    return UnpackEntries(entries, destination, overwrite,
                         [&](size_t index, const std::function<bool(const char*, size_t)>& write) {
                             return zip.Extract(index, write);
                         });
}

bool CreateZipArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries,
                      std::string* error) {
    return WriteZipFile(path, entries, error);
}
