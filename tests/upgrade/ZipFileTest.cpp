// The project's own zip reader and writer (the Windows build's archives), run here
// beside libzip: archives Python's zipfile wrote (tests/upgrade/zips), archives it
// writes itself, and hostile or damaged ones, which both must refuse alike and
// without leaving anything behind.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "UpgradeTestSupport.h"
#include "support/TempDir.h"
#include "upgrade/CUnzipper.h"
#include "upgrade/ZipFile.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

// The images of tests/upgrade/zips/make_zips.py.
std::string CompressibleImage() {
    std::string bytes(20000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}
std::string NoiseImage() {
    std::string bytes(3000, '\0');
    uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

// Every file below folder (relative name -> bytes); folders as "name/" -> "".
std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> found;
    std::error_code ec;
    if (!fs::exists(folder, ec)) return found;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().lexically_relative(folder).string();
        if (it->is_directory()) {
            found[name + "/"] = "";
        } else {
            found[name] = ReadWholeFile(it->path().string());
        }
    }
    return found;
}

using Unzipper = std::function<UnzipResult(const std::string&, const std::string&, bool)>;
struct Reader {
    const char* name;
    Unzipper unzip;
};
const Reader LIBZIP{"libzip", CUnzipper::Unzip};
const Reader OWN{"own reader", UnzipWithZipReader};

uint32_t Get32(const std::string& bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8) |
           (static_cast<uint8_t>(bytes[at + 2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24);
}
void Put16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xff);
    bytes[at + 1] = static_cast<char>(value >> 8);
}
void Put32(std::string& bytes, size_t at, uint32_t value) {
    Put16(bytes, at, static_cast<uint16_t>(value & 0xffff));
    Put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}
// Where the first local header and the first central directory header start.
size_t LocalHeader(const std::string& zip) { return zip.find(std::string("PK\x03\x04", 4)); }
size_t CentralHeader(const std::string& zip) { return zip.find(std::string("PK\x01\x02", 4)); }
// Where the first entry's data starts.
size_t DataStart(const std::string& zip) {
    const size_t local = LocalHeader(zip);
    return local + 30 + (Get32(zip, local + 26) & 0xffff) + (Get32(zip, local + 28) & 0xffff);
}

}  // namespace

TEST(ZipReader, ReadsWhatPythonsZipfileWrote) {
    const std::string app0 = CompressibleImage(), app1 = NoiseImage();
    struct Case {
        const char* file;
        std::map<std::string, std::string> expected;
    };
    const std::vector<Case> cases = {
        // Deflated and stored entries, a folder entry and an archive comment.
        {"python-mixed.zip", {{"APP0.bin", app0}, {"images/", ""}, {"images/APP1.bin", app1}}},
        // Sizes and CRC after the data (data descriptors), zeros in the local headers.
        {"python-streamed.zip", {{"APP0.bin", app0}, {"APP1.bin", app1}}},
        // zip64 local extra fields and the zip64 end records.
        {"python-zip64.zip", {{"APP0.bin", app0}, {"APP1.bin", app1}}},
    };
    for (const Case& c : cases) {
        for (const Reader& reader : {LIBZIP, OWN}) {
            SCOPED_TRACE(std::string(c.file) + " by " + reader.name);
            TempDir dir;
            const UnzipResult result =
                reader.unzip(std::string(PALO_SOURCE_DIR) + "/tests/upgrade/zips/" + c.file, dir.File("1.0.3"), false);
            ASSERT_TRUE(result.ok) << result.reason;
            EXPECT_EQ(Contents(dir.File("1.0.3")), c.expected);
        }
    }
}

