// Start-up: the configuration file and the language, in both languages.

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "MainWindowFixture.h"
#include "app/StringTable.h"
#include "app/widgets/ToolApplication.h"

namespace {

using StartUpTest = MainWindowFixture;

TEST_F(StartUpTest, AFirstStartCreatesTheConfigurationAndShowsTheDefaultBaudRate)
{
    ToolApplication app;
    AppOptions options;
    options.dataDir = dataDir->Path();
    EXPECT_EQ(app.LoadConfigurationAndLanguage(options), "");
    const std::string text = ConfigFileText();
    EXPECT_NE(text.find("<?xml version=\"1.0\"?>"), std::string::npos) << text;
    EXPECT_NE(text.find("<AppConfig"), std::string::npos) << text;
    OpenWindow(false);
    EXPECT_EQ(Find<QLineEdit>("1102")->text(), "115200");
}

TEST_F(StartUpTest, ChineseShowsChineseCaptionsMessagesAndQtButtons)
{
    WriteConfig("<?xml version=\"1.0\"?>\n<AppConfig Language=\"chs\"/>\n");
    ToolApplication app;
    AppOptions options;
    options.dataDir = dataDir->Path();
    EXPECT_EQ(app.LoadConfigurationAndLanguage(options), "zh-cn");
    EXPECT_EQ(GetUiLanguage(), UiLanguage::SimplifiedChinese);
    OpenWindow(false);

    struct Expected {
        const char* name;
        const char* text;
    };
    const Expected buttons[] = {
        {"1187", "参数查看/设置"}, {"1188", "目标信息"},       {"1189", "更新固件"},
        {"1103", "连接设备"},      {"1100", "刷新"},           {"2002", "读取传感器设置"},
        {"2003", "写入传感器设置"}, {"2004", "生成自动门限"}, {"2005", "保存当前配置"},
        {"2001", "重置"},          {"2014", "正常"},           {"2015", "快速"},
    };
    for (const Expected& e : buttons)
        EXPECT_EQ(Find<QAbstractButton>(e.name)->text().toStdString(), e.text) << e.name;
    const Expected labels[] = {
        {"label:1101", "串口号"},           {"label:1102", "波特率"},
        {"label:2010", "最小检测距离(米):"}, {"label:2011", "最大检测距离(米):"},
        {"label:2012", "状态上报频率(Hz):"}, {"label:2013", "距离上报频率(Hz):"},
        {"label:2014", "响应速度:"},         {"label:2016", "无人上报时间(秒):"},
    };
    for (const Expected& e : labels)
        EXPECT_EQ(Find<QLabel>(e.name)->text().toStdString(), e.text) << e.name;
    EXPECT_EQ(Find<QGroupBox>("group:2020")->title().toStdString(), "触发门限（10~95dB）");
    EXPECT_EQ(Find<QGroupBox>("group:2040")->title().toStdString(), "保持门限（10~95dB）");

    Combo("1101")->clear();
    Combo("1101")->setEditText(QString());
    QTest::mouseClick(Button("1103"), Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "无串口设备");
    EXPECT_EQ(boxes[0].caption, "错误");

    // Qt's own dialog buttons.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Close").toStdString(), "关闭");
}

TEST_F(StartUpTest, EnglishShowsEnglishCaptions)
{
    WriteConfig("<?xml version=\"1.0\"?>\n<AppConfig Language=\"ENG\"/>\n");
    ToolApplication app;
    AppOptions options;
    options.dataDir = dataDir->Path();
    EXPECT_EQ(app.LoadConfigurationAndLanguage(options), "en-US");
    OpenWindow(false);
    EXPECT_EQ(Button("1187")->text(), "View/Set Param.");
    EXPECT_EQ(Find<QLabel>("label:2016")->text(), "Absence Report Delay(s):");
    EXPECT_EQ(Find<QGroupBox>("group:2040")->title(), "Hold Threshold(10~95 dB)");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Close"), "Close");
}

}  // namespace
