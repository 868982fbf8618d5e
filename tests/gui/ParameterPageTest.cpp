// The parameter page inside the main window, against the virtual sensor.

#include <algorithm>
#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include "MainWindowFixture.h"
#include "support/qt/QtTestEnvironment.h"
#include "controls/widgets/BalloonTip.h"
#include "controls/widgets/NumericEdit.h"
#include "device/RadarDevice.h"
#include "params/ParamRules.h"
#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "params/RadarOperatorConfig.h"
#include "params/widgets/ParameterPage.h"

namespace {

// Every value the page's controls show, for comparing two moments.
std::vector<std::string> ShownValues(const MainWindow& window)
{
    std::vector<std::string> values;
    for (const NumericEdit* edit : window.FindPage<ParameterPage>()->findChildren<NumericEdit*>())
        values.push_back(edit->objectName().toStdString() + "=" + edit->text().toStdString());
    for (const char* id : {"2012", "2013"})
        values.push_back(std::string(id) + "=" + window.findChild<QComboBox*>(id)->currentText().toStdString());
    values.push_back(window.findChild<QAbstractButton*>("2015")->isChecked() ? "fast" : "normal");
    return values;
}

class ParamPageTest : public MainWindowFixture {
protected:
    // A choice made by the user in a combo box.
    void Choose(const char* id, const QString& text)
    {
        QComboBox* combo = Combo(id);
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    void Click(const char* id)
    {
        QTest::mouseClick(Button(id), Qt::LeftButton);
        WaitForSensor();
    }

    // The texts of the page's controls that a default record shows.
    void ExpectDefaultsShown()
    {
        EXPECT_EQ(Edit(2010)->text(), "0");
        EXPECT_EQ(Edit(2011)->text(), "8.4");
        EXPECT_TRUE(Find<QAbstractButton>("2014")->isChecked());
        EXPECT_EQ(Combo("2012")->currentText(), "4.0");
        EXPECT_EQ(Combo("2013")->currentText(), "0.5");
        EXPECT_EQ(Edit(2016)->text(), "40");
        const ParamSetting defaults;
        for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
            EXPECT_EQ(Edit(2020 + gate)->text(), QString::number(defaults.GateTriggerThreshold[gate]));
            EXPECT_EQ(Edit(2040 + gate)->text(), QString::number(defaults.GateHoldThreshold[gate]));
        }
    }

    // Puts values different from the defaults into the page's controls.
    void EditAwayFromDefaults()
    {
        TypeAndLeave(Edit(2010), "2.1");
        Choose("2013", "1.0");
        Choose("2012", "3.0");
        QTest::mouseClick(Find<QAbstractButton>("2015"), Qt::LeftButton);
        TypeAndLeave(Edit(2016), "100");
        TypeAndLeave(Edit(2020), "70");
        TypeAndLeave(Edit(2055), "90");
    }
};

TEST_F(ParamPageTest, TypingNineIntoMaxRangeShowsTheLimitAndABalloon)
{
    OpenWindow();
    TypeAndLeave(Edit(2011), "9");
    EXPECT_EQ(Edit(2011)->text(), "8.4");
    EXPECT_DOUBLE_EQ(window->Params().DetectRangeMax, 8.4);
    const auto texts = BalloonTexts(Edit(2011));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "The maximum range must be at most 8.4 m");
    const BalloonItem item = Edit(2011)->Balloon()->Items()[0];
    EXPECT_EQ(item.title, "Data Invalid");
    EXPECT_EQ(item.icon, BALLOON_ICON_INFO);
    EXPECT_EQ(item.key, RANGE_NOTICE_KEY_TOO_LARGE);
    EXPECT_TRUE(Edit(2011)->Balloon()->isVisible());
    EXPECT_EQ(Edit(2011)->Balloon()->Owner(), window.get());
}

TEST_F(ParamPageTest, RangeRulesCorrectTheOtherEndAndExplainUnderThatEdit)
{
    OpenWindow();
    // Both ends in gate 1: the minimum moves to 0 and the balloon opens under 2010.
    TypeAndLeave(Edit(2010), "0.8");
    EXPECT_TRUE(BalloonTexts(Edit(2010)).empty());
    TypeAndLeave(Edit(2011), "1.0");
    EXPECT_EQ(Edit(2011)->text(), "1.0");
    EXPECT_EQ(Edit(2010)->text(), "0");
    EXPECT_DOUBLE_EQ(window->Params().DetectRangeMin, 0.0);
    EXPECT_EQ(BalloonTexts(Edit(2010)), std::vector<std::string>{"The minimum range must be at most 0.00 m"});

    // A minimum of 7.8 below a maximum of 8.3: clamped to 7.7, then moved out of gate 11.
    TypeAndLeave(Edit(2011), "8.3");
    TypeAndLeave(Edit(2010), "7.8");
    EXPECT_EQ(Edit(2010)->text(), "7.35");
    EXPECT_DOUBLE_EQ(window->Params().DetectRangeMin, 7.35);
    const auto items = Edit(2010)->Balloon()->Items();
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items[0].key, RANGE_NOTICE_KEY_TOO_LARGE);
}

