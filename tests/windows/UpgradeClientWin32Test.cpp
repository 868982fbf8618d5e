// The update client's transfers over WinHTTP, against tests/windows/http_peer.py,
// whose address PALO520G_TEST_UPDATE_URL gives (scripts/test-windows.sh starts it
// and sets it); without it the cases are skipped.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/StringIds.h"
#include "app/StringTable.h"
#include "support/TempDir.h"
#include "upgrade/CUpgradeClient.h"

namespace fs = std::filesystem;

namespace {

std::string PeerUrl()
{
    const char* url = std::getenv("PALO520G_TEST_UPDATE_URL");
    return url != nullptr ? url : "";
}

class Listener : public INetFileCopyProgressListener {
public:
    int OnProgress(void*, uint64_t done, uint64_t total, double) override
    {
        ++calls;
        // A call with nothing new after some bytes came: the transfer is waiting.
        const bool idle = calls > 1 && done > 0 && done == lastDone;
        lastDone = done;
        lastTotal = total;
        if (cancelWhenIdle && idle) return 0;
        return cancelAfter >= 0 && calls > cancelAfter ? 0 : 1;
    }
    int calls = 0;
    uint64_t lastDone = 0;
    uint64_t lastTotal = 0;
    int cancelAfter = -1;
    bool cancelWhenIdle = false;
};

}  // namespace

TEST(UpgradeClientWin32, ReadsTheCatalogueAndSaysWhyAFetchFailed)
{
    const std::string url = PeerUrl();
    if (url.empty()) GTEST_SKIP() << "PALO520G_TEST_UPDATE_URL is not set";
    CUpgradeClient client(url);
    ASSERT_TRUE(client.Logon()) << client.LastError();
    std::string versions;
    ASSERT_TRUE(client.GetHistoryVersion(versions));
    EXPECT_EQ(versions, "1.0.3;1.0.4;1.0.5;1.0.6;1.0.7;1.0.8;1.0.9");

    const std::string catalogue = url + "catalogue.json";
    struct Case {
        std::string url;
        size_t maxBytes;
        std::string expected;
    };
    const Case cases[] = {
        {catalogue, 10, FormatStringText(TEXT_NET_TOO_LARGE, catalogue.c_str(), "10")},
        {url + "nothing.json", 4096, FormatStringText(TEXT_NET_HTTP_STATUS, (url + "nothing.json").c_str(), 404)},
        {"http://127.0.0.1:1/catalogue.json", 4096,
         FormatStringText(TEXT_NET_UNREACHABLE, "http://127.0.0.1:1/catalogue.json")},
        {"ftp://127.0.0.1/catalogue.json", 4096, FormatStringText(TEXT_NET_BAD_ADDRESS, "ftp://127.0.0.1/catalogue.json")},
        {"file:///Z:/no/such/catalogue.json", 4096,
         FormatStringText(TEXT_NET_FILE_MISSING, "file:///Z:/no/such/catalogue.json")},
    };
    // Redirections are followed, up to five.
    std::string moved;
    EXPECT_TRUE(client.FetchText(url + "moved/catalogue.json", 4096, moved)) << client.LastError();
    EXPECT_NE(moved.find("\"1.0.9\""), std::string::npos) << moved;
    EXPECT_FALSE(client.FetchText(url + "loop/catalogue.json", 4096, moved));
    EXPECT_EQ(client.LastError(), FormatStringText(TEXT_NET_OTHER, (url + "loop/catalogue.json").c_str(),
                                                   LoadStringText(TEXT_NET_REDIRECT_FAILED).c_str()));

    for (const Case& c : cases) {
        std::string text = "left over";
        EXPECT_FALSE(client.FetchText(c.url, c.maxBytes, text)) << c.url;
        EXPECT_EQ(client.LastError(), c.expected);
        EXPECT_TRUE(text.empty()) << c.url;
    }
}

TEST(UpgradeClientWin32, DownloadsWithProgressAndKeepsNothingOnFailure)
{
    const std::string url = PeerUrl();
    if (url.empty()) GTEST_SKIP() << "PALO520G_TEST_UPDATE_URL is not set";
    CUpgradeClient client(url);
    ASSERT_TRUE(client.Logon()) << client.LastError();
    VersionInfo good;
    ASSERT_TRUE(client.GetVersionInfo("1.0.3", good)) << client.LastError();
    std::string sha256;
    uint64_t size = 0;
    ASSERT_TRUE(ParseExpectation(good.expected, sha256, size));

    TempDir dir;
    const std::string local = dir.File("download.zip");
    Listener listener;
    ASSERT_TRUE(client.DownloadFile(good.source, local, good.expected, &listener)) << client.LastError();
    EXPECT_EQ(fs::file_size(local), size);
    EXPECT_GE(listener.calls, 2);  // once the server answered, then per piece
    EXPECT_EQ(listener.lastDone, size);
    EXPECT_EQ(listener.lastTotal, size);

    const auto sourceOf = [&](const char* version) {
        VersionInfo info;
        EXPECT_TRUE(client.GetVersionInfo(version, info)) << client.LastError();
        return info.source;
    };
    struct Case {
        const char* name;
        std::string source;
        std::string expected;  // the expectation text given to DownloadFile
        int cancelAfter;
        bool cancelWhenIdle;
        int stallSeconds;
        std::string reason;
    };
    const std::string sizeText = std::to_string(size);
    const std::string cut = sourceOf("1.0.4"), missing = sourceOf("1.0.8");
    const std::string stalled = sourceOf("1.0.9");
    const std::string cancelled = LoadStringText(TEXT_DOWNLOAD_CANCELLED);
    const Case cases[] = {
        {"cut short", cut, good.expected, -1, false, 20,
         FormatStringText(TEXT_NET_BODY_CUT, cut.c_str(), std::to_string(size / 2).c_str(), sizeText.c_str())},
        {"too long", sourceOf("1.0.5"), good.expected, -1, false, 20,
         FormatStringText(TEXT_ARCHIVE_TOO_LONG, sizeText.c_str())},
        {"missing", missing, good.expected, -1, false, 20,
         FormatStringText(TEXT_NET_HTTP_STATUS, missing.c_str(), 404)},
        {"stalled", stalled, good.expected, -1, false, 1, FormatStringText(TEXT_NET_TIMED_OUT, stalled.c_str())},
        {"cancelled", good.source, good.expected, 1, false, 20, cancelled},
        // The listener hears from a silent server and can cancel before it closes.
        {"cancelled while the server is silent", stalled, good.expected, -1, true, 20, cancelled},
        {"other digest", good.source, FormatExpectation(std::string(64, '0'), size), -1, false, 20,
         FormatStringText(TEXT_ARCHIVE_DIGEST_MISMATCH, sha256.c_str(), std::string(64, '0').c_str())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // An archive an earlier fetch left must not pass for this one.
        ASSERT_TRUE(WriteWholeFile(local, "an older archive"));
        Listener watcher;
        watcher.cancelAfter = c.cancelAfter;
        watcher.cancelWhenIdle = c.cancelWhenIdle;
        client.SetStallTimeout(c.stallSeconds);
        EXPECT_FALSE(client.DownloadFile(c.source, local, c.expected, &watcher));
        EXPECT_EQ(client.LastError(), c.reason);
        EXPECT_TRUE(fs::is_empty(dir.Path())) << "no archive and no temporary";
    }
}
