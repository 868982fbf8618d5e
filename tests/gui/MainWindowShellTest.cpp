// What the main window gives around its pages: the About text, the smallest size
// it can be shrunk to, the "*" of unwritten changes in the title, and a log that
// is on disk while the tool runs.

#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

#include "MainWindowFixture.h"
#include "support/qt/QtTestEnvironment.h"
#include "app/StringTable.h"
#include "app/widgets/ToolApplication.h"
#include "app/widgets/LicenceDialog.h"
#include "common/FileUtils.h"
#include "support/TempDir.h"
#include "controls/widgets/NumericEdit.h"

namespace {

using MainWindowShellTest = MainWindowFixture;

QLabel* AboutLabel(const MainWindow& window)
{
    QWidget* licence = window.Licence();
    return licence ? licence->findChild<QLabel*>("AboutText") : nullptr;
}

TEST_F(MainWindowShellTest, AboutShowsVersionsBuildDateAndTheConnectedSensorBesideTheLicence)
{
    sensorOptions.version = "v2.3.4";
    sensorOptions.serialNumber = "SN-TEST-42";
    OpenWindow();
    window->ShowAbout();
    QLabel* about = AboutLabel(*window);
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_TRUE(window->Licence()->findChild<QWidget*>("LicenseText")->isVisible());
    const std::string text = about->text().toStdString();
    EXPECT_NE(text.find(std::string("Version: ") + PaloVersionText()), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("Build date: ") + PaloBuildDateText()), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("Qt version: ") + qVersion()), std::string::npos) << text;
    EXPECT_NE(text.find("Sensor: not connected"), std::string::npos) << text;
    // One licence everywhere: the About box names it, the dialog shows the project's LICENSE,
    // and the package's metadata and copyright file say the same.
    EXPECT_NE(text.find("Licence: MIT"), std::string::npos) << text;
    const std::string licence = window->Licence()->findChild<QPlainTextEdit*>("LicenseText")->toPlainText().toStdString();
    const std::string projectLicence = ReadWholeFile(std::string(PALO_SOURCE_DIR) + "/LICENSE");
    ASSERT_FALSE(projectLicence.empty());
    EXPECT_EQ(projectLicence.rfind("MIT License\n", 0), 0u);
    EXPECT_NE(licence.find(projectLicence), std::string::npos) << licence;
    EXPECT_NE(ReadWholeFile(std::string(PALO_SOURCE_DIR) + "/packaging/io.github.palo520g.Tool.metainfo.xml")
                  .find("<project_license>MIT</project_license>"),
              std::string::npos);
    const std::string copyright = ReadWholeFile(std::string(PALO_SOURCE_DIR) + "/packaging/debian/copyright");
    EXPECT_NE(copyright.find("License: Expat"), std::string::npos);
    EXPECT_NE(copyright.find("Permission is hereby granted, free of charge"), std::string::npos);
    // "YYYY-MM-DD"
    const std::string date = PaloBuildDateText();
    ASSERT_EQ(date.size(), 10u);
    EXPECT_EQ(date[4], '-');
    EXPECT_EQ(date[7], '-');
    EXPECT_GE(std::stoi(date.substr(5, 2)), 1);
    EXPECT_LE(std::stoi(date.substr(5, 2)), 12);

    Connect();
    window->ShowAbout();
    EXPECT_NE(about->text().toStdString().find("Sensor firmware: v2.3.4, serial number: SN-TEST-42"), std::string::npos)
        << about->text().toStdString();
}

TEST_F(MainWindowShellTest, AboutInChinese)
{
    SetUiLanguage(UiLanguage::SimplifiedChinese);
    OpenWindow(false);
    window->ShowAbout();
    const std::string text = AboutLabel(*window)->text().toStdString();
    EXPECT_NE(text.find("版本："), std::string::npos) << text;
    EXPECT_NE(text.find("构建日期："), std::string::npos) << text;
    EXPECT_NE(text.find("传感器：未连接"), std::string::npos) << text;
}

// The window cannot be shrunk below three quarters of its design size, where the
// scaled fonts are still readable.
TEST_F(MainWindowShellTest, TheWindowStopsShrinkingWhereItsTextStaysReadable)
{
    OpenWindow(false);
    const QSize minimum = window->minimumSize();
    // Three quarters of the design size.
    EXPECT_EQ(minimum, QSize(MainWindow::DESIGN_WIDTH * 3 / 4, MainWindow::DESIGN_HEIGHT * 3 / 4));
    window->resize(200, 120);
    QCoreApplication::processEvents();
    EXPECT_GE(window->width(), minimum.width());
    EXPECT_GE(window->height(), minimum.height());
    EXPECT_GE(window->LayoutScale(), 0.75 - 1e-9);
    // The smallest text of any control at that size.
    int smallest = 1000;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->isVisible() && !widget->isWindow())
            smallest = std::min(smallest, QFontInfo(widget->font()).pixelSize());
    }
    EXPECT_GE(smallest, 9) << "pixels";
}

TEST_F(MainWindowShellTest, TheTitleStarShowsUnwrittenParameterChangesAlsoInDemoMode)
{
    windowOptions.titleSuffix = "Demo: virtual sensor on /dev/pts/9";
    OpenWindow(false);
    const std::string plain = std::string("Palo520G Tool ") + PaloVersionText();
    EXPECT_EQ(window->windowTitle().toStdString(), plain + " - Demo: virtual sensor on /dev/pts/9");
    TypeAndLeave(Edit(2016), "60");
    EXPECT_EQ(window->windowTitle().toStdString(), plain + "* - Demo: virtual sensor on /dev/pts/9");
    TypeAndLeave(Edit(2016), "40");
    EXPECT_EQ(window->windowTitle().toStdString(), plain + " - Demo: virtual sensor on /dev/pts/9");
}

// The log is written line by line: a crash loses at most the line being written.
TEST_F(MainWindowShellTest, TheLogHoldsTheRunsLinesWhileTheToolIsStillRunning)
{
    OpenWindow();
    Connect();
    ASSERT_EQ(Button("1103")->text(), "Disconn.");
    const auto names = GetLocalFolderFileList(dataDir->File("Log"), "log");
    ASSERT_EQ(names.size(), 1u);
    const std::string text = ReadWholeFile(dataDir->File("Log/" + names[0]));
    EXPECT_NE(text.find("RadarOperatorConfig_ReadDetectSetting, result: Success\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("RadarOperatorConfig_ReadHoldThreshold, result: Success\r\n"), std::string::npos) << text;
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