TEST_F(ParamPageTest, ACorrectionOfTheCommittedEditRunsTheRuleAgainBeforeItsBalloonOpens)
{
    OpenWindow();
    TypeAndLeave(Edit(2011), "8.3");
    // 7.8 is clamped to 7.7; the edit reports 7.7 at once, and that run moves the
    // minimum out of gate 11 and opens its balloon first. The clamp's notice has the
    // same key, so it only restarts that message.
    TypeAndLeave(Edit(2010), "7.8");
    EXPECT_EQ(Edit(2010)->text(), "7.35");
    EXPECT_DOUBLE_EQ(window->Params().DetectRangeMin, 7.35);
    EXPECT_EQ(BalloonTexts(Edit(2010)), std::vector<std::string>{"The minimum range must be at most 7.35 m"});
    EXPECT_TRUE(BalloonTexts(Edit(2011)).empty());
}

TEST_F(ParamPageTest, ThresholdEditsRefuseAMinusAndForceTheirLimits)
{
    OpenWindow();
    NumericEdit* gate = Edit(2033);
    ASSERT_TRUE(FocusWidget(gate));
    gate->setCursorPosition(0);
    QTest::keyClick(gate, '-');
    EXPECT_EQ(gate->text(), "31");
    EXPECT_EQ(BalloonTexts(gate), std::vector<std::string>{"Invalid character '-'"});

    TypeAndLeave(Edit(2040), "5");
    EXPECT_EQ(Edit(2040)->text(), "10");
    EXPECT_EQ(BalloonTexts(Edit(2040)).front(), "The value must be at least 10");
    TypeAndLeave(Edit(2016), "300");
    EXPECT_EQ(Edit(2016)->text(), "255");
}

TEST_F(ParamPageTest, WriteThenAFreshReadReturnsTheWrittenValues)
{
    OpenWindow();
    Connect();
    ASSERT_EQ(Button("1103")->text(), "Disconn.");
    EditAwayFromDefaults();

    Click("2003");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The parameters were written to the sensor.");
    EXPECT_EQ(boxes[0].caption, "Success");
    EXPECT_EQ(boxes[0].icon, MessageIcon::Information);
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_RANGE_MIN), 3u) << "2.1 m is gate 3 when read from the edit's text";
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_RESPONSE_FREQ), 10u);
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_RANGE_REPORT_FREQ), 10u);
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_STATE_REPORT_FREQ), 30u);
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_DISAPPEAR_TIME), 100u);
    EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD)[0], 70u);
    EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD)[15], 90u);

    // Forget everything on the page, then read it back from the sensor.
    InitParamSetting(window->Params());
    window->FindPage<ParameterPage>()->UpdateControls();
    ASSERT_EQ(Edit(2020)->text(), "48");
    Click("2002");
    EXPECT_EQ(LastBox().text, "The parameters were read from the sensor.");
    EXPECT_EQ(Edit(2010)->text(), "2.1");
    EXPECT_EQ(Combo("2013")->currentText(), "1.0");
    EXPECT_EQ(Combo("2012")->currentText(), "3.0");
    EXPECT_TRUE(Find<QAbstractButton>("2015")->isChecked());
    EXPECT_EQ(Edit(2016)->text(), "100");
    EXPECT_EQ(Edit(2020)->text(), "70");
    EXPECT_EQ(Edit(2055)->text(), "90");
}

// Read Config. against a sensor whose hold table comes back implausible twice: the
// error box names the value after the usual failure text.
TEST_F(ParamPageTest, AnImplausibleReplyOnReadIsNamedInTheErrorBox)
{
    sensorOptions.garbleReplyCommand = PARAM_ID_READ_HOLD_THRESHOLD;
    sensorOptions.garbleReplyCount = 4;  // two at connect, two for the read below
    ASSERT_TRUE(sensor.Start(sensorOptions));
    OpenWindow();
    Connect();
    Click("2002");
    EXPECT_EQ(LastBox().text, "Failed to read parameters\nThe sensor's reply was implausible twice (malformed reply, "
                              "0xA004): GateHoldThreshold[15] is 2147483676, expected 0-100.");
    EXPECT_EQ(LastBox().icon, MessageIcon::Error);
    EXPECT_EQ(sensor->Counters().repliesGarbled, 4u);
}

TEST_F(ParamPageTest, ResetWithoutADeviceLeavesTheFieldsAndSaysNotConnected)
{
    OpenWindow();
    EditAwayFromDefaults();
    const auto typed = ShownValues(*window);
    Click("2001");
    EXPECT_EQ(ShownValues(*window), typed) << "nothing was reset, so nothing changes";
    EXPECT_TRUE(window->FindPage<ParameterPage>()->IsUnwritten(Edit(2016)));
    EXPECT_TRUE(questions.empty()) << "nothing to confirm without a sensor";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Device Not Connected");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
}

