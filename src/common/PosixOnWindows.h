#pragma once
// Included ahead of every file of a MinGW build (see cmake/PaloWindows.cmake): the
// few POSIX file calls the core uses, with their Windows meaning. Flags Windows has
// no use for are 0 (O_NONBLOCK: a FIFO cannot be opened by name; O_CLOEXEC: handles
// are not inherited), ownership and modes do not exist, and files open in binary
// mode. What cannot be mapped (signals, locks, terminals) is handled in
// the platform files, not here. No <windows.h>: its macros would reach every file.

#ifdef __cplusplus
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <ctime>
#else
#include <errno.h>
#include <stdio.h>
#include <time.h>
#endif
#include <fcntl.h>
#include <direct.h>
#include <io.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
// Every open() of this code base passes O_CLOEXEC: on Windows that is "not inherited",
// plus binary mode, the only one the code means (text mode would turn "\n" into "\r\n").
#ifndef O_CLOEXEC
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#endif
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif
#ifndef O_DIRECTORY
#define O_DIRECTORY 0
#endif
#ifndef F_GETFL
#define F_GETFL 3
#define F_SETFL 4
#endif
// Folders have no execute bit, and the C runtime's access() refuses a mode that asks for one.
#undef X_OK
#define X_OK 0
#ifndef AT_FDCWD
#define AT_FDCWD (-100)
#define AT_EACCESS 0x200
#endif
#ifndef S_ISLNK
#define S_ISLNK(m) 0
#endif

#ifdef __cplusplus
extern "C++" {
// File status flags: the only one the code sets is O_NONBLOCK, which is 0 here.
inline int fcntl(int, int, ...) { return 0; }
inline int fsync(int fd) { return _commit(fd); }
inline struct tm* localtime_r(const time_t* seconds, struct tm* out) { return localtime_s(out, seconds) == 0 ? out : nullptr; }
inline struct tm* gmtime_r(const time_t* seconds, struct tm* out) { return gmtime_s(out, seconds) == 0 ? out : nullptr; }
inline time_t timegm(struct tm* utc) { return _mkgmtime(utc); }
inline int posix_fallocate(int fd, off_t offset, off_t length)
{
    const int64_t wanted = static_cast<int64_t>(offset) + static_cast<int64_t>(length);
    if (_filelengthi64(fd) >= wanted) return 0;
    return _chsize_s(fd, wanted);
}
inline ssize_t pwrite(int fd, const void* data, size_t count, off_t offset)
{
    if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
    return _write(fd, data, static_cast<unsigned int>(count));
}
inline int faccessat(int, const char* path, int mode, int) { return _access(path, mode & (R_OK | W_OK)); }
// Nobody is root and nothing has an owner to keep: the code's root-only steps are skipped.
inline unsigned geteuid() { return 1000; }
inline int fchown(int, unsigned, unsigned) { return 0; }
inline int fchmod(int, int) { return 0; }
// The log's thread numbers: syscall(SYS_gettid) is the only system call the code makes.
#define SYS_gettid 186
extern "C" __declspec(dllimport) unsigned long __stdcall GetCurrentThreadId(void);
inline long syscall(long) { return static_cast<long>(GetCurrentThreadId()); }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"  // POSIX names the struct and the call alike
// Interrupt handlers: the C runtime's signal() calls them for Ctrl+C (SIGINT) and SIGTERM.
struct sigaction {
    void (*sa_handler)(int);
    int sa_mask;
    int sa_flags;
};
inline int sigemptyset(int* mask) { *mask = 0; return 0; }
inline int sigaction(int signal_number, const struct sigaction* action, struct sigaction* /*old*/)
{
    return signal(signal_number, action->sa_handler) == SIG_ERR ? -1 : 0;
}
#pragma GCC diagnostic pop
inline char* mkdtemp(char* pattern)
{
    if (_mktemp_s(pattern, strlen(pattern) + 1) != 0) return nullptr;
    return _mkdir(pattern) == 0 ? pattern : nullptr;
}
// No symbolic links to tell apart from their targets (a link to a file reads as the file).
inline int lstat(const char* path, struct stat* out) { return stat(path, out); }
// The running program's path in UTF-8 (GetModuleFileNameW); empty when unknown.
const char* PaloExecutablePath();
// fstat() with the device stat() gives, so that the two can be compared (PosixOnWindowsWin32.cpp).
int PaloFstat(int fd, struct stat* out);
#define fstat PaloFstat
}
#endif
