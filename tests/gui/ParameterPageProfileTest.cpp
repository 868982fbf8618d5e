// The parameter page's profiles against the virtual sensor: Save, Load, Compare.
// With PALO_SCREENSHOT_DIR set, pictures of the page after Load and after Compare
// are saved there (profile-load-en.png, profile-compare-en.png).

#include <cstdlib>

#include <QAction>
#include <QAbstractButton>
#include <QTest>

#include "MainWindowFixture.h"
#include "controls/widgets/NumericEdit.h"
#include "params/ParamProfile.h"
#include "params/RadarOperatorConfig.h"
#include "params/widgets/ParameterPage.h"
#include "support/TempDir.h"

class ProfilePageTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        previousFileHook_ = ParameterPage::SetProfileFileHook([this](const QString& title, bool save) {
            titles_.push_back(title.toStdString() + (save ? " (save)" : ""));
            return QString::fromStdString(chosen_);
        });
        OpenWindow();
        Connect();
        page_ = window->FindPage<ParameterPage>();
        ASSERT_NE(page_, nullptr);
    }

    void TearDown() override
    {
        ParameterPage::SetProfileFileHook(previousFileHook_);
        MainWindowFixture::TearDown();
    }

    // Chooses this file in the next profile dialog and runs the menu's action.
    void Run(const char* action, const std::string& path)
    {
        chosen_ = path;
        QAction* item = page_->findChild<QAction*>(QString::fromLatin1(action));
        ASSERT_NE(item, nullptr) << action;
        item->trigger();
    }

    void SaveScreenshot(const std::string& name)
    {
        if (const char* dir = std::getenv("PALO_SCREENSHOT_DIR"); dir && *dir)
            window->grab().save(QString::fromStdString(std::string(dir) + "/" + name));
    }

    std::string WriteProfile(const std::string& members)
    {
        const std::string path = files_.File("profile.json");
        EXPECT_TRUE(WriteWholeFile(path, std::string(R"({"format": "palo520g-profile", "version": 1, )") + members + "}"));
        return path;
    }

    TempDir files_;
    ParameterPage* page_ = nullptr;
    std::string chosen_;
    std::vector<std::string> titles_;
    ParameterPage::ProfileFileHook previousFileHook_;
};

TEST_F(ProfilePageTest, LoadingMarksTheLoadedValuesAndNothingReachesTheSensorUntilWrite)
{
    const uint32_t heldDelay = sensor->ConfigValue(DETECT_KEY_DISAPPEAR_TIME).value_or(0);
    const auto heldHold = sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD);
    ASSERT_NE(heldHold[3], 50u);
    const std::string path = WriteProfile(
        R"("notes": "ceiling", "DetectRangeMax": 4.9, "ObjectDisappearReportTime": 300, )"
        R"("GateHoldThreshold": [)" + [&] {
            std::string list;
            for (int g = 0; g < 16; ++g) list += (g ? "," : "") + std::to_string(g == 3 ? 50u : heldHold[g]);
            return list;
        }() + "]");

    Run("action:LoadProfile", path);
    ASSERT_EQ(titles_, std::vector<std::string>{"Load Profile"});
    EXPECT_EQ(Edit(2011)->text(), "4.9");
    EXPECT_EQ(Edit(2016)->text(), "255") << "corrected as a typed 300 is";
    EXPECT_EQ(Edit(2043)->text(), "50");
    for (int id : {2011, 2016, 2043}) EXPECT_TRUE(page_->IsUnwritten(Edit(id))) << id;
    for (int id : {2010, 2020, 2040, 2044}) EXPECT_FALSE(page_->IsUnwritten(Edit(id))) << id;
    EXPECT_FALSE(page_->IsUnwritten(Combo("2013")));
    EXPECT_NE(LastBox().text.find("3 values changed"), std::string::npos) << LastBox().text;
    EXPECT_NE(LastBox().text.find("ObjectDisappearReportTime: The value must be at most 255"), std::string::npos)
        << LastBox().text;
    EXPECT_NE(LastBox().text.find("Notes: ceiling"), std::string::npos) << LastBox().text;
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_DISAPPEAR_TIME).value_or(0), heldDelay) << "loading wrote to the sensor";
    EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD), heldHold);
    SaveScreenshot("profile-load-en.png");

    QTest::mouseClick(Button("2003"), Qt::LeftButton);
    WaitForSensor();
    EXPECT_FALSE(page_->HasUnwrittenChanges());
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_DISAPPEAR_TIME).value_or(0), 255u);
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_RANGE_MAX).value_or(0), 7u);
    EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD)[3], 50u);

    // A profile that does not read leaves the page as it is and says which key.
    const std::string bad = WriteProfile(R"("GateTriggerThreshold": [48, 42])");
    const size_t shown = boxes.size();
    Run("action:LoadProfile", bad);
    ASSERT_EQ(boxes.size(), shown + 1);
    EXPECT_EQ(LastBox().icon, MessageIcon::Error);
    EXPECT_NE(LastBox().text.find("\"GateTriggerThreshold\" is [48,42]"), std::string::npos) << LastBox().text;
    EXPECT_FALSE(page_->HasUnwrittenChanges());
    EXPECT_EQ(Edit(2016)->text(), "255");
}