TEST_F(ParamPageTest, ResetOnTheSensorWritesTheFactoryTablesAndShowsWhatTheSensorHolds)
{
    OpenWindow();
    Connect();
    EditAwayFromDefaults();
    answer = [](const QuestionRecord&) { return 0; };  // Reset
    Click("2001");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(LastBox().text, "The sensor was reset to its factory parameters and threshold tables.");
    // The hold table the sensor holds now is the factory motion table, not the default.
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        EXPECT_EQ(Edit(2040 + gate)->text(), QString::number(MOTION_THRESHOLD_TABLE[gate])) << gate;
        EXPECT_EQ(window->Params().GateHoldThreshold[gate], MOTION_THRESHOLD_TABLE[gate]) << gate;
    }
    EXPECT_EQ(Edit(2040)->text(), "52");
    EXPECT_EQ(Edit(2011)->text(), "8.4");
    EXPECT_EQ(Edit(2020)->text(), "48");
    // A fresh Read finds exactly what the page shows.
    const auto afterReset = ShownValues(*window);
    Click("2002");
    EXPECT_EQ(LastBox().text, "The parameters were read from the sensor.");
    EXPECT_EQ(ShownValues(*window), afterReset);

    const auto motion = sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD);
    const auto appear = sensor->GateTable(PARAM_ID_WRITE_APPEAR_THRESHOLD);
    for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate) {
        EXPECT_EQ(motion[gate], MOTION_THRESHOLD_TABLE[gate]);
        EXPECT_EQ(appear[gate], APPEAR_THRESHOLD_TABLE[gate]);
    }
    EXPECT_EQ(sensor->ConfigValue(13), 120u);
}

// A range between two gates is stored as the gate below: after Write the page shows
// what the sensor stores, and says so under the edit.
TEST_F(ParamPageTest, WriteShowsTheValueTheSensorStores)
{
    OpenWindow();
    Connect();
    TypeAndLeave(Edit(2010), "7.35");
    ASSERT_EQ(Edit(2010)->text(), "7.35") << "a legal minimum, no rule corrects it";
    Click("2003");
    EXPECT_EQ(LastBox().text, "The parameters were written to the sensor.");
    EXPECT_EQ(sensor->ConfigValue(DETECT_KEY_RANGE_MIN), 10u);
    EXPECT_EQ(Edit(2010)->text(), "7");
    EXPECT_NEAR(window->Params().DetectRangeMin, 7.0, 1e-9);
    ASSERT_NE(Edit(2010)->Balloon(), nullptr);
    const auto items = Edit(2010)->Balloon()->Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].title, "Stored Value");
    EXPECT_EQ(items[0].text, "Stored as 7.00 m (gate 10)");
    EXPECT_EQ(items[0].icon, BALLOON_ICON_INFO);
    EXPECT_TRUE(Edit(2010)->Balloon()->isVisible());
    // Values the sensor keeps as written get no balloon.
    EXPECT_TRUE(BalloonTexts(Edit(2011)).empty());
    EXPECT_TRUE(BalloonTexts(Edit(2020)).empty());
}

// The user's report: with the maximum as the sensor reports it (12 x 0.7, a hair
// below 8.4), a minimum of 7.9 is corrected to 7.70, the same as without a sensor.
TEST_F(ParamPageTest, AMaximumReadFromTheSensorGivesTheSameCorrectionAsATypedOne)
{
    OpenWindow();
    Connect();
    ASSERT_EQ(sensor->ConfigValue(DETECT_KEY_RANGE_MAX), 12u);
    ASSERT_LT(window->Params().DetectRangeMax, 8.4);
    TypeAndLeave(Edit(2010), "7.9");
    EXPECT_EQ(Edit(2010)->text(), "7.7");
    EXPECT_EQ(BalloonTexts(Edit(2010)), std::vector<std::string>{"The minimum range must be at most 7.70 m"});
    EXPECT_EQ(Edit(2011)->text(), "8.4");
}

