#pragma once
// Parsing of numbers from configuration texts and choosing decimals for display.

#include <cstddef>
#include <cstdint>

// Type codes of DigtalStringToValue and the target each one writes.
enum DigitalValueType : int {
    DIGITAL_VALUE_FLAG = 2,    // int32_t, 0 or 1
    DIGITAL_VALUE_INT32 = 5,   // int32_t, decimal
    DIGITAL_VALUE_UINT32 = 6,  // uint32_t, decimal or "0x" hexadecimal
    DIGITAL_VALUE_DOUBLE = 10, // double
};

// Converts the first length bytes of text (surrounding blanks allowed) into the
// target of the type. Returns false and leaves the target unchanged when the text
// is not a number of the type: empty, trailing garbage, out of range, not finite.
bool DigtalStringToValue(const char* text, size_t length, void* target, int type);

// The fewest decimals, at most maximum, whose "%.*f" text reads back as the value
// to within 1e-9; maximum when none does.
[[nodiscard]] int GetSuitableDecimalFormatCount(double value, int maximum);
