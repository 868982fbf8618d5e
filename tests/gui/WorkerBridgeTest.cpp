// Worker notices reaching windows: posted message events, the acquisition and
// generation sinks that post them, and the bootloader sink that queues its calls
// onto the window's thread.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/StringIds.h"
#include "controls/widgets/MessageEvent.h"
#include "device/SerialPortRegistry.h"
#include "firmware/widgets/QueuedBootloaderSink.h"
#include "monitor/FrameScanner.h"
#include "monitor/widgets/AcquisitionEventSink.h"
#include "params/widgets/SensingEventSink.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

namespace {

struct Received {
    int message;
    qintptr wParam;
    qintptr lParam;
    QThread* thread;
    bool operator==(const Received&) const = default;
};

// A window that records every message event it is given.
class RecordingWindow : public QWidget {
public:
    explicit RecordingWindow(int* deliveries = nullptr) : deliveries_(deliveries) {}
    std::vector<Received> received;

protected:
    void customEvent(QEvent* event) override {
        if (const CMessageEvent* m = CMessageEvent::Cast(event)) {
            received.push_back({m->Message(), m->WParam(), m->LParam(), QThread::currentThread()});
            if (deliveries_) ++*deliveries_;
        }
    }

private:
    int* deliveries_;
};

// Runs the event loop until the condition holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

TEST(MessageEvent, PostedFromAnotherThreadArriveOnTheReceiversThreadInOrder) {
    RecordingWindow window;
    std::vector<Received> sent;
    for (int k = 0; k < 200; ++k)
        sent.push_back({k % 2 ? 0x0501 : 0x0500, k, -k * 1000003LL, QThread::currentThread()});
    std::thread worker([&] {
        for (const Received& r : sent) EXPECT_TRUE(PostMessageEvent(&window, r.message, r.wParam, r.lParam));
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return window.received.size() >= sent.size(); }));
    EXPECT_EQ(window.received, sent);
}

TEST(MessageEvent, NumbersMapToTheirOwnEventTypesWithinTheUserRange) {
    EXPECT_EQ(CMessageEvent::TypeOf(0x0500), QEvent::User + 0x0500);
    EXPECT_EQ(CMessageEvent::TypeOf(0), QEvent::User);
    EXPECT_EQ(CMessageEvent::TypeOf(CMessageEvent::MAX_MESSAGE), QEvent::MaxUser);
    // Qt knows the type as taken: it hands out another one for the same hint.
    EXPECT_NE(QEvent::registerEventType(QEvent::User + 0x0500), QEvent::User + 0x0500);

    RecordingWindow window;
    struct Case {
        QObject* receiver;
        int message;
        bool posted;
    } cases[] = {
        {&window, -1, false},
        {&window, CMessageEvent::MAX_MESSAGE + 1, false},
        {nullptr, 0x0500, false},
        {&window, CMessageEvent::MAX_MESSAGE, true},
    };
    for (const Case& c : cases) EXPECT_EQ(PostMessageEvent(c.receiver, c.message), c.posted) << c.message;
    ASSERT_TRUE(PumpUntil([&] { return !window.received.empty(); }));
    QCoreApplication::processEvents();
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].message, CMessageEvent::MAX_MESSAGE);

    // Other events are not message events.
    QEvent other(QEvent::User);
    EXPECT_EQ(CMessageEvent::Cast(&other), nullptr);
    EXPECT_EQ(CMessageEvent::Cast(nullptr), nullptr);
}