// A value changed since the last Read, Write or Reset is marked until it is written
// or read again, and the window's title has a "*" meanwhile.
TEST_F(ParamPageTest, UnwrittenChangesAreMarkedUntilWrittenOrReadAgain)
{
    OpenWindow();
    Connect();
    ParameterPage* page = window->FindPage<ParameterPage>();
    const QString title = window->windowTitle();
    ASSERT_FALSE(title.endsWith("*"));
    EXPECT_FALSE(page->HasUnwrittenChanges());

    TypeAndLeave(Edit(2020), "70");
    EXPECT_TRUE(page->IsUnwritten(Edit(2020)));
    EXPECT_FALSE(page->IsUnwritten(Edit(2021)));
    EXPECT_FALSE(Edit(2020)->styleSheet().isEmpty()) << "a frame around the edit";
    EXPECT_FALSE(window->findChild<QWidget*>("gate:2020")->styleSheet().isEmpty()) << "its label coloured";
    EXPECT_TRUE(Edit(2021)->styleSheet().isEmpty());
    EXPECT_EQ(window->windowTitle(), title + "*");

    // Back to the value the sensor holds: no longer marked.
    TypeAndLeave(Edit(2020), "48");
    EXPECT_FALSE(page->IsUnwritten(Edit(2020)));
    EXPECT_TRUE(Edit(2020)->styleSheet().isEmpty());
    EXPECT_EQ(window->windowTitle(), title);

    // A rule's correction of the other edit and a choice in a list are marked too.
    TypeAndLeave(Edit(2011), "8.3");
    TypeAndLeave(Edit(2010), "7.8");
    EXPECT_TRUE(page->IsUnwritten(Edit(2010)));
    EXPECT_TRUE(page->IsUnwritten(Edit(2011)));
    Choose("2013", "1.0");
    EXPECT_TRUE(page->IsUnwritten(Combo("2013")));
    QTest::mouseClick(Find<QAbstractButton>("2015"), Qt::LeftButton);
    EXPECT_TRUE(page->IsUnwritten(Find<QWidget>("2015")));
    EXPECT_EQ(window->windowTitle(), title + "*");

    Click("2003");
    EXPECT_FALSE(page->HasUnwrittenChanges());
    EXPECT_EQ(window->windowTitle(), title);

    TypeAndLeave(Edit(2016), "120");
    EXPECT_TRUE(page->IsUnwritten(Edit(2016)));
    Click("2002");
    EXPECT_FALSE(page->HasUnwrittenChanges()) << "Read shows what the sensor holds";

    TypeAndLeave(Edit(2055), "90");
    answer = [](const QuestionRecord&) { return 0; };  // Reset
    Click("2001");
    EXPECT_FALSE(page->HasUnwrittenChanges()) << "after Reset the page shows what the sensor holds";
    EXPECT_EQ(window->windowTitle(), title);
}

TEST_F(ParamPageTest, AFailedWriteKeepsTheMarks)
{
    OpenWindow(false);
    TypeAndLeave(Edit(2020), "70");
    Click("2003");
    EXPECT_EQ(LastBox().text, "Device Not Connected");
    EXPECT_TRUE(window->FindPage<ParameterPage>()->IsUnwritten(Edit(2020)));
    EXPECT_TRUE(window->windowTitle().endsWith("*"));
}

// Every message of the page in Chinese, balloons included.
TEST_F(ParamPageTest, BalloonsSpeakChinese)
{
    SetUiLanguage(UiLanguage::SimplifiedChinese);
    OpenWindow();
    TypeAndLeave(Edit(2011), "9");
    ASSERT_NE(Edit(2011)->Balloon(), nullptr);
    const BalloonItem range = Edit(2011)->Balloon()->Items().at(0);
    EXPECT_EQ(range.title, "数据无效");
    EXPECT_EQ(range.text, "最大检测距离不能大于 8.4 米");
    TypeAndLeave(Edit(2040), "5");
    EXPECT_EQ(BalloonTexts(Edit(2040)).front(), "数值不能小于 10");
    NumericEdit* gate = Edit(2033);
    ASSERT_TRUE(FocusWidget(gate));
    gate->setCursorPosition(0);
    QTest::keyClick(gate, '-');
    EXPECT_EQ(gate->Balloon()->Items().at(0).title, "输入错误");
    EXPECT_EQ(BalloonTexts(gate), std::vector<std::string>{"无效字符 '-'"});

    Connect();
    TypeAndLeave(Edit(2010), "7.35");
    Click("2003");
    EXPECT_EQ(LastBox().text, "参数已写入传感器。");
    EXPECT_EQ(BalloonTexts(Edit(2010)), std::vector<std::string>{"传感器保存为 7.00 米（距离门 10）"});
}

TEST_F(ParamPageTest, ReadAndWriteWithoutADeviceSayNotConnected)
{
    OpenWindow();
    TypeAndLeave(Edit(2020), "66");
    Click("2002");
    EXPECT_EQ(LastBox().text, "Device Not Connected");
    EXPECT_EQ(Edit(2020)->text(), "66") << "a failed read leaves the controls";

    Click("2003");
    EXPECT_EQ(LastBox().text, "Device Not Connected");
    EXPECT_EQ(window->Params().GateTriggerThreshold[0], 66u) << "the record keeps the control values";
    Click("2005");
    EXPECT_NE(ConfigFileText().find("Gate0TriggerThreshold=\"66\""), std::string::npos);
}

