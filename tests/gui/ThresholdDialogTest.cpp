// The threshold generator opened from the parameter page, against the virtual
// sensor: the command it sends, progress, success, the tables before and after,
// Undo, Stop (after which the sensor still finishes its scan), closing while the
// sensor scans, and the dialog in Chinese.
//
// With PALO_SCREENSHOT_DIR set, the runs also save pictures of the dialog there
// (the documentation's screenshots).

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdlib>
#include <functional>

#include "MainWindowFixture.h"
#include "support/qt/QtTestEnvironment.h"
#include "app/StringTable.h"
#include "common/FileUtils.h"
#include "controls/widgets/NumericEdit.h"
#include "params/RadarOperatorConfig.h"
#include "params/ThresholdGeneration.h"
#include "params/widgets/ParameterPage.h"
#include "params/widgets/ThresholdDialog.h"

namespace {

// Hang guard for anything the sensor or the worker does: far above what it takes.
constexpr int GENERATION_HANG_GUARD_MS = 30000;

class ThresholdGeneratorTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        // A 120 s scan takes 2 s.
        sensorOptions.timeScale = 60.0;
    }

    // Presses Gen. Threshold and runs body while the modal dialog is open; the
    // dialog is closed afterwards if the body left it open.
    void WithDialog(const std::function<void(ThresholdDialog&)>& body)
    {
        bool ran = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, window.get(), [&] {
            auto* dialog = window->findChild<ThresholdDialog*>();
            if (!dialog || !dialog->isVisible())
                return;
            poll.stop();
            ran = true;
            EXPECT_TRUE(dialog->isModal());
            // The dialog reads the sensor's tables on the sensor thread as it opens.
            EXPECT_TRUE(PumpUntil([this] { return window->SensorIdle(); }));
            body(*dialog);
            if (dialog->isVisible())
                dialog->close();
        });
        poll.start();
        QTest::mouseClick(Button("2004"), Qt::LeftButton);
        poll.stop();
        WaitForSensor();  // the page reads the tables the run left behind
        EXPECT_TRUE(ran) << "Gen. Threshold opened no dialog";
        EXPECT_EQ(window->findChild<ThresholdDialog*>(), nullptr) << "the page keeps the dialog for one run";
    }

    // Runs the event loop until the condition holds; false after the hang guard.
    static bool PumpUntil(const std::function<bool()>& done, int timeoutMs = GENERATION_HANG_GUARD_MS)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        return true;
    }

    static QString Status(ThresholdDialog& dialog)
    {
        return dialog.findChild<QLabel*>(QStringLiteral("3511"))->text();
    }
    static QPushButton* StartButton(ThresholdDialog& dialog)
    {
        return dialog.findChild<QPushButton*>(QStringLiteral("3510"));
    }
    static QPushButton* UndoButton(ThresholdDialog& dialog)
    {
        return dialog.findChild<QPushButton*>(QString::number(ThresholdDialog::UNDO_ID));
    }
    static NumericEdit* InputEdit(ThresholdDialog& dialog, int id)
    {
        return dialog.findChild<NumericEdit*>(QString::number(id));
    }
    static QTableWidget* Tables(ThresholdDialog& dialog)
    {
        return dialog.findChild<QTableWidget*>(QString::number(ThresholdDialog::TABLES_ID));
    }

    static void SaveScreenshot(QWidget& widget, const char* name)
    {
        const char* folder = std::getenv("PALO_SCREENSHOT_DIR");
        if (folder && *folder) {
            EXPECT_TRUE(widget.grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QLatin1String(name)));
        }
    }

    // Start, some progress on the way, then the end of the run.
    void RunToSuccess(ThresholdDialog& dialog, const char* progressText, const char* doneText,
                      const char* screenshotDuring = nullptr)
    {
        QTest::mouseClick(StartButton(dialog), Qt::LeftButton);
        ASSERT_TRUE(dialog.Running());
        ASSERT_TRUE(PumpUntil([&] { return Status(dialog).startsWith(QString::fromUtf8(progressText)); }));
        ASSERT_TRUE(PumpUntil([&] {
            return dialog.findChild<QProgressBar*>(QStringLiteral("3504"))->value() >= 40 || !dialog.Running();
        }));
        if (screenshotDuring && dialog.Running())
            SaveScreenshot(dialog, screenshotDuring);
        ASSERT_TRUE(PumpUntil([&] { return !dialog.Running(); }));
        EXPECT_EQ(Status(dialog).toStdString(), doneText);
    }

    // The page's gate edits of one table.
    std::array<uint32_t, 16> PageTable(int firstId) const
    {
        std::array<uint32_t, 16> values{};
        for (int gate = 0; gate < 16; ++gate)
            values[gate] = Edit(firstId + gate)->text().toUInt();
        return values;
    }

    static std::array<uint32_t, 16> ShownRow(ThresholdDialog& dialog, int row)
    {
        std::array<uint32_t, 16> values{};
        for (int gate = 0; gate < 16; ++gate)
            values[gate] = Tables(dialog)->item(row, gate)->text().toUInt();
        return values;
    }

    std::string LogText() const
    {
        const auto names = GetLocalFolderFileList(dataDir->File("Log"), "log");
        return names.empty() ? std::string() : ReadWholeFile(dataDir->File("Log/" + names.back()));
    }
};

