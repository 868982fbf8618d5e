// The update client against catalogues served by a loopback HTTP server and over
// file://: version order, fetch and unpack, and the archives it must refuse.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "UpgradeTestSupport.h"
#include "app/StringIds.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempDir.h"
#include "upgrade/CUnzipper.h"
#include "upgrade/CataloguePublisher.h"
#include "upgrade/FirmwareFetch.h"
#include "upgrade/Sha256.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

TEST(VersionOrder, ComparesNumbersNotTexts) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"1.0.10", "1.0.9", 1}, {"1.0.9", "1.0.10", -1}, {"v1.0.3", "1.0.3", 0}, {"1.0", "1.0.0", 0},
        {"2", "1.9.9", 1},      {"1.0.3", "", 1},        {"abc", "1.0", -1},     {"1.0", "abc", 1},
        {"1..2", "0.1", -1},    {"1.0.3-rc", "1.0.2", -1}, {"", "", 0},          {"x", "", 0},
    };
    for (const Case& c : cases) {
        const int result = CompareVersion(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " vs " << c.b;
    }
}

TEST(VersionOrder, NewerVersionsKeepTheCatalogueOrder) {
    // The sensor reports "v1.0.2"; the tool removes the v before comparing.
    EXPECT_THAT(NewerVersions("1.0.2;1.0.3;0.9.9", "1.0.2"), ElementsAre("1.0.3"));
    EXPECT_THAT(NewerVersions("1.1;1.0.3;2.0", "1.0.2"), ElementsAre("1.1", "1.0.3", "2.0"));
    EXPECT_THAT(NewerVersions("1.0.3", "1.0.2"), ElementsAre("1.0.3"));
    EXPECT_THAT(NewerVersions("1.0.1;1.0.2", "1.0.2"), IsEmpty());
    // With no device version every version that parses is newer.
    EXPECT_THAT(NewerVersions("1.0.1;junk", ""), ElementsAre("1.0.1"));
}

TEST(Catalogue, RefusesWhatCouldMisleadTheClient) {
    const std::string sha(64, 'a');
    const auto entry = [&](const std::string& version, const std::string& archive) {
        return R"({"versions":[{"version":")" + version + R"(","archive":")" + archive +
               R"(","size":10,"sha256":")" + sha + R"("}]})";
    };
    struct Case {
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"not json", "not JSON"},
        {R"({"product":"Palo520G"})", "versions"},
        {entry("../../etc", "x.zip"), "may hold only letters"},
        {entry("1.0", "../x.zip"), "archive path"},
        {entry("1.0", "/srv/x.zip"), "absolute"},
        {entry("1.0", "http://elsewhere/x.zip"), "not relative"},
        {R"({"versions":[{"version":"1.0","archive":"a.zip","size":10,"sha256":"xyz"}]})", "sha256"},
        {R"({"versions":[{"version":"1.0","archive":"a.zip","size":-1,"sha256":")" + sha + R"("}]})", "size"},
    };
    for (const Case& c : cases) {
        FirmwareCatalogue catalogue;
        std::string error;
        EXPECT_FALSE(ParseCatalogue(c.text, catalogue, &error)) << c.text;
        EXPECT_THAT(error, HasSubstr(c.reason)) << c.text;
    }
    FirmwareCatalogue catalogue;
    ASSERT_TRUE(ParseCatalogue(R"({"versions":[{"version":"1.0.3","archive":"1.0.3/f.zip","size":5,"sha256":")" +
                                   std::string(64, 'A') + R"(","extra":{"x":1}}],"other":true})",
                               catalogue, nullptr));
    ASSERT_EQ(catalogue.versions.size(), 1u);
    EXPECT_EQ(catalogue.versions[0].sha256, std::string(64, 'a'));
}

