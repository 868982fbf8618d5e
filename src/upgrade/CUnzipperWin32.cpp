// Firmware archives in builds without libzip (Windows): the project's own zip
// reader and writer over zlib (ZipFile.h), unpacked through the same checks and
// staging folder as the libzip version (UnpackFolder.h).

#include "upgrade/CUnzipper.h"

#include "upgrade/ZipFile.h"

UnzipResult CUnzipper::Unzip(const std::string& archivePath, const std::string& destination, bool overwrite) {
    return UnzipWithZipReader(archivePath, destination, overwrite);
}

bool CreateZipArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries,
                      std::string* error) {
    return WriteZipFile(path, entries, error);
}
