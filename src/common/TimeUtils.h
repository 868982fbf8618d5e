#pragma once
// Monotonic milliseconds and sleeping.

#include <cstdint>

[[nodiscard]] uint64_t MS_GetTime();
void MS_Sleep(int milliseconds);
