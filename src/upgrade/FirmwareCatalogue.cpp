#include "upgrade/FirmwareCatalogue.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "app/StringTable.h"

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

const CatalogueEntry* FirmwareCatalogue::Find(const std::string& version) const {
    for (const CatalogueEntry& entry : versions) {
        if (entry.version == version) return &entry;
    }
    return nullptr;
}

bool IsSha256Hex(const std::string& text) {
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

bool CheckVersionName(const std::string& version, std::string* why) {
    const auto refuse = [&](int id) {
        SetError(why, FormatStringText(id, version.c_str()));
        return false;
    };
    if (version.empty()) return refuse(TEXT_VERSION_NAME_EMPTY);
    if (version.size() > 64) return refuse(TEXT_VERSION_NAME_TOO_LONG);
    if (!std::all_of(version.begin(), version.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '+';
        })) {
        return refuse(TEXT_VERSION_NAME_CHARACTERS);
    }
    // Covers "." and "..", and the hidden temporaries of the firmware folder.
    if (version[0] == '.') return refuse(TEXT_VERSION_NAME_LEADING_DOT);
    // The firmware folder holds download.zip (and held download.zip.part-XXXXXX
    // and <version>.unpack-XXXXXX/ temporaries, which a fetch now removes); a
    // catalogue folder holds catalogue.json. Compared without case, for file
    // systems that ignore it.
    const std::string lower = Lower(version);
    if (lower.rfind("download.zip", 0) == 0 || lower == "catalogue.json" ||
        lower.find(".unpack-") != std::string::npos || lower.find(".old-") != std::string::npos) {
        return refuse(TEXT_VERSION_NAME_RESERVED);
    }
    return true;
}

bool IsPlainVersionName(const std::string& version) { return CheckVersionName(version, nullptr); }

bool ParseCatalogue(const std::string& text, FirmwareCatalogue& catalogue, std::string* error) {
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        SetError(error, std::string("the catalogue is not JSON: ") + e.what());
        return false;
    }
    if (!root.is_object() || !root.contains("versions") || !root["versions"].is_array()) {
        SetError(error, "the catalogue has no \"versions\" list");
        return false;
    }
    FirmwareCatalogue parsed;
    if (root.contains("product") && root["product"].is_string()) parsed.product = root["product"].get<std::string>();
    for (const nlohmann::json& item : root["versions"]) {
        CatalogueEntry entry;
        if (!item.is_object() || !item.contains("version") || !item["version"].is_string()) {
            SetError(error, "a catalogue entry has no \"version\"");
            return false;
        }
        entry.version = item["version"].get<std::string>();
        if (!CheckVersionName(entry.version, error)) return false;
        const auto field = [&](const char* name) -> std::string {
            return "version " + entry.version + ": \"" + name + "\" is missing or wrong";
        };
        if (!item.contains("archive") || !item["archive"].is_string()) {
            SetError(error, field("archive"));
            return false;
        }
        entry.archive = item["archive"].get<std::string>();
        if (!item.contains("size") || !item["size"].is_number_unsigned()) {
            SetError(error, field("size"));
            return false;
        }
        entry.size = item["size"].get<uint64_t>();
        if (!item.contains("sha256") || !item["sha256"].is_string() ||
            !IsSha256Hex(item["sha256"].get<std::string>())) {
            SetError(error, field("sha256"));
            return false;
        }
        entry.sha256 = Lower(item["sha256"].get<std::string>());
        if (item.contains("notes") && item["notes"].is_string()) entry.notes = item["notes"].get<std::string>();
        std::string url;
        if (!ResolveArchiveUrl("x:/", entry.archive, url, error)) return false;
        parsed.versions.push_back(std::move(entry));
    }
    catalogue = std::move(parsed);
    return true;
}

