#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

#include "common/FileUtils.h"
#include "support/TempDir.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return static_cast<mode_t>(-1);
    return st.st_mode & 07777;
}

std::function<bool(std::FILE*)> Writes(const char* text) {
    return [text](std::FILE* file) { return std::fputs(text, file) >= 0; };
}

TEST(SaveFileSafely, ReplacingAFileKeepsItsPermissionBits) {
    for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0604}, mode_t{0664}}) {
        TempDir dir;
        const std::string path = dir.File("config.xml");
        ASSERT_TRUE(WriteWholeFile(path, "old"));
        ASSERT_EQ(chmod(path.c_str(), mode), 0);

        ASSERT_TRUE(SaveFileSafely(path, Writes("new content")));
        EXPECT_EQ(ReadWholeFile(path), "new content");
        EXPECT_EQ(ModeOf(path), mode) << std::oct << mode;
        EXPECT_EQ(GetLocalFolderFileList(dir.Path()).size(), 1u) << "no temporary left beside it";
    }
}

TEST(SaveFileSafely, ANewFileGetsTheUsualModeUnderTheUmask) {
    TempDir dir;
    const std::string path = dir.File("fresh.xml");
    const mode_t previous = umask(027);
    const bool saved = SaveFileSafely(path, Writes("x"));
    umask(previous);
    ASSERT_TRUE(saved);
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(ReadWholeFile(path), "x");
}

TEST(SaveFileSafely, AFailedWriteLeavesTheOldFileUntouched) {
    TempDir dir;
    const std::string path = dir.File("config.xml");
    ASSERT_TRUE(WriteWholeFile(path, "the user's settings"));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);

    // The writer gets part of the way and then reports an error.
    std::string seenTemporary;
    const bool saved = SaveFileSafely(
        path,
        [](std::FILE* file) {
            std::fputs("<AppConfig", file);
            return false;
        },
        [&seenTemporary](const std::string& temporary) { seenTemporary = temporary; });
    EXPECT_FALSE(saved);
    EXPECT_TRUE(seenTemporary.empty()) << "nothing is renamed after a failed write";
    EXPECT_EQ(ReadWholeFile(path), "the user's settings");
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(GetLocalFolderFileList(dir.Path()), std::vector<std::string>{"config.xml"});
}

TEST(SaveFileSafely, TheOldFileStaysInPlaceUntilTheNewOneIsComplete) {
    TempDir dir;
    const std::string path = dir.File("config.xml");
    ASSERT_TRUE(WriteWholeFile(path, "old"));
    std::string oldAtRename, temporaryAtRename;
    ASSERT_TRUE(SaveFileSafely(path, Writes("new"), [&](const std::string& temporary) {
        oldAtRename = ReadWholeFile(path);
        temporaryAtRename = ReadWholeFile(temporary);
    }));
    EXPECT_EQ(oldAtRename, "old");
    EXPECT_EQ(temporaryAtRename, "new");
    EXPECT_EQ(ReadWholeFile(path), "new");
}

TEST(SaveFileSafely, AMissingFolderFailsWithoutCreatingAnything) {
    TempDir dir;
    EXPECT_FALSE(SaveFileSafely(dir.File("no/such/folder/config.xml"), Writes("x")));
    EXPECT_TRUE(GetLocalFolderFileList(dir.Path()).empty());
    EXPECT_FALSE(IsFileExist(dir.File("no")));
}

}  // namespace