TEST(UpdateAddress, OverrideThenEnvironmentThenConfiguration) {
    XMLParser doc;
    const std::string xml = R"(<AppConfig><upgrade url="http://config/"/></AppConfig>)";
    doc.LoadBuffer(xml.data(), xml.size());
    const XMLNode root = doc.FindElement("AppConfig");
    unsetenv(UPDATE_URL_ENVIRONMENT);
    SetUpdateUrlOverride("");
    EXPECT_EQ(UpdateAddressFromSettings(root), "http://config/");
    setenv(UPDATE_URL_ENVIRONMENT, "http://env/", 1);
    EXPECT_EQ(UpdateAddressFromSettings(root), "http://env/");
    SetUpdateUrlOverride("file:///override/");
    EXPECT_EQ(UpdateAddressFromSettings(root), "file:///override/");
    SetUpdateUrlOverride("");
    unsetenv(UPDATE_URL_ENVIRONMENT);
    EXPECT_EQ(UpdateAddressFromSettings(XMLNode()), "");

    CUpgradeClient client{""};
    EXPECT_FALSE(client.Logon());
    EXPECT_EQ(client.LastError(), "no update address is set");
}

// The reasons a user meets (a wrong address, a server that is down or lacks the
// catalogue) in the user-interface language, each naming what was asked for.
TEST(ServerFailures, SayWhyInTheUserInterfaceLanguage) {
    TempDir served;
    LoopbackHttpServer server(served.Path());  // serves an empty folder: no catalogue
    std::string closed;
    {
        LoopbackHttpServer gone(served.Path());
        closed = gone.Url();
    }
    const std::string missing = "file://" + served.File("missing") + "/";
    struct Case {
        std::string address;
        std::string english;
        std::string chinese;
    };
    const Case cases[] = {
        {server.Url(), server.Url() + "catalogue.json: the server answered with HTTP status 404",
         server.Url() + "catalogue.json：服务器返回 HTTP 状态 404"},
        {closed, closed + "catalogue.json: the server could not be reached", closed + "catalogue.json：无法连接到服务器"},
        {missing, missing + "catalogue.json: the file does not exist or cannot be read",
         missing + "catalogue.json：文件不存在或无法读取"},
        {"ftp://example.invalid/",
         "ftp://example.invalid/catalogue.json: not an address the tool can use (http://, https:// or file://)",
         "ftp://example.invalid/catalogue.json：不是本工具可用的地址（http://、https:// 或 file://）"},
        {"", "no update address is set", "未设置升级地址"},
    };
    for (const Case& c : cases) {
        for (const UiLanguage language : {UiLanguage::English, UiLanguage::SimplifiedChinese}) {
            SetUiLanguage(language);
            CUpgradeClient client(c.address);
            EXPECT_FALSE(client.Logon());
            EXPECT_EQ(client.LastError(), language == UiLanguage::English ? c.english : c.chinese) << c.address;
        }
    }
    SetUiLanguage(UiLanguage::English);
}

// A catalogue folder, served over HTTP or file://, and a data folder to fetch into.
class FetchTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) server_ = std::make_unique<LoopbackHttpServer>(served_.Path());
        firmware_ = data_.File("FW_Image");
    }
    [[nodiscard]] std::string Address() const {
        return GetParam() ? server_->Url() : "file://" + served_.Path() + "/";
    }
    void Publish(const std::string& version, const std::vector<std::pair<int, std::string>>& images) {
        std::vector<std::pair<int, std::string>> files;
        for (const auto& [partition, bytes] : images) {
            const std::string file = work_.File(version + "-APP" + std::to_string(partition) + ".bin");
            ASSERT_TRUE(WriteWholeFile(file, bytes));
            files.emplace_back(partition, file);
        }
        std::string error;
        ASSERT_TRUE(PublishFirmwareVersion(served_.Path(), version, files, "", nullptr, &error)) << error;
    }
    FirmwareFetchResult Fetch(const std::string& version, INetFileCopyProgressListener* listener = nullptr) {
        CUpgradeClient client(Address());
        client.SetStallTimeout(2);
        return FetchFirmwareVersion(client, version, firmware_, listener);
    }
    // Nothing under the data folder but the firmware folder itself: no archive, no
    // version folder (not even an empty one), no temporary; and nothing in the
    // folder a hostile entry aims at.
    void ExpectNothingKept() {
        EXPECT_FALSE(fs::exists(FirmwareArchivePath(firmware_)));
        for (const std::string& name : TreeOf(data_.Path())) EXPECT_EQ(name, "FW_Image") << "left behind: " << name;
        EXPECT_THAT(TreeOf(outside_.Path()), IsEmpty());
    }

    TempDir served_;
    TempDir data_;
    TempDir work_;     // image files to publish
    TempDir outside_;  // where a hostile entry aims
    std::unique_ptr<LoopbackHttpServer> server_;
    std::string firmware_;
};

