#include "upgrade/CUnzipper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include <zip.h>

#include "app/StringTable.h"

namespace fs = std::filesystem;

namespace {

struct ZipCloser {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

UnzipResult Fail(const std::string& reason) {
    UnzipResult result;
    result.reason = reason;
    return result;
}

// A name that could only land inside the folder: relative, no ".." part, no drive.
bool IsSafeEntryName(const std::string& name, std::string& why) {
    if (name.empty()) {
        why = "has an entry without a name";
        return false;
    }
    if (name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':')) {
        why = "has an entry with an absolute name: " + name;
        return false;
    }
    size_t start = 0;
    while (start < name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) {
            why = "has an entry that leaves its folder: " + name;
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool IsSymbolicLink(zip_t* zip, zip_uint64_t index) {
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(zip, index, 0, &system, &attributes) != 0) return false;
    if (system != ZIP_OPSYS_UNIX) return false;
    return S_ISLNK(static_cast<mode_t>(attributes >> 16));
}

constexpr const char* STAGING_SUFFIX = ".unpack";
constexpr const char* OLD_SUFFIX = ".old";

// The hidden folder beside path that unpacking uses: ".<name><suffix>". Version
// names never start with a dot, so it cannot be one.
fs::path SiblingName(const fs::path& path, const char* suffix) {
    return path.parent_path() / ("." + path.filename().string() + suffix);
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// "<name><tag>-XXXXXX" with six hex digits: the random names of earlier versions.
bool IsLegacySibling(const std::string& name, const std::string& tag, std::string& base) {
    const size_t at = name.size() >= tag.size() + 7 ? name.size() - tag.size() - 7 : std::string::npos;
    if (at == std::string::npos || at == 0 || name.compare(at, tag.size() + 1, tag + "-") != 0) return false;
    for (size_t i = at + tag.size() + 1; i < name.size(); ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    }
    base = name.substr(0, at);
    return true;
}

// An older destination moved aside: put back when its place is empty, else removed.
void SettleOld(const fs::path& old, const fs::path& target) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(target, ec))) {
        fs::rename(old, target, ec);
        if (!ec) return;
    }
    fs::remove_all(old, ec);
}

