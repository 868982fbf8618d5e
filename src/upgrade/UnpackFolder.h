#pragma once
// How an archive's entries become a version folder, whichever code reads the zip
// (libzip in CUnzipper.cpp, the own reader in CUnzipperWin32.cpp): the checks on
// every entry before anything is written, and the staging folder that takes the
// destination's place only when complete (see CUnzipper.h).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "upgrade/CUnzipper.h"

// What the unpacking needs to know of an entry before reading it.
struct UnpackEntry {
    std::string name;
    uint64_t size = 0;       // the size its header gives
    bool readable = true;    // false: its header could not be read
    bool link = false;       // a symbolic link
};

// Hands entry index's data to write in pieces. Returns "" when it was all read or
// write returned false, else why the entry could not be read (a whole reason:
// "the entry NAME is damaged: ...").
using UnpackReader = std::function<std::string(size_t index, const std::function<bool(const char*, size_t)>& write)>;

// Checks the entries in order (readable, safe name, no link, total size within
// UNZIP_MAX_TOTAL_BYTES), then writes them into the staging folder beside
// destination and moves it into place. Nothing is left behind on failure.
[[nodiscard]] UnzipResult UnpackEntries(const std::vector<UnpackEntry>& entries, const std::string& destination,
                                        bool overwrite, const UnpackReader& read);

[[nodiscard]] UnzipResult UnzipFailure(const std::string& reason);

// The rules of this system's file names beyond a safe relative name
// (UnpackNamesPosix.cpp, UnpackNamesWin32.cpp): false with the reason ("has an
// entry ...") for a name the system would not take as a plain file inside the
// folder.
bool IsEntryNameUsableHere(const std::string& name, std::string& why);
// The form two names share when this system's file system takes them for one
// file (on Windows, letters in one case).
[[nodiscard]] std::string EntryNameKey(const std::string& name);
