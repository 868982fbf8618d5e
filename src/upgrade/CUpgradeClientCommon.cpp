// The parts of the update client that do not move bytes: the address, the
// expectation text, and the catalogue read at logon. Built on every system; the
// transfers are CUpgradeClient.cpp (libcurl) or CUpgradeClientWin32.cpp.

#include "upgrade/CUpgradeClient.h"

#include <cctype>
#include <cstdlib>
#include <mutex>

#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "upgrade/Sha256.h"

namespace {

std::mutex gOverrideMutex;  //!< Protects gUrlOverride.
std::string gUrlOverride;

}  // namespace

void SetUpdateUrlOverride(const std::string& url) {
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    gUrlOverride = url;
}

std::string UpdateAddressFromSettings(XMLNode appConfig) {
    {
        std::lock_guard<std::mutex> lock(gOverrideMutex);
        if (!gUrlOverride.empty()) return gUrlOverride;
    }
    if (const char* env = std::getenv(UPDATE_URL_ENVIRONMENT); env && *env) return env;
    if (const auto url = appConfig.FindChild("Upgrade").GetAttributeText("Url"); url && !url->empty()) return *url;
    return {};
}

std::string FormatExpectation(const std::string& sha256, uint64_t size) {
    return sha256 + ":" + std::to_string(size);
}

bool ParseExpectation(const std::string& text, std::string& sha256, uint64_t& size) {
    const size_t colon = text.find(':');
    if (colon != 64 || !IsSha256Hex(text.substr(0, 64))) return false;
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 19 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    sha256 = text.substr(0, 64);
    for (char& c : sha256) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size = std::stoull(digits);
    return true;
}

bool CUpgradeClient::Fail(const std::string& reason) {
    lastError_ = reason;
    return false;
}

bool CUpgradeClient::Logon() {
    loggedOn_ = false;
    if (address_.empty()) return Fail(LoadStringText(TEXT_NET_NO_ADDRESS));
    std::string text;
    if (!FetchText(address_ + CATALOGUE_FILE_NAME, CATALOGUE_MAX_BYTES, text)) return false;
    FirmwareCatalogue catalogue;
    std::string error;
    if (!ParseCatalogue(text, catalogue, &error)) {
        return Fail(FormatStringText(TEXT_CATALOGUE_INVALID, (address_ + CATALOGUE_FILE_NAME).c_str(), error.c_str()));
    }
    catalogue_ = std::move(catalogue);
    loggedOn_ = true;
    return true;
}

bool CUpgradeClient::GetHistoryVersion(std::string& versions) {
    if (!loggedOn_) return Fail(LoadStringText(TEXT_CATALOGUE_NOT_READ));
    versions.clear();
    for (const CatalogueEntry& entry : catalogue_.versions) {
        if (!versions.empty()) versions += ';';
        versions += entry.version;
    }
    return true;
}

bool CUpgradeClient::GetVersionInfo(const std::string& version, VersionInfo& info) {
    if (!loggedOn_) return Fail(LoadStringText(TEXT_CATALOGUE_NOT_READ));
    const CatalogueEntry* entry = catalogue_.Find(version);
    if (!entry) return Fail(FormatStringText(TEXT_CATALOGUE_NO_VERSION, version.c_str()));
    std::string error;
    if (!ResolveArchiveUrl(address_, entry->archive, info.source, &error)) return Fail(error);
    info.version = entry->version;
    info.expected = FormatExpectation(entry->sha256, entry->size);
    info.notes = entry->notes;
    return true;
}
