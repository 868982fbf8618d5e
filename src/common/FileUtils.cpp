#include "common/FileUtils.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::current_path(ec).string();
    return exe.parent_path().string();
}

void SetProgramPathOverride(const std::string& folder) {
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    gOverride = folder.empty() ? std::string() : GetFileAbsolutePath(folder, fs::current_path().string());
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
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = CombinePathName(home, ".local/share");
    else base = "/tmp";
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

size_t ReadFileData(const std::string& path, uint8_t** data) {
    if (!data) return 0;
    *data = nullptr;
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size <= 0) return 0;
    in.seekg(0, std::ios::beg);
    auto* buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size) + 1));
    if (!buffer) return 0;
    if (!in.read(reinterpret_cast<char*>(buffer), size)) {
        std::free(buffer);
        return 0;
    }
    buffer[size] = 0;
    *data = buffer;
    return static_cast<size_t>(size);
}

void ReleaseFileData(uint8_t* data) { std::free(data); }

bool SaveFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write,
                    const std::function<void(const std::string&)>& beforeRename) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return false;

    // mkstemp makes the file 0600; give it the mode of the file it replaces.
    struct stat old {};
    mode_t mode = 0;
    if (stat(path.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    std::FILE* file = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
    if (!file) {
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    bool ok = write && write(file);
    ok = std::fflush(file) == 0 && ok;
    ok = fsync(fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (ok && beforeRename) beforeRename(temporary);
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