TEST(MessageEvent, AReceiverDeletedBeforeTheLoopRunsDropsItsEvents) {
    int gone = 0;
    auto doomed = std::make_unique<RecordingWindow>(&gone);
    RecordingWindow survivor;
    std::thread worker([&] {
        PostMessageEvent(doomed.get(), 0x0500, 1, 2);
        PostMessageEvent(&survivor, 0x0501, 3, 4);
    });
    worker.join();
    doomed.reset();
    ASSERT_TRUE(PumpUntil([&] { return !survivor.received.empty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(gone, 0);
    EXPECT_EQ(survivor.received.size(), 1u);
}

TEST(WorkerSinks, AReplayDeliversItsReportsThenTheEndToTheWindow) {
    TempDir dir;
    const std::string path = dir.File("replay.dat");
    std::string bytes;
    const struct {
        uint8_t state;
        uint16_t distanceCm;
    } frames[] = {{TARGET_STATE_MOVING, 120}, {TARGET_STATE_MOTIONLESS, 345}, {TARGET_STATE_NONE, 0}};
    for (const auto& f : frames) {
        const auto payload = BuildTargetReportPayload(f.state, f.distanceCm, nullptr);
        const auto frame = BuildReportFrame(payload.data(), static_cast<uint16_t>(payload.size()));
        bytes.append(frame.begin(), frame.end());
    }
    ASSERT_TRUE(WriteWholeFile(path, bytes));

    RecordingWindow window;
    CAcquisitionEventSink sink(&window);
    TAVO_RadarDeviceHandle device = TAVO_Interface_RadarDevice_Serial_Create();
    {
        CAcquisitionWorker worker(device, sink);
        worker.replayMode = 1;
        worker.replayInterval = 5;
        worker.lastReplayFile = path;
        ASSERT_EQ(worker.Start(), ACQUISITION_STARTED);
        ASSERT_TRUE(PumpUntil([&] { return !window.received.empty() && window.received.back().message == WM_REPLAY_END; }));
        worker.Stop();
    }
    TAVO_Interface_RadarDevice_Serial_Destroy(device);

    QThread* ui = QThread::currentThread();
    const std::vector<Received> expected = {
        {WM_REPORT_NEW, TARGET_STATE_MOVING, 120, ui},
        {WM_REPORT_NEW, TARGET_STATE_MOTIONLESS, 345, ui},
        {WM_REPORT_NEW, TARGET_STATE_NONE, 0, ui},
        {WM_REPLAY_END, 0, 0, ui},
    };
    EXPECT_EQ(window.received, expected);
}

TEST(WorkerSinks, GenerationAndDeviceLossNoticesBecomeTheirMessages) {
    RecordingWindow dialog;
    RecordingWindow page;
    CSensingEventSink sensing(&dialog);
    CAcquisitionEventSink acquisition(&page);
    std::thread worker([&] {
        sensing.OnSensingProgress(37);
        sensing.OnSensingProgress(100);
        sensing.OnSensingFinished(1);
        acquisition.OnDeviceLost();
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return dialog.received.size() >= 3 && !page.received.empty(); }));
    QThread* ui = QThread::currentThread();
    EXPECT_EQ(dialog.received, (std::vector<Received>{{WM_SENSING_PROGRESS, 37, 0, ui},
                                                       {WM_SENSING_PROGRESS, 100, 0, ui},
                                                       {WM_SENSING_FINISHED, 1, 0, ui}}));
    EXPECT_EQ(page.received, (std::vector<Received>{{WM_DEVICE_LOST, 0, 0, ui}}));
}

// A firmware page's sink: every call with the thread it arrived on.
class ThreadRecordingBootSink : public IBootloaderSink {
public:
    void ShowMessage(int id, const std::string&) override { Note("message " + std::to_string(id)); }
    void AppendLog(int id, const std::string& text) override { Note("log " + std::to_string(id) + " " + text); }
    void SetLabel(BootLabel label, const std::string& text) override {
        Note("label " + std::to_string(static_cast<int>(label)) + " " + text);
    }
    void SetProgressRange(uint32_t maximum) override { Note("range " + std::to_string(maximum)); }
    void SetProgressValue(uint32_t value) override { Note("value " + std::to_string(value)); }
    void SetBusyVisible(bool visible) override { Note(visible ? "busy" : "idle"); }
    void SetPartitionList(const std::vector<PartitionItem>& items, int selected) override {
        std::string text = "partitions";
        for (const auto& item : items) text += " " + item.text;
        Note(text + " selected " + std::to_string(selected));
    }
    void ScrollLogToEnd() override { Note("scroll"); }
    void OnRunningMode(uint32_t mode) override { Note("mode " + std::to_string(mode)); }
    void OnDeviceId(uint32_t id) override { Note("id " + std::to_string(id)); }
    void OnPartitionMask(uint32_t mask) override { Note("mask " + std::to_string(mask)); }
    void OnImageInfo(uint32_t length, uint32_t checksum) override {
        Note("image " + std::to_string(length) + " " + std::to_string(checksum));
    }

    std::vector<std::string> calls;
    std::vector<QThread*> threads;

private:
    void Note(const std::string& call) {
        calls.push_back(call);
        threads.push_back(QThread::currentThread());
    }
};

TEST(WorkerSinks, BootloaderCallsReachThePageOnItsThreadInOrder) {
    VirtualSensorOptions options;
    options.deviceId = 0x520C0042;
    options.partitionMask = 0x5;
    SimulatedSensor sim;
    ASSERT_TRUE(sim.Start(options));

    // The same procedure straight into a sink, for the calls it makes.
    ThreadRecordingBootSink direct;
    {
        CBootloader boot(direct);
        boot.portNumber = sim.PortNumber();
        ASSERT_TRUE(boot.UpdateFWInfo());
    }
    ASSERT_FALSE(direct.calls.empty());

    QWidget page;
    ThreadRecordingBootSink target;
    CQueuedBootloaderSink queued(&page, target);
    bool ok = false;
    std::thread worker([&] {
        CBootloader boot(queued);
        boot.portNumber = sim.PortNumber();
        ok = boot.UpdateFWInfo();
    });
    worker.join();
    EXPECT_TRUE(ok);
    EXPECT_TRUE(target.calls.empty()) << "nothing runs before the page's loop does";
    ASSERT_TRUE(PumpUntil([&] { return target.calls.size() >= direct.calls.size(); }));
    EXPECT_EQ(target.calls, direct.calls);
    for (QThread* thread : target.threads) EXPECT_EQ(thread, page.thread());
    EXPECT_NE(std::find(target.calls.begin(), target.calls.end(), "id " + std::to_string(0x520C0042)),
              target.calls.end());
    EXPECT_NE(std::find(target.calls.begin(), target.calls.end(), "mask 5"), target.calls.end());
}

TEST(WorkerSinks, BootloaderCallsForADeletedPageAreDropped) {
    ThreadRecordingBootSink target;
    auto page = std::make_unique<QObject>();
    CQueuedBootloaderSink queued(page.get(), target);
    std::thread worker([&] {
        queued.AppendLog(TEXT_BOOT_QUERYING_FIRMWARE, "Querying...\r\n");
        queued.SetPartitionList({{"App0", 0}}, 0);
    });
    worker.join();
    page.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(target.calls.empty());
}

}  // namespace