TEST_P(FetchTest, FetchesVerifiesAndUnpacksAVersion) {
    const std::string app0 = TestImage(20000, 0), app1 = TestImage(7001, 1);
    Publish("1.0.2", {{0, TestImage(100, 9)}});
    Publish("1.0.3", {{0, app0}, {1, app1}});
    Publish("0.9.9", {{0, TestImage(100, 8)}});

    CUpgradeClient client(Address());
    ASSERT_TRUE(client.Logon()) << client.LastError();
    std::string history;
    ASSERT_TRUE(client.GetHistoryVersion(history));
    EXPECT_EQ(history, "1.0.2;1.0.3;0.9.9");

    RecordingListener listener;
    const FirmwareFetchResult result = Fetch("1.0.3", &listener);
    ASSERT_TRUE(result.Ok()) << result.reason;
    EXPECT_EQ(result.versionFolder, firmware_ + "/1.0.3");
    EXPECT_THAT(result.images, ElementsAre("APP0.bin", "APP1.bin"));
    EXPECT_EQ(ReadWholeFile(result.versionFolder + "/APP0.bin"), app0);
    EXPECT_EQ(ReadWholeFile(result.versionFolder + "/APP1.bin"), app1);
    const std::string archive = ReadWholeFile(FirmwareArchivePath(firmware_));
    EXPECT_EQ(archive, ReadWholeFile(served_.File("1.0.3/firmware.zip")));
    EXPECT_GT(listener.calls, 0);
    EXPECT_EQ(listener.lastDone, archive.size());
    EXPECT_EQ(listener.lastTotal, archive.size());

    // Partition 1 takes APP1.bin; a partition the version lacks falls back to the first image.
    EXPECT_EQ(ChooseFetchedImage(result.versionFolder, 1), result.versionFolder + "/APP1.bin");
    EXPECT_EQ(ChooseFetchedImage(result.versionFolder, 5), result.versionFolder + "/APP0.bin");
    EXPECT_EQ(ChooseFetchedImage(result.versionFolder, -1), result.versionFolder + "/APP0.bin");
}

TEST_P(FetchTest, ASecondFetchReplacesTheArchiveAndTheImages) {
    Publish("1.0.3", {{0, TestImage(3000, 0)}, {1, TestImage(3000, 1)}});
    ASSERT_TRUE(Fetch("1.0.3").Ok());
    // The maker republishes the version with only App0, and different bytes.
    const std::string again = TestImage(5000, 2);
    Publish("1.0.3", {{0, again}});
    const FirmwareFetchResult result = Fetch("1.0.3");
    ASSERT_TRUE(result.Ok()) << result.reason;
    EXPECT_THAT(TreeOf(result.versionFolder), ElementsAre("APP0.bin"));
    EXPECT_EQ(ReadWholeFile(result.versionFolder + "/APP0.bin"), again);
    EXPECT_EQ(ReadWholeFile(FirmwareArchivePath(firmware_)), ReadWholeFile(served_.File("1.0.3/firmware.zip")));
    EXPECT_THAT(TreeOf(firmware_), ElementsAre("1.0.3", "1.0.3/APP0.bin", "download.zip"));
    // Partition 1 now falls back to App0's image.
    EXPECT_EQ(ChooseFetchedImage(result.versionFolder, 1), result.versionFolder + "/APP0.bin");
}