TEST_F(ParamPageTest, SaveConfigWritesTheWholeSection)
{
    WriteConfig("<?xml version=\"1.0\"?>\n<AppConfig/>\n");
    OpenWindow(false);
    EXPECT_EQ(ConfigFileText().find("<ParamSetting"), std::string::npos) << "created in memory only";
    TypeAndLeave(Edit(2011), "5.6");
    Click("2005");
    EXPECT_TRUE(boxes.empty()) << "saving is silent";
    const std::string text = ConfigFileText();
    for (const char* attribute :
         {"RangeResolution=\"0.70\"", "DetectRangeMin=\"0.00\"", "DetectRangeMax=\"5.60\"", "ResponseFreq=\"0.5\"",
          "StateReportFreq=\"4.0\"", "RangeReportFreq=\"0.5\"", "ObjectDisappearReportTime=\"40\"",
          "Gate0TriggerThreshold=\"48\"", "Gate15TriggerThreshold=\"31\"", "Gate0HoldThreshold=\"45\"",
          "Gate15HoldThreshold=\"28\""}) {
        EXPECT_NE(text.find(attribute), std::string::npos) << attribute << "\n" << text;
    }
}

TEST_F(ParamPageTest, TheParameterSectionIsLoadedAtStart)
{
    WriteConfig(
        "<?xml version=\"1.0\"?>\n<AppConfig><paramsetting DetectRangeMin=\"1.40\" StateReportFreq=\"4.0\" "
        "RangeReportFreq=\"2.0\" Gate3TriggerThreshold=\"77\" ResponseFreq=\"1.0\"/></AppConfig>\n");
    OpenWindow(false);
    EXPECT_EQ(Edit(2010)->text(), "1.4");
    EXPECT_EQ(Edit(2023)->text(), "77");
    EXPECT_EQ(Combo("2013")->currentText(), "2.0");
    EXPECT_EQ(Combo("2012")->currentText(), "4.0");
    EXPECT_TRUE(Find<QAbstractButton>("2015")->isChecked());
}

// The section goes through the rules of typed values at start: a value that does
// not read leaves the defaults and says why, values outside the rules are shown
// corrected and listed; either way the file stays as it is until Save Config.
TEST_F(ParamPageTest, TheParameterSectionIsTakenInUnderTheRulesAtStart)
{
    const struct {
        const char* name;
        const char* attributes;
        std::string box;  // the start of the box's text after the file's path
        MessageIcon icon;
        std::vector<std::pair<int, QString>> shown;
    } cases[] = {
        {"a value that does not read", "DetectRangeMax=\"4.20\" Gate3TriggerThreshold=\"0x30\"",
         " are not used: Gate3TriggerThreshold=\"0x30\" is not a whole number (digits only, at most 4294967295).\n"
         "The page shows the default parameters.",
         MessageIcon::Warning, {{2011, "8.4"}, {2023, "34"}}},
        {"an empty value", "ObjectDisappearReportTime=\"\"",
         " are not used: ObjectDisappearReportTime=\"\" is not a whole number", MessageIcon::Warning,
         {{2016, "40"}}},
        {"values outside the rules", "DetectRangeMin=\"7\" DetectRangeMax=\"2\" Gate3TriggerThreshold=\"200\"",
         " were corrected as typed values are:\nGateTriggerThreshold[3]: The value must be at most 95\n"
         "DetectRangeMin: The maximum range must be at least 0.35 m above the minimum\n"
         "DetectRangeMax: The maximum range must be at least 2.10 m\nSave Config. stores the corrected values.",
         MessageIcon::Information, {{2010, "1.65"}, {2011, "2.45"}, {2023, "95"}}},
    };
    const std::string path = dataDir->File("appConfig.xml");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string config =
            std::string("<?xml version=\"1.0\"?>\n<AppConfig><ParamSetting ") + c.attributes + "/></AppConfig>\n";
        WriteConfig(config);
        boxes.clear();
        OpenWindow(false);
        QCoreApplication::processEvents();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(LastBox().text.rfind("The parameters in " + path + c.box, 0), 0u) << LastBox().text;
        EXPECT_EQ(LastBox().icon, c.icon);
        for (const auto& [id, text] : c.shown)
            EXPECT_EQ(Edit(id)->text(), text) << id;
        CloseWindow();
        const std::string section = std::string("<ParamSetting ") + c.attributes + " />";
        EXPECT_NE(ConfigFileText().find(section), std::string::npos) << "the section is left as it is\n"
                                                                     << ConfigFileText();
    }
}

