#include "app/LogOutput.h"

#include <mutex>

#include "common/DbgOutput.h"
#include "common/FileUtils.h"
#include "common/UserPlaces.h"

namespace {
std::mutex gLogWriteMutex;  //!< Serialises writes to the log file from any thread.
}

void LogWriteCallback(void* context, uint64_t /*reserved*/, const char* text, size_t length) {
    auto* file = static_cast<FILE*>(context);
    if (!file || !text) return;
    std::lock_guard<std::mutex> lock(gLogWriteMutex);
    while (length > 0) {
        const size_t written = std::fwrite(text, 1, length, file);
        if (written == 0 || std::ferror(file)) return;
        text += written;
        length -= written;
    }
    // Each line reaches the file at once: a crash or a kill loses at most the line
    // being written, and a user can read the log while the tool runs.
    std::fflush(file);
}

FILE* OpenLogOutput(const std::string& folder) {
    FILE* file = nullptr;
    if (RecursiveCreateDirectory(folder)) {
        PruneLogFolder(folder, LOG_FILE_PREFIX, LOG_KEEP_FILES - 1, LOG_KEEP_BYTES);
        const std::string path = CombinePathName(folder, GetFileNameByDate(".log", LOG_FILE_PREFIX));
        file = std::fopen(path.c_str(), "wb");
    }
    DbgOutputAddCallback(LogWriteCallback, file);
    DbgOutputSetTag(nullptr, 0);
    DbgOutputSetTimeType(1);
    DbgOutputSetIncludePIDTID(0);
    return file;
}

void CloseLogOutput(FILE*& file) {
    DbgOutputDelCallback(LogWriteCallback);
    if (file) std::fclose(file);
    file = nullptr;
}