TEST(ZipWriter, WritesArchivesThatBothReadersUnpack) {
    TempDir dir;
    const std::string app0 = CompressibleImage(), app1 = NoiseImage();
    ASSERT_TRUE(WriteWholeFile(dir.File("a.bin"), app0));
    ASSERT_TRUE(WriteWholeFile(dir.File("b.bin"), app1));
    ASSERT_TRUE(WriteWholeFile(dir.File("empty.bin"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.File("c.bin"), "replaced"));
    std::string error;
    // A second entry of one name replaces the first, as libzip's writer does.
    ASSERT_TRUE(WriteZipFile(dir.File("out.zip"),
                             {{"APP0.bin", dir.File("c.bin")}, {"APP1.bin", dir.File("b.bin")},
                              {"EMPTY.bin", dir.File("empty.bin")}, {"APP0.bin", dir.File("a.bin")}},
                             &error))
        << error;

    ZipReader zip;
    std::string why;
    ASSERT_TRUE(zip.Open(dir.File("out.zip"), UNZIP_MAX_ENTRIES, why)) << why;
    ASSERT_EQ(zip.Entries().size(), 3u);
    EXPECT_EQ(zip.Entries()[0].name, "APP0.bin");
    EXPECT_EQ(zip.Entries()[0].method, 8) << "what compresses is deflated";
    EXPECT_EQ(zip.Entries()[1].method, 0) << "what does not is stored";
    const std::map<std::string, std::string> expected = {{"APP0.bin", app0}, {"APP1.bin", app1}, {"EMPTY.bin", ""}};
    for (const Reader& reader : {LIBZIP, OWN}) {
        SCOPED_TRACE(reader.name);
        const std::string target = dir.File(std::string(reader.name) + "-out");
        const UnzipResult result = reader.unzip(dir.File("out.zip"), target, false);
        ASSERT_TRUE(result.ok) << result.reason;
        EXPECT_EQ(Contents(target), expected);
    }
}

TEST(ZipWriter, AFileThatCannotBeReadLeavesNoArchive) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("a.bin"), "image"));
    ASSERT_TRUE(WriteWholeFile(dir.File("out.zip"), "an older archive"));
    std::string error;
    EXPECT_FALSE(WriteZipFile(dir.File("out.zip"), {{"APP0.bin", dir.File("a.bin")}, {"APP1.bin", dir.File("missing")}},
                              &error));
    EXPECT_EQ(error, "not a readable file: " + dir.File("missing"));
    EXPECT_FALSE(fs::exists(dir.File("out.zip")));
    EXPECT_FALSE(WriteZipFile(dir.File("no-folder/out.zip"), {{"APP0.bin", dir.File("a.bin")}}, &error));
    EXPECT_THAT(error, HasSubstr("cannot create " + dir.File("no-folder/out.zip")));
}

