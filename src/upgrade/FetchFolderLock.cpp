#include "upgrade/FetchFolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/StringTable.h"

FetchFolderLock::FetchFolderLock(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        reason_ = FormatStringText(TEXT_CANNOT_OPEN_FOLDER, folder.c_str(), std::strerror(errno));
        return;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        reason_ = errno == EWOULDBLOCK ? FormatStringText(TEXT_FETCH_RUNNING, folder.c_str())
                                       : FormatStringText(TEXT_CANNOT_OPEN_FOLDER, folder.c_str(), std::strerror(errno));
        ::close(fd);
        return;
    }
    handle_ = fd;
    held_ = true;
}

FetchFolderLock::~FetchFolderLock() {
    if (held_) ::close(static_cast<int>(handle_));
}
