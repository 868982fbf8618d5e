#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

#include "app/AppConfig.h"
#include "app/AppConfigSaveHook.h"
#include "common/FileUtils.h"
#include "common/ValueParse.h"
#include "support/TempDir.h"

namespace {

// Every test gets its own data folder, so appConfig.xml starts fresh.
class AppConfigTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramPathOverride(dir_.Path()); }
    void TearDown() override {
        SetAppConfigBeforeRenameHook(nullptr);
        SetProgramPathOverride("");
        gAppConfigDoc.Clear();
    }
    std::string ConfigText() const { return ReadWholeFile(dir_.File("appConfig.xml")); }
    TempDir dir_;
};

TEST_F(AppConfigTest, FirstStartCreatesFileWithDeclarationAndEmptyAppConfig) {
    XMLNode appConfig = LoadAppConfig();
    ASSERT_TRUE(appConfig);
    const std::string text = ConfigText();
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\"?>", 0), 0u) << text;
    EXPECT_NE(text.find("<AppConfig />"), std::string::npos) << text;
    int32_t baud = 115200;
    ReadConfigValue(appConfig, "BaudRate", baud);
    EXPECT_EQ(baud, 115200);
}

TEST_F(AppConfigTest, NamesMatchWithoutCaseAndFirstMatchWins) {
    WriteWholeFile(dir_.File("appConfig.xml"),
                   "<appconfig baudrate=\"256000\" BAUDRATE=\"9600\"><paramsetting/></appconfig>"
                   "<AppConfig BaudRate=\"1\"/>");
    XMLNode appConfig = LoadAppConfig();
    int32_t baud = 115200;
    ReadConfigValue(appConfig, "BaudRate", baud);
    EXPECT_EQ(baud, 256000);
    EXPECT_TRUE(appConfig.FindChild("ParamSetting"));
    EXPECT_EQ(appConfig.GetOrAddChild("PARAMSETTING").Raw(), appConfig.FindChild("ParamSetting").Raw());
}

TEST_F(AppConfigTest, EmptyOrMalformedValuesKeepDefaults) {
    WriteWholeFile(dir_.File("appConfig.xml"), "<AppConfig BaudRate=\"\" ReplayInterval=\"fast\" SaveData=\"1\"/>");
    XMLNode appConfig = LoadAppConfig();
    int32_t baud = 115200, interval = 500, save = 0;
    ReadConfigValue(appConfig, "BaudRate", baud);
    ReadConfigValue(appConfig, "ReplayInterval", interval);
    ReadConfigFlag(appConfig, "SaveData", save);
    ReadConfigValue(appConfig, "Missing", baud);
    EXPECT_EQ(baud, 115200);
    EXPECT_EQ(interval, 500);
    EXPECT_EQ(save, 1);
}

TEST_F(AppConfigTest, FixedFormatsRoundTrip) {
    XMLNode appConfig = LoadAppConfig();
    XMLNode info = appConfig.GetOrAddChild("ObjectInfo");
    XMLNode params = appConfig.GetOrAddChild("ParamSetting");
    info.SetAttributeHex32("DistanceWaveWnd_NobodyColor", 0xFF15BC59);
    info.SetAttributeDouble("CurrentLPValueMA", 0.00712, "%.5f");
    params.SetAttributeUInt64("Gate5TriggerThreshold", 31);
    params.SetAttributeDouble("RangeResolution", 0.7, "%.2f");
    params.SetAttributeDouble("StateReportFreq", 4.0, "%.1f");
    params.SetAttributeInt64("Big", -1234567890123456789LL);  // cut to 15 characters
    ASSERT_TRUE(SaveAppConfig());
    gAppConfigDoc.Clear();

    appConfig = LoadAppConfig();
    info = appConfig.FindChild("ObjectInfo");
    params = appConfig.FindChild("ParamSetting");
    EXPECT_EQ(info.GetAttributeText("DistanceWaveWnd_NobodyColor").value(), "0xff15bc59");
    EXPECT_EQ(info.GetAttributeText("CurrentLPValueMA").value(), "0.00712");
    EXPECT_EQ(params.GetAttributeText("RangeResolution").value(), "0.70");
    EXPECT_EQ(params.GetAttributeText("StateReportFreq").value(), "4.0");
    EXPECT_EQ(params.GetAttributeText("Big").value(), "-12345678901234");
    uint32_t colour = 0, threshold = 0;
    ReadConfigValue(info, "DistanceWaveWnd_NobodyColor", colour);
    ReadConfigValue(params, "Gate5TriggerThreshold", threshold);
    EXPECT_EQ(colour, 0xFF15BC59u);
    EXPECT_EQ(threshold, 31u);
}

