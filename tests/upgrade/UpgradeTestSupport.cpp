#include "UpgradeTestSupport.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include <zip.h>

#include "support/TempDir.h"
#include "upgrade/FirmwareCatalogue.h"
#include "upgrade/Sha256.h"

namespace fs = std::filesystem;

std::string TestImage(size_t length, int seed) {
    std::string bytes(length, '\0');
    uint32_t state = 0x9E3779B9u * static_cast<uint32_t>(seed + 1);
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

bool WriteTestZip(const std::string& path, const std::vector<ZipEntrySpec>& entries) {
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!zip) return false;
    for (const ZipEntrySpec& entry : entries) {
        zip_source_t* source = zip_source_buffer(zip, entry.data.data(), entry.data.size(), 0);
        const zip_int64_t index = zip_file_add(zip, entry.name.c_str(), source, ZIP_FL_ENC_RAW);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(zip);
            return false;
        }
        if (entry.symbolicLink) {
            zip_file_set_external_attributes(zip, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                             static_cast<zip_uint32_t>(S_IFLNK | 0777) << 16);
        }
    }
    return zip_close(zip) == 0;
}

void AddCatalogueEntry(const std::string& folder, const std::string& version, const std::string& archive,
                       const std::string& sha256Override, long long sizeOverride) {
    FirmwareCatalogue catalogue;
    const std::string path = folder + "/" + CATALOGUE_FILE_NAME;
    if (fs::exists(path)) ParseCatalogue(ReadWholeFile(path), catalogue, nullptr);
    const std::string bytes = ReadWholeFile(folder + "/" + archive);
    CatalogueEntry entry;
    entry.version = version;
    entry.archive = archive;
    entry.size = sizeOverride >= 0 ? static_cast<uint64_t>(sizeOverride) : bytes.size();
    entry.sha256 = sha256Override.empty() ? Sha256OfBytes(bytes.data(), bytes.size()) : sha256Override;
    catalogue.versions.erase(std::remove_if(catalogue.versions.begin(), catalogue.versions.end(),
                                            [&](const CatalogueEntry& e) { return e.version == version; }),
                             catalogue.versions.end());
    catalogue.versions.push_back(entry);
    WriteWholeFile(path, CatalogueToJson(catalogue));
}

std::vector<std::string> TreeOf(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::exists(folder, ec)) return names;
    for (const auto& item : fs::recursive_directory_iterator(folder, ec)) {
        names.push_back(fs::relative(item.path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}