TEST_F(ParamPageTest, ChoosingARangeFrequencyRebuildsTheStateList)
{
    OpenWindow(false);
    EXPECT_EQ(ComboItems("2012").size(), 16u);
    Choose("2013", "3.0");
    EXPECT_EQ(ComboItems("2012"), (std::vector<std::string>{"3.0", "6.0"}));
    EXPECT_EQ(Combo("2012")->currentText(), "3.0") << "4.0 snaps to the nearer 3.0";
    EXPECT_DOUBLE_EQ(window->Params().StateReportFreq, 3.0);

    Choose("2013", "2.0");
    EXPECT_EQ(ComboItems("2012"), (std::vector<std::string>{"2.0", "4.0", "6.0", "8.0"}));
    EXPECT_EQ(Combo("2012")->currentText(), "2.0") << "a tie goes to the earlier entry";
    EXPECT_DOUBLE_EQ(window->Params().StateReportFreq, 2.0);
    EXPECT_DOUBLE_EQ(window->Params().RangeReportFreq, 2.0);

    Choose("2012", "6.0");
    EXPECT_DOUBLE_EQ(window->Params().StateReportFreq, 6.0);
}


// ---------------------------------------------------------------- unwritten values

// Values typed and not written stay when another page is shown and this one comes
// back (also when the firmware page takes the port over); closing the window with
// them asks, and only "Discard and close" closes.
TEST_F(ParamPageTest, UnwrittenValuesSurvivePageSwitchesAndClosingAsksFirst)
{
    OpenWindow();
    Connect();
    ParameterPage* page = window->FindPage<ParameterPage>();
    const QString title = window->windowTitle();
    TypeAndLeave(Edit(2020), "66");
    TypeAndLeave(Edit(2016), "55");
    ASSERT_EQ(window->windowTitle(), title + "*");

    for (const char* other : {"1188", "1189"}) {  // Target Info., Update FW
        SCOPED_TRACE(other);
        QTest::mouseClick(Button(other), Qt::LeftButton);
        WaitForSensor();
        ASSERT_FALSE(page->isVisible());
        QTest::mouseClick(Button("1187"), Qt::LeftButton);
        WaitForSensor();
        ASSERT_TRUE(page->isVisible());
        EXPECT_EQ(Edit(2020)->text(), "66");
        EXPECT_EQ(Edit(2016)->text(), "55");
        EXPECT_TRUE(page->IsUnwritten(Edit(2020)));
        EXPECT_TRUE(page->IsUnwritten(Edit(2016)));
        EXPECT_FALSE(page->IsUnwritten(Edit(2021)));
        EXPECT_TRUE(window->windowTitle().startsWith(title + "*")) << window->windowTitle().toStdString();
    }
    EXPECT_TRUE(questions.empty()) << "a page switch loses nothing, so it asks nothing";

    const struct {
        int answer;
        bool closes;
    } closes[] = {{1, false}, {0, true}};  // Cancel, then Discard and close
    for (const auto& c : closes) {
        SCOPED_TRACE(c.answer);
        questions.clear();
        answer = [&c](const QuestionRecord&) { return c.answer; };
        window->close();
        ASSERT_EQ(questions.size(), 1u);
        const QuestionRecord& asked = questions[0];
        EXPECT_EQ(asked.text, "The parameter page holds values that were not written to the sensor. Close the window "
                              "and discard them?");
        ASSERT_EQ(asked.choices, (std::vector<std::string>{"Discard and close", "Cancel"}));
        EXPECT_EQ(asked.choices[asked.escapeChoice], "Cancel") << "Escape or the close box keeps the values";
        EXPECT_EQ(asked.choices[asked.defaultChoice], "Cancel") << "Enter does not discard them either";
        EXPECT_EQ(window->isVisible(), !c.closes);
        EXPECT_EQ(Edit(2020)->text(), "66");
    }
}

// The text of an edit or the choice of a list, by its id.
QString ShownText(const MainWindow& window, int id)
{
    const QString name = QString::number(id);
    if (const auto* edit = window.findChild<NumericEdit*>(name))
        return edit->text();
    const auto* combo = window.findChild<QComboBox*>(name);
    return combo ? combo->currentText() : QString();
}

// Another program on the line changes what the sensor holds; the window's session is
// used for it while the window's sensor thread is idle.
void ChangeTheSensorBehindThePage(MainWindow& window, uint32_t trigger0, uint32_t absence)
{
    ASSERT_TRUE(window.SensorIdle());
    ParamSetting other;
    ASSERT_TRUE(window.Session().ReadParameters(other));
    other.GateTriggerThreshold[0] = trigger0;
    other.ObjectDisappearReportTime = absence;
    ASSERT_TRUE(window.Session().WriteParameters(other));
}

