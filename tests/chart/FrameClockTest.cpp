// The window's frame clock: displays due in the same frame run from one wake-up.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "chart/widgets/FrameClock.h"

namespace {

constexpr int STEP = FrameClock::FRAME_INTERVAL_MS;

// A grid tick at least a whole step ahead of now.
qint64 TickAhead(const FrameClock& frames)
{
    return (frames.NowMs() / STEP + 2) * STEP;
}

TEST(FrameClock, RequestsDueInOneFrameRunInOneTurnOfTheEventLoop)
{
    FrameClock& frames = FrameClock::Instance();
    QObject first, second;
    const qint64 tick = TickAhead(frames);
    std::vector<std::string> ran;
    bool loopTurned = false;
    // The first asks for the earliest time the tick's frame covers, the second for the tick itself.
    frames.RunAt(&first, tick - STEP + 1, [&] {
        ran.push_back("first");
        EXPECT_GE(frames.NowMs() + 1, tick);
        // Runs at the next turn of the loop: after the second only if both ran from one wake-up.
        QTimer::singleShot(0, [&] { loopTurned = true; });
    });
    frames.RunAt(&second, tick, [&] {
        ran.push_back(loopTurned ? "second, a turn later" : "second");
    });
    EXPECT_TRUE(frames.IsWaiting(&first));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran.size() == 2; }, 2000));
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
    EXPECT_FALSE(frames.IsWaiting(&first));
    EXPECT_FALSE(frames.IsWaiting(&second));
}

TEST(FrameClock, ALaterRequestReplacesTheWaitingOneAndAGoneOwnerGetsNothing)
{
    FrameClock& frames = FrameClock::Instance();
    QObject kept;
    auto gone = std::make_unique<QObject>();
    std::vector<std::string> ran;
    const qint64 tick = TickAhead(frames);
    frames.RunAt(&kept, tick, [&] { ran.push_back("replaced"); });
    frames.RunAt(&kept, tick, [&] { ran.push_back("kept"); });
    frames.RunAt(gone.get(), tick, [&] { ran.push_back("gone"); });
    gone.reset();
    // A time already past runs at the next turn, before the others' tick.
    QObject late;
    frames.RunAt(&late, frames.NowMs() - 500, [&] { ran.push_back("late"); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran.size() >= 2; }, 2000));
    QTest::qWait(2 * STEP);
    EXPECT_EQ(ran, (std::vector<std::string>{"late", "kept"}));

    // A cancelled request does not run.
    frames.RunAt(&kept, TickAhead(frames), [&] { ran.push_back("cancelled"); });
    frames.Cancel(&kept);
    EXPECT_FALSE(frames.IsWaiting(&kept));
    QTest::qWait(3 * STEP);
    EXPECT_EQ(ran.size(), 2u);
}

}  // namespace
