// Firmware zips in the Windows build (the own reader and writer over zlib): an
// archive the writer made unpacks whole, and names Windows would take for a
// device, a stream or another entry's file are refused before anything is written.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"
#include "upgrade/CUnzipper.h"

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> Contents(const std::string& folder)
{
    std::map<std::string, std::string> found;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_regular_file()) {
            found[it->path().lexically_relative(folder).generic_string()] = ReadWholeFile(it->path().string());
        }
    }
    return found;
}

}  // namespace

TEST(UnzipWin32, AnArchiveTheWriterMadeUnpacksWhole)
{
    TempDir dir;
    std::string image(100000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 31 % 253);
    ASSERT_TRUE(WriteWholeFile(dir.File("a.bin"), image));
    ASSERT_TRUE(WriteWholeFile(dir.File("b.bin"), "second"));
    std::string error;
    ASSERT_TRUE(CreateZipArchive(dir.File("fw.zip"), {{"APP0.bin", dir.File("a.bin")}, {"more/APP1.bin", dir.File("b.bin")}},
                                 &error))
        << error;
    const UnzipResult result = CUnzipper::Unzip(dir.File("fw.zip"), dir.File("1.0.3"), false);
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(result.files, (std::vector<std::string>{"APP0.bin", "more/APP1.bin"}));
    EXPECT_EQ(Contents(dir.File("1.0.3")),
              (std::map<std::string, std::string>{{"APP0.bin", image}, {"more/APP1.bin", "second"}}));
}

TEST(UnzipWin32, NamesWindowsWouldMisreadAreRefused)
{
    struct Case {
        std::vector<std::string> names;
        std::string reason;
    };
    const std::string unusable = "the archive has an entry whose name Windows cannot use: ";
    const Case cases[] = {
        {{"APP0.bin", "COM5"}, unusable + "COM5"},
        {{"nul.bin"}, unusable + "nul.bin"},
        {{"images/Aux"}, unusable + "images/Aux"},
        {{"LPT1.txt"}, unusable + "LPT1.txt"},
        {{"APP0.bin:hidden"}, unusable + "APP0.bin:hidden"},
        {{"APP0.bin."}, unusable + "APP0.bin."},
        {{"APP0.bin "}, unusable + "APP0.bin "},
        {{"a<b.bin"}, unusable + "a<b.bin"},
        {{"APP0.bin", "app0.BIN"}, "the archive holds two entries named app0.BIN"},
        {{"images/APP1.bin", "Images\\app1.bin"}, "the archive holds two entries named Images\\app1.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        TempDir dir;
        ASSERT_TRUE(WriteWholeFile(dir.File("image.bin"), "image"));
        std::vector<std::pair<std::string, std::string>> entries;
        for (const std::string& name : c.names) entries.emplace_back(name, dir.File("image.bin"));
        std::string error;
        ASSERT_TRUE(CreateZipArchive(dir.File("fw.zip"), entries, &error)) << error;
        fs::create_directories(dir.File("1.0.3"));
        ASSERT_TRUE(WriteWholeFile(dir.File("1.0.3/APP0.bin"), "older image"));

        const UnzipResult result = CUnzipper::Unzip(dir.File("fw.zip"), dir.File("1.0.3"), true);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.reason, c.reason);
        EXPECT_EQ(Contents(dir.File("1.0.3")), (std::map<std::string, std::string>{{"APP0.bin", "older image"}}));
        std::set<std::string> names;
        for (const auto& item : fs::directory_iterator(dir.Path())) names.insert(item.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"1.0.3", "fw.zip", "image.bin"}));
    }
}
