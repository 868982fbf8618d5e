#pragma once
// Parsing of numbers from configuration texts and choosing decimals for display.

#include <cstddef>
#include <cstdint>
#include <string>

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

// True when every byte is printable ASCII (0x20-0x7E); true for an empty text.
[[nodiscard]] bool IsPrintableAscii(const std::string& text);

// The fewest decimals, at most maximum, whose "%.*f" text reads back as the value
// to within 1e-9; maximum when none does.
[[nodiscard]] int GetSuitableDecimalFormatCount(double value, int maximum);

// ---------------------------------------------------------------- typed text
// The one set of readers for what a user typed (an edit's text, a command-line
// value). Independent of the process locale: a decimal point is always '.'.

// An edit's text read the way a committed value is: the leading number after
// blanks and an optional '+', 0 when there is none or it is not finite ("12abc" is 12).
[[nodiscard]] double ParseDigitalText(const std::string& text);
// The same for a whole number, clamped into int32_t ("+300x" is 300, "" is 0).
[[nodiscard]] int32_t ParseLeadingInt32(const std::string& text);
// The whole text as a finite decimal number ("-1", "2.5", " 3 "); false and
// value unchanged otherwise.
[[nodiscard]] bool ParseDecimalText(const std::string& text, double& value);
// Digits only ("0", "120"), the way an unsigned edit admits them; the value may
// exceed 32 bits. False and value unchanged otherwise.
[[nodiscard]] bool ParseWholeNumberText(const std::string& text, double& value);
