#include "common/FileUtils.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::mutex gOverrideMutex;  //!< Protects gOverride.
std::string gOverride;

bool IsWritableFolder(const std::string& folder) { return access(folder.c_str(), W_OK | X_OK) == 0; }

// The share folder of an installed program (<prefix>/bin/../share/palo520g).
fs::path InstalledShareFolder(const fs::path& exeFolder) {
    return exeFolder.parent_path() / "share" / "palo520g";
}

// A program installed under a prefix is never portable: root, or the owner of
// the prefix, would otherwise keep configuration and logs in bin/.
bool IsInstalledProgram(const fs::path& exeFolder) {
    std::error_code ec;
    return exeFolder.filename() == "bin" && fs::is_directory(InstalledShareFolder(exeFolder), ec);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

std::string GetExecutableFolder() {
    std::error_code ec;
#ifdef _WIN32
    const fs::path exe = fs::u8path(PaloExecutablePath());
    if (exe.empty()) return fs::current_path(ec).string();
#else
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
#endif
    if (ec) return fs::current_path(ec).string();
    return exe.parent_path().string();
}

void SetProgramPathOverride(const std::string& folder) {
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    gOverride = folder.empty() ? std::string() : GetFileAbsolutePath(folder, fs::current_path().string());
}

bool ProgramPathHoldsEverything() {
    {
        std::lock_guard<std::mutex> lock(gOverrideMutex);
        if (!gOverride.empty()) return true;
    }
    const std::string exeFolder = GetExecutableFolder();
    return IsWritableFolder(exeFolder) && !IsInstalledProgram(exeFolder);
}

std::string GetProgramPath() {
    {
        std::lock_guard<std::mutex> lock(gOverrideMutex);
        if (!gOverride.empty()) {
            RecursiveCreateDirectory(gOverride);
            return gOverride;
        }
    }
    const std::string exeFolder = GetExecutableFolder();
    if (IsWritableFolder(exeFolder) && !IsInstalledProgram(exeFolder)) return exeFolder;
    std::string base;
#ifdef _WIN32
    std::error_code ec;
    // %APPDATA%, the roaming profile folder, when the program's own folder cannot be written.
    if (const char* appData = std::getenv("APPDATA"); appData && *appData) base = appData;
    else base = fs::temp_directory_path(ec).string();
#else
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = CombinePathName(home, ".local/share");
    else base = "/tmp";
#endif
    const std::string folder = CombinePathName(base, "palo520g");
    RecursiveCreateDirectory(folder);
    return folder;
}

std::string FindResourcePath(const std::string& relative) {
    const fs::path exe = GetExecutableFolder();
    const fs::path candidates[] = {
        exe / relative,
        exe / "resources" / relative,
        InstalledShareFolder(exe) / relative,
    };
    std::error_code ec;
    for (const auto& candidate : candidates)
        if (fs::exists(candidate, ec)) return candidate.string();
#if defined(PALO_SOURCE_RESOURCES) && defined(PALO_BUILD_DIR)
    // The source tree serves only programs run from the build tree: an installed
    // program must find its own copies, or show that it did not.
    if (exe == fs::path(PALO_BUILD_DIR) || exe.parent_path() == fs::path(PALO_BUILD_DIR)) {
        const fs::path source = fs::path(PALO_SOURCE_RESOURCES) / relative;
        if (fs::exists(source, ec)) return source.string();
    }
#endif
    return {};
}

std::string CombinePathName(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (name.empty()) return folder;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool RecursiveCreateDirectory(const std::string& folder) {
    if (folder.empty()) return false;
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

bool PrepareWritableFolder(const std::string& folder, std::string* why) {
    const auto fail = [why](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    if (folder.empty()) return fail(std::strerror(ENOENT));
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::file_status status = fs::status(folder, ec);
    if (!fs::exists(status)) return fail(ec ? ec.message() : std::strerror(ENOENT));
    if (!fs::is_directory(status)) return fail(std::strerror(ENOTDIR));
    // Permission bits do not tell everything (read-only mounts, /proc, root): try it.
    std::string probe = CombinePathName(folder, ".palo520g-probe-XXXXXX");
    const int fd = mkstemp(probe.data());
    if (fd < 0) return fail(std::strerror(errno));
    close(fd);
    unlink(probe.c_str());
    return true;
}

std::string GetFileRelativePath(const std::string& path, const std::string& base) {
    if (path.empty()) return {};
    const fs::path p = fs::path(path).lexically_normal();
    const fs::path b = fs::path(base).lexically_normal();
    if (!p.is_absolute() || base.empty()) return path;
    const fs::path rel = p.lexically_relative(b);
    if (rel.empty() || *rel.begin() == "..") return path;
    return rel == "." ? std::string(".") : rel.string();
}

std::string GetFileAbsolutePath(const std::string& path, const std::string& base) {
    fs::path p(path);
    if (!p.is_absolute()) p = fs::path(base) / p;
    std::string out = p.lexically_normal().string();
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

bool IsFileExist(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::exists(path, ec) && !fs::is_directory(path, ec);
}

std::string GetFileExtName(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 >= name.size()) return {};
    return name.substr(dot + 1);
}

std::vector<std::string> GetLocalFolderFileList(const std::string& folder, const std::string& extension) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string name = it->path().filename().string();
        if (!extension.empty() && Lower(GetFileExtName(name)) != Lower(extension)) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string GetFileNameByDate(const std::string& extension, const std::string& prefix, const std::string& suffix) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const int millis = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d%02d_%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
    return prefix + stamp + suffix + extension;
}

int OpenRegularFile(const std::string& path, std::string* why) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (why) *why = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        close(fd);
        errno = EINVAL;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool IsReadableRegularFile(const std::string& path, std::string* why) {
    const int fd = OpenRegularFile(path, why);
    if (fd < 0) return false;
    close(fd);
    return true;
}

size_t ReadFileData(const std::string& path, uint8_t** data, std::string* why) {
    if (!data) return 0;
    *data = nullptr;
    const int fd = OpenRegularFile(path, why);
    if (fd < 0) return 0;
    struct stat st {};
    uint8_t* buffer = nullptr;
    size_t size = 0;
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
        size = static_cast<size_t>(st.st_size);
        buffer = static_cast<uint8_t*>(std::malloc(size + 1));
    }
    size_t done = 0;
    while (buffer && done < size) {
        const ssize_t n = read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const int error = errno;
    close(fd);
    if (!buffer || done < size) {
        if (why) *why = buffer ? std::strerror(error) : size == 0 ? "empty file" : std::strerror(ENOMEM);
        std::free(buffer);
        return 0;
    }
    buffer[size] = 0;
    *data = buffer;
    return size;
}

void ReleaseFileData(uint8_t* data) { std::free(data); }

bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string& text, std::string* why) {
    text.clear();
    const int fd = OpenRegularFile(path, why);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) > maxBytes) {
        if (why) *why = "larger than " + std::to_string(maxBytes) + " bytes";
        close(fd);
        return false;
    }
    // The size is checked again while reading: the file may grow meanwhile.
    text.resize(static_cast<size_t>(st.st_size) + 1);
    size_t done = 0;
    for (;;) {
        if (done == text.size()) {
            if (text.size() > maxBytes) break;
            text.resize(std::min(maxBytes + 1, text.size() * 2));
        }
        const ssize_t n = read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            text.clear();
            if (why) *why = std::strerror(error);
            return false;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    if (done > maxBytes) {
        text.clear();
        if (why) *why = "larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    text.resize(done);
    return true;
}

namespace {

// The file a path finally names: symbolic links followed one by one, so that a
// save updates the link's target and keeps the link. A dangling link names the
// file it would point to. Empty (errno ELOOP) for a loop.
std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(current, ec))) return current;
        const fs::path target = fs::read_symlink(current, ec);
        if (ec) return current;
        current = target.is_absolute() ? target.string() : (fs::path(current).parent_path() / target).string();
    }
    errno = ELOOP;
    return {};
}

