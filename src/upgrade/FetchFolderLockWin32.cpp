#include "upgrade/FetchFolderLock.h"

#include <windows.h>

#include <cwctype>

#include "app/StringTable.h"
#include "common/WideText.h"
#include "upgrade/Sha256.h"

// "Global\palo520g-fetch-<SHA-256 of the folder's full path, upper case>": one name
// per folder however it is written, and short enough for any path.
FetchFolderLock::FetchFolderLock(const std::string& folder) {
    const std::wstring wide = WideFromUtf8(folder);
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        reason_ = FormatStringText(TEXT_CANNOT_OPEN_FOLDER, folder.c_str(), Win32ErrorText(GetLastError()).c_str());
        return;
    }
    full.resize(length);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    for (wchar_t& c : full) c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towupper(c));
    const std::string key = Utf8FromWide(full);
    CSha256 sha;
    sha.Update(key.data(), key.size());
    const std::wstring name = L"Global\\palo520g-fetch-" + WideFromUtf8(sha.HexDigest());
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) {
        reason_ = FormatStringText(TEXT_CANNOT_OPEN_FOLDER, folder.c_str(), Win32ErrorText(GetLastError()).c_str());
        return;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        reason_ = FormatStringText(TEXT_FETCH_RUNNING, folder.c_str());
        return;
    }
    handle_ = reinterpret_cast<intptr_t>(mutex);
    held_ = true;
}

FetchFolderLock::~FetchFolderLock() {
    if (held_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}
