#pragma once
// Where a user's files live. An installed tool follows the XDG base directories:
//   configuration  $XDG_CONFIG_HOME/palo520g   (~/.config/palo520g)      appConfig.xml, LicenseShown
//   logs           $XDG_STATE_HOME/palo520g/Log (~/.local/state/palo520g/Log)
//   data           $XDG_DATA_HOME/palo520g     (~/.local/share/palo520g) SaveData, FW_Image
// With --data-dir, or run portable from a writable folder, all three are GetProgramPath().

#include <cstdint>
#include <string>
#include <vector>

// The folder of appConfig.xml (created on first use where possible).
[[nodiscard]] std::string GetConfigFolder();
// The folder of the run logs (not created here).
[[nodiscard]] std::string GetLogFolder();

// What MoveOldDataFolder did: the files and folders it moved (old path, new path)
// and the ones it had to leave, each with its reason.
struct PlacesMove {
    struct Item {
        std::string from;
        std::string to;
        std::string problem;  // empty when moved
    };
    std::vector<Item> items;
    [[nodiscard]] bool Moved() const;
    [[nodiscard]] bool Failed() const;
};

// Before these places existed an installed tool kept appConfig.xml, LicenseShown and
// Log/ in its data folder. Moves them to the configuration and log folders once: a
// file is moved only when nothing of that name is at the new place yet (a newer one
// there is never replaced), so a second call moves nothing. Nothing happens while the
// data folder holds everything. Logs go through MoveOldLogs.
[[nodiscard]] PlacesMove MoveOldDataFolder();

// Keeps the newest run logs (named prefix + date + ".log") of the folder: at most
// maxFiles, and at most maxBytes in all; the rest, oldest first, are removed. Other
// files are left alone. Returns how many were removed.
size_t PruneLogFolder(const std::string& folder, const std::string& prefix, size_t maxFiles, uint64_t maxBytes);
