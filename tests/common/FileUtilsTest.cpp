#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sys/stat.h>

#include "common/FileUtils.h"
#include "support/TempDir.h"

namespace {

TEST(FileUtils, RelativeAndAbsolutePaths) {
    const std::string base = "/opt/palo";
    EXPECT_EQ(GetFileRelativePath("/opt/palo/SaveData", base), "SaveData");
    EXPECT_EQ(GetFileRelativePath("/opt/palo/SaveData/RadarData.dat", base), "SaveData/RadarData.dat");
    EXPECT_EQ(GetFileRelativePath("/opt/palominus/x", base), "/opt/palominus/x");
    EXPECT_EQ(GetFileRelativePath("/srv/data", base), "/srv/data");
    EXPECT_EQ(GetFileRelativePath("", base), "");
    EXPECT_EQ(GetFileAbsolutePath("SaveData", base), "/opt/palo/SaveData");
    EXPECT_EQ(GetFileAbsolutePath("./a/../SaveData/", base), "/opt/palo/SaveData");
    EXPECT_EQ(GetFileAbsolutePath("/srv/data", base), "/srv/data");
    EXPECT_EQ(CombinePathName("/opt/palo/", "Log"), "/opt/palo/Log");
    EXPECT_EQ(CombinePathName("/opt/palo", "Log"), "/opt/palo/Log");
}

TEST(FileUtils, ExtensionsAndFolderListing) {
    EXPECT_EQ(GetFileExtName("/a.b/photo.TIF"), "TIF");
    EXPECT_EQ(GetFileExtName("/a.b/photo"), "");
    EXPECT_EQ(GetFileExtName("archive.tar.gz"), "gz");

    TempDir dir;
    ASSERT_TRUE(RecursiveCreateDirectory(dir.File("x/y/z")));
    ASSERT_TRUE(WriteWholeFile(dir.File("APP1.bin"), "1"));
    ASSERT_TRUE(WriteWholeFile(dir.File("APP0.BIN"), "0"));
    ASSERT_TRUE(WriteWholeFile(dir.File("notes.txt"), "n"));
    EXPECT_EQ(GetLocalFolderFileList(dir.Path(), "bin"), (std::vector<std::string>{"APP0.BIN", "APP1.bin"}));
    EXPECT_EQ(GetLocalFolderFileList(dir.Path()).size(), 3u);
    EXPECT_TRUE(IsFileExist(dir.File("notes.txt")));
    EXPECT_FALSE(IsFileExist(dir.File("x")));
    EXPECT_FALSE(IsFileExist(dir.File("missing")));
}

TEST(FileUtils, DatedNamesCarryTheTimeOfDay) {
    const std::string name = GetFileNameByDate(".log", "Palo520G_TOOL_");
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(Palo520G_TOOL_\d{8}_\d{6}_\d{3}\.log)"))) << name;
}

TEST(FileUtils, ReadFileData) {
    TempDir dir;
    const std::string bytes("a\0b\xff", 4);
    ASSERT_TRUE(WriteWholeFile(dir.File("f.bin"), bytes));
    uint8_t* data = nullptr;
    ASSERT_EQ(ReadFileData(dir.File("f.bin"), &data), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 4), bytes);
    ReleaseFileData(data);
    EXPECT_EQ(ReadFileData(dir.File("missing"), &data), 0u);
    EXPECT_EQ(data, nullptr);
    ASSERT_TRUE(WriteWholeFile(dir.File("empty"), ""));
    EXPECT_EQ(ReadFileData(dir.File("empty"), &data), 0u);
}

TEST(FileUtils, ReadRegularFileReadsOnlyRegularFilesUpToTheCap) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("small"), "0123456789"));
    ASSERT_TRUE(WriteWholeFile(dir.File("empty"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.File("large"), std::string(100000, 'x')));
    ASSERT_EQ(mkdir(dir.File("folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);  // no writer: an open or read would wait for ever
    const struct {
        const char* name;
        size_t cap;
        bool ok;
        std::string textOrWhy;
    } cases[] = {
        {"small", 10, true, "0123456789"},
        {"empty", 10, true, ""},
        {"large", 100000, true, std::string(100000, 'x')},
        {"small", 9, false, "larger than 9 bytes"},
        {"large", 65536, false, "larger than 65536 bytes"},
        {"folder", 10, false, "Is a directory"},
        {"fifo", 10, false, "not a regular file"},
        {"missing", 10, false, "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " cap " + std::to_string(c.cap));
        std::string text = "left over";
        std::string why;
        EXPECT_EQ(ReadRegularFile(dir.File(c.name), c.cap, text, &why), c.ok);
        EXPECT_EQ(c.ok ? text : why, c.textOrWhy);
        if (!c.ok) EXPECT_TRUE(text.empty());
    }
}

TEST(FileUtils, DataFolderOverrideWins) {
    TempDir dir;
    SetProgramPathOverride(dir.File("data"));
    EXPECT_EQ(GetProgramPath(), dir.File("data"));
    struct stat st {};
    EXPECT_EQ(stat(dir.File("data").c_str(), &st), 0);
    SetProgramPathOverride("");
    EXPECT_NE(GetProgramPath(), dir.File("data"));
}

}  // namespace
