// Firmware archives in Windows builds: not offered yet. Every call fails with a
// message that names the archive, and nothing is written.

#include "upgrade/CUnzipper.h"

#include "app/StringTable.h"

UnzipResult CUnzipper::Unzip(const std::string& archivePath, const std::string&, bool)
{
    UnzipResult result;
    result.reason = FormatStringText(TEXT_WINDOWS_NO_ZIP, archivePath.c_str());
    return result;
}

// This build never unpacks, so it leaves nothing behind to clean; folders another
// build left are left alone.
void CleanUnpackLeftovers(const std::string&) {}

bool CreateZipArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>&,
                      std::string* error)
{
    if (error != nullptr) {
        *error = FormatStringText(TEXT_WINDOWS_NO_ZIP, path.c_str());
    }
    return false;
}
