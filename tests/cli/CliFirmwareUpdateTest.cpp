// fw publish, fw versions, fw fetch, fw update: a catalogue made by the tool itself,
// served over file:// and a loopback HTTP server, flashed onto the simulator.
#include <filesystem>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "common/FileUtils.h"
#include "support/LoopbackHttpServer.h"

namespace {

class CliFirmwareUpdateTest : public CliSimTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartSim());
        catalogue_ = dir_.File("catalogue");
        data_ = dir_.File("data");
    }
    // Publishes a simulator image of the version into partition 0 (and 1 when asked).
    std::vector<uint8_t> Publish(const std::string& version, bool withApp1 = false) {
        const std::string app0 = dir_.File(version + "-app0.bin");
        EXPECT_TRUE(WriteSimFirmwareImage(app0, "v" + version, 3000));
        std::vector<std::string> args = {"fw", "publish", "--catalogue", catalogue_, version, app0};
        if (withApp1) {
            const std::string app1 = dir_.File(version + "-app1.bin");
            EXPECT_TRUE(WriteSimFirmwareImage(app1, "v" + version + "-b", 500));
            args.push_back(app1);
        }
        const CliResult result = RunCli(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(Contains(result.out, "Published " + version));
        const std::string bytes = ReadWholeFile(app0);
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    }
    [[nodiscard]] std::string FileUrl() const { return "file://" + catalogue_ + "/"; }

    std::string catalogue_;
    std::string data_;
};

TEST_F(CliFirmwareUpdateTest, VersionsMarksWhatIsNewerThanTheSensor) {
    Publish("1.0.2");
    Publish("1.0.3");
    Publish("0.9.9");
    const CliResult result = RunOnSim({"fw", "versions", "--json", "--update-url", FileUrl()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    Json json;
    ASSERT_TRUE(ParseJson(result.out, json)) << result.out;
    EXPECT_EQ(json.at("sensor_version").get<std::string>(), "1.0.2");
    std::vector<std::string> newer;
    for (const Json& item : json.at("versions")) {
        if (item.at("newer").get<bool>()) newer.push_back(item.at("version").get<std::string>());
    }
    EXPECT_EQ(newer, std::vector<std::string>{"1.0.3"});

    const CliResult text = RunCli({"fw", "versions", "--update-url", FileUrl()});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(Contains(text.out, "1.0.3"));
    EXPECT_TRUE(Contains(text.out, "0.9.9"));

    const CliResult none = RunCli({"fw", "versions", "--update-url", "file://" + dir_.File("nowhere") + "/"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(Contains(none.err, "Failed to log on to the update server."));
}

// Bytes that are not UTF-8, in the sensor's version or in the publisher's notes,
// leave valid JSON behind (U+FFFD in their place) instead of an exception.
TEST_F(CliFirmwareUpdateTest, TextsThatAreNotUtf8GiveValidJson) {
    VirtualSensorOptions options = FastOptions();
    options.version = "v1.0.\xFF";
    ASSERT_TRUE(StartSim(options));
    const std::string app0 = dir_.File("app0.bin");
    ASSERT_TRUE(WriteSimFirmwareImage(app0, "v1.0.3", 3000));
    const CliResult publish = RunCli({"fw", "publish", "--catalogue", catalogue_, "--notes", "caf\xE9", "1.0.3", app0});
    ASSERT_EQ(publish.exitCode, 0) << publish.err;

    const CliResult result = RunOnSim({"fw", "versions", "--json", "--update-url", FileUrl()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    Json json;
    ASSERT_TRUE(ParseJson(result.out, json)) << result.out;
    EXPECT_EQ(json.at("sensor_version").get<std::string>(), "1.0.\xEF\xBF\xBD");
    ASSERT_EQ(json.at("versions").size(), 1u);
    EXPECT_EQ(json.at("versions").at(0).at("notes").get<std::string>(), "caf\xEF\xBF\xBD");
}

// True when the text has no control character but the line end and is UTF-8: nothing
// a terminal would act on.
::testing::AssertionResult SafeForATerminal(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F || c == 0xFF || c == 0xFE)
            return ::testing::AssertionFailure() << "byte " << int(c) << " at " << i << " in: " << text;
    }
    return ::testing::AssertionSuccess();
}

// Texts from the update server and the sensor reach the terminal escaped, as info shows them.
TEST_F(CliFirmwareUpdateTest, TextsFromTheServerAndTheSensorAreEscapedOnATerminal) {
    const std::string zeros(64, '0');
    const auto catalogue = [&](const std::string& version, const std::string& archive, const std::string& notes) {
        return R"({"product": "Palo520G", "versions": [{"version": ")" + version + R"(", "archive": ")" + archive +
               R"(", "size": 1, "sha256": ")" + zeros + R"(", "notes": ")" + notes + R"("}]})";
    };
    const struct {
        const char* name;
        std::string catalogue;
        std::string sensorVersion;  // empty: no --port
        int exitCode;
        std::string shown;
    } cases[] = {
        {"notes with a screen clear, a window title, a bell and a NUL",
         catalogue("1.0.3", "1.0.3/firmware.zip", R"(fixes\u001b[2J\u001b]0;PWN\u0007 and\u0000 more)"), "", 0,
         R"(fixes\x1b[2J\x1b]0;PWN\x07 and\x00 more)"},
        {"notes in Chinese stay readable", catalogue("1.0.3", "1.0.3/firmware.zip", "修复"), "", 0, "修复"},
        {"version name in the error", catalogue(R"(1.0\u001b[2J)", "1.0.3/firmware.zip", ""), "", 1, R"(1.0\x1b[2J)"},
        {"archive path in the error", catalogue("1.0.3", R"(1.0.3/\u001b]0;PWN\u0007?x)", ""), "", 1,
         R"(1.0.3/\x1b]0;PWN\x07?x)"},
        {"sensor version with escapes", catalogue("1.0.3", "1.0.3/firmware.zip", ""), "1\x1b[2J\x1b]0;PWN\x07", 0,
         R"(1\x1b[2J\x1b]0;PWN\x07 (suspicious: not printable ASCII))"},
        {"sensor version with a raw 0xFF", catalogue("1.0.3", "1.0.3/firmware.zip", ""), "v1.0.\xFF", 0,
         R"(firmware 1.0.\xff (suspicious: not printable ASCII))"},
    };
    ASSERT_TRUE(RecursiveCreateDirectory(catalogue_));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteWholeFile(catalogue_ + "/catalogue.json", c.catalogue));
        std::vector<std::string> args = {"fw", "versions", "--update-url", FileUrl()};
        if (!c.sensorVersion.empty()) {
            VirtualSensorOptions options = FastOptions();
            options.version = c.sensorVersion;
            ASSERT_TRUE(StartSim(options));
            args.insert(args.end(), {"--port", Port()});
        }
        const CliResult result = RunCli(args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_TRUE(SafeForATerminal(result.out));
        EXPECT_TRUE(SafeForATerminal(result.err));
        EXPECT_TRUE(Contains(result.out + result.err, c.shown));
    }
}