TEST_F(AppConfigTest, PathsInsideTheDataFolderAreStoredRelative) {
    XMLNode appConfig = LoadAppConfig();
    WriteConfigPath(appConfig, "SaveDataPath", dir_.File("SaveData"));
    WriteConfigPath(appConfig, "LastReplayFile", "/srv/records/RadarData.dat");
    EXPECT_EQ(appConfig.GetAttributeText("SaveDataPath").value(), "SaveData");
    EXPECT_EQ(appConfig.GetAttributeText("LastReplayFile").value(), "/srv/records/RadarData.dat");
    std::string saveDataPath = "unchanged", replay;
    ReadConfigPath(appConfig, "SaveDataPath", saveDataPath);
    ReadConfigPath(appConfig, "LastReplayFile", replay);
    EXPECT_EQ(saveDataPath, dir_.File("SaveData"));
    EXPECT_EQ(replay, "/srv/records/RadarData.dat");
    std::string kept = "kept";
    ReadConfigPath(appConfig, "Absent", kept);
    EXPECT_EQ(kept, "kept");
}

TEST_F(AppConfigTest, UnknownContentSurvivesASave) {
    WriteWholeFile(dir_.File("appConfig.xml"),
                   "<?xml version=\"1.0\"?>\n<!-- kept --><AppConfig Custom=\"x\"><Plugin a=\"1\"><Deep/></Plugin>"
                   "</AppConfig>");
    XMLNode appConfig = LoadAppConfig();
    appConfig.SetAttributeInt64("BaudRate", 9600);
    ASSERT_TRUE(SaveAppConfig());
    const std::string text = ConfigText();
    EXPECT_EQ(text.find("<?xml"), text.rfind("<?xml")) << "one declaration only";
    for (const char* piece : {"<!-- kept -->", "Custom=\"x\"", "<Plugin a=\"1\">", "<Deep />", "BaudRate=\"9600\""})
        EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
}

TEST_F(AppConfigTest, ADamagedFileIsRefusedWholeAndLeftAlone) {
    // Nothing of a file that does not parse is taken, not even what comes before the
    // damage, and no save of the run replaces it.
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"<AppConfig BaudRate=\"9600\"><ParamSetting DetectRangeMax=\"7.70\"/><Broken", "not well-formed at line 1"},
        {"<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\">\n", "not well-formed at line 2"},
        // An unclosed quote in the declaration runs on over the rest of the file.
        {"<?xml version=\"1.0\" encoding='UTF-8\"?>\n<AppConfig BaudRate=\"9600\"/>\n", "not well-formed at line "},
        {"<AppConfig BaudRate=\"9600\"/>\n<AppConfig BaudRate=\"1\"", "not well-formed at line 2"},
        {"\x01\x02 not xml", "not well-formed at line 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(WriteWholeFile(dir_.File("appConfig.xml"), c.text));
        XMLNode appConfig = LoadAppConfig();
        ASSERT_TRUE(appConfig);
        EXPECT_EQ(AppConfigRefusal().rfind(c.reason, 0), 0u) << AppConfigRefusal();
        int32_t baud = 115200;
        ReadConfigValue(appConfig, "BaudRate", baud);
        EXPECT_EQ(baud, 115200);
        EXPECT_FALSE(appConfig.FindChild("ParamSetting"));
        appConfig.SetAttributeText("BaudRate", "460800");
        EXPECT_FALSE(SaveAppConfig());
        EXPECT_EQ(ConfigText(), c.text) << "the file is left alone";
    }

    // Once the file is mended, the next load takes it and saves work again.
    ASSERT_TRUE(WriteWholeFile(dir_.File("appConfig.xml"), "<AppConfig BaudRate=\"9600\"/>"));
    XMLNode appConfig = LoadAppConfig();
    EXPECT_EQ(AppConfigRefusal(), "");
    appConfig.SetAttributeText("BaudRate", "460800");
    EXPECT_TRUE(SaveAppConfig());
    EXPECT_NE(ConfigText().find("BaudRate=\"460800\""), std::string::npos) << ConfigText();
}

