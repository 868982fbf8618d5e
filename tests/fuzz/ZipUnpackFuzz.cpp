// Firmware archive unpacking under libFuzzer. The input is a zip archive's bytes, written
// to a file and unpacked into a version folder, as a fetch does; for about half of the
// inputs (by a hash of their bytes) an older version folder is there already. Beside
// them lies a file that must not change. Checked after each unpacking:
// - the parent folder holds nothing new but the version folder: no staging or old
//   folder is left, the neighbouring file and the archive are unchanged;
// - a refused archive says why and leaves the older folder exactly as it was, or no
//   folder when there was none;
// - an accepted archive's folder holds only folders and regular files, no links and
//   nothing of the older folder; every name reported is a regular file in it, and
//   every regular file in it was reported.
// The folders are removed after each run, so every run starts from the same state.
// Built twice: over libzip (CUnzipper.cpp) and, with PALO_FUZZ_ZIP_READER, over the
// project's own zip reader (ZipFile.cpp).

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "FuzzCheck.h"
#include "FuzzFiles.h"
#include "upgrade/CUnzipper.h"
#include "upgrade/ZipFile.h"

namespace fs = std::filesystem;

namespace {

constexpr char NEIGHBOUR_TEXT[] = "left alone";
constexpr char OLD_NAME[] = "APP0.old";
constexpr char OLD_TEXT[] = "older image";

std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

std::string Text(const fs::path& path) {
    std::string bytes;
    FUZZ_CHECK(ReadWhole(path, bytes));
    return bytes;
}

uint32_t Hash(const uint8_t* data, size_t size) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path root = FuzzTempRoot();
    static const fs::path archive = root / "download.zip";
    static const fs::path neighbour = root / "neighbour.txt";
    static const fs::path target = root / "1.0.3";
    static const bool prepared = [] {
        WriteWhole(neighbour, NEIGHBOUR_TEXT, sizeof NEIGHBOUR_TEXT - 1);
        return true;
    }();
    (void)prepared;

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    WriteWhole(archive, data, size);
    const bool hadOld = Hash(data, size) & 1;
    if (hadOld) {
        fs::create_directory(target);
        WriteWhole(target / OLD_NAME, OLD_TEXT, sizeof OLD_TEXT - 1);
    }

#ifdef PALO_FUZZ_ZIP_READER
    const UnzipResult result = UnzipWithZipReader(archive, target, true);
#else
    const UnzipResult result = CUnzipper::Unzip(archive, target, true);
#endif
    FUZZ_CHECK(result.ok == result.reason.empty());

    std::set<std::string> expected = {"download.zip", "neighbour.txt"};
    if (result.ok || hadOld) expected.insert("1.0.3");
    FUZZ_CHECK(Listing(root) == expected);
    FUZZ_CHECK(Text(neighbour) == NEIGHBOUR_TEXT);
    FUZZ_CHECK(Text(archive) == bytes);

    if (!result.ok) {
        FUZZ_CHECK(result.files.empty());
        if (hadOld) {
            FUZZ_CHECK(Listing(target) == std::set<std::string>{OLD_NAME});
            FUZZ_CHECK(Text(target / OLD_NAME) == OLD_TEXT);
        }
    } else {
        std::set<std::string> reported;
        for (const std::string& name : result.files) reported.insert(fs::path(name).lexically_normal().string());
        std::set<std::string> found;
        for (auto it = fs::recursive_directory_iterator(target); it != fs::recursive_directory_iterator(); ++it) {
            const fs::file_status status = it->symlink_status();
            FUZZ_CHECK(fs::is_directory(status) || fs::is_regular_file(status));
            if (fs::is_regular_file(status)) found.insert(it->path().lexically_relative(target).string());
        }
        FUZZ_CHECK(found == reported);
    }

    fs::remove_all(target);
    return 0;
}