TEST_F(CliFirmwareUpdateTest, UpdateFetchesOverHttpAndFlashesThePartition) {
    const std::vector<uint8_t> image = Publish("1.0.3", true);
    LoopbackHttpServer server(catalogue_);
    const CliResult result = RunOnSim({"fw", "update", "1.0.3", "--partition", "0", "--baud", "256000",
                                       "--update-url", server.Url(), "--data-dir", data_},
                                      120000);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_TRUE(Contains(result.out, "Download successful!"));
    EXPECT_EQ(sim_->FlashPartition(0), image);
    EXPECT_TRUE(std::filesystem::exists(data_ + "/FW_Image/1.0.3/APP1.bin"));
    EXPECT_TRUE(std::filesystem::exists(data_ + "/FW_Image/download.zip"));
}

TEST_F(CliFirmwareUpdateTest, UpdateRefusesAPartitionTheVersionHasNoImageFor) {
    Publish("1.0.3");
    const std::vector<uint8_t> before = sim_->FlashPartition(1);
    const CliResult result = RunOnSim({"fw", "update", "1.0.3", "--partition", "1", "--update-url", FileUrl(),
                                       "--data-dir", data_});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "Bin file error!"));
    EXPECT_TRUE(Contains(result.err, "APP1.bin"));
    EXPECT_EQ(sim_->FlashPartition(1), before);
}

TEST_F(CliFirmwareUpdateTest, FetchPrintsTheFolderAndAWrongChecksumFails) {
    Publish("1.0.3", true);
    const CliResult fetched = RunCli({"fw", "fetch", "1.0.3", "--json", "--update-url", FileUrl(), "--data-dir", data_});
    ASSERT_EQ(fetched.exitCode, 0) << fetched.err;
    Json json;
    ASSERT_TRUE(ParseJson(fetched.out, json)) << fetched.out;
    EXPECT_EQ(json.at("folder").get<std::string>(), data_ + "/FW_Image/1.0.3");
    ASSERT_EQ(json.at("images").size(), 2u);
    EXPECT_EQ(json.at("images").at(1).get<std::string>(), "APP1.bin");

    // The archive on the server changes after publishing: the catalogue's checksum no longer holds.
    std::string zip = ReadWholeFile(catalogue_ + "/1.0.3/firmware.zip");
    zip[zip.size() / 2] ^= 0x55;
    WriteWholeFile(catalogue_ + "/1.0.3/firmware.zip", zip);
    const CliResult refused = RunCli({"fw", "fetch", "1.0.3", "--update-url", FileUrl(), "--data-dir", data_});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "Failed to download the firmware from the update server."));
    EXPECT_TRUE(Contains(refused.err, "SHA-256"));
    EXPECT_FALSE(std::filesystem::exists(data_ + "/FW_Image/download.zip"));
}

}  // namespace
