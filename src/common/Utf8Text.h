#pragma once
// Measuring UTF-8 text in characters (code points), never in bytes: a limit or a
// column width counted in bytes treats a Chinese character as three.

#include <cstddef>
#include <string_view>

// The number of characters: every byte that does not continue a sequence counts.
[[nodiscard]] size_t Utf8CharacterCount(std::string_view text);