// The mark means exactly "this control differs from what the sensor holds", after
// every way the controls or the sensor change. Each step is done on the page as it
// was left by the one before.
TEST_F(ParamPageTest, AMarkMeansTheControlDiffersFromWhatTheSensorHolds)
{
    OpenWindow();
    Connect();
    ParameterPage* page = window->FindPage<ParameterPage>();
    const auto markedControls = [&] {
        std::vector<std::string> marked;
        for (QWidget* control : page->findChildren<QWidget*>()) {
            if (page->IsUnwritten(control))
                marked.push_back(control->objectName().toStdString());
        }
        std::sort(marked.begin(), marked.end());
        return marked;
    };
    const struct {
        const char* step;
        std::function<void()> act;
        std::vector<std::string> marked;
        std::vector<std::pair<int, QString>> shown;
    } steps[] = {
        {"connected", [] {}, {}, {{2020, "48"}, {2011, "8.4"}}},
        {"Read after another program changed the sensor",
         [&] {
             ChangeTheSensorBehindThePage(*window, 70, 120);
             Click("2002");
         },
         {},
         {{2020, "70"}, {2016, "120"}}},
        {"Max 20 + Tab is corrected to the 8.4 the sensor holds", [&] { TypeAndLeave(Edit(2011), "20"); }, {},
         {{2011, "8.4"}}},
        {"a gate corrected to its limit still differs", [&] { TypeAndLeave(Edit(2021), "100"); }, {"2021"},
         {{2021, "95"}}},
        {"typed back to the sensor's value", [&] { TypeAndLeave(Edit(2021), "42"); }, {}, {{2021, "42"}}},
        {"a choice in a list", [&] { Choose("2013", "1.0"); }, {"2013"}, {{2013, "1.0"}}},
        {"Write of a range between two gates shows what is stored",
         [&] {
             TypeAndLeave(Edit(2010), "7.35");
             Click("2003");
         },
         {},
         {{2010, "7"}, {2013, "1.0"}}},
        {"a cancelled Reset changes nothing",
         [&] {
             TypeAndLeave(Edit(2055), "90");
             answer = [](const QuestionRecord&) { return 1; };
             Click("2001");
         },
         {"2055"},
         {{2055, "90"}, {2020, "70"}}},
        {"Reset",
         [&] {
             answer = [](const QuestionRecord&) { return 0; };
             Click("2001");
         },
         {},
         {{2055, QString::number(MOTION_THRESHOLD_TABLE[15])}, {2020, "48"}, {2016, "40"}}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        step.act();
        EXPECT_EQ(markedControls(), step.marked);
        EXPECT_EQ(window->windowTitle().contains("*"), !step.marked.empty());
        for (const auto& [id, text] : step.shown)
            EXPECT_EQ(ShownText(*window, id), text) << id;
    }
    EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD)[0], 48u) << "the Reset reached the sensor";
}

// Connecting keeps what was typed before (marked, now against the sensor's values)
// and shows the sensor's values in every other control.
TEST_F(ParamPageTest, ConnectingKeepsTypedValuesAndShowsTheSensorsElsewhere)
{
    ParamSetting held;
    held.GateTriggerThreshold[1] = 60;
    held.ObjectDisappearReportTime = 90;
    ASSERT_TRUE(sensor.Start(sensorOptions));
    ASSERT_TRUE(sensor.Open(OpenMode::CommandMode, 115200));
    ASSERT_EQ(WriteAllParams(sensor.Line(), held), OPERATOR_OK);
    sensor.Line().StopCmdMode();
    sensor.CloseDevice();

    OpenWindow();
    ParameterPage* page = window->FindPage<ParameterPage>();
    TypeAndLeave(Edit(2020), "66");
    TypeAndLeave(Edit(2016), "90");  // typed as the sensor holds it
    Connect();
    EXPECT_EQ(Edit(2020)->text(), "66");
    EXPECT_TRUE(page->IsUnwritten(Edit(2020)));
    EXPECT_EQ(Edit(2021)->text(), "60") << "the sensor's value where nothing was typed";
    EXPECT_FALSE(page->IsUnwritten(Edit(2021)));
    EXPECT_EQ(Edit(2016)->text(), "90");
    EXPECT_FALSE(page->IsUnwritten(Edit(2016))) << "the same as the sensor holds";
    Click("2003");
    EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD)[0], 66u);
    EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD)[1], 60u);
    EXPECT_FALSE(page->HasUnwrittenChanges());
}

// The balloon of a rejected character lies over the edit below: a click there goes
// to that edit, and so do the next keys.
TEST_F(ParamPageTest, AClickOnTheBalloonGoesToTheControlUnderIt)
{
    OpenWindow(false);
    NumericEdit* minEdit = Edit(2010);
    NumericEdit* maxEdit = Edit(2011);
    ASSERT_TRUE(FocusWidget(minEdit));
    QTest::keyClick(minEdit, 'x');
    ASSERT_NE(minEdit->Balloon(), nullptr);
    ASSERT_TRUE(minEdit->Balloon()->isVisible());
    const QPoint target = maxEdit->mapToGlobal(maxEdit->rect().center());
    QWidget* hit = QApplication::widgetAt(target);
    ASSERT_EQ(hit, minEdit->Balloon()) << "the balloon covers Max. Range where the user clicks";

    QTest::mouseClick(hit, Qt::LeftButton, Qt::NoModifier, hit->mapFromGlobal(target));
    EXPECT_FALSE(minEdit->Balloon()->isVisible());
    ASSERT_EQ(QApplication::focusWidget(), maxEdit);
    maxEdit->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), "5.6");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(maxEdit->text(), "5.6");
    EXPECT_DOUBLE_EQ(window->Params().DetectRangeMax, 5.6) << "committed as a typed value";
    EXPECT_EQ(minEdit->text(), "0");
}