bool Fail(std::string* why, const std::string& text, int error) {
    if (why) *why = text;
    errno = error;
    return false;
}

// Writes the complete temporary's bytes over the target in place, so that every hard
// link of the target sees them. The room for a longer text is taken first: when the
// file cannot grow, nothing of it has been touched and false says so.
bool RewriteInPlace(const std::string& temporary, const std::string& target) {
    const int from = open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) return false;
    const int to = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat newStat {}, oldStat {};
    bool ok = to >= 0 && fstat(from, &newStat) == 0 && fstat(to, &oldStat) == 0 && S_ISREG(oldStat.st_mode);
    if (ok && newStat.st_size > oldStat.st_size)
        ok = posix_fallocate(to, oldStat.st_size, newStat.st_size - oldStat.st_size) == 0;
    if (!ok) {
        close(from);
        if (to >= 0) close(to);
        return false;
    }
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = pwrite(to, buffer + done, static_cast<size_t>(n - done), offset);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) ok = false;
            else done += w, offset += w;
        }
        if (!ok) break;
    }
    if (ok) ok = ftruncate(to, offset) == 0 && fsync(to) == 0;
    close(from);
    close(to);
    return ok;
}

}  // namespace

bool SaveFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write,
                    const std::function<void(const std::string&)>& beforeRename, std::string* why) {
    const std::string target = FollowLinks(path);
    if (target.empty()) return Fail(why, std::strerror(ELOOP), ELOOP);

    struct stat old {};
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode)) return Fail(why, "not a regular file", S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
        // The rename would replace a file the user may not write; refuse it as writing
        // into it would be refused.
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            const int error = errno;
            return Fail(why, std::strerror(error), error);
        }
    }

    // A fixed name: a save killed half-way leaves one temporary, which the next save replaces.
    const fs::path targetPath(target);
    const std::string temporary =
        (targetPath.parent_path() / ("." + targetPath.filename().string() + ".tmp")).string();
    unlink(temporary.c_str());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        const int error = errno;
        return Fail(why, std::strerror(error), error);
    }

    mode_t mode = 0;
    bool ok = true;
    if (exists) {
        mode = old.st_mode & 07777;
        // Only root may give a file away; the owner goes first since chown clears set-id bits.
        if (geteuid() == 0) ok = fchown(fd, old.st_uid, old.st_gid) == 0;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    std::FILE* file = ok && fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
    if (!file) {
        const int error = errno;
        close(fd);
        unlink(temporary.c_str());
        return Fail(why, std::strerror(error), error);
    }
    ok = write && write(file);
    int error = ok ? 0 : (errno ? errno : EIO);
    if (std::fflush(file) != 0 && ok) ok = false, error = errno;
    if (ok && fsync(fileno(file)) != 0) ok = false, error = errno;
    // Another save of the same file may have taken the temporary name meanwhile; renaming
    // its half-written file over the target would lose data.
    struct stat mine {}, named {};
    if (ok && (fstat(fileno(file), &mine) != 0 || lstat(temporary.c_str(), &named) != 0 ||
               mine.st_ino != named.st_ino || mine.st_dev != named.st_dev))
        ok = false, error = EBUSY;
    if (std::fclose(file) != 0 && ok) ok = false, error = errno;
    if (ok && beforeRename) beforeRename(temporary);
    // A rename would give this name a new file and leave the other names on the old one.
    if (ok && exists && old.st_nlink > 1 && RewriteInPlace(temporary, target)) {
        unlink(temporary.c_str());
        return true;
    }
    // rename(2) on POSIX; on Windows the one call that replaces an existing file.
    std::error_code renamed;
    if (ok) fs::rename(temporary, target, renamed);
    if (ok && renamed) ok = false, error = renamed.value();
    if (!ok) {
        if (error == EBUSY) return Fail(why, "saved by another program at the same time", EBUSY);
        unlink(temporary.c_str());
        return Fail(why, std::strerror(error ? error : EIO), error ? error : EIO);
    }
    return true;
}
