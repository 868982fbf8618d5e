#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/LogOutput.h"
#include "common/DbgOutput.h"
#include "common/FileUtils.h"
#include "support/TempDir.h"

namespace {

TEST(LogOutput, DebugLinesFromSeveralThreadsReachTheDatedFileWhole) {
    TempDir dir;
    FILE* file = OpenLogOutput(dir.File("Log"));
    ASSERT_NE(file, nullptr);
    DbgOutputA(2, "before threads\r\n");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) DbgOutputA(2, "%s, result: Success %d/%d\r\n", "RadarOperatorConfig_WriteDetectSetting", t, i);
        });
    for (auto& th : threads) th.join();
    CloseLogOutput(file);
    EXPECT_EQ(file, nullptr);
    DbgOutputA(2, "after close\r\n");

    const auto names = GetLocalFolderFileList(dir.File("Log"), "log");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("Palo520G_TOOL_", 0), 0u);
    const std::string text = ReadWholeFile(dir.File("Log/" + names[0]));
    size_t lines = 0;
    for (size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2) ++lines;
    EXPECT_EQ(lines, 401u);
    EXPECT_NE(text.find("before threads\r\n"), std::string::npos);
    EXPECT_EQ(text.find("after close"), std::string::npos);
    // Every line is whole: time stamp, text, line end.
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(start, end - start);
        EXPECT_TRUE(line.find("before threads") != std::string::npos ||
                    line.find("RadarOperatorConfig_WriteDetectSetting, result: Success ") == 24)
            << line;
        start = end + 2;
    }
}

// A crash must not take the run's log with it: every line is in the file as soon
// as it was written, read here through a second handle while the log is open.
TEST(LogOutput, EachLineIsInTheFileWhileTheLogIsStillOpen) {
    TempDir dir;
    FILE* file = OpenLogOutput(dir.File("Log"));
    ASSERT_NE(file, nullptr);
    const auto names = GetLocalFolderFileList(dir.File("Log"), "log");
    ASSERT_EQ(names.size(), 1u);
    const std::string path = dir.File("Log/" + names[0]);
    for (int i = 0; i < 3; ++i) {
        DbgOutputA(2, "process=%d\r\n", 40 * i);
        const std::string text = ReadWholeFile(path);
        EXPECT_NE(text.find("process=" + std::to_string(40 * i) + "\r\n"), std::string::npos) << "line " << i;
    }
    CloseLogOutput(file);
}

TEST(LogOutput, UnwritableFolderGivesNoLogAndNoError) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    TempDir dir;
    chmod(dir.Path().c_str(), 0500);
    FILE* file = OpenLogOutput(dir.File("Log"));
    EXPECT_EQ(file, nullptr);
    DbgOutputA(2, "dropped\r\n");
    CloseLogOutput(file);
    chmod(dir.Path().c_str(), 0700);
    EXPECT_FALSE(std::filesystem::exists(dir.File("Log")));
}

TEST(LogOutput, PathThatIsAFileGivesNoLog) {
    // Works as root too: "Log" exists as a plain file, so no folder can be made.
    TempDir dir;
    WriteWholeFile(dir.File("Log"), "not a folder");
    FILE* file = OpenLogOutput(dir.File("Log"));
    EXPECT_EQ(file, nullptr);
    DbgOutputA(2, "dropped\r\n");
    CloseLogOutput(file);
    EXPECT_EQ(ReadWholeFile(dir.File("Log")), "not a folder");
}

// Each start adds a log: the folder keeps the newest LOG_KEEP_FILES (this run's among
// them) and no more than LOG_KEEP_BYTES; the oldest go first, other files stay.
TEST(LogOutput, OldLogsArePrunedByCountAndBySize) {
    struct Case {
        const char* name;
        size_t oldLogs;
        size_t bytesEach;
        size_t expectOldKept;
    };
    const Case cases[] = {
        {"few small logs all stay", 5, 100, 5},
        {"beyond the count the oldest go", 30, 100, LOG_KEEP_FILES - 1},
        {"beyond the size the oldest go", 8, 3 * 1024 * 1024, 3},
        {"one log larger than the limit goes", 1, LOG_KEEP_BYTES + 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string folder = dir.File("Log");
        std::filesystem::create_directories(folder);
        std::vector<std::string> names;
        for (size_t i = 0; i < c.oldLogs; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Palo520G_TOOL_2025%04zu_120000_000.log", 101 + i);
            names.push_back(name);
            WriteWholeFile(folder + "/" + name, std::string(c.bytesEach, 'x'));
        }
        WriteWholeFile(folder + "/notes.txt", "mine");
        FILE* file = OpenLogOutput(folder);
        ASSERT_NE(file, nullptr);
        CloseLogOutput(file);
        const auto present = GetLocalFolderFileList(folder, "log");
        EXPECT_EQ(present.size(), c.expectOldKept + 1);
        for (size_t i = 0; i < names.size(); ++i) {
            const bool newest = i + c.expectOldKept >= names.size();
            EXPECT_EQ(std::filesystem::exists(folder + "/" + names[i]), newest) << names[i];
        }
        EXPECT_EQ(ReadWholeFile(folder + "/notes.txt"), "mine");
    }
}

}  // namespace
