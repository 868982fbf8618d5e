// The parts of the update client that do not move bytes: the address, the
// expectation text, and the catalogue read at logon. Built on every system; the
// transfers are CUpgradeClient.cpp (libcurl) or CUpgradeClientWin32.cpp.

#include "upgrade/CUpgradeClient.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
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

bool CUpgradeClient::BeginDownload(const std::string& localPath, const std::string& expected, std::string& sha256,
                                   uint64_t& size) {
    std::error_code ec;
    std::filesystem::remove(localPath, ec);  // an older archive must not pass for this one
    if (!ParseExpectation(expected, sha256, size)) return Fail(LoadStringText(TEXT_ARCHIVE_EXPECTATION_UNKNOWN));
    if (size > ARCHIVE_MAX_BYTES) {
        return Fail(FormatStringText(TEXT_ARCHIVE_SIZE_OVER_LIMIT, std::to_string(size).c_str(),
                                     std::to_string(ARCHIVE_MAX_BYTES).c_str()));
    }
    return true;
}

bool CUpgradeClient::EndDownload(std::string failure, const std::filesystem::path& temp, const std::string& localPath,
                                 uint64_t written, uint64_t size, CSha256& sha, const std::string& sha256) {
    if (failure.empty() && written != size) {
        failure = FormatStringText(TEXT_ARCHIVE_SIZE_MISMATCH, std::to_string(written).c_str(),
                                   std::to_string(size).c_str());
    } else if (failure.empty()) {
        if (const std::string digest = sha.HexDigest(); digest != sha256)
            failure = FormatStringText(TEXT_ARCHIVE_DIGEST_MISMATCH, digest.c_str(), sha256.c_str());
    }
    std::error_code ec;
    if (failure.empty()) {
        std::filesystem::rename(temp, std::filesystem::path(localPath), ec);
        if (ec) failure = FormatStringText(TEXT_CANNOT_RENAME_ARCHIVE, localPath.c_str(), ec.message().c_str());
    }
    if (!failure.empty()) {
        std::filesystem::remove(temp, ec);
        return Fail(failure);
    }
    return true;
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