TEST_F(ThresholdGeneratorTest, ASuccessfulRunShowsProgressAndBothTablesAndThePageReadsThem)
{
    OpenWindow();
    Connect();
    const auto triggerBefore = sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD);
    const auto holdBefore = sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD);
    ASSERT_EQ(PageTable(2020), triggerBefore);

    WithDialog([&](ThresholdDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Threshold Generation");
        EXPECT_EQ(InputEdit(dialog, 3501)->text(), "2");
        EXPECT_EQ(InputEdit(dialog, 3502)->text(), "1");
        EXPECT_EQ(InputEdit(dialog, 3503)->text(), "120");
        EXPECT_EQ(StartButton(dialog)->text(), "Start");
        EXPECT_TRUE(StartButton(dialog)->isDefault());
        EXPECT_TRUE(Status(dialog).isEmpty());
        EXPECT_FALSE(UndoButton(dialog)->isEnabled());
        // The sensor's tables are shown from the start; nothing generated yet.
        EXPECT_EQ(ShownRow(dialog, 0), triggerBefore);
        EXPECT_EQ(ShownRow(dialog, 2), holdBefore);
        EXPECT_EQ(Tables(dialog)->item(1, 0)->text(), "-");

        QTest::mouseClick(StartButton(dialog), Qt::LeftButton);
        EXPECT_EQ(StartButton(dialog)->text(), "Stop");
        EXPECT_FALSE(InputEdit(dialog, 3503)->isEnabled());
        // The tables are read first, then the worker takes the line.
        EXPECT_TRUE(PumpUntil([&] { return window->Session().IsLineClaimed(); })) << "the worker owns the line while it runs";
        ASSERT_TRUE(PumpUntil([&] { return sensor->LastGenerateRequest().has_value(); }));
        EXPECT_EQ(*sensor->LastGenerateRequest(), (SimGenerateRequest{2, 1, 120}));

        ASSERT_TRUE(PumpUntil([&] { return Status(dialog).startsWith("Generate progress:"); }));
        ASSERT_TRUE(PumpUntil([&] { return dialog.findChild<QProgressBar*>(QStringLiteral("3504"))->value() >= 40; }));
        SaveScreenshot(dialog, "threshold-generation-running-en.png");
        ASSERT_TRUE(PumpUntil([&] { return !dialog.Running(); }));
        EXPECT_EQ(Status(dialog).toStdString(), "Successfully generated.");
        EXPECT_EQ(dialog.Success(), 1);
        EXPECT_EQ(dialog.findChild<QProgressBar*>(QStringLiteral("3504"))->value(), 100);
        EXPECT_EQ(StartButton(dialog)->text(), "Start");
        EXPECT_TRUE(InputEdit(dialog, 3503)->isEnabled());
        EXPECT_FALSE(window->Session().IsLineClaimed());

        // Before and after side by side, the changed gates marked.
        const auto triggerAfter = sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD);
        const auto holdAfter = sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD);
        ASSERT_NE(triggerAfter, triggerBefore) << "the simulator generates other tables";
        EXPECT_EQ(ShownRow(dialog, 0), triggerBefore);
        EXPECT_EQ(ShownRow(dialog, 1), triggerAfter);
        EXPECT_EQ(ShownRow(dialog, 2), holdBefore);
        EXPECT_EQ(ShownRow(dialog, 3), holdAfter);
        for (int gate = 0; gate < 16; ++gate) {
            EXPECT_EQ(Tables(dialog)->item(1, gate)->data(Qt::UserRole).toBool(), triggerAfter[gate] != triggerBefore[gate])
                << gate;
            EXPECT_EQ(Tables(dialog)->item(3, gate)->data(Qt::UserRole).toBool(), holdAfter[gate] != holdBefore[gate])
                << gate;
            EXPECT_FALSE(Tables(dialog)->item(0, gate)->data(Qt::UserRole).toBool());
        }
        EXPECT_TRUE(UndoButton(dialog)->isEnabled());
        SaveScreenshot(dialog, "threshold-generation-done-en.png");

        // The log has both tables, both versions, while the tool still runs.
        const std::string log = LogText();
        EXPECT_NE(log.find("process=100\r\n"), std::string::npos);
        std::string before;
        std::string after;
        for (int gate = 0; gate < 16; ++gate) {
            before += (gate ? " " : "") + std::to_string(triggerBefore[gate]);
            after += (gate ? " " : "") + std::to_string(triggerAfter[gate]);
        }
        EXPECT_NE(log.find("Threshold generation, GateTriggerThreshold: " + before + " -> " + after + "\r\n"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("Threshold generation, GateHoldThreshold: "), std::string::npos);
    });

    // Closing after the success is OK: the page shows the generated tables.
    EXPECT_EQ(PageTable(2020), sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD));
    EXPECT_EQ(PageTable(2040), sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD));
    EXPECT_EQ(window->Params().GateTriggerThreshold[0], sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD)[0]);
    EXPECT_FALSE(window->FindPage<ParameterPage>()->HasUnwrittenChanges()) << "the tables are what the sensor holds";
    EXPECT_TRUE(boxes.empty()) << LastBox().text;
}