// Writes all of `data` to fd; false with errno set on failure.
bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
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
    if (!zip) return Fail(OpenFailure(archivePath, code));
    const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
    if (count < 0 || count > UNZIP_MAX_ENTRIES) return Fail("the archive has too many entries");

    // Every entry is checked before anything is written.
    uint64_t total = 0;
    std::vector<std::pair<std::string, uint64_t>> entries;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(zip.get(), static_cast<zip_uint64_t>(i), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME) ||
            !(stat.valid & ZIP_STAT_SIZE)) {
            return Fail("the archive has an unreadable entry");
        }
        const std::string name = stat.name;
        std::string why;
        if (!IsSafeEntryName(name, why)) return Fail("the archive " + why);
        if (IsSymbolicLink(zip.get(), static_cast<zip_uint64_t>(i))) return Fail("the archive has a link entry: " + name);
        total += stat.size;
        if (stat.size > UNZIP_MAX_TOTAL_BYTES || total > UNZIP_MAX_TOTAL_BYTES) {
            return Fail("the archive unpacks to more than 64 MiB");
        }
        entries.emplace_back(name, stat.size);
    }

    const fs::path target = fs::path(destination).lexically_normal();
    const fs::path parent = target.parent_path();
    std::error_code ec;
    if (fs::exists(target, ec) && !overwrite) return Fail("the folder exists already: " + destination);
    fs::create_directories(parent.empty() ? fs::path(".") : parent, ec);
    const fs::path staging = SiblingName(target, STAGING_SUFFIX);
    const fs::path old = SiblingName(target, OLD_SUFFIX);
    // What a killed run left for this destination.
    fs::remove_all(staging, ec);
    if (fs::exists(fs::symlink_status(old, ec))) SettleOld(old, target);
    if (!fs::create_directory(staging, ec)) {
        return Fail("cannot create a folder beside " + destination + ": " + ec.message());
    }
    const auto abandon = [&](const std::string& reason) {
        std::error_code ignored;
        fs::remove_all(staging, ignored);
        return Fail(reason);
    };

    UnzipResult result;
    std::vector<char> buffer(65536);
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& [name, size] = entries[i];
        fs::path out = staging / fs::path(name).relative_path();
        if (!name.empty() && (name.back() == '/' || name.back() == '\\')) {
            fs::create_directories(out, ec);
            if (ec) return abandon("cannot create the folder " + name + ": " + ec.message());
            continue;
        }
        fs::create_directories(out.parent_path(), ec);
        // The user is told the file's place in the destination, not in the hidden staging folder.
        const std::string shown = (target / fs::path(name).relative_path()).string();
        const auto writeFailed = [&](int error) {
            return abandon(FormatStringText(TEXT_CANNOT_WRITE_FILE_BECAUSE, shown.c_str(), std::strerror(error)));
        };
        std::unique_ptr<zip_file_t, ZipFileCloser> in(zip_fopen_index(zip.get(), i, 0));
        if (!in) return abandon("cannot read the entry " + name + ": " + zip_strerror(zip.get()));
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) return writeFailed(errno);
        uint64_t written = 0;
        while (true) {
            const zip_int64_t n = zip_fread(in.get(), buffer.data(), buffer.size());
            if (n < 0) {
                ::close(fd);
                return abandon("the entry " + name + " is damaged: " + zip_file_strerror(in.get()));
            }
            if (n == 0) break;
            written += static_cast<uint64_t>(n);
            // The declared size bounds what is written, whatever the data says.
            if (written > size) {
                ::close(fd);
                return abandon("the entry " + name + " is longer than it says");
            }
            if (!WriteAll(fd, buffer.data(), static_cast<size_t>(n))) {
                const int error = errno;
                ::close(fd);
                return writeFailed(error);
            }
        }
        if (::close(fd) != 0) return writeFailed(errno);
        if (written != size) return abandon("the entry " + name + " is shorter than it says");
        result.files.push_back(name);
    }

    // The complete new folder takes the old one's place.
    bool movedAside = false;
    if (fs::exists(fs::symlink_status(target, ec))) {
        fs::rename(target, old, ec);
        if (ec) return abandon("cannot replace " + destination + ": " + ec.message());
        movedAside = true;
    }
    fs::rename(staging, target, ec);
    if (ec) {
        std::error_code ignored;
        if (movedAside) fs::rename(old, target, ignored);
        return abandon("cannot move the images into " + destination + ": " + ec.message());
    }
    if (movedAside) fs::remove_all(old, ec);
    result.ok = true;
    return result;
}

void CleanUnpackLeftovers(const std::string& folder) {
    std::error_code ec;
    std::vector<fs::path> staging, old;
    for (const auto& item : fs::directory_iterator(folder, ec)) {
        const std::string name = item.path().filename().string();
        std::string base;
        if (!item.is_directory(ec) || item.is_symlink(ec)) continue;
        if (name[0] == '.' && name.size() > std::strlen(STAGING_SUFFIX) + 1 && EndsWith(name, STAGING_SUFFIX)) {
            staging.push_back(item.path());
        } else if (name[0] == '.' && name.size() > std::strlen(OLD_SUFFIX) + 1 && EndsWith(name, OLD_SUFFIX)) {
            old.push_back(item.path());
        } else if (IsLegacySibling(name, STAGING_SUFFIX, base)) {
            staging.push_back(item.path());
        } else if (IsLegacySibling(name, OLD_SUFFIX, base)) {
            old.push_back(item.path());
        }
    }
    for (const fs::path& path : staging) fs::remove_all(path, ec);
    for (const fs::path& path : old) {
        const std::string name = path.filename().string();
        std::string base;
        if (name[0] == '.') {
            base = name.substr(1, name.size() - 1 - std::strlen(OLD_SUFFIX));
        } else {
            IsLegacySibling(name, OLD_SUFFIX, base);
        }
        SettleOld(path, path.parent_path() / base);
    }
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
