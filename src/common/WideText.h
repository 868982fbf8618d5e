#pragma once
// UTF-8 <-> UTF-16 for Windows API calls (Windows builds only). Invalid input
// becomes U+FFFD rather than being dropped, so a bad name stays visible.

#include <string>

[[nodiscard]] std::wstring WideFromUtf8(const std::string& text);
[[nodiscard]] std::string Utf8FromWide(const std::wstring& text);
[[nodiscard]] std::string Utf8FromWide(const wchar_t* text, size_t length);
// The system's message for a Win32 error code, in UTF-8, without the line end.
[[nodiscard]] std::string Win32ErrorText(unsigned long error);