TEST_F(ThresholdGeneratorTest, UndoWritesThePreviousTablesBack)
{
    OpenWindow();
    Connect();
    const auto triggerBefore = sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD);
    const auto holdBefore = sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD);
    WithDialog([&](ThresholdDialog& dialog) {
        RunToSuccess(dialog, "Generate progress:", "Successfully generated.");
        ASSERT_NE(sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD), triggerBefore);
        ASSERT_TRUE(UndoButton(dialog)->isEnabled());
        QTest::mouseClick(UndoButton(dialog), Qt::LeftButton);
        EXPECT_FALSE(UndoButton(dialog)->isEnabled()) << "one Undo at a time";
        ASSERT_TRUE(PumpUntil([this] { return window->SensorIdle(); }));
        EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD), triggerBefore);
        EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD), holdBefore);
        EXPECT_FALSE(sensor->InCommandMode()) << "Undo leaves command mode";
        EXPECT_EQ(Status(dialog).toStdString(), "The previous thresholds are restored on the sensor.");
        EXPECT_FALSE(UndoButton(dialog)->isEnabled());
        // The "after" rows show what the sensor holds now: nothing changed.
        EXPECT_EQ(ShownRow(dialog, 1), triggerBefore);
        EXPECT_EQ(ShownRow(dialog, 3), holdBefore);
        for (int gate = 0; gate < 16; ++gate)
            EXPECT_FALSE(Tables(dialog)->item(1, gate)->data(Qt::UserRole).toBool()) << gate;
    });
    // The run had succeeded, so the page read the tables: the restored ones.
    EXPECT_EQ(PageTable(2020), triggerBefore);
    EXPECT_EQ(PageTable(2040), holdBefore);
}

