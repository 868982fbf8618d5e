#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

struct LinkCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // link name -> what it points to
    std::string savedThrough;
    std::string target;  // the regular file that must hold the new text
};

TEST(SaveFileSafely, SavingThroughASymbolicLinkUpdatesItsTargetAndKeepsTheLink) {
    const LinkCase cases[] = {
        {"relative link", {{"l.xml", "real.xml"}}, "l.xml", "real.xml"},
        {"link into a folder", {{"l.xml", "sub/real.xml"}}, "l.xml", "sub/real.xml"},
        {"chain of links", {{"a.xml", "b.xml"}, {"b.xml", "sub/real.xml"}}, "a.xml", "sub/real.xml"},
        {"absolute link", {{"l.xml", "@/sub/real.xml"}}, "l.xml", "sub/real.xml"},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
        const std::string target = dir.File(c.target);
        ASSERT_TRUE(WriteWholeFile(target, "old"));
        ASSERT_EQ(chmod(target.c_str(), 0640), 0);
        for (const auto& [name, to] : c.links) {
            const std::string pointsTo = to[0] == '@' ? dir.Path() + to.substr(1) : to;
            ASSERT_EQ(symlink(pointsTo.c_str(), dir.File(name).c_str()), 0);
        }

        ASSERT_TRUE(SaveFileSafely(dir.File(c.savedThrough), Writes("new")));
        EXPECT_EQ(ReadWholeFile(target), "new");
        EXPECT_EQ(ModeOf(target), 0640u);
        for (const auto& [name, to] : c.links) {
            struct stat st {};
            ASSERT_EQ(lstat(dir.File(name).c_str(), &st), 0);
            EXPECT_TRUE(S_ISLNK(st.st_mode)) << name << " is still a link";
        }
        EXPECT_EQ(GetLocalFolderFileList(dir.File("sub")).size() + GetLocalFolderFileList(dir.Path()).size(),
                  1u + c.links.size())
            << "no temporary left";
    }
}

TEST(SaveFileSafely, AFileWithHardLinksIsUpdatedUnderEveryName) {
    // A rename used to give the saved name a new file and leave the other names on the old text.
    const struct {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"longer text", "old", "a new text, longer than the old one"},
        {"shorter text", "an old text, longer than the new one", "new"},
        {"empty text", "old", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("config.xml");
        ASSERT_TRUE(WriteWholeFile(path, c.before));
        ASSERT_EQ(chmod(path.c_str(), 0640), 0);
        ASSERT_EQ(link(path.c_str(), dir.File("other-name.xml").c_str()), 0);

        ASSERT_TRUE(SaveFileSafely(path, [&c](std::FILE* file) {
            return std::fwrite(c.after.data(), 1, c.after.size(), file) == c.after.size();
        }));
        EXPECT_EQ(ReadWholeFile(path), c.after);
        EXPECT_EQ(ReadWholeFile(dir.File("other-name.xml")), c.after);
        struct stat saved {}, other {};
        ASSERT_EQ(stat(path.c_str(), &saved), 0);
        ASSERT_EQ(stat(dir.File("other-name.xml").c_str(), &other), 0);
        EXPECT_EQ(saved.st_ino, other.st_ino) << "still one file";
        EXPECT_EQ(saved.st_nlink, 2u);
        EXPECT_EQ(ModeOf(path), 0640u);
        EXPECT_EQ(GetLocalFolderFileList(dir.Path()).size(), 2u) << "no temporary left";
    }
}

