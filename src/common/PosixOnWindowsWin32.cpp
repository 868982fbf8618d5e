// The POSIX calls of common/PosixOnWindows.h and posix-on-windows/ that need the Windows API.

#include <sys/file.h>

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <cwctype>
#include <string>

#include "common/WideText.h"

// This file defines the replacement; it calls the C runtime's own.
#undef fstat

int flock(int fd, int operation)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    OVERLAPPED whole{};
    if (operation & LOCK_UN) {
        return UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole) ? 0 : (errno = EINVAL, -1);
    }
    DWORD flags = (operation & LOCK_EX) ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (operation & LOCK_NB) {
        flags |= LOCKFILE_FAIL_IMMEDIATELY;
    }
    if (LockFileEx(handle, flags, 0, MAXDWORD, MAXDWORD, &whole)) {
        return 0;
    }
    errno = GetLastError() == ERROR_LOCK_VIOLATION ? EWOULDBLOCK : EINVAL;
    return -1;
}

int PaloFstat(int fd, struct stat* out)
{
    const int rc = fstat(fd, out);
    if (rc != 0 || !S_ISREG(out->st_mode)) {
        return rc;
    }
    // The C runtime's stat() gives a file's drive as its device and fstat() gives 0, so
    // "is the file at this name still the one I hold open" would always say no.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    wchar_t path[MAX_PATH + 8];
    const DWORD length = GetFinalPathNameByHandleW(handle, path, MAX_PATH + 8, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    // "\\?\Z:\folder\name"
    if (length >= 6 && length < MAX_PATH + 8 && path[5] == L':' && std::iswalpha(path[4])) {
        out->st_dev = out->st_rdev = static_cast<_dev_t>(std::towupper(path[4]) - L'A');
    }
    return rc;
}

namespace {
// fopen() and open() without a mode of their own open in binary mode too.
[[maybe_unused]] const int gBinaryMode = (_fmode = _O_BINARY);
}  // namespace

const char* PaloExecutablePath()
{
    static const std::string path = [] {
        std::wstring buffer(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (length == 0) return std::string();
            if (length < buffer.size()) return Utf8FromWide(buffer.data(), length);
            buffer.resize(buffer.size() * 2);
        }
    }();
    return path.c_str();
}