TEST_F(ThresholdGeneratorTest, AStoppedScanStillReplacesTheTablesAndUndoGoesBackToTheTablesFromBeforeIt)
{
    // The sensor cannot be told to stop: after Stop it finishes the scan and replaces
    // both tables. Whatever follows, Undo goes back to the tables from before the
    // stopped run, and once the dialog has closed the page shows what the sensor holds.
    using Step = std::function<void(ThresholdDialog&)>;
    const auto waitForTheSensorsEnd = [this](ThresholdDialog& dialog) {
        ASSERT_TRUE(PumpUntil([&] { return !dialog.StoppedScanGoingOn() && window->SensorIdle(); }));
        EXPECT_FALSE(sensor->Generating());
        EXPECT_EQ(Status(dialog).toStdString(),
                  "The sensor has finished the stopped scan and replaced both threshold tables.\n"
                  "Undo writes the tables from before the run back.");
        EXPECT_EQ(ShownRow(dialog, 1), sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD));
        EXPECT_EQ(ShownRow(dialog, 3), sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD));
        EXPECT_TRUE(UndoButton(dialog)->isEnabled());
    };
    const auto secondRun = [this](ThresholdDialog& dialog) {
        InputEdit(dialog, 3501)->setText(QStringLiteral("5"));
        InputEdit(dialog, 3503)->setText(QStringLiteral("120"));
        RunToSuccess(dialog, "Generate progress:", "Successfully generated.");
        EXPECT_EQ(*sensor->LastGenerateRequest(), (SimGenerateRequest{5, 1, 120}));
    };
    const struct {
        const char* name;
        Step afterStop;
        bool undo;
    } cases[] = {
        {"Undo once the sensor has ended the scan", waitForTheSensorsEnd, true},
        {"a second run at once", secondRun, true},
        {"a second run after the sensor's end",
         [&](ThresholdDialog& dialog) {
             waitForTheSensorsEnd(dialog);
             secondRun(dialog);
         },
         true},
        {"closing once the sensor has ended the scan", waitForTheSensorsEnd, false},
    };
    OpenWindow();
    Connect();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto triggerBefore = sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD);
        const auto holdBefore = sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD);
        WithDialog([&](ThresholdDialog& dialog) {
            // A scan time above the limit is corrected when Start takes the focus, before it is read.
            NumericEdit* scan = InputEdit(dialog, 3503);
            ASSERT_TRUE(FocusWidget(scan));
            scan->selectAll();
            TypeText(scan, QStringLiteral("300"));
            QTest::mouseClick(StartButton(dialog), Qt::LeftButton);
            EXPECT_EQ(scan->text(), "240");
            ASSERT_TRUE(PumpUntil([&] { return dialog.findChild<QProgressBar*>(QStringLiteral("3504"))->value() >= 3; }));
            EXPECT_EQ(*sensor->LastGenerateRequest(), (SimGenerateRequest{2, 1, 240}));
            // Escape does nothing while it runs.
            QTest::keyClick(&dialog, Qt::Key_Escape);
            EXPECT_TRUE(dialog.isVisible());

            QTest::mouseClick(StartButton(dialog), Qt::LeftButton);  // Stop
            EXPECT_FALSE(dialog.Running());
            EXPECT_TRUE(dialog.StoppedScanGoingOn());
            EXPECT_TRUE(sensor->Generating()) << "nothing can stop the sensor's scan";
            EXPECT_TRUE(Status(dialog).startsWith(
                "Stopped. The sensor cannot cancel a scan it has begun: it scans until about "))
                << Status(dialog).toStdString();
            EXPECT_EQ(StartButton(dialog)->text(), "Start");
            EXPECT_TRUE(StartButton(dialog)->isEnabled());
            EXPECT_TRUE(scan->isEnabled());
            EXPECT_FALSE(UndoButton(dialog)->isEnabled()) << "not before the sensor has replaced the tables";

            c.afterStop(dialog);
            ASSERT_NE(sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD), triggerBefore) << "the sensor has new tables";
            EXPECT_EQ(ShownRow(dialog, 0), triggerBefore) << "the tables from before the stopped run stay \"before\"";
            EXPECT_EQ(ShownRow(dialog, 2), holdBefore);
            if (c.undo) {
                QTest::mouseClick(UndoButton(dialog), Qt::LeftButton);
                ASSERT_TRUE(PumpUntil([this] { return window->SensorIdle(); }));
                EXPECT_EQ(Status(dialog).toStdString(), "The previous thresholds are restored on the sensor.");
                EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD), triggerBefore);
                EXPECT_EQ(sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD), holdBefore);
            }
        });
        EXPECT_TRUE(questions.empty()) << "nothing was running when the dialog closed";
        EXPECT_EQ(PageTable(2020), sensor->GateTable(PARAM_ID_WRITE_TRIGGER_THRESHOLD)) << "the page shows what the sensor holds";
        EXPECT_EQ(PageTable(2040), sensor->GateTable(PARAM_ID_WRITE_HOLD_THRESHOLD));
        EXPECT_TRUE(boxes.empty()) << LastBox().text;
    }
}