// Archives both readers refuse, mostly in the same words. Nothing is written, and
// an older version folder stays as it was.
TEST(ZipReader, RefusesHostileAndDamagedArchivesLikeLibzip) {
    std::vector<ZipEntrySpec> bomb = {{"APP0.bin", std::string(40u << 20, '\0')}, {"APP1.bin", std::string(40u << 20, '\0')}};
    std::vector<ZipEntrySpec> many;
    for (int i = 0; i <= UNZIP_MAX_ENTRIES; ++i) many.push_back({"f" + std::to_string(i), "x"});
    const std::string noise = NoiseImage();
    struct Case {
        const char* name;
        std::vector<ZipEntrySpec> entries;
        std::function<void(std::string&)> damage;  // edits the archive's bytes, when set
        const char* libzipReason;
        const char* ownReason;  // nullptr: the same words as libzip's
    };
    const std::vector<Case> cases = {
        {"dotdot", {{"APP0.bin", "good"}, {"a/../../evil.bin", "evil"}}, nullptr, "the archive has an entry that leaves its folder: a/../../evil.bin", nullptr},
        {"backslash dotdot", {{"..\\evil.bin", "evil"}}, nullptr, "the archive has an entry that leaves its folder: ..\\evil.bin", nullptr},
        {"absolute", {{"/tmp/evil.bin", "evil"}}, nullptr, "the archive has an entry with an absolute name: /tmp/evil.bin", nullptr},
        {"drive", {{"C:evil.bin", "evil"}}, nullptr, "the archive has an entry with an absolute name: C:evil.bin", nullptr},
        {"link", {{"APP0.bin", "/etc/passwd", true}}, nullptr, "the archive has a link entry: APP0.bin", nullptr},
        {"bomb", bomb, nullptr, "the archive unpacks to more than 64 MiB", nullptr},
        {"too many", many, nullptr, "the archive has too many entries", nullptr},
        {"same names",
         {{"APP0.bin", "first"}, {"APP1.bin", "again"}},
         [](std::string& zip) {
             for (size_t at = zip.find("APP1.bin"); at != std::string::npos; at = zip.find("APP1.bin", at)) zip[at + 3] = '0';
         },
         "the archive holds two entries named APP0.bin", nullptr},
        {"bad CRC",
         {{"APP0.bin", noise}},
         [](std::string& zip) { zip[DataStart(zip) + 100] ^= 1; },
         "the entry APP0.bin is damaged: CRC error", nullptr},
        {"bad deflate data",
         {{"APP0.bin", CompressibleImage()}},
         [](std::string& zip) {
             for (size_t i = 0; i < 40; ++i) zip[DataStart(zip) + i] = '\xff';
         },
         "the entry APP0.bin is damaged: Zlib error: data error", nullptr},
        {"larger size than the data",
         {{"APP0.bin", CompressibleImage()}},
         [](std::string& zip) {
             Put32(zip, CentralHeader(zip) + 24, 20001);
             Put32(zip, LocalHeader(zip) + 22, 20001);
         },
         "the entry APP0.bin is shorter than it says", nullptr},
        {"smaller size than the data",
         {{"APP0.bin", CompressibleImage()}},
         [](std::string& zip) {
             Put32(zip, CentralHeader(zip) + 24, 19000);
             Put32(zip, LocalHeader(zip) + 22, 19000);
         },
         "the entry APP0.bin is longer than it says", nullptr},
        {"cut short", {{"APP0.bin", noise}}, [](std::string& zip) { zip.resize(zip.size() / 2); },
         "the archive cannot be opened: Not a zip archive", nullptr},
        {"not a zip", {{"APP0.bin", "x"}}, [](std::string& zip) { zip = std::string(100, 'x'); },
         "the archive cannot be opened: Not a zip archive", nullptr},
        {"local header elsewhere",
         {{"APP0.bin", noise}},
         [](std::string& zip) { Put32(zip, CentralHeader(zip) + 42, 7); },
         // libzip's words are wrong here.
         "the archive cannot be opened: Not a zip archive", "the archive cannot be opened: Zip archive inconsistent"},
        {"encrypted",
         {{"APP0.bin", noise}},
         [](std::string& zip) {
             Put16(zip, CentralHeader(zip) + 8, 1);
             Put16(zip, LocalHeader(zip) + 6, 1);
         },
         "cannot read the entry APP0.bin: No password provided", "the entry APP0.bin is encrypted"},
        {"unknown method",
         {{"APP0.bin", noise}},
         [](std::string& zip) {
             Put16(zip, CentralHeader(zip) + 10, 12);
             Put16(zip, LocalHeader(zip) + 8, 12);
         },
         // libzip calls an unknown method invalid data.
         "the entry APP0.bin is damaged: Compressed data invalid",
         "the entry APP0.bin uses a compression method the tool cannot read (12)"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string archive = dir.File("download.zip");
        ASSERT_TRUE(WriteTestZip(archive, c.entries)) << c.name;
        if (c.damage) {
            std::string bytes = ReadWholeFile(archive);
            c.damage(bytes);
            ASSERT_TRUE(WriteWholeFile(archive, bytes));
        }
        const std::string bytes = ReadWholeFile(archive);
        for (const Reader& reader : {LIBZIP, OWN}) {
            SCOPED_TRACE(std::string(c.name) + " by " + reader.name);
            const bool own = std::string(reader.name) == OWN.name;
            fs::create_directories(dir.File("1.0.3"));
            ASSERT_TRUE(WriteWholeFile(dir.File("1.0.3/APP0.bin"), "older image"));
            const UnzipResult result = reader.unzip(archive, dir.File("1.0.3"), true);
            EXPECT_FALSE(result.ok);
            EXPECT_TRUE(result.files.empty());
            EXPECT_EQ(result.reason, own && c.ownReason ? c.ownReason : c.libzipReason);
            // The older folder as it was, nothing beside it, the archive untouched.
            EXPECT_EQ(Contents(dir.File("1.0.3")), (std::map<std::string, std::string>{{"APP0.bin", "older image"}}));
            std::set<std::string> names;
            for (const auto& item : fs::directory_iterator(dir.Path())) names.insert(item.path().filename().string());
            EXPECT_EQ(names, (std::set<std::string>{"1.0.3", "download.zip"}));
            EXPECT_EQ(ReadWholeFile(archive), bytes);
        }
    }
}
