#pragma once
// An exclusive lock on the firmware folder for one fetch, so that the window and
// a command line (or two command lines) never share the fixed temporary names.
// Released by the system when the process ends, however it ends. On Linux it is
// flock() on the folder; on Windows, which cannot lock a folder, a named mutex
// made from the folder's full path.

#include <cstdint>
#include <string>

class FetchFolderLock {
public:
    // Takes the lock without waiting; Held() says whether it did, Reason() why not.
    explicit FetchFolderLock(const std::string& folder);
    ~FetchFolderLock();
    FetchFolderLock(const FetchFolderLock&) = delete;
    FetchFolderLock& operator=(const FetchFolderLock&) = delete;

    [[nodiscard]] bool Held() const { return held_; }
    [[nodiscard]] const std::string& Reason() const { return reason_; }

private:
    bool held_ = false;
    intptr_t handle_ = -1;  // the locked folder's descriptor (Linux) or the mutex (Windows)
    std::string reason_;
};
