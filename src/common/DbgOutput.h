#pragma once
// Debug output: formatted lines delivered whole to every registered callback.
//
// Safe to call from any thread. Each call formats one line (time stamp prefix
// and the caller's text), then hands it to the callbacks one after another
// while holding the output lock, so lines from different threads never
// interleave. A callback must not call DbgOutputA itself.

#include <cstddef>
#include <cstdint>

// (context given at registration, reserved value, text, byte length without terminator)
using DbgOutputCallback = void (*)(void* context, uint64_t reserved, const char* text, size_t length);

void DbgOutputA(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Adds a callback, or replaces the context of one already registered.
void DbgOutputAddCallback(DbgOutputCallback callback, void* context);
// Removes a callback; once this returns, no call of it is running or will start.
void DbgOutputDelCallback(DbgOutputCallback callback);

// Tag put in brackets before each line; null or empty = no tag.
void DbgOutputSetTag(const char* tag, int flags);
// 0 = no time stamp, 1 = "YYYY-MM-DD HH:MM:SS.mmm ".
void DbgOutputSetTimeType(int type);
// Non-zero puts "[pid:tid] " before each line.
void DbgOutputSetIncludePIDTID(int include);
