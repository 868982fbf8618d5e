// flock() for Windows builds (declared in posix-on-windows/sys/file.h).

#include <sys/file.h>

#include <windows.h>

#include <cerrno>

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