// Save Config. saves what the page shows, through the rules a typed value goes
// through (a corrected value is shown corrected, with its balloon), and says where
// in the status bar; a save that cannot be made says why and leaves the file as it is.
TEST_F(ParamPageTest, SaveConfigSavesWhatIsShownAndSaysWhere)
{
    const std::string damaged = "<AppConfig><ParamSetting Gate0TriggerThreshold=\"50\"/>\n<Broken";
    const struct {
        const char* name;
        std::string config;  // empty: no file
        std::vector<std::pair<int, QString>> typed;
        std::vector<std::pair<int, std::string>> shown;  // after the save, with the balloon's text or ""
        std::vector<std::string> saved;                  // pieces the file holds afterwards
        std::string failure;                             // the start of the error box; empty: none
    } cases[] = {
        {"typed and not written", "", {{2020, "66"}, {2011, "5.6"}}, {{2020, ""}, {2011, ""}},
         {"Gate0TriggerThreshold=\"66\"", "DetectRangeMax=\"5.60\"", "Gate1TriggerThreshold=\"42\""}, ""},
        {"outside the rules in the file",
         "<AppConfig><ParamSetting Gate3TriggerThreshold=\"7\" DetectRangeMax=\"20\" "
         "ObjectDisappearReportTime=\"300\"/></AppConfig>",
         {},
         // Corrected when the window started (and said then), so nothing more here.
         {{2023, ""}, {2011, ""}, {2016, ""}},
         {"Gate3TriggerThreshold=\"10\"", "DetectRangeMax=\"8.40\"", "ObjectDisappearReportTime=\"255\""}, ""},
        {"a damaged file", damaged, {{2020, "66"}}, {}, {}, "Cannot write the configuration file "},
    };
    const std::string path = dataDir->File("appConfig.xml");
    answer = [](const QuestionRecord&) { return 0; };  // closing between the cases discards
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(path.c_str());
        if (!c.config.empty())
            WriteConfig(c.config);
        boxes.clear();
        OpenWindow(false);
        QCoreApplication::processEvents();  // the notice of a refused file, if any
        const size_t boxesBefore = boxes.size();
        for (const auto& [id, text] : c.typed)
            TypeAndLeave(Edit(id), text);
        QTest::mouseClick(Button("2005"), Qt::LeftButton);

        const std::string file = ConfigFileText();
        for (const std::string& piece : c.saved)
            EXPECT_NE(file.find(piece), std::string::npos) << piece << "\n" << file;
        for (const auto& [id, balloon] : c.shown) {
            if (balloon.empty())
                EXPECT_TRUE(BalloonTexts(Edit(id)).empty()) << id;
            else
                EXPECT_EQ(BalloonTexts(Edit(id)), std::vector<std::string>{balloon}) << id;
        }
        // What is shown is what was saved.
        const ParamSetting shown = window->FindPage<ParameterPage>()->ControlsRecord();
        if (c.failure.empty()) {
            EXPECT_EQ(boxes.size(), boxesBefore) << LastBox().text;
            EXPECT_EQ(window->NoticeText().toStdString(), "Parameters saved to " + path + ".");
            XMLParser saved;
            ASSERT_TRUE(saved.LoadBuffer(file.data(), file.size()));
            ParamSetting inFile;
            LoadParamSetting(saved.FindElement("AppConfig").FindChild("ParamSetting"), inFile);
            EXPECT_NEAR(inFile.DetectRangeMax, shown.DetectRangeMax, 1e-9);
            EXPECT_EQ(inFile.ObjectDisappearReportTime, shown.ObjectDisappearReportTime);
            for (int gate = 0; gate < PARAM_GATE_COUNT; ++gate)
                EXPECT_EQ(inFile.GateTriggerThreshold[gate], shown.GateTriggerThreshold[gate]) << gate;
        } else {
            ASSERT_EQ(boxes.size(), boxesBefore + 1);
            EXPECT_EQ(LastBox().text.rfind(c.failure + path + ": it was not loaded at start (not well-formed", 0), 0u)
                << LastBox().text;
            EXPECT_EQ(LastBox().icon, MessageIcon::Error);
            EXPECT_EQ(file, c.config) << "left as it is";
        }
        CloseWindow();
        if (!c.failure.empty()) {
            EXPECT_EQ(ConfigFileText(), c.config) << "also after the window closed";
        }
    }
}

}  // namespace