TEST_F(AppConfigTest, AWellFormedFileWithoutAppConfigGetsOneAndKeepsTheRest) {
    WriteWholeFile(dir_.File("appConfig.xml"), "<Other k=\"v\"/>");
    XMLNode appConfig = LoadAppConfig();
    ASSERT_TRUE(appConfig);
    EXPECT_EQ(AppConfigRefusal(), "");
    const std::string text = ConfigText();
    EXPECT_NE(text.find("<Other k=\"v\" />"), std::string::npos) << text;
    EXPECT_NE(text.find("<AppConfig />"), std::string::npos) << text;
}

TEST_F(AppConfigTest, ADeclarationHoldingItsOwnEndDoesNotStopLaterSavesFromLoading) {
    // Kept and written back, such a declaration ended early, and every later start lost
    // the settings saved after it.
    const char* declarations[] = {
        // Taken by the parser: the "?>" in the value does not end it, the "/>" does.
        "<?xml version=\"1.0\" note=\"?>?>\"/>",
        // Two of them.
        "<?xml version=\"1.0\" note=\"?>?>\"/>\n<?xml version=\"1.0\" note=\"?>?>\"/>",
    };
    for (const char* declaration : declarations) {
        SCOPED_TRACE(declaration);
        WriteWholeFile(dir_.File("appConfig.xml"), std::string(declaration) + "\n<AppConfig BaudRate=\"9600\"/>\n");
        XMLNode appConfig = LoadAppConfig();
        ASSERT_TRUE(appConfig);
        appConfig.SetAttributeText("BaudRate", "460800");
        ASSERT_TRUE(SaveAppConfig());
        gAppConfigDoc.Clear();

        appConfig = LoadAppConfig();
        EXPECT_EQ(gAppConfigDoc.LastError(), "") << ConfigText();
        int32_t baud = 115200;
        ReadConfigValue(appConfig, "BaudRate", baud);
        EXPECT_EQ(baud, 460800) << ConfigText();
        gAppConfigDoc.Clear();
    }
}

