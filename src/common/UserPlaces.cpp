#include "common/UserPlaces.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/FileUtils.h"

namespace fs = std::filesystem;

namespace {

// $NAME when set and absolute (the XDG rule: a relative value is ignored), else $HOME/fallback.
std::string XdgFolder(const char* name, const char* fallback) {
    if (const char* value = std::getenv(name); value && value[0] == '/') return value;
    if (const char* home = std::getenv("HOME"); home && *home) return CombinePathName(home, fallback);
    return "/tmp";
}

// rename(), or across file systems a copy and a removal of the original.
std::string MovePath(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    fs::rename(from, to, ec);
    if (!ec) return {};
    if (ec != std::errc::cross_device_link) return ec.message();
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove_all(to, ignored);
        return ec.message();
    }
    fs::remove_all(from, ec);
    return ec ? ec.message() : std::string();
}

}  // namespace

std::string GetConfigFolder() {
    if (ProgramPathHoldsEverything()) return GetProgramPath();
    const std::string folder = CombinePathName(XdgFolder("XDG_CONFIG_HOME", ".config"), "palo520g");
    RecursiveCreateDirectory(folder);
    return folder;
}

std::string GetLogFolder() {
    if (ProgramPathHoldsEverything()) return CombinePathName(GetProgramPath(), "Log");
    return CombinePathName(CombinePathName(XdgFolder("XDG_STATE_HOME", ".local/state"), "palo520g"), "Log");
}

bool PlacesMove::Moved() const {
    return std::any_of(items.begin(), items.end(), [](const Item& item) { return item.problem.empty(); });
}

bool PlacesMove::Failed() const {
    return std::any_of(items.begin(), items.end(), [](const Item& item) { return !item.problem.empty(); });
}

PlacesMove MoveOldDataFolder() {
    PlacesMove result;
    if (ProgramPathHoldsEverything()) return result;
    const fs::path data = GetProgramPath();
    const fs::path config = GetConfigFolder();
    const fs::path logs = GetLogFolder();
    std::error_code ec;
    if (fs::equivalent(data, config, ec)) return result;

    for (const char* name : {"appConfig.xml", "LicenseShown"}) {
        const fs::path from = data / name;
        const fs::path to = config / name;
        if (!fs::exists(fs::symlink_status(from, ec))) continue;
        if (fs::exists(fs::symlink_status(to, ec))) continue;  // the new place already has its own
        result.items.push_back({from.string(), to.string(), MovePath(from, to)});
    }
    const fs::path oldLogs = data / "Log";
    if (fs::is_directory(fs::symlink_status(oldLogs, ec))) {
        bool left = false;
        for (const fs::directory_entry& entry : fs::directory_iterator(oldLogs, ec)) {
            const fs::path to = logs / entry.path().filename();
            if (fs::exists(fs::symlink_status(to, ec))) {
                left = true;
                continue;
            }
            std::string problem = MovePath(entry.path(), to);
            if (!problem.empty()) {
                left = true;
                result.items.push_back({entry.path().string(), to.string(), std::move(problem)});
            }
        }
        // The old folder goes when it was emptied; what could not move stays in it.
        if (!left && fs::remove(oldLogs, ec)) result.items.push_back({oldLogs.string(), logs.string(), {}});
        else if (left) result.items.push_back({oldLogs.string(), logs.string(), std::strerror(EEXIST)});
    }
    return result;
}

size_t PruneLogFolder(const std::string& folder, const std::string& prefix, size_t maxFiles, uint64_t maxBytes) {
    struct Log {
        fs::path path;
        uint64_t size;
    };
    std::vector<Log> logs;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".log") != 0)
            continue;
        std::error_code sizeError;
        if (!entry.is_regular_file(sizeError)) continue;
        const uint64_t size = entry.file_size(sizeError);
        logs.push_back({entry.path(), sizeError ? 0 : size});
    }
    // The date in the name sorts the logs by age; newest first.
    std::sort(logs.begin(), logs.end(), [](const Log& a, const Log& b) { return a.path.filename() > b.path.filename(); });
    // The newest ones that fit stay; from the first that does not, everything older goes.
    size_t removed = 0;
    uint64_t kept = 0;
    bool full = false;
    for (size_t i = 0; i < logs.size(); ++i) {
        full = full || i >= maxFiles || kept + logs[i].size > maxBytes;
        if (!full) {
            kept += logs[i].size;
            continue;
        }
        if (fs::remove(logs[i].path, ec)) ++removed;
    }
    return removed;
}
