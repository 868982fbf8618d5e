#pragma once
// Monotonic milliseconds and sleeping.

#include <cstdint>

[[nodiscard]] uint64_t MS_GetTime();
void MS_Sleep(int milliseconds);

#include <string>

// The wall-clock time now in ISO 8601 with the local zone: 2026-12-10T14:30:29+01:00.
[[nodiscard]] std::string IsoLocalTimeNow();
// Reads the form IsoLocalTimeNow writes (a zone of Z, +hh:mm or +hhmm) into seconds
// since the epoch; false when the text is not such a time.
bool ParseIsoTime(const std::string& text, long long& epochSeconds);
