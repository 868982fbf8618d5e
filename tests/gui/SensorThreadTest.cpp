// The window's sensor thread: jobs run one after another off the user-interface
// thread, their results come back on it, and a result for a receiver that has
// gone is dropped.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "session/widgets/SensorThread.h"

namespace {

TEST(SensorThread, JobsRunInOrderOffTheWindowThreadAndResultsComeBackOnIt)
{
    SensorSession session;
    SensorThread thread(session);
    QObject receiver;
    QSignalSpy busy(&thread, &SensorThread::busyChanged);
    QThread* ui = QThread::currentThread();
    std::vector<int> order;
    std::vector<QThread*> jobThreads;
    std::vector<QThread*> doneThreads;
    for (int k = 0; k < 5; ++k) {
        thread.Run<int>(
            &receiver,
            [k, &jobThreads](SensorSession& s) {
                jobThreads.push_back(QThread::currentThread());
                return s.IsConnected() ? -1 : k;
            },
            [&](int value) {
                order.push_back(value);
                doneThreads.push_back(QThread::currentThread());
            });
    }
    EXPECT_TRUE(thread.IsBusy());
    EXPECT_FALSE(thread.CanRun());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !thread.IsBusy(); }, 5000));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    for (QThread* t : jobThreads) EXPECT_NE(t, ui);
    for (QThread* t : doneThreads) EXPECT_EQ(t, ui);
    // One busy period for the whole queue.
    ASSERT_EQ(busy.count(), 2);
    EXPECT_TRUE(busy.at(0).at(0).toBool());
    EXPECT_FALSE(busy.at(1).at(0).toBool());
}

TEST(SensorThread, AResultForAReceiverThatWentIsDroppedAndAClaimBlocksNewRuns)
{
    SensorSession session;
    SensorThread thread(session);
    auto receiver = std::make_unique<QObject>();
    bool delivered = false;
    thread.Run<int>(receiver.get(), [](SensorSession&) { return 1; }, [&](int) { delivered = true; });
    receiver.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !thread.IsBusy(); }, 5000));
    EXPECT_FALSE(delivered);

    SensorSession::LineClaim claim = session.ClaimLine();
    EXPECT_FALSE(thread.CanRun()) << "a streaming worker has the line";
    claim.Release();
    EXPECT_TRUE(thread.CanRun());
}

TEST(SensorThread, StoppedItRunsNothingMore)
{
    SensorSession session;
    SensorThread thread(session);
    thread.Stop();
    QObject receiver;
    bool ran = false;
    thread.Run<int>(&receiver, [&](SensorSession&) { ran = true; return 0; }, [](int) {});
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(thread.IsBusy());
}

}  // namespace
