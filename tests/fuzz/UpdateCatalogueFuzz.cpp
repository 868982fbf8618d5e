// Firmware catalogue parser under libFuzzer. The input is the text of catalogue.json.
// Checked:
// - a refused text leaves the catalogue the caller had and says why;
// - every entry of a taken catalogue has a plain version name, a 64-digit lower-case
//   sha256 and an archive path that stays under the update address once resolved, read
//   as written and read as a server or file:// reads it (percent-decoded);
// - a taken catalogue written as JSON parses again to the same product and entries;
// - version order, over the entries' versions, the version-like words of the input and
//   the empty text, is reflexive, antisymmetric and transitive, and ranks a version that
//   does not parse below every one that does.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "upgrade/FirmwareCatalogue.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

bool SameEntries(const FirmwareCatalogue& a, const FirmwareCatalogue& b) {
    if (a.product != b.product || a.versions.size() != b.versions.size()) return false;
    for (size_t i = 0; i < a.versions.size(); ++i) {
        const CatalogueEntry& x = a.versions[i];
        const CatalogueEntry& y = b.versions[i];
        if (x.version != y.version || x.archive != y.archive || x.size != y.size || x.sha256 != y.sha256 ||
            x.notes != y.notes)
            return false;
    }
    return true;
}

// Runs of the characters a version name may hold, at most `limit` of them.
std::vector<std::string> VersionWords(const std::string& text, size_t limit) {
    std::vector<std::string> words;
    std::string word;
    const auto flush = [&] {
        if (!word.empty() && words.size() < limit && std::find(words.begin(), words.end(), word) == words.end())
            words.push_back(word);
        word.clear();
    };
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '+')
            word.push_back(static_cast<char>(c));
        else
            flush();
    }
    flush();
    return words;
}

// The path as a server or libcurl's file:// sees it: every "%XX" decoded once.
std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void CheckOrder(const std::vector<std::string>& versions) {
    const size_t n = versions.size();
    std::vector<int> cmp(n * n);
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j) cmp[i * n + j] = Sign(CompareVersion(versions[i], versions[j]));
    for (size_t i = 0; i < n; ++i) {
        FUZZ_CHECK(cmp[i * n + i] == 0);
        const bool parses = ParseVersionNumbers(versions[i]).has_value();
        for (size_t j = 0; j < n; ++j) {
            FUZZ_CHECK(cmp[i * n + j] == -cmp[j * n + i]);
            if (!parses && ParseVersionNumbers(versions[j])) FUZZ_CHECK(cmp[i * n + j] < 0);
            for (size_t k = 0; k < n; ++k) {
                if (cmp[i * n + j] <= 0 && cmp[j * n + k] <= 0) FUZZ_CHECK(cmp[i * n + k] <= 0);
                if (cmp[i * n + j] == 0 && cmp[j * n + k] == 0) FUZZ_CHECK(cmp[i * n + k] == 0);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    FirmwareCatalogue catalogue;
    catalogue.product = "kept";
    catalogue.versions.push_back({"0.0.1", "0.0.1/firmware.zip", 1, std::string(64, 'a'), "kept"});
    const FirmwareCatalogue before = catalogue;
    std::string error;
    const bool ok = ParseCatalogue(text, catalogue, &error);

    std::vector<std::string> versions = VersionWords(text, 12);
    versions.push_back("");
    if (!ok) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(SameEntries(catalogue, before));
    } else {
        for (const CatalogueEntry& entry : catalogue.versions) {
            FUZZ_CHECK(IsPlainVersionName(entry.version));
            FUZZ_CHECK(IsSha256Hex(entry.sha256));
            FUZZ_CHECK(std::none_of(entry.sha256.begin(), entry.sha256.end(), [](char c) { return std::isupper(c); }));
            std::string url;
            FUZZ_CHECK(ResolveArchiveUrl("https://host/fw/", entry.archive, url, nullptr));
            FUZZ_CHECK(url == "https://host/fw/" + entry.archive);
            // Seen as a path under the address's folder, the archive cannot climb out of it.
            const std::string resolved = (std::filesystem::path("/fw") / entry.archive).lexically_normal().string();
            FUZZ_CHECK(resolved.rfind("/fw/", 0) == 0 && resolved.size() > 4);
            const std::string decoded = PercentDecoded(entry.archive);
            FUZZ_CHECK(decoded.find('\\') == std::string::npos);
            const std::string read = (std::filesystem::path("/fw") / decoded).lexically_normal().string();
            FUZZ_CHECK(read.rfind("/fw/", 0) == 0 && read.size() > 4 && read.find("/../") == std::string::npos);
            if (versions.size() < 24 && std::find(versions.begin(), versions.end(), entry.version) == versions.end())
                versions.push_back(entry.version);
        }
        FirmwareCatalogue again;
        std::string why;
        FUZZ_CHECK(ParseCatalogue(CatalogueToJson(catalogue), again, &why));
        FUZZ_CHECK(SameEntries(again, catalogue));
    }
    CheckOrder(versions);
    return 0;
}
