#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/AppConfig.h"
#include "app/StringTable.h"

namespace {

// The printf conversions of a text, in order ("%%" is not one).
std::vector<std::string> Placeholders(const std::string& text) {
    static const std::regex conversion(R"(%[-+ #0]*\d*(?:\.\d+)?(?:ll|l|h)?[diouxXeEfgGcsp%])");
    std::vector<std::string> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion); it != std::sregex_iterator(); ++it)
        if (it->str() != "%%") out.push_back(it->str());
    return out;
}

TEST(StringTable, BothLanguagesHaveTheSameIdsAndPlaceholders) {
    const auto english = StringTableIds(UiLanguage::English);
    const auto chinese = StringTableIds(UiLanguage::SimplifiedChinese);
    ASSERT_EQ(english, chinese);
    EXPECT_GE(english.size(), 63u);
    for (int id : english) {
        const std::string en = LoadStringText(id, UiLanguage::English);
        const std::string zh = LoadStringText(id, UiLanguage::SimplifiedChinese);
        EXPECT_FALSE(en.empty()) << id;
        EXPECT_FALSE(zh.empty()) << id;
        // The English table names its ids between id and text; the name is no part of the text.
        EXPECT_NE(en.rfind("TEXT_", 0), 0u) << id << ": " << en;
        EXPECT_EQ(Placeholders(en), Placeholders(zh)) << id << ": " << en << " / " << zh;
    }
    EXPECT_EQ(CaptionKeys(UiLanguage::English), CaptionKeys(UiLanguage::SimplifiedChinese));
}

TEST(StringTable, TextsByIdInTheCurrentLanguage) {
    SetUiLanguage(UiLanguage::English);
    EXPECT_EQ(LoadStringText(TEXT_DISCONNECT), "Disconn.");
    EXPECT_EQ(LoadStringText(TEXT_BOOT_DOWNLOADING), "Downloading… \r\n");
    EXPECT_EQ(FormatStringText(TEXT_BIN_CHECKSUM, 0x225u), "Checksum: 0x00000225\r\n");
    EXPECT_EQ(FormatStringText(TEXT_TARGET_STATUS, "Presence", 2.5, 0.05535),
              "Target Status: Presence\r\nTarget Distance: 2.50m\r\nEstimated average operating current\r\n"
              "  (current configuration):0.05535 mA\r\n");
    EXPECT_EQ(LoadCaption(2000, "label:2011"), "Max. Range (m):");
    EXPECT_EQ(LoadCaption(1000, "caption"), "Palo520G Tool");
    EXPECT_EQ(LoadStringText(424242), "");
    EXPECT_EQ(LoadCaption(2000, "label:9999"), "");

    SetUiLanguage(UiLanguage::SimplifiedChinese);
    EXPECT_EQ(LoadStringText(TEXT_DISCONNECT), "断开设备");
    EXPECT_EQ(FormatStringText(TEXT_TARGET_STATUS, "有人", 2.5, 0.05535),
              "目标状态: 有人\r\n目标距离: 2.50米\r\n预估平均工作电流\r\n（当前配置）：0.05535 mA\r\n");
    EXPECT_EQ(LoadCaption(2000, "group:2020"), "触发门限（10~95dB）");
    EXPECT_EQ(LoadCaption(3500, "caption"), "门限生成");
    SetUiLanguage(UiLanguage::English);
}

TEST(StringTable, DisplayTextEndsLinesWithLfAlone) {
    const struct {
        const char* table;
        const char* shown;
    } cases[] = {
        {"Downloading\u2026 \r\n", "Downloading\u2026 \n"},
        {"a\r\n\r\nb", "a\n\nb"},
        {"already\nLF", "already\nLF"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(DisplayText(c.table), c.shown) << c.table;
}

TEST(StringTable, ConfiguredLanguageSelectsTheTable) {
    XMLParser doc;
    const std::string text = "<AppConfig Language=\"chs\"/>";
    doc.LoadBuffer(text.data(), text.size());
    EXPECT_EQ(ApplyConfiguredLanguage(doc.FindElement("AppConfig")), "zh-cn");
    EXPECT_EQ(GetUiLanguage(), UiLanguage::SimplifiedChinese);
    const std::string eng = "<AppConfig Language=\"ENG\"/>";
    doc.LoadBuffer(eng.data(), eng.size());
    EXPECT_EQ(ApplyConfiguredLanguage(doc.FindElement("AppConfig")), "en-US");
    EXPECT_EQ(GetUiLanguage(), UiLanguage::English);
}

}  // namespace
