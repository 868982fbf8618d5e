#pragma once
// The firmware catalogue an update address serves: "catalogue.json" beside one zip
// archive per version.
//
//   {"product": "Palo520G",
//    "versions": [{"version": "1.0.3", "archive": "1.0.3/firmware.zip",
//                  "size": 20480, "sha256": "<64 hex digits>", "notes": "..."}]}
//
// `archive` is relative to the update address; `size` and `sha256` describe the
// archive's bytes; `notes` is optional; unknown fields are ignored.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr const char* CATALOGUE_FILE_NAME = "catalogue.json";
constexpr const char* CATALOGUE_PRODUCT = "Palo520G";
// A catalogue larger than this is not a catalogue.
constexpr size_t CATALOGUE_MAX_BYTES = 1024 * 1024;

struct CatalogueEntry {
    std::string version;
    std::string archive;
    uint64_t size = 0;
    std::string sha256;  // lower-case hex
    std::string notes;
};

struct FirmwareCatalogue {
    std::string product = CATALOGUE_PRODUCT;
    std::vector<CatalogueEntry> versions;

    [[nodiscard]] const CatalogueEntry* Find(const std::string& version) const;
};

// Parses the catalogue text. False with the reason in *error when the text is not
// JSON, lacks a field, or a version name is not a plain folder name (the version
// becomes a folder of the firmware folder) or an archive path leaves the address.
bool ParseCatalogue(const std::string& text, FirmwareCatalogue& catalogue, std::string* error);
// The catalogue as JSON text (two-space indent, versions in the order held).
[[nodiscard]] std::string CatalogueToJson(const FirmwareCatalogue& catalogue);

// Version order: a leading 'v' is ignored, the rest compares as dot-separated whole
// numbers ("1.0.10" is newer than "1.0.9", "1.0" equals "1.0.0"). Greater than 0
// when a is newer than b, 0 when equal, less than 0 when older. A version that does
// not parse is never newer: it compares as older than anything that parses, and
// two that do not parse compare equal. An empty b (no version known) is older than
// every version that parses.
[[nodiscard]] int CompareVersion(const std::string& a, const std::string& b);
// The numbers of a version, or nullopt when it does not parse.
[[nodiscard]] std::optional<std::vector<uint64_t>> ParseVersionNumbers(const std::string& version);

// True for a name that is safe as one folder name beside the tool's own files:
// letters, digits, '.', '-', '_', '+', not starting with '.', at most 64
// characters, and none of the names the firmware folder and a catalogue folder use
// for their own files (download.zip and what begins with it, catalogue.json, and
// the ".unpack-"/".old-" folders of earlier unpacking), in any letter case.
[[nodiscard]] bool IsPlainVersionName(const std::string& version);
// The same check with the reason, for the user, in *why when the name is refused.
bool CheckVersionName(const std::string& version, std::string* why);
// The archive's URL: the update address (ending in '/') joined with the relative
// archive path. False when the path is absolute, carries a scheme, a query, a
// backslash, or an empty, '.' or '..' segment. Percent-encoding is decoded before
// these checks; an encoded '/', '\\', '.' or control byte, or a '%' that does not
// start two hex digits, is refused, so that no server or file:// read can see a
// segment the check did not.
bool ResolveArchiveUrl(const std::string& baseUrl, const std::string& archive, std::string& url, std::string* error);
// True for 64 hex digits.
[[nodiscard]] bool IsSha256Hex(const std::string& text);
