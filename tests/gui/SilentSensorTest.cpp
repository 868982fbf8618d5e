// A sensor that never answers (the wrong baud rate on a real adapter looks the
// same): Connect, Read Config. and Reset wait out their time-outs on the sensor
// thread while the window's event loop keeps turning, and each ends by saying
// which time-out ran out.

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "MainWindowFixture.h"
#include "params/widgets/ParameterPage.h"
#include "params/widgets/ThresholdDialog.h"
#include "monitor/widgets/TargetPage.h"

#include <QTableWidget>

namespace {

// How long the calling thread has waited, runnable, for a processor (ms): the
// second field of the kernel's scheduler statistics; 0 where they are missing.
qint64 RunQueueWaitMs()
{
    std::ifstream stats("/proc/thread-self/schedstat");
    unsigned long long onCpuNs = 0;
    unsigned long long waitingNs = 0;
    if (!(stats >> onCpuNs >> waitingNs))
        return 0;
    return static_cast<qint64>(waitingNs / 1000000);
}

class SilentSensorTest : public MainWindowFixture {
protected:
    // Runs the action, then turns the event loop until the sensor thread is idle
    // while a 20 ms timer ticks; returns how late the latest tick came, in ms.
    // Time the window's thread spent ready but without a processor (other
    // programs on a loaded machine) is not counted: a window held by an exchange
    // sleeps in it, which is counted in full.
    qint64 LatestTickDuring(const std::function<void()>& action)
    {
        QElapsedTimer clock;
        QTimer ticker;
        ticker.setInterval(TICK_MS);
        qint64 last = 0;
        qint64 lastWaited = RunQueueWaitMs();
        qint64 latest = 0;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            const qint64 waited = RunQueueWaitMs();
            latest = std::max(latest, now - last - TICK_MS - (waited - lastWaited));
            last = now;
            lastWaited = waited;
        });
        clock.start();
        ticker.start();
        action();
        EXPECT_FALSE(window->SensorIdle()) << "the exchange runs off the window's thread";
        WaitForSensor();
        ticker.stop();
        // The wait is long enough to show a frozen loop: at least one time-out.
        EXPECT_GE(clock.elapsed(), 140);
        return latest;
    }

    static constexpr int TICK_MS = 20;
    static constexpr int LATE_LIMIT_MS = 100;
};

TEST_F(SilentSensorTest, TheWindowTurnsWhileEachOperationWaitsOutItsTimeOutAndSaysSo)
{
    sensorOptions.silent = true;
    OpenWindow();

    EXPECT_LE(LatestTickDuring([this] { QTest::mouseClick(Button("1103"), Qt::LeftButton); }), LATE_LIMIT_MS);
    EXPECT_EQ(Button("1103")->text(), "Disconn.") << "the port itself opened";
    EXPECT_EQ(window->NoticeText().toStdString(),
              "The sensor on " + sensor->PortPath() +
                  " does not answer the version query: check the baud rate and the wiring. (no reply within 150 ms)");

    struct Case {
        const char* button;
        const char* failure;
    };
    const Case cases[] = {
        {"2002", "Failed to read parameters\nno reply within 2000 ms"},  // Read Config.
        {"2001", "Failed to set parameters\nno reply within 2000 ms"},   // Reset
    };
    answer = [](const QuestionRecord&) { return 0; };  // Reset, when asked
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        boxes.clear();
        EXPECT_LE(LatestTickDuring([&] { QTest::mouseClick(Button(c.button), Qt::LeftButton); }), LATE_LIMIT_MS);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.failure);
        EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
        EXPECT_TRUE(Button(c.button)->isEnabled()) << "enabled again once the sensor thread is idle";
    }
}

// While an exchange runs the page says so and does not start a second one.
TEST_F(SilentSensorTest, ThePageIsBusyWhileTheSensorThreadWorks)
{
    sensorOptions.silent = true;
    OpenWindow();
    Connect();
    boxes.clear();
    QTest::mouseClick(Button("2002"), Qt::LeftButton);
    EXPECT_FALSE(Button("2002")->isEnabled());
    EXPECT_FALSE(Button("2003")->isEnabled());
    EXPECT_FALSE(Button("1103")->isEnabled());
    EXPECT_EQ(window->FindPage<ParameterPage>()->cursor().shape(), Qt::BusyCursor);
    EXPECT_EQ(window->NoticeText(), "Waiting for the sensor…");
    // A picture of the waiting window, for the documentation, when a folder is named.
    if (const char* folder = std::getenv("PALO_SCREENSHOT_DIR"); folder && *folder) {
        EXPECT_TRUE(window->grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/waiting-for-sensor-en.png")));
    }
    // The page buttons still switch pages meanwhile.
    QTest::mouseClick(Button("1188"), Qt::LeftButton);
    QTest::mouseClick(Button("1187"), Qt::LeftButton);
    WaitForSensor();
    EXPECT_EQ(boxes.size(), 1u) << "one Read, one answer";
    EXPECT_TRUE(Button("2002")->isEnabled());
    EXPECT_NE(window->FindPage<ParameterPage>()->cursor().shape(), Qt::BusyCursor);
}

// Gen. Threshold opens its dialog at once; the tables it reads come up empty
// after the time-out, with the window turning meanwhile.
TEST_F(SilentSensorTest, TheThresholdDialogOpensAtOnceAndShowsNoTablesAfterTheTimeOut)
{
    sensorOptions.silent = true;
    OpenWindow();
    Connect();
    bool shown = false;
    qint64 latest = -1;
    QString firstCell;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, window.get(), [&] {
        auto* dialog = window->findChild<ThresholdDialog*>();
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        shown = true;
        latest = LatestTickDuring([] {});
        firstCell = dialog->findChild<QTableWidget*>(QString::number(ThresholdDialog::TABLES_ID))->item(0, 0)->text();
        dialog->close();
    });
    poll.start();
    QTest::mouseClick(Button("2004"), Qt::LeftButton);
    ASSERT_TRUE(shown);
    EXPECT_LE(latest, LATE_LIMIT_MS);
    EXPECT_EQ(firstCell, "-") << "nothing read, nothing shown";
}

// The target page's live run switches the report output on and off on the
// sensor thread: showing the page and stopping the run never hold the window.
TEST_F(SilentSensorTest, ALiveRunStartsAndStopsWithoutHoldingTheWindow)
{
    sensorOptions.silent = true;
    OpenWindow();
    Connect();
    auto* page = dynamic_cast<TargetPage*>(window->Page(1188));
    ASSERT_NE(page, nullptr);
    EXPECT_LE(LatestTickDuring([this] { QTest::mouseClick(Button("1188"), Qt::LeftButton); }), LATE_LIMIT_MS);
    ASSERT_TRUE(page->Worker().IsRunning()) << "the run goes on after the switch timed out";
    EXPECT_LE(LatestTickDuring([this] { QTest::mouseClick(Button("3003"), Qt::LeftButton); }), LATE_LIMIT_MS);
    EXPECT_FALSE(page->RunActive());
    EXPECT_EQ(Button("3003")->text(), "Start");
}

}  // namespace
