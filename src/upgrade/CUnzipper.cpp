#include "upgrade/CUnzipper.h"

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <functional>
#include <set>
#include <vector>

#include <zip.h>

#include "app/StringTable.h"
#include "upgrade/UnpackFolder.h"

namespace fs = std::filesystem;

namespace {

struct ZipCloser {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

bool IsSymbolicLink(zip_t* zip, zip_uint64_t index) {
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(zip, index, 0, &system, &attributes) != 0) return false;
    if (system != ZIP_OPSYS_UNIX) return false;
    return S_ISLNK(static_cast<mode_t>(attributes >> 16));
}

// Why zip_open refused the archive. libzip says "File already exists" for two
// entries of the same name; the archive is then opened without the consistency
// check only to find which name repeats.
std::string OpenFailure(const std::string& archivePath, int code) {
    if (code == ZIP_ER_EXISTS) {
        int ignored = 0;
        std::unique_ptr<zip_t, ZipCloser> zip(zip_open(archivePath.c_str(), ZIP_RDONLY, &ignored));
        if (zip) {
            std::set<std::string> seen;
            const zip_int64_t count = zip_get_num_entries(zip.get(), ZIP_FL_UNCHANGED);
            for (zip_int64_t i = 0; i < count && i <= UNZIP_MAX_ENTRIES; ++i) {
                const char* name = zip_get_name(zip.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
                if (name && !seen.insert(name).second) return FormatStringText(TEXT_ZIP_DUPLICATE_NAME, name);
            }
        }
        return LoadStringText(TEXT_ZIP_DUPLICATE_NAMES);
    }
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const std::string reason = std::string("the archive cannot be opened: ") + zip_error_strerror(&error);
    zip_error_fini(&error);
    return reason;
}

}  // namespace

UnzipResult CUnzipper::Unzip(const std::string& archivePath, const std::string& destination, bool overwrite) {
    int code = 0;
    std::unique_ptr<zip_t, ZipCloser> zip(zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!zip) return UnzipFailure(OpenFailure(archivePath, code));
    const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
    if (count < 0 || count > UNZIP_MAX_ENTRIES) return UnzipFailure("the archive has too many entries");

    std::vector<UnpackEntry> entries;
    for (zip_int64_t i = 0; i < count; ++i) {
        UnpackEntry entry;
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(zip.get(), static_cast<zip_uint64_t>(i), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME) ||
            !(stat.valid & ZIP_STAT_SIZE)) {
            entry.readable = false;
        } else {
            entry.name = stat.name;
            entry.size = stat.size;
            entry.link = IsSymbolicLink(zip.get(), static_cast<zip_uint64_t>(i));
        }
        entries.push_back(std::move(entry));
    }
    std::vector<char> buffer(65536);
    return UnpackEntries(entries, destination, overwrite,
                         [&](size_t index, const std::function<bool(const char*, size_t)>& write) -> std::string {
        const std::string& name = entries[index].name;
        std::unique_ptr<zip_file_t, ZipFileCloser> in(zip_fopen_index(zip.get(), index, 0));
        if (!in) return "cannot read the entry " + name + ": " + zip_strerror(zip.get());
        while (true) {
            const zip_int64_t n = zip_fread(in.get(), buffer.data(), buffer.size());
            if (n < 0) return "the entry " + name + " is damaged: " + zip_file_strerror(in.get());
            if (n == 0) return {};
            if (!write(buffer.data(), static_cast<size_t>(n))) return {};
        }
    });
}

bool CreateZipArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries,
                      std::string* error) {
    const auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        std::error_code ignored;
        fs::remove(path, ignored);
        return false;
    };
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!zip) return fail("cannot create " + path);
    for (const auto& [name, file] : entries) {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) {
            zip_discard(zip);
            return fail("not a readable file: " + file);
        }
        zip_source_t* source = zip_source_file(zip, file.c_str(), 0, -1);
        if (!source) {
            zip_discard(zip);
            return fail("cannot read " + file);
        }
        const zip_int64_t index = zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            const std::string reason = zip_strerror(zip);
            zip_discard(zip);
            return fail("cannot add " + name + ": " + reason);
        }
        zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 9);
    }
    if (zip_close(zip) != 0) {
        const std::string reason = zip_strerror(zip);
        zip_discard(zip);
        return fail("cannot write " + path + ": " + reason);
    }
    return true;
}