TEST_F(AppConfigTest, AFileKeepsItsTextThroughSavesWhateverItsDeclarationSays) {
    // A save writes UTF-8; a declaration left naming Latin-1 made every later load read
    // the saved bytes as Latin-1 and garble the text once more. A damaged declaration
    // still names Latin-1 to the parser as long as it holds the words, and one behind a
    // UTF-8 byte order mark is not believed until the save drops the mark.
    const struct {
        const char* declaration;
        const char* folder;  // "été" as the file holds it
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "\xE9t\xE9"},
        {"<?xml versio\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
         "encoding=\"ISO-8859-1\"?>",
         "\xE9t\xE9"},
        {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "\xC3\xA9t\xC3\xA9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.declaration);
        WriteWholeFile(dir_.File("appConfig.xml"),
                       std::string(c.declaration) + "\n<AppConfig Folder=\"" + c.folder + "\"/>\n");
        for (int start = 0; start < 3; ++start) {
            SCOPED_TRACE(start);
            XMLNode appConfig = LoadAppConfig();
            EXPECT_EQ(appConfig.GetAttributeText("Folder").value_or(""), "\xC3\xA9t\xC3\xA9") << ConfigText();
            ASSERT_TRUE(SaveAppConfig());
            gAppConfigDoc.Clear();
        }
        EXPECT_EQ(ConfigText().rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << ConfigText();
    }
}

// AppConfig with `depth` levels of elements in all, the innermost holding a setting.
std::string NestedConfig(int depth) {
    std::string text = "<AppConfig BaudRate=\"9600\">";
    for (int i = 1; i < depth; ++i) text += "<a>";
    for (int i = 1; i < depth; ++i) text += "</a>";
    return text + "</AppConfig>";
}

TEST_F(AppConfigTest, AConfigurationNestedTooDeeplyIsRefusedAndLeftAlone) {
    const struct {
        int depth;
        bool refused;
    } cases[] = {{XML_MAX_DEPTH, false}, {XML_MAX_DEPTH + 1, true}, {30000, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.depth);
        const std::string original = NestedConfig(c.depth);
        ASSERT_TRUE(WriteWholeFile(dir_.File("appConfig.xml"), original));
        XMLNode appConfig = LoadAppConfig();
        ASSERT_TRUE(appConfig);
        int32_t baud = 115200;
        ReadConfigValue(appConfig, "BaudRate", baud);
        EXPECT_EQ(baud, c.refused ? 115200 : 9600);
        EXPECT_EQ(AppConfigRefusal().empty(), !c.refused) << AppConfigRefusal();
        if (c.refused) {
            EXPECT_NE(AppConfigRefusal().find("nested deeper than 64 levels"), std::string::npos) << AppConfigRefusal();
            appConfig.SetAttributeText("BaudRate", "460800");
            EXPECT_FALSE(SaveAppConfig());
            EXPECT_EQ(ConfigText(), original) << "the file is left alone";
        } else {
            EXPECT_TRUE(SaveAppConfig());
            EXPECT_LT(ConfigText().size(), 20u * original.size()) << "a save stays the size of the file";
        }
    }
}

TEST_F(AppConfigTest, SaveStoppedBeforeTheRenameLeavesTheOldFileWhole) {
    const std::string original = "<?xml version=\"1.0\"?>\n<AppConfig BaudRate=\"9600\" />\n";
    WriteWholeFile(dir_.File("appConfig.xml"), original);
    XMLNode appConfig = LoadAppConfig();
    appConfig.SetAttributeInt64("BaudRate", 256000);

    // The child dies between writing the new file and replacing the old one.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetAppConfigBeforeRenameHook([](const char*) { _exit(0); });
        SaveAppConfig();
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the hook ran";
    EXPECT_EQ(ConfigText(), original);

    // A save that completes replaces the file.
    ASSERT_TRUE(SaveAppConfig());
    EXPECT_NE(ConfigText().find("BaudRate=\"256000\""), std::string::npos);
}

TEST_F(AppConfigTest, SaveIntoAReadOnlyFolderFailsQuietly) {
    LoadAppConfig();
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    chmod(dir_.Path().c_str(), 0500);
    EXPECT_FALSE(SaveAppConfig());
    chmod(dir_.Path().c_str(), 0700);
}

// Another program (a text editor) changes the file while the tool runs; the tool's
// next save keeps that change and adds its own. Each case: the file at load, the
// file as edited meanwhile, what the tool changes in memory, and what the file
// holds (or must not hold) afterwards.
TEST_F(AppConfigTest, ASaveKeepsWhatAnotherProgramChangedMeanwhile) {
    using Change = void (*)(XMLNode appConfig);
    const struct {
        const char* name;
        std::string loaded;
        std::string edited;
        Change change;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    } cases[] = {
        {"an element added by hand", "<AppConfig BaudRate=\"9600\"/>",
         "<AppConfig BaudRate=\"9600\"><Upgrade Url=\"http://u.example/\"/></AppConfig>",
         [](XMLNode root) { root.SetAttributeText("BaudRate", "38400"); },
         {"<Upgrade Url=\"http://u.example/\" />", "BaudRate=\"38400\""}, {}},
        {"an attribute added by hand, a section changed here",
         "<AppConfig><ParamSetting Gate0TriggerThreshold=\"48\"/></AppConfig>",
         "<AppConfig Custom=\"mine\"><ParamSetting Gate0TriggerThreshold=\"48\" Note=\"x\"/></AppConfig>",
         [](XMLNode root) { root.FindChild("ParamSetting").SetAttributeText("Gate0TriggerThreshold", "66"); },
         {"Custom=\"mine\"", "Note=\"x\"", "Gate0TriggerThreshold=\"66\""}, {}},
        {"a setting written unchanged leaves the hand edit", "<AppConfig BaudRate=\"9600\"/>",
         "<AppConfig BaudRate=\"57600\"/>", [](XMLNode root) { root.SetAttributeText("BaudRate", "9600"); },
         {"BaudRate=\"57600\""}, {"BaudRate=\"9600\""}},
        {"both changed one setting: this run's change wins", "<AppConfig BaudRate=\"9600\"/>",
         "<AppConfig BaudRate=\"57600\"/>", [](XMLNode root) { root.SetAttributeText("BaudRate", "38400"); },
         {"BaudRate=\"38400\""}, {"57600"}},
        {"both added one: the hand-added value stays", "<AppConfig/>",
         "<AppConfig><Upgrade Url=\"http://u.example/\"/></AppConfig>",
         [](XMLNode root) { root.GetOrAddChild("Upgrade").SetAttributeText("Url", ""); },
         {"<Upgrade Url=\"http://u.example/\" />"}, {"Url=\"\""}},
        {"an element removed by hand and not changed here stays removed",
         "<AppConfig><Old a=\"1\"/><ObjectInfo k=\"1\"/></AppConfig>", "<AppConfig><ObjectInfo k=\"1\"/></AppConfig>",
         [](XMLNode root) { root.FindChild("ObjectInfo").SetAttributeText("k", "2"); }, {"<ObjectInfo k=\"2\" />"},
         {"<Old"}},
        {"an element removed by hand and changed here comes back",
         "<AppConfig><ParamSetting Gate0TriggerThreshold=\"48\" Gate1TriggerThreshold=\"42\"/></AppConfig>",
         "<AppConfig BaudRate=\"9600\"/>",
         [](XMLNode root) { root.FindChild("ParamSetting").SetAttributeText("Gate0TriggerThreshold", "66"); },
         {"BaudRate=\"9600\"", "Gate0TriggerThreshold=\"66\"", "Gate1TriggerThreshold=\"42\""}, {}},
        {"a comment added by hand", "<AppConfig/>", "<!-- the line 3 rig -->\n<AppConfig/>",
         [](XMLNode root) { root.SetAttributeText("BaudRate", "38400"); },
         {"<!-- the line 3 rig -->", "BaudRate=\"38400\""}, {}},
        {"the file deleted meanwhile", "<AppConfig Custom=\"mine\"/>", "",
         [](XMLNode root) { root.SetAttributeText("BaudRate", "38400"); },
         {"Custom=\"mine\"", "BaudRate=\"38400\""}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteWholeFile(dir_.File("appConfig.xml"), c.loaded));
        XMLNode appConfig = LoadAppConfig();
        ASSERT_EQ(AppConfigRefusal(), "");
        if (c.edited.empty())
            ASSERT_EQ(std::remove(dir_.File("appConfig.xml").c_str()), 0);
        else
            ASSERT_TRUE(WriteWholeFile(dir_.File("appConfig.xml"), c.edited));
        c.change(appConfig);
        std::string why;
        ASSERT_TRUE(SaveAppConfig(&why)) << why;
        const std::string text = ConfigText();
        for (const std::string& piece : c.present) EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
        for (const std::string& piece : c.absent) EXPECT_EQ(text.find(piece), std::string::npos) << piece << "\n" << text;
        // The document now holds the merged tree: a second save changes nothing.
        ASSERT_TRUE(SaveAppConfig());
        EXPECT_EQ(ConfigText(), text);
    }
}

// A file damaged by another program while the tool runs is left as it is, and the
// save says why.
TEST_F(AppConfigTest, ASaveLeavesAFileDamagedMeanwhileAndSaysWhy) {
    ASSERT_TRUE(WriteWholeFile(dir_.File("appConfig.xml"), "<AppConfig BaudRate=\"9600\"/>"));
    XMLNode appConfig = LoadAppConfig();
    const std::string damaged = "<AppConfig BaudRate=\"9600\">\n<Upgrade Url=\"http://u.example/\">\n";
    ASSERT_TRUE(WriteWholeFile(dir_.File("appConfig.xml"), damaged));
    appConfig.SetAttributeText("BaudRate", "38400");
    std::string why;
    EXPECT_FALSE(SaveAppConfig(&why));
    EXPECT_EQ(why.rfind("another program changed it after the tool read it, and it does not load now (not well-formed "
                        "at line ",
                        0),
              0u)
        << why;
    EXPECT_EQ(ConfigText(), damaged);

    // Mended, the next save goes on top of it.
    ASSERT_TRUE(WriteWholeFile(dir_.File("appConfig.xml"), "<AppConfig BaudRate=\"9600\"><Upgrade Url=\"u\"/></AppConfig>"));
    EXPECT_TRUE(SaveAppConfig(&why)) << why;
    EXPECT_NE(ConfigText().find("<Upgrade Url=\"u\" />"), std::string::npos) << ConfigText();
    EXPECT_NE(ConfigText().find("BaudRate=\"38400\""), std::string::npos) << ConfigText();
}

TEST(LanguageName, FromConfigValue) {
    struct Case {
        std::optional<std::string> value;
        const char* expected;
    };
    const Case cases[] = {
        {"ENG", "en-US"}, {"chs", "zh-cn"},  {"Cht", "zh-tw"}, {"de-DE", "de-DE"},
        {"", ""},         {std::nullopt, ""}, {std::string(32, 'a'), ""}, {std::string(31, 'a'), ""},
    };
    for (const Case& c : cases) {
        std::string expected = c.expected;
        if (c.value && c.value->size() == 31) expected = *c.value;
        EXPECT_EQ(LanguageNameFromConfig(c.value), expected) << c.value.value_or("(absent)");
    }
    // The bound counts characters, not bytes: 31 three-byte characters are 93 bytes.
    std::string name;
    for (int i = 0; i < 31; ++i) name += "中";
    EXPECT_EQ(LanguageNameFromConfig(name), name);
    EXPECT_EQ(LanguageNameFromConfig(name + "文"), "");
}

}  // namespace
