// The update client of Windows builds. The catalogue and its versions work as on
// Linux (CUpgradeClientCommon.cpp); the transfers (FetchText, DownloadFile) are
// not offered yet and fail with a message that says so, so every caller reports
// it like a network error.

#include "upgrade/CUpgradeClient.h"

#include <filesystem>

#include "app/StringTable.h"
#include "upgrade/CUnzipper.h"

namespace fs = std::filesystem;

CUpgradeClient::CUpgradeClient(std::string address) : address_(std::move(address)) {
    if (!address_.empty() && address_.back() != '/') address_ += '/';
}

bool CUpgradeClient::FetchText(const std::string& url, size_t, std::string& text) {
    text.clear();
    return Fail(FormatStringText(TEXT_WINDOWS_NO_NETWORK_FETCH, url.c_str()));
}

bool CUpgradeClient::DownloadFile(const std::string& source, const std::string&, const std::string&,
                                  INetFileCopyProgressListener*) {
    return Fail(FormatStringText(TEXT_WINDOWS_NO_NETWORK_FETCH, source.c_str()));
}
