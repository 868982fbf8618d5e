// Unpacking through a staging folder; see UnpackFolder.h.

#include "upgrade/UnpackFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "app/StringTable.h"

namespace fs = std::filesystem;

namespace {

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

}  // namespace

UnzipResult UnzipFailure(const std::string& reason) { return Fail(reason); }

UnzipResult UnpackEntries(const std::vector<UnpackEntry>& entries, const std::string& destination, bool overwrite,
                          const UnpackReader& read) {
    // Every entry is checked before anything is written.
    uint64_t total = 0;
    std::set<std::string> keys;
    for (const UnpackEntry& entry : entries) {
        if (!entry.readable) return Fail("the archive has an unreadable entry");
        std::string why;
        if (!IsSafeEntryName(entry.name, why)) return Fail("the archive " + why);
        if (!IsEntryNameUsableHere(entry.name, why)) return Fail("the archive " + why);
        // Exact repeats never get here (the readers refuse them); names this system
        // takes for one file would make one entry overwrite another.
        if (!keys.insert(EntryNameKey(entry.name)).second) {
            return Fail(FormatStringText(TEXT_ZIP_DUPLICATE_NAME, entry.name.c_str()));
        }
        if (entry.link) return Fail("the archive has a link entry: " + entry.name);
        total += entry.size;
        if (entry.size > UNZIP_MAX_TOTAL_BYTES || total > UNZIP_MAX_TOTAL_BYTES) {
            return Fail("the archive unpacks to more than 64 MiB");
        }
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
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string& name = entries[i].name;
        const uint64_t size = entries[i].size;
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
        const int fd = ::open(out.string().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) return writeFailed(errno);
        uint64_t written = 0;
        bool tooLong = false;
        int writeError = 0;
        const std::string damaged = read(i, [&](const char* data, size_t n) {
            written += n;
            // The declared size bounds what is written, whatever the data says.
            if (written > size) {
                tooLong = true;
                return false;
            }
            if (!WriteAll(fd, data, n)) {
                writeError = errno;
                return false;
            }
            return true;
        });
        if (tooLong || writeError != 0 || !damaged.empty()) {
            ::close(fd);
            if (tooLong) return abandon("the entry " + name + " is longer than it says");
            if (writeError != 0) return writeFailed(writeError);
            return abandon(damaged);
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