TEST(SaveFileSafely, ADanglingLinkCreatesTheFileItPointsTo) {
    TempDir dir;
    ASSERT_EQ(symlink("real.xml", dir.File("l.xml").c_str()), 0);
    ASSERT_TRUE(SaveFileSafely(dir.File("l.xml"), Writes("new")));
    EXPECT_EQ(ReadWholeFile(dir.File("real.xml")), "new");
    struct stat st {};
    ASSERT_EQ(lstat(dir.File("l.xml").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(SaveFileSafely, RootKeepsTheOwnerOfTheFileItReplaces) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can hand a file to another owner";
    TempDir dir;
    const std::string path = dir.File("config.xml");
    ASSERT_TRUE(WriteWholeFile(path, "old"));
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(SaveFileSafely(path, Writes("new")));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadWholeFile(path), "new");
}

// Runs the save in a child process; as root the child first becomes the unprivileged
// user 65534, so the permission checks are the ones an ordinary user meets.
// Returns the child's result: 1 saved, 0 refused, -1 the child could not run.
int SaveAsOrdinaryUser(const std::string& path) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        std::string why;
        const bool saved = SaveFileSafely(path, Writes("new"), {}, &why);
        _exit(saved ? 1 : (why.empty() ? 4 : 0));
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    const int code = WEXITSTATUS(status);
    return code <= 1 ? code : -1;
}

TEST(SaveFileSafely, AFileTheUserMayNotWriteIsRefusedAndLeftAlone) {
    struct Case {
        const char* name;
        mode_t mode;
        bool ownedByUser;  // owned by the user who saves, else by another
    };
    const Case cases[] = {
        {"read-only file of the user", 0444, true},
        {"another user's file in the user's folder", 0644, false},
    };
    const bool root = geteuid() == 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.ownedByUser && !root) continue;  // without root no file of another user can be made here
        TempDir dir;
        // The folder belongs to the user, so a rename over the file would succeed.
        if (root) {
            ASSERT_EQ(chown(dir.Path().c_str(), 65534, 65534), 0);
        }
        const std::string path = dir.File("config.xml");
        ASSERT_TRUE(WriteWholeFile(path, "old"));
        if (root && c.ownedByUser) {
            ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);

        EXPECT_EQ(SaveAsOrdinaryUser(path), 0);
        EXPECT_EQ(ReadWholeFile(path), "old");
        EXPECT_EQ(ModeOf(path), c.mode);
        EXPECT_EQ(GetLocalFolderFileList(dir.Path()).size(), 1u);
    }
    // The same user may save a file they may write.
    TempDir dir;
    if (root) {
        ASSERT_EQ(chown(dir.Path().c_str(), 65534, 65534), 0);
    }
    const std::string path = dir.File("config.xml");
    ASSERT_TRUE(WriteWholeFile(path, "old"));
    if (root) {
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(SaveAsOrdinaryUser(path), 1);
    EXPECT_EQ(ReadWholeFile(path), "new");
}

TEST(SaveFileSafely, SomethingOtherThanARegularFileIsRefused) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(dir.File("folder").c_str(), 0755), 0);
    for (const char* name : {"fifo", "folder"}) {
        std::string why;
        EXPECT_FALSE(SaveFileSafely(dir.File(name), Writes("x"), {}, &why)) << name;
        EXPECT_EQ(why, "not a regular file") << name;
    }
    struct stat st {};
    ASSERT_EQ(lstat(dir.File("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(SaveFileSafely, KilledSavesLeaveOneTemporaryWhichTheNextSaveReplaces) {
    TempDir dir;
    const std::string path = dir.File("config.xml");
    ASSERT_TRUE(WriteWholeFile(path, "old"));
    for (int i = 0; i < 5; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SaveFileSafely(path, [](std::FILE* file) {
                std::fputs("<AppConfig", file);
                std::fflush(file);
                raise(SIGKILL);
                return true;
            });
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status));
    }
    EXPECT_EQ(GetLocalFolderFileList(dir.Path()), (std::vector<std::string>{".config.xml.tmp", "config.xml"}));
    EXPECT_EQ(ReadWholeFile(path), "old");

    ASSERT_TRUE(SaveFileSafely(path, Writes("new")));
    EXPECT_EQ(ReadWholeFile(path), "new");
    EXPECT_EQ(GetLocalFolderFileList(dir.Path()), std::vector<std::string>{"config.xml"});
}

}  // namespace
