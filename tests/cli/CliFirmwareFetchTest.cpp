// fw fetch and fw publish against hostile situations: a fetch killed with SIGKILL
// while the archive arrives, a second fetch while one runs, a FIFO in place of a
// catalogue.
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CliRunner.h"
#include "SimFixture.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace fs = std::filesystem;

namespace {

// Names in a folder and below it (relative), sorted.
std::vector<std::string> Tree(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& item : fs::recursive_directory_iterator(folder, ec)) {
        names.push_back(fs::relative(item.path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The size of the largest regular file directly in the folder.
uint64_t LargestFile(const std::string& folder) {
    uint64_t largest = 0;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(folder, ec)) {
        if (item.is_regular_file(ec)) largest = std::max<uint64_t>(largest, item.file_size(ec));
    }
    return largest;
}

// Bytes that do not compress, so that the archive is about as large as the image.
std::string Noise(size_t length) {
    std::string bytes(length, '\0');
    uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

TEST(CliFetchKilled, TheNextFetchLeavesNoTemporaryAndTwoFetchesDoNotMeet) {
    TempDir dir;
    const std::string site = dir.File("site"), data = dir.File("data"), image = dir.File("app0.bin");
    const std::string firmware = data + "/FW_Image";
    ASSERT_TRUE(WriteWholeFile(image, Noise(400000)));
    const CliResult published = RunCli({"fw", "publish", "--catalogue", site, "1.0.3", image});
    ASSERT_EQ(published.exitCode, 0) << published.err;
    LoopbackHttpServer server(site);
    // The archive stops after 100000 bytes and the server then stays silent.
    server.SetFault("/1.0.3/firmware.zip", LoopbackHttpServer::Fault::Stall, 100000);

    for (int kill = 0; kill < 3; ++kill) {
        SCOPED_TRACE(kill);
        CliProcess fetch({"fw", "fetch", "1.0.3", "--update-url", server.Url(), "--data-dir", data});
        ASSERT_TRUE(WaitUntil([&] { return LargestFile(firmware) >= 100000; }, 30000)) << fetch.Err();
        if (kill == 0) {
            // The same folder from a second process (over file://, the server is busy).
            const CliResult second =
                RunCli({"fw", "fetch", "1.0.3", "--update-url", "file://" + site + "/", "--data-dir", data});
            EXPECT_EQ(second.exitCode, 1);
            EXPECT_TRUE(Contains(second.err, "another fetch into " + firmware + " is running")) << second.err;
        }
        fetch.Signal(SIGKILL);
        fetch.Wait(10000);
    }

    server.SetFault("/1.0.3/firmware.zip", LoopbackHttpServer::Fault::None, 0);
    const CliResult good = RunCli({"fw", "fetch", "1.0.3", "--update-url", server.Url(), "--data-dir", data});
    ASSERT_EQ(good.exitCode, 0) << good.err;
    EXPECT_EQ(Tree(firmware), (std::vector<std::string>{"1.0.3", "1.0.3/APP0.bin", "download.zip"}));
    EXPECT_EQ(ReadWholeFile(firmware + "/1.0.3/APP0.bin"), ReadWholeFile(image));
}

// A FIFO where the catalogue belongs: refused at once with the reason, and left as it is.
TEST(CliPublish, AFifoInPlaceOfTheCatalogueIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string site = dir.File("site"), image = dir.File("app0.bin");
    fs::create_directories(site);
    ASSERT_EQ(::mkfifo((site + "/catalogue.json").c_str(), 0600), 0);
    ASSERT_TRUE(WriteWholeFile(image, "APP0"));
    const CliResult result = RunCli({"fw", "publish", "--catalogue", site, "1.0.3", image});
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "cannot read " + site + "/catalogue.json")) << result.err;
    EXPECT_EQ(Tree(site), std::vector<std::string>{"catalogue.json"});
    EXPECT_TRUE(fs::is_fifo(site + "/catalogue.json"));
}

}  // namespace
