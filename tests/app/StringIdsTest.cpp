#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/TempDir.h"

namespace {

struct GeneratorRun {
    int exitCode = -1;
    std::string output;  // CMake's messages (standard output and error)
};

// Runs the build's header generator on a table, as the build does.
GeneratorRun Generate(const std::string& table, const std::string& header) {
    const std::string command = std::string("'") + PALO_CMAKE_COMMAND + "' -DINPUT='" + table + "' -DOUTPUT='" +
                                header + "' -P '" + PALO_SOURCE_DIR + "/cmake/StringIds.cmake' 2>&1";
    GeneratorRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(StringIdsGenerator, NamesEveryIdAndSkipsCaptionsAndComments) {
    TempDir dir;
    // Texts with the characters that mean something to CMake's lists and escapes.
    ASSERT_TRUE(WriteWholeFile(dir.File("ENG.tsv"),
                               "# id<TAB>name<TAB>text\n"
                               "\n"
                               "101\tTEXT_ABOUT\tAbout(&A)...\n"
                               "20\tTEXT_LIST\ta;b [c] \\\\ d\\r\\n\n"
                               "1000/label:2011\tMax. Range (m):\n"
                               "30\tTEXT_LAST_2\t\r\n"));
    const GeneratorRun run = Generate(dir.File("ENG.tsv"), dir.File("StringIds.h"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string header = ReadWholeFile(dir.File("StringIds.h"));
    EXPECT_NE(header.find("enum : int {\n    TEXT_ABOUT = 101,\n    TEXT_LIST = 20,\n    TEXT_LAST_2 = 30,\n};"),
              std::string::npos)
        << header;
    EXPECT_EQ(header.find("1000"), std::string::npos) << header;
}

TEST(StringIdsGenerator, RefusesATableItCannotName) {
    const struct {
        const char* table;
        const char* message;
    } cases[] = {
        {"1\tTEXT_A\ta\n2\tTEXT_B\tb\n3\tTEXT_A\tc\n", "ENG.tsv:3: the name TEXT_A is already given on line 1"},
        {"1\tTEXT_A\ta\n# comment\n01\tTEXT_B\tb\n", "ENG.tsv:3: the id 1 is already given on line 1"},
        {"1\tTEXT_A\ta\n2\tNo name here\n", "ENG.tsv:2: expected id<TAB>name<TAB>text"},
        {"1\ttext_a\ta\n", "ENG.tsv:1: the name \"text_a\" is not TEXT_"},
        {"1\tTEXT_\ta\n", "ENG.tsv:1: the name \"TEXT_\" is not TEXT_"},
        {"x1\tTEXT_A\ta\n", "ENG.tsv:1: expected id<TAB>name<TAB>text"},
        {"# only comments\n1000/caption\tTool\n", "no string ids"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_TRUE(WriteWholeFile(dir.File("ENG.tsv"), c.table));
        const GeneratorRun run = Generate(dir.File("ENG.tsv"), dir.File("StringIds.h"));
        EXPECT_NE(run.exitCode, 0) << c.table;
        // CMake wraps long messages; compare with the line breaks folded away.
        std::string folded;
        for (char ch : run.output) {
            if (ch == '\n') continue;
            if (ch == ' ' && !folded.empty() && folded.back() == ' ') continue;
            folded += ch;
        }
        EXPECT_NE(folded.find(c.message), std::string::npos) << c.table << "\n" << run.output;
        struct stat info {};
        EXPECT_NE(stat(dir.File("StringIds.h").c_str(), &info), 0) << "a header was written for " << c.table;
    }
}

// The build rebuilds whatever includes the header only when the names change: an
// edited text must leave the header untouched.
TEST(StringIdsGenerator, AnEditedTextLeavesTheHeaderAlone) {
    TempDir dir;
    const std::string header = dir.File("StringIds.h");
    ASSERT_TRUE(WriteWholeFile(dir.File("ENG.tsv"), "1\tTEXT_A\tOld text\n"));
    ASSERT_EQ(Generate(dir.File("ENG.tsv"), header).exitCode, 0);
    const std::string before = ReadWholeFile(header);
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, header.c_str(), old, 0), 0);

    ASSERT_TRUE(WriteWholeFile(dir.File("ENG.tsv"), "1\tTEXT_A\tNew text\n"));
    ASSERT_EQ(Generate(dir.File("ENG.tsv"), header).exitCode, 0);
    struct stat info {};
    ASSERT_EQ(stat(header.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);

    ASSERT_TRUE(WriteWholeFile(dir.File("ENG.tsv"), "1\tTEXT_A\tNew text\n2\tTEXT_B\tMore\n"));
    ASSERT_EQ(Generate(dir.File("ENG.tsv"), header).exitCode, 0);
    ASSERT_EQ(stat(header.c_str(), &info), 0);
    EXPECT_NE(info.st_mtim.tv_sec, 1000000000);
    EXPECT_NE(ReadWholeFile(header), before);
}

}  // namespace