std::string CatalogueToJson(const FirmwareCatalogue& catalogue) {
    nlohmann::ordered_json root;
    root["product"] = catalogue.product;
    root["versions"] = nlohmann::ordered_json::array();
    for (const CatalogueEntry& entry : catalogue.versions) {
        nlohmann::ordered_json item;
        item["version"] = entry.version;
        item["archive"] = entry.archive;
        item["size"] = entry.size;
        item["sha256"] = entry.sha256;
        if (!entry.notes.empty()) item["notes"] = entry.notes;
        root["versions"].push_back(std::move(item));
    }
    // Notes come from the publisher's command line: bytes that are not UTF-8 become U+FFFD.
    return root.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::optional<std::vector<uint64_t>> ParseVersionNumbers(const std::string& version) {
    size_t pos = (!version.empty() && (version[0] == 'v' || version[0] == 'V')) ? 1 : 0;
    if (pos >= version.size()) return std::nullopt;
    std::vector<uint64_t> numbers;
    while (true) {
        const size_t start = pos;
        uint64_t value = 0;
        while (pos < version.size() && std::isdigit(static_cast<unsigned char>(version[pos]))) {
            if (pos - start >= 18) return std::nullopt;  // no silent wrap-around
            value = value * 10 + static_cast<uint64_t>(version[pos] - '0');
            ++pos;
        }
        if (pos == start) return std::nullopt;
        numbers.push_back(value);
        if (pos == version.size()) return numbers;
        if (version[pos] != '.') return std::nullopt;
        ++pos;
    }
}

int CompareVersion(const std::string& a, const std::string& b) {
    const auto va = ParseVersionNumbers(a);
    const auto vb = ParseVersionNumbers(b);
    if (!va) return vb ? -1 : 0;
    if (!vb) return 1;
    const size_t count = std::max(va->size(), vb->size());
    for (size_t i = 0; i < count; ++i) {
        const uint64_t x = i < va->size() ? (*va)[i] : 0;
        const uint64_t y = i < vb->size() ? (*vb)[i] : 0;
        if (x != y) return x > y ? 1 : -1;
    }
    return 0;
}

bool ResolveArchiveUrl(const std::string& baseUrl, const std::string& archive, std::string& url, std::string* error) {
    const auto refuse = [&](const char* why) {
        SetError(error, "the archive path \"" + archive + "\" " + why);
        return false;
    };
    if (archive.empty()) return refuse("is empty");
    if (archive[0] == '/' || archive[0] == '\\') return refuse("is absolute");
    if (archive.find(':') != std::string::npos) return refuse("is not relative to the update address");
    if (archive.find_first_of("?#\\") != std::string::npos) return refuse("has a query or a backslash");
    // A server and libcurl's file:// both decode "%2e%2e" into "..": the segments
    // are checked as they will be read, and an encoded separator or dot, which
    // could only serve to hide one, is refused outright.
    std::string decoded;
    for (size_t i = 0; i < archive.size(); ++i) {
        if (archive[i] != '%') {
            decoded += archive[i];
            continue;
        }
        const auto hex = [&](size_t at) -> int {
            if (at >= archive.size() || !std::isxdigit(static_cast<unsigned char>(archive[at]))) return -1;
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(archive[at])));
            return c <= '9' ? c - '0' : c - 'a' + 10;
        };
        const int high = hex(i + 1), low = hex(i + 2);
        if (high < 0 || low < 0) {
            SetError(error, FormatStringText(TEXT_ARCHIVE_PATH_BAD_ESCAPE, archive.c_str()));
            return false;
        }
        const auto byte = static_cast<unsigned char>(high * 16 + low);
        if (byte == '/' || byte == '\\' || byte == '.' || byte < 0x20 || byte == 0x7F) {
            SetError(error, FormatStringText(TEXT_ARCHIVE_PATH_ENCODED, archive.c_str()));
            return false;
        }
        decoded += static_cast<char>(byte);
        i += 2;
    }
    size_t start = 0;
    while (start <= decoded.size()) {
        const size_t end = std::min(decoded.find('/', start), decoded.size());
        const std::string segment = decoded.substr(start, end - start);
        if (segment == ".." || segment == "." || segment.empty()) return refuse("has an empty, '.' or '..' segment");
        start = end + 1;
    }
    url = baseUrl;
    if (url.empty() || url.back() != '/') url += '/';
    url += archive;
    return true;
}
