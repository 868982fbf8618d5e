#include "upgrade/CataloguePublisher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "common/FileUtils.h"
#include "upgrade/CUnzipper.h"
#include "upgrade/FirmwareCatalogue.h"
#include "upgrade/Sha256.h"

namespace fs = std::filesystem;

namespace {

// The catalogue's text. Only a regular file of at most CATALOGUE_MAX_BYTES is
// read: a FIFO in its place would block the publisher for ever, a device or a
// huge file never end. False with the reason in why.
bool ReadCatalogueFile(const std::string& path, std::string& text, std::string& why) {
    why.clear();
    const int fd = OpenRegularFile(path, &why);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0 || static_cast<uint64_t>(st.st_size) > CATALOGUE_MAX_BYTES) {
        why = "it is larger than " + std::to_string(CATALOGUE_MAX_BYTES) + " bytes";
        ::close(fd);
        return false;
    }
    text.assign(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) why = std::strerror(errno);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (done < text.size()) {
        if (why.empty()) why = "it became shorter while it was read";
        return false;
    }
    return true;
}

}  // namespace

bool PublishFirmwareVersion(const std::string& catalogueFolder, const std::string& version,
                            const std::vector<std::pair<int, std::string>>& images, const std::string& notes,
                            PublishedVersion* published, std::string* error) {
    const auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        return false;
    };
    std::string why;
    if (!CheckVersionName(version, &why)) return fail(why);
    if (images.empty()) return fail("no image given");

    // The existing catalogue is read first: a damaged one is not overwritten.
    const std::string cataloguePath = CombinePathName(catalogueFolder, CATALOGUE_FILE_NAME);
    FirmwareCatalogue catalogue;
    std::error_code ec;
    if (fs::exists(cataloguePath, ec)) {
        std::string text;
        if (!ReadCatalogueFile(cataloguePath, text, why)) return fail("cannot read " + cataloguePath + ": " + why);
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
