#include "upgrade/CataloguePublisher.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "common/FileUtils.h"
#include "upgrade/CUnzipper.h"
#include "upgrade/FirmwareCatalogue.h"
#include "upgrade/Sha256.h"

namespace fs = std::filesystem;

bool PublishFirmwareVersion(const std::string& catalogueFolder, const std::string& version,
                            const std::vector<std::pair<int, std::string>>& images, const std::string& notes,
                            PublishedVersion* published, std::string* error) {
    const auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        return false;
    };
    if (!IsPlainVersionName(version)) return fail("the version name \"" + version + "\" is not a plain name");
    if (images.empty()) return fail("no image given");

    // The existing catalogue is read first: a damaged one is not overwritten.
    const std::string cataloguePath = CombinePathName(catalogueFolder, CATALOGUE_FILE_NAME);
    FirmwareCatalogue catalogue;
    std::error_code ec;
    if (fs::exists(cataloguePath, ec)) {
        std::ifstream in(cataloguePath, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) return fail("cannot read " + cataloguePath);
        std::string why;
        if (!ParseCatalogue(text, catalogue, &why)) return fail(cataloguePath + ": " + why);
    }

    std::vector<std::pair<std::string, std::string>> entries;
    std::set<int> partitions;
    for (const auto& [partition, file] : images) {
        if (partition < 0 || partition > 31) return fail("partition " + std::to_string(partition) + " is out of 0..31");
        if (!partitions.insert(partition).second) return fail("partition " + std::to_string(partition) + " is given twice");
        entries.emplace_back("APP" + std::to_string(partition) + ".bin", file);
    }

    const std::string versionFolder = CombinePathName(catalogueFolder, version);
    if (!RecursiveCreateDirectory(versionFolder)) return fail("cannot create the folder " + versionFolder);
    const std::string archive = CombinePathName(versionFolder, PUBLISHED_ARCHIVE_NAME);
    // The zip is made beside the old one and renamed over it, so that a server
    // never hands out half an archive.
    const std::string temporary = archive + ".new";
    std::string why;
    if (!CreateZipArchive(temporary, entries, &why)) return fail(why);
    CatalogueEntry entry;
    entry.version = version;
    entry.archive = version + "/" + PUBLISHED_ARCHIVE_NAME;
    entry.size = fs::file_size(temporary, ec);
    entry.sha256 = Sha256OfFile(temporary);
    entry.notes = notes;
    if (ec || entry.sha256.empty()) {
        fs::remove(temporary, ec);
        return fail("cannot read back " + temporary);
    }
    fs::rename(temporary, archive, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return fail("cannot write " + archive + ": " + ec.message());
    }

    bool replaced = false;
    for (CatalogueEntry& existing : catalogue.versions) {
        if (existing.version == version) {
            existing = entry;
            replaced = true;
        }
    }
    if (!replaced) catalogue.versions.push_back(entry);
    const std::string json = CatalogueToJson(catalogue);
    if (!SaveFileSafely(cataloguePath,
                        [&](std::FILE* file) { return std::fwrite(json.data(), 1, json.size(), file) == json.size(); })) {
        return fail("cannot write " + cataloguePath);
    }
    if (published) {
        published->archivePath = archive;
        published->size = entry.size;
        published->sha256 = entry.sha256;
    }
    return true;
}