TEST_F(ProfilePageTest, CompareMarksOnlyTheFieldsThatDifferAndWritesNothing)
{
    // Saved from the page: the same values, so nothing is marked.
    const std::string saved = files_.File("saved.json");
    Run("action:SaveProfile", saved);
    ASSERT_EQ(titles_, std::vector<std::string>{"Save Profile (save)"});
    EXPECT_NE(ConfigFileText().find("LastProfileFolder=\"" + files_.Path() + "\""), std::string::npos)
        << "the folder is offered again next time";
    Run("action:CompareProfile", saved);
    EXPECT_NE(LastBox().text.find("The page shows the same values as the profile"), std::string::npos)
        << LastBox().text;
    for (NumericEdit* edit : page_->findChildren<NumericEdit*>())
        EXPECT_FALSE(page_->IsMarkedByComparison(edit)) << edit->objectName().toStdString();

    const std::string shownMax = Edit(2011)->text().toStdString();
    const auto trigger = sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD);
    ASSERT_NE(trigger[5], 60u);
    std::string list;
    for (int g = 0; g < 16; ++g) list += (g ? "," : "") + std::to_string(g == 5 ? 60u : trigger[g]);
    const std::string path = WriteProfile(R"("DetectRangeMax": )" + shownMax +
                                          R"(, "ObjectDisappearReportTime": 200, "ResponseFreq": 1, )"
                                          R"("GateTriggerThreshold": [)" + list + "]");
    const std::vector<std::string> before = {Edit(2016)->text().toStdString(), Edit(2025)->text().toStdString()};
    Run("action:CompareProfile", path);
    EXPECT_TRUE(page_->IsMarkedByComparison(Edit(2016)));
    EXPECT_TRUE(page_->IsMarkedByComparison(Edit(2025)));
    EXPECT_TRUE(page_->IsMarkedByComparison(Find<QWidget>("2014")));
    EXPECT_FALSE(page_->IsMarkedByComparison(Edit(2011)));
    EXPECT_FALSE(page_->IsMarkedByComparison(Edit(2010)));
    EXPECT_FALSE(page_->IsMarkedByComparison(Edit(2024)));
    EXPECT_FALSE(Edit(2016)->styleSheet().isEmpty()) << "a frame around the edit";
    EXPECT_TRUE(Edit(2024)->styleSheet().isEmpty());
    EXPECT_EQ(Edit(2016)->toolTip(), "The profile has 200 s");
    EXPECT_NE(LastBox().text.find("ObjectDisappearReportTime: 40 s -> 200 s"), std::string::npos) << LastBox().text;
    // Nothing changed on the page or the sensor.
    EXPECT_EQ((std::vector<std::string>{Edit(2016)->text().toStdString(), Edit(2025)->text().toStdString()}), before);
    EXPECT_FALSE(page_->HasUnwrittenChanges());
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_DISAPPEAR_TIME).value_or(0), 40u);
    SaveScreenshot("profile-compare-en.png");

    // Typing a value ends that field's comparison mark; it is unwritten now instead.
    TypeAndLeave(Edit(2016), "200");
    EXPECT_FALSE(page_->IsMarkedByComparison(Edit(2016)));
    EXPECT_TRUE(page_->IsUnwritten(Edit(2016)));
    EXPECT_TRUE(page_->IsMarkedByComparison(Edit(2025)));
}
