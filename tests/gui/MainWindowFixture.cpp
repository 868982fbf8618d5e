#include "MainWindowFixture.h"

#include <QTest>

#include "support/qt/QtTestEnvironment.h"
#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "common/FileUtils.h"
#include "controls/widgets/BalloonTip.h"
#include "controls/widgets/NumericEdit.h"

void MainWindowFixture::SetUp()
{
    dataDir = std::make_unique<TempDir>();
    SetProgramPathOverride(dataDir->Path());
    // The licence was shown in this folder before: keeps the window alone on screen.
    WriteWholeFile(dataDir->File("LicenseShown"), "shown\n");
    SetUiLanguage(UiLanguage::English);
    previousHook = SetMessageBoxHook([this](const MessageBoxRecord& record) { boxes.push_back(record); });
    previousQuestionHook = SetQuestionHook([this](const QuestionRecord& question) {
        questions.push_back(question);
        return answer ? answer(question) : question.escapeChoice;
    });
    sensorOptions.pacing = false;
}

void MainWindowFixture::TearDown()
{
    window.reset();
    sensor.Stop();
    SetMessageBoxHook(previousHook);
    SetQuestionHook(previousQuestionHook);
    SetUiLanguage(UiLanguage::English);
    gAppConfigDoc.Clear();
    SetProgramPathOverride(std::string());
    dataDir.reset();
}

void MainWindowFixture::WriteConfig(const std::string& xml)
{
    ASSERT_TRUE(WriteWholeFile(dataDir->File("appConfig.xml"), xml));
}

void MainWindowFixture::OpenWindow(bool withSensorPort)
{
    LoadAppConfig();
    MainWindowOptions options = windowOptions;
    if (withSensorPort) {
        if (!sensor) {
            ASSERT_TRUE(sensor.Start(sensorOptions));
        }
        options.extraPortPaths.push_back(sensor->PortPath());
        options.selectPortPath = sensor->PortPath();
    }
    window = std::make_unique<MainWindow>(options);
    ASSERT_TRUE(ShowAndActivate(window.get()));
}

void MainWindowFixture::CloseWindow()
{
    window->close();
    window.reset();
}

void MainWindowFixture::Connect()
{
    QTest::mouseClick(Button("1103"), Qt::LeftButton);
    WaitForSensor();
}

void MainWindowFixture::WaitForSensor()
{
    // Longer than any sequence of time-outs a silent sensor makes the window wait out.
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->SensorIdle(); }, 20000));
    QCoreApplication::processEvents();
}

NumericEdit* MainWindowFixture::Edit(const char* id) const
{
    return Find<NumericEdit>(id);
}

std::vector<std::string> MainWindowFixture::ComboItems(const char* id) const
{
    std::vector<std::string> items;
    QComboBox* combo = Combo(id);
    for (int i = 0; i < combo->count(); ++i)
        items.push_back(combo->itemText(i).toStdString());
    return items;
}

std::vector<std::string> MainWindowFixture::BalloonTexts(NumericEdit* edit) const
{
    std::vector<std::string> texts;
    if (edit->Balloon()) {
        for (const BalloonItem& item : edit->Balloon()->Items())
            texts.push_back(item.text);
    }
    return texts;
}

void MainWindowFixture::TypeAndLeave(NumericEdit* edit, const QString& text, bool clearFirst)
{
    ASSERT_TRUE(FocusWidget(edit));
    if (clearFirst) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
    }
    TypeText(edit, text);
    ASSERT_TRUE(FocusWidget(Button("2002")));
}

std::string MainWindowFixture::ConfigFileText() const
{
    return ReadWholeFile(dataDir->File("appConfig.xml"));
}
