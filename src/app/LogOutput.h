#pragma once
// The run's log file: every debug line appended to <log folder>/Palo520G_TOOL_<date-time>.log.
// The folder keeps the newest LOG_KEEP_FILES logs and at most LOG_KEEP_BYTES of them.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Debug-output callback: writes all length bytes of text to the FILE* context
// (under a lock, repeating partial writes) and flushes them to the file; nothing
// when the context is null.
void LogWriteCallback(void* context, uint64_t reserved, const char* text, size_t length);

constexpr size_t LOG_KEEP_FILES = 20;
constexpr uint64_t LOG_KEEP_BYTES = 10 * 1024 * 1024;
constexpr char LOG_FILE_PREFIX[] = "Palo520G_TOOL_";

// Creates the log folder, removes the oldest logs beyond what is kept (this run's
// counts among the LOG_KEEP_FILES), opens a new dated file and registers
// LogWriteCallback (with no file when the folder or file cannot be made: lines are
// then dropped silently). Returns the file or null.
FILE* OpenLogOutput(const std::string& logFolder);
// Removes the callback and closes the file; the handle is cleared.
void CloseLogOutput(FILE*& file);