TEST_P(FetchTest, RefusesArchivesThatAreNotWhatTheCatalogueSays) {
    const std::string outside = outside_.File("abs.bin");
    std::vector<ZipEntrySpec> bomb;
    const std::string zeros(40u << 20, '\0');
    bomb.push_back({"APP0.bin", zeros});
    bomb.push_back({"APP1.bin", zeros});
    struct Case {
        const char* name;
        std::vector<ZipEntrySpec> entries;
        FirmwareFetchResult::Stage stage;
        const char* reason;
        std::string shaOverride;
        long long sizeOverride;
        bool sameNames = false;  // the second entry's name is made the first one's
    };
    const std::vector<Case> cases = {
        {"wrong-sha", {{"APP0.bin", "good"}}, FirmwareFetchResult::Stage::Download, "SHA-256", std::string(64, '0'), -1},
        {"too-big", {{"APP0.bin", "good"}}, FirmwareFetchResult::Stage::Download, "more than", {}, 10},
        {"dotdot", {{"APP0.bin", "good"}, {"../../evil.bin", "evil"}}, FirmwareFetchResult::Stage::Unpack, "leaves its folder", {}, -1},
        {"absolute", {{outside, "evil"}}, FirmwareFetchResult::Stage::Unpack, "absolute", {}, -1},
        {"link", {{"APP0.bin", outside_.File("target")}, {"APP1.bin", "x", false}}, FirmwareFetchResult::Stage::Unpack, "link", {}, -1},
        {"bomb", bomb, FirmwareFetchResult::Stage::Unpack, "64 MiB", {}, -1},
        {"same-names", {{"APP0.bin", "first"}, {"APP1.bin", "again"}}, FirmwareFetchResult::Stage::Unpack,
         "two entries named APP0.bin", {}, -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ZipEntrySpec> entries = c.entries;
        if (std::string(c.name) == "link") entries[0].symbolicLink = true;
        const std::string version = std::string("1.0.") + std::to_string(&c - cases.data());
        fs::create_directories(served_.File(version));
        ASSERT_TRUE(WriteTestZip(served_.File(version + "/firmware.zip"), entries));
        if (c.sameNames) {
            // libzip will not write two entries of one name: the second is renamed in place.
            std::string zip = ReadWholeFile(served_.File(version + "/firmware.zip"));
            for (size_t at = zip.find("APP1.bin"); at != std::string::npos; at = zip.find("APP1.bin", at)) zip[at + 3] = '0';
            ASSERT_TRUE(WriteWholeFile(served_.File(version + "/firmware.zip"), zip));
        }
        AddCatalogueEntry(served_.Path(), version, version + "/firmware.zip", c.shaOverride, c.sizeOverride);

        const FirmwareFetchResult result = Fetch(version);
        EXPECT_EQ(result.stage, c.stage);
        EXPECT_EQ(result.MessageId(), TEXT_SERVER_DOWNLOAD_FAILED);
        EXPECT_THAT(result.reason, HasSubstr(c.reason));
        ExpectNothingKept();
        EXPECT_THAT(TreeOf(result.versionFolder), IsEmpty());
        EXPECT_FALSE(fs::exists(outside));
        EXPECT_FALSE(fs::exists(data_.Path() + "/evil.bin"));
    }
}

TEST_P(FetchTest, AListenerCancelsTheTransfer) {
    Publish("1.0.3", {{0, TestImage(3u << 20, 0)}});
    RecordingListener listener;
    listener.cancelAfter = 0;
    const FirmwareFetchResult result = Fetch("1.0.3", &listener);
    EXPECT_EQ(result.stage, FirmwareFetchResult::Stage::Download);
    EXPECT_THAT(result.reason, HasSubstr("cancelled"));
    ExpectNothingKept();
}

TEST_P(FetchTest, UnknownVersionAndMissingCatalogue) {
    EXPECT_EQ(Fetch("1.0.3").stage, FirmwareFetchResult::Stage::Logon);
    Publish("1.0.3", {{0, "abcd"}});
    const FirmwareFetchResult result = Fetch("2.0");
    EXPECT_EQ(result.stage, FirmwareFetchResult::Stage::VersionInfo);
    EXPECT_EQ(result.MessageId(), TEXT_SERVER_VERSION_LIST_FAILED);
}

INSTANTIATE_TEST_SUITE_P(Served, FetchTest, ::testing::Values(true, false),
                         [](const auto& test) { return test.param ? "Http" : "File"; });

TEST(FetchOverHttp, ShortAndStalledDownloadsFail) {
    TempDir served, data;
    const std::string image = TestImage(200000, 0);
    const std::string file = data.File("APP0.bin");
    ASSERT_TRUE(WriteWholeFile(file, image));
    ASSERT_TRUE(PublishFirmwareVersion(served.Path(), "1.0.3", {{0, file}}, "", nullptr, nullptr));
    std::remove(file.c_str());
    LoopbackHttpServer server(served.Path());
    const std::string firmware = data.File("FW_Image");

    for (const auto fault : {LoopbackHttpServer::Fault::CutShort, LoopbackHttpServer::Fault::Stall}) {
        server.SetFault("/1.0.3/firmware.zip", fault, 5000);
        CUpgradeClient client(server.Url());
        // The shortest stall time-out: libcurl judges the speed over the last 5 s, so
        // the stalled transfer ends about 5 s + 1 s after its last byte.
        client.SetStallTimeout(1);
        const auto start = std::chrono::steady_clock::now();
        const FirmwareFetchResult result = FetchFirmwareVersion(client, "1.0.3", firmware, nullptr);
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(result.stage, FirmwareFetchResult::Stage::Download);
        EXPECT_FALSE(result.reason.empty());
        // Hang guard only.
        EXPECT_LT(seconds, 60);
        EXPECT_FALSE(fs::exists(FirmwareArchivePath(firmware)));
        EXPECT_THAT(TreeOf(firmware), IsEmpty());
    }
}

TEST(Publish, ReplacesAVersionInPlaceAndKeepsADamagedCatalogue) {
    TempDir dir, images;
    const std::string a = images.File("a.bin"), b = images.File("b.bin");
    WriteWholeFile(a, "AAAA");
    WriteWholeFile(b, "BBBBBB");
    ASSERT_TRUE(PublishFirmwareVersion(dir.Path(), "1.0.1", {{0, a}}, "", nullptr, nullptr));
    ASSERT_TRUE(PublishFirmwareVersion(dir.Path(), "1.0.2", {{0, a}}, "", nullptr, nullptr));
    PublishedVersion published;
    ASSERT_TRUE(PublishFirmwareVersion(dir.Path(), "1.0.1", {{0, b}, {2, a}}, "fixes", &published, nullptr));

    FirmwareCatalogue catalogue;
    ASSERT_TRUE(ParseCatalogue(ReadWholeFile(dir.File("catalogue.json")), catalogue, nullptr));
    ASSERT_EQ(catalogue.versions.size(), 2u);
    EXPECT_EQ(catalogue.versions[0].version, "1.0.1");
    EXPECT_EQ(catalogue.versions[0].notes, "fixes");
    EXPECT_EQ(catalogue.versions[0].sha256, Sha256OfFile(dir.File("1.0.1/firmware.zip")));
    EXPECT_EQ(catalogue.versions[0].size, fs::file_size(dir.File("1.0.1/firmware.zip")));
    EXPECT_EQ(published.sha256, catalogue.versions[0].sha256);
    const UnzipResult unzip = CUnzipper::Unzip(dir.File("1.0.1/firmware.zip"), images.File("out"), false);
    ASSERT_TRUE(unzip.ok) << unzip.reason;
    EXPECT_THAT(unzip.files, ElementsAre("APP0.bin", "APP2.bin"));
    EXPECT_EQ(ReadWholeFile(images.File("out/APP0.bin")), "BBBBBB");

    std::string error;
    EXPECT_FALSE(PublishFirmwareVersion(dir.Path(), "1.0.3", {{0, a}, {0, b}}, "", nullptr, &error));
    EXPECT_THAT(error, HasSubstr("twice"));
    WriteWholeFile(dir.File("catalogue.json"), "{broken");
    EXPECT_FALSE(PublishFirmwareVersion(dir.Path(), "1.0.3", {{0, a}}, "", nullptr, &error));
    EXPECT_EQ(ReadWholeFile(dir.File("catalogue.json")), "{broken");
}

// Version names become folders beside the firmware folder's archive and
// temporaries, and beside a catalogue folder's catalogue.json: path-like names and
// the tool's own names are refused by the client's catalogue check and by
// publishing alike, and publishing then writes nothing.
TEST(VersionNames, PathLikeAndReservedNamesAreRefusedByClientAndPublisher) {
    struct Case {
        std::string name;
        const char* reason;
    };
    const Case refused[] = {
        {".", "starts with a dot"},
        {"..", "starts with a dot"},
        {".hidden", "starts with a dot"},
        {"../x", "may hold only letters"},
        {"a/b", "may hold only letters"},
        {"a\\b", "may hold only letters"},
        {"1.0 3", "may hold only letters"},
        {"download.zip", "uses for its own files"},
        {"Download.ZIP", "uses for its own files"},
        {"download.zip.part-Ab12Cd", "uses for its own files"},
        {"catalogue.json", "uses for its own files"},
        {"CATALOGUE.JSON", "uses for its own files"},
        {"1.0.3.unpack-1a2b3c", "uses for its own files"},
        {"1.0.3.old-abcdef", "uses for its own files"},
        {"", "is empty"},
        {std::string(65, '1'), "longer than 64"},
    };
    TempDir images;
    const std::string image = images.File("app0.bin");
    ASSERT_TRUE(WriteWholeFile(image, "APP0"));
    for (const Case& c : refused) {
        SCOPED_TRACE("\"" + c.name + "\"");
        FirmwareCatalogue offered;
        offered.versions.push_back({c.name, "1.0/firmware.zip", 4, std::string(64, 'a'), ""});
        FirmwareCatalogue parsed;
        std::string error;
        EXPECT_FALSE(ParseCatalogue(CatalogueToJson(offered), parsed, &error));
        EXPECT_THAT(error, HasSubstr(c.reason));

        TempDir site;
        error.clear();
        EXPECT_FALSE(PublishFirmwareVersion(site.Path(), c.name, {{0, image}}, "", nullptr, &error));
        EXPECT_THAT(error, HasSubstr(c.reason));
        EXPECT_THAT(TreeOf(site.Path()), IsEmpty());
    }
    // Names close to those stay usable.
    for (const std::string name : {"1.0.3", "v2.0-rc1+build_7", "download", "catalogue", "1.0.3.unpack", "1.0.old"}) {
        SCOPED_TRACE(name);
        TempDir site;
        std::string error;
        EXPECT_TRUE(PublishFirmwareVersion(site.Path(), name, {{0, image}}, "", nullptr, &error)) << error;
        FirmwareCatalogue parsed;
        EXPECT_TRUE(ParseCatalogue(ReadWholeFile(site.File("catalogue.json")), parsed, &error)) << error;
        EXPECT_THAT(TreeOf(site.Path()), ::testing::UnorderedElementsAre("catalogue.json", name, name + "/firmware.zip"));
    }
}

// A server and libcurl's file:// decode percent-encoding: the archive path is
// checked as it will be read.
TEST(ArchivePaths, PercentEncodingIsDecodedBeforeTheCheck) {
    struct Case {
        const char* archive;
        const char* reason;  // empty: accepted
    };
    const Case cases[] = {
        {"%2e%2e/outside.zip", "encodes a separator, a dot"},
        {"%2E%2E/outside.zip", "encodes a separator, a dot"},
        {"1.0/%2e%2e/%2e%2e/x.zip", "encodes a separator, a dot"},
        {".%2e/x.zip", "encodes a separator, a dot"},
        {"..%2fx.zip", "encodes a separator, a dot"},
        {"a%2Fb.zip", "encodes a separator, a dot"},
        {"a%5cb.zip", "encodes a separator, a dot"},
        {"x%00.zip", "encodes a separator, a dot"},
        {"x%0a.zip", "encodes a separator, a dot"},
        {"%zz.zip", "two hex digits"},
        {"x.zip%", "two hex digits"},
        {"x%2", "two hex digits"},
        {"1.0%2B1/firmware.zip", ""},
        {"a%20b/firmware.zip", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        std::string url, error;
        const bool ok = ResolveArchiveUrl("file:///srv/site/", c.archive, url, &error);
        if (*c.reason == '\0') {
            EXPECT_TRUE(ok) << error;
            EXPECT_EQ(url, std::string("file:///srv/site/") + c.archive);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_THAT(error, HasSubstr(c.reason));
        }
    }
}

// A catalogue served over file:// whose archive path climbs out of its folder in
// percent-encoding: the archive beside the folder is never read.
TEST(ArchivePaths, AnEncodedClimbReadsNothingOutsideTheCatalogueFolder) {
    TempDir root, data;
    const std::string site = root.File("site");
    fs::create_directories(root.File("outside"));
    ASSERT_TRUE(WriteTestZip(root.File("outside/firmware.zip"), {{"APP0.bin", "from outside"}}));
    fs::create_directories(site);
    // The entry is written as a hostile server would, beside a real one.
    fs::copy_file(root.File("outside/firmware.zip"), site + "/x.zip");
    AddCatalogueEntry(site, "1.0.3", "x.zip");
    std::string text = ReadWholeFile(site + "/catalogue.json");
    text.replace(text.find("\"x.zip\""), 7, "\"%2e%2e/outside/firmware.zip\"");
    ASSERT_TRUE(WriteWholeFile(site + "/catalogue.json", text));

    CUpgradeClient client("file://" + site + "/");
    const FirmwareFetchResult result = FetchFirmwareVersion(client, "1.0.3", data.File("FW_Image"), nullptr);
    EXPECT_EQ(result.stage, FirmwareFetchResult::Stage::Logon);
    EXPECT_THAT(result.reason, HasSubstr("encodes a separator, a dot"));
    EXPECT_THAT(TreeOf(data.Path()), IsEmpty());
}

// What killed fetches left, under this tool's fixed names and under the random
// names of earlier versions: the next fetch removes the temporaries and puts back
// a version folder that was moved aside and never replaced; other names stay.
TEST_P(FetchTest, ANewFetchClearsWhatKilledFetchesLeft) {
    const std::string image = TestImage(5000, 0);
    Publish("1.0.3", {{0, image}});
    const std::vector<std::pair<std::string, std::string>> files = {
        {".download.zip.part", "half an archive"},
        {"download.zip.part-Ab12Cd", "half an archive"},
        {"download.zip.part-x9Y8z7", "half an archive"},
        {".1.0.3.unpack/APP0.bin", "half an image"},
        {".1.0.2.unpack/APP0.bin", "half an image"},
        {"1.0.2.unpack-1a2b3c/APP0.bin", "half an image"},
        {".0.9.old/APP0.bin", "0.9, moved aside"},  // its new folder never arrived
        {"0.8/APP0.bin", "0.8"},
        {"0.8.old-abcdef/APP0.bin", "0.8, older"},
        {"1.0.1/APP0.bin", "1.0.1"},
        {"readme.txt", "kept"},
    };
    for (const auto& [name, bytes] : files) {
        fs::create_directories((fs::path(firmware_) / name).parent_path());
        ASSERT_TRUE(WriteWholeFile(firmware_ + "/" + name, bytes));
    }
    const FirmwareFetchResult result = Fetch("1.0.3");
    ASSERT_TRUE(result.Ok()) << result.reason;
    EXPECT_THAT(TreeOf(firmware_), ElementsAre("0.8", "0.8/APP0.bin", "0.9", "0.9/APP0.bin", "1.0.1", "1.0.1/APP0.bin",
                                               "1.0.3", "1.0.3/APP0.bin", "download.zip", "readme.txt"));
    EXPECT_EQ(ReadWholeFile(firmware_ + "/1.0.3/APP0.bin"), image);
    EXPECT_EQ(ReadWholeFile(firmware_ + "/0.9/APP0.bin"), "0.9, moved aside");
    EXPECT_EQ(ReadWholeFile(firmware_ + "/0.8/APP0.bin"), "0.8");
}

// A catalogue's size is checked before anything is asked for: an archive larger
// than one that can unpack within the limits is refused without a request, and a
// body that runs past the size it announced is cut there.
TEST(FetchOverHttp, OversizeEntriesAreRefusedAndEndlessBodiesCut) {
    TempDir served, data, work;
    const std::string file = work.File("APP0.bin");
    ASSERT_TRUE(WriteWholeFile(file, TestImage(300000, 0)));
    ASSERT_TRUE(PublishFirmwareVersion(served.Path(), "1.0.3", {{0, file}}, "", nullptr, nullptr));
    const uint64_t zipSize = fs::file_size(served.File("1.0.3/firmware.zip"));
    LoopbackHttpServer server(served.Path());
    server.SetFault("/1.0.3/firmware.zip", LoopbackHttpServer::Fault::Endless, 0);
    struct Case {
        const char* name;
        uint64_t size;
        bool requested;  // the archive was asked for
        std::string reason;
    };
    const Case cases[] = {
        {"a petabyte", 1000000000000000ull, false, "more than an archive of at most 64 MiB of images can have"},
        {"one byte over the limit", ARCHIVE_MAX_BYTES + 1, false, "more than an archive of at most 64 MiB"},
        {"three times the archive", zipSize * 3, true,
         "the server sent more than the catalogue's " + std::to_string(zipSize * 3) + " bytes"},
        {"the limit itself", ARCHIVE_MAX_BYTES, true,
         "the server sent more than the catalogue's " + std::to_string(ARCHIVE_MAX_BYTES) + " bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AddCatalogueEntry(served.Path(), "1.0.3", "1.0.3/firmware.zip", {}, static_cast<long long>(c.size));
        const std::string firmware = data.File(std::string("FW_Image-") + std::to_string(&c - cases));
        const int before = server.Requests();
        CUpgradeClient client(server.Url());
        client.SetStallTimeout(5);
        const FirmwareFetchResult result = FetchFirmwareVersion(client, "1.0.3", firmware, nullptr);
        EXPECT_EQ(result.stage, FirmwareFetchResult::Stage::Download);
        EXPECT_THAT(result.reason, HasSubstr(c.reason));
        EXPECT_EQ(server.Requests() - before, c.requested ? 2 : 1);  // the catalogue, then perhaps the archive
        EXPECT_THAT(TreeOf(firmware), IsEmpty());
    }
}

// The file-size limit stands in for a full disk: a write that fails names the file
// the user knows and the system's reason, and leaves nothing.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

TEST(FetchWrites, AFailedWriteGivesTheSystemsReason) {
    TempDir served, data, work;
    const std::string noise = work.File("noise.bin"), zeros = work.File("zeros.bin");
    // Noise does not compress: the archive itself passes the limit. Zeros do: only the unpacked image does.
    ASSERT_TRUE(WriteWholeFile(noise, TestImage(3u << 20, 0)));
    ASSERT_TRUE(WriteWholeFile(zeros, std::string(3u << 20, '\0')));
    ASSERT_TRUE(PublishFirmwareVersion(served.Path(), "1.0.1", {{0, noise}}, "", nullptr, nullptr));
    ASSERT_TRUE(PublishFirmwareVersion(served.Path(), "1.0.2", {{0, zeros}}, "", nullptr, nullptr));
    ASSERT_LT(fs::file_size(served.File("1.0.2/firmware.zip")), 1u << 20);
    struct Case {
        const char* version;
        FirmwareFetchResult::Stage stage;
        const char* file;
    };
    const Case cases[] = {
        {"1.0.1", FirmwareFetchResult::Stage::Download, "/download.zip: "},
        {"1.0.2", FirmwareFetchResult::Stage::Unpack, "/1.0.2/APP0.bin: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const std::string firmware = data.File(std::string("FW_Image-") + c.version);
        FirmwareFetchResult result;
        {
            const FileSizeLimit limit(1u << 20);
            CUpgradeClient client("file://" + served.Path() + "/");
            result = FetchFirmwareVersion(client, c.version, firmware, nullptr);
        }
        EXPECT_EQ(result.stage, c.stage);
        EXPECT_THAT(result.reason, HasSubstr("cannot write " + firmware + c.file + std::strerror(EFBIG)));
        EXPECT_THAT(TreeOf(firmware), IsEmpty());
    }
}

}  // namespace
