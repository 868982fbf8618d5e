#pragma once
// The run's log file: every debug line appended to data folder/Log/Palo520G_TOOL_<date-time>.log.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Debug-output callback: writes all length bytes of text to the FILE* context
// (under a lock, repeating partial writes) and flushes them to the file; nothing
// when the context is null.
void LogWriteCallback(void* context, uint64_t reserved, const char* text, size_t length);

// Creates the Log folder under the folder, opens a new dated file and registers
// LogWriteCallback (with no file when the folder or file cannot be made: lines are
// then dropped silently). Returns the file or null.
FILE* OpenLogOutput(const std::string& dataFolder);
// Removes the callback and closes the file; the handle is cleared.
void CloseLogOutput(FILE*& file);