TEST_F(ThresholdGeneratorTest, ClosingWhileTheSensorScansAsksFirst)
{
    sensorOptions.timeScale = 1.0;  // never reaches 100 within the test
    OpenWindow();
    Connect();
    const auto pageTrigger = PageTable(2020);
    const struct {
        const char* name;
        bool stopFirst;
    } cases[] = {{"during a run", false}, {"after Stop", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        questions.clear();
        WithDialog([&](ThresholdDialog& dialog) {
            QTest::mouseClick(StartButton(dialog), Qt::LeftButton);
            ASSERT_TRUE(PumpUntil([&] { return Status(dialog).startsWith("Generate progress:"); }));
            if (c.stopFirst) {
                QTest::mouseClick(StartButton(dialog), Qt::LeftButton);
                ASSERT_TRUE(dialog.StoppedScanGoingOn());
            }
            // Closed as a user closes a box: the dialog stays.
            answer = nullptr;
            dialog.close();
            ASSERT_EQ(questions.size(), 1u);
            EXPECT_EQ(questions.back().caption, "Threshold Generation");
            EXPECT_EQ(questions.back().text.rfind("The sensor is still scanning and cannot be stopped: at about ", 0), 0u)
                << questions.back().text;
            EXPECT_EQ(questions.back().choices, (std::vector<std::string>{"Keep Open", "Close"}));
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_TRUE(window->Session().IsLineClaimed()) << "the dialog still follows the sensor";

            answer = [](const QuestionRecord&) { return 1; };
            QElapsedTimer closing;
            closing.start();
            dialog.close();
            ::testing::Test::RecordProperty("close_ms", static_cast<int>(closing.elapsed()));
            EXPECT_FALSE(dialog.isVisible());
            EXPECT_EQ(dialog.Success(), 0);
            EXPECT_FALSE(window->Session().IsLineClaimed());
            answer = nullptr;
        });
        EXPECT_EQ(questions.size(), 2u);
        // Nothing has changed on the sensor yet: the page does not read the tables,
        // and the status bar says that they will change and how to see them then.
        EXPECT_EQ(PageTable(2020), pageTrigger);
        EXPECT_TRUE(boxes.empty()) << LastBox().text;
        const std::string notice = window->NoticeText().toStdString();
        EXPECT_EQ(notice.rfind("The sensor goes on scanning until about ", 0), 0u) << notice;
        EXPECT_NE(notice.find("Read Config. after that shows the new ones."), std::string::npos) << notice;
    }
    // The line is free for the window's own reads again.
    Button("2002")->click();
    WaitForSensor();
    EXPECT_EQ(LastBox().text, "The parameters were read from the sensor.");
}

TEST_F(ThresholdGeneratorTest, TheDialogInChinese)
{
    SetUiLanguage(UiLanguage::SimplifiedChinese);
    OpenWindow();
    // Without a connection first: the command cannot go out, and the status says why.
    WithDialog([&](ThresholdDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle().toStdString(), "门限生成");
        EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("label:3501"))->text().toStdString(), "触发门限生成系数（dB）：");
        EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("label:3503"))->text().toStdString(), "扫描时间（秒）：");
        EXPECT_EQ(StartButton(dialog)->text().toStdString(), "开始");
        EXPECT_EQ(UndoButton(dialog)->text().toStdString(), "撤销");
        EXPECT_EQ(Tables(dialog)->verticalHeaderItem(1)->text().toStdString(), "触发门限（生成后）");
        EXPECT_EQ(Tables(dialog)->item(0, 0)->text(), "-") << "no sensor, no tables";
        QTest::mouseClick(StartButton(dialog), Qt::LeftButton);
        ASSERT_TRUE(PumpUntil([&] { return !dialog.Running() && !Status(dialog).isEmpty(); }));
        EXPECT_EQ(Status(dialog).toStdString(), "门限生成失败。\n设备未连接");
    });

    Connect();
    WithDialog([&](ThresholdDialog& dialog) {
        QObject::connect(StartButton(dialog), &QPushButton::clicked, &dialog, [&] {
            if (dialog.Running()) {
                EXPECT_EQ(StartButton(dialog)->text().toStdString(), "停止");
            }
        });
        RunToSuccess(dialog, "生成进度:", "门限生成成功。", "threshold-generation-running-zh.png");
        SaveScreenshot(dialog, "threshold-generation-done-zh.png");
    });
}

}  // namespace
