// Worker notices reaching windows: the acquisition and generation sinks that
// turn them into queued signals, and the bootloader sink that queues its calls
// onto the window's thread.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/StringIds.h"
#include "device/SerialPortRegistry.h"
#include "firmware/widgets/QueuedBootloaderSink.h"
#include "monitor/FrameScanner.h"
#include "monitor/widgets/AcquisitionEventSink.h"
#include "params/widgets/SensingEventSink.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

namespace {

struct Received {
    std::string notice;
    int a;
    int b;
    QThread* thread;
    bool operator==(const Received&) const = default;
};

// A window that records every notice it is given, with the thread it ran on.
class RecordingWindow : public QWidget {
public:
    std::vector<Received> received;
    void Note(const std::string& notice, int a = 0, int b = 0)
    {
        received.push_back({notice, a, b, QThread::currentThread()});
    }

    void Listen(AcquisitionEventSink& sink)
    {
        connect(&sink, &AcquisitionEventSink::reportArrived, this, [this](quint64, int s, int d) { Note("report", s, d); },
                Qt::QueuedConnection);
        connect(&sink, &AcquisitionEventSink::replayEnded, this, [this] { Note("replay end"); }, Qt::QueuedConnection);
        connect(&sink, &AcquisitionEventSink::lineLost, this, [this] { Note("line lost"); }, Qt::QueuedConnection);
        connect(&sink, &AcquisitionEventSink::recordingFailed, this, [this] { Note("record failed"); },
                Qt::QueuedConnection);
    }
    void Listen(SensingEventSink& sink)
    {
        connect(&sink, &SensingEventSink::progressChanged, this, [this](int p) { Note("progress", p); },
                Qt::QueuedConnection);
        connect(&sink, &SensingEventSink::finished, this, [this](bool ok) { Note("finished", ok); },
                Qt::QueuedConnection);
    }
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
    AcquisitionEventSink sink;
    window.Listen(sink);
    std::vector<QThread*> hookThreads;
    sink.SetReportHook([&](const TargetReport&) { hookThreads.push_back(QThread::currentThread()); });
    SensorLine device;  // never opened: a replay
    {
        CAcquisitionWorker worker(&device, sink);
        worker.replayMode = 1;
        worker.replayInterval = 5;
        worker.lastReplayFile = path;
        ASSERT_EQ(worker.Start(), ACQUISITION_STARTED);
        ASSERT_TRUE(PumpUntil([&] { return !window.received.empty() && window.received.back().notice == "replay end"; }));
        worker.Stop();
    }

    QThread* ui = QThread::currentThread();
    const std::vector<Received> expected = {
        {"report", TARGET_STATE_MOVING, 120, ui},
        {"report", TARGET_STATE_MOTIONLESS, 345, ui},
        {"report", TARGET_STATE_NONE, 0, ui},
        {"replay end", 0, 0, ui},
    };
    EXPECT_EQ(window.received, expected);
    ASSERT_EQ(hookThreads.size(), 3u);
    for (QThread* thread : hookThreads) EXPECT_NE(thread, ui) << "the report hook runs on the worker thread";
}

TEST(WorkerSinks, NoticesFromAnotherThreadArriveOnTheWindowsThreadInOrder) {
    RecordingWindow dialog;
    RecordingWindow page;
    SensingEventSink sensing;
    AcquisitionEventSink acquisition;
    dialog.Listen(sensing);
    page.Listen(acquisition);
    std::thread worker([&] {
        for (int p = 0; p <= 100; ++p) sensing.OnSensingProgress(p);
        sensing.OnSensingFinished(1);
        acquisition.OnRecordFailed();
        acquisition.OnDeviceLost();
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return dialog.received.size() >= 102 && page.received.size() >= 2; }));
    QThread* ui = QThread::currentThread();
    for (int p = 0; p <= 100; ++p) EXPECT_EQ(dialog.received[p], (Received{"progress", p, 0, ui}));
    EXPECT_EQ(dialog.received.back(), (Received{"finished", 1, 0, ui}));
    EXPECT_EQ(page.received, (std::vector<Received>{{"record failed", 0, 0, ui}, {"line lost", 0, 0, ui}}));
}

// A live run's page is told that there is a newer report once, and not again until
// it has taken the newest: the reads in between wake nobody, and nothing is lost.
TEST(WorkerSinks, ALiveRunTellsThePageOnceUntilItTakesTheNewestReport) {
    RecordingWindow page;
    AcquisitionEventSink acquisition;
    page.Listen(acquisition);
    acquisition.SetRun(1, false);
    // Reads of three reports each, from another thread: the page hears of the first read only.
    const auto reads = [&](int first, int count) {
        std::thread worker([&] {
            for (int read = 0; read < count; ++read) {
                for (int k = 0; k < 3; ++k) {
                    TargetReport report;
                    report.state = TARGET_STATE_MOVING;
                    report.distanceCm = first + read * 3 + k;
                    acquisition.OnNewReport(report);
                }
                acquisition.OnChunkDone();
            }
        });
        worker.join();
    };
    reads(100, 5);
    ASSERT_TRUE(PumpUntil([&] { return !page.received.empty(); }));
    QCoreApplication::processEvents();
    QThread* ui = QThread::currentThread();
    EXPECT_EQ(page.received, (std::vector<Received>{{"report", TARGET_STATE_MOVING, 102, ui}}));
    // Taking gives the newest report of the last read, once.
    EXPECT_EQ(acquisition.TakeNewest(), std::make_optional(std::make_pair(int{TARGET_STATE_MOVING}, 114)));
    EXPECT_EQ(acquisition.TakeNewest(), std::nullopt);
    // After the take, the next read is told again.
    reads(200, 2);
    ASSERT_TRUE(PumpUntil([&] { return page.received.size() == 2; }));
    EXPECT_EQ(page.received.back(), (Received{"report", TARGET_STATE_MOVING, 202, ui}));
    EXPECT_EQ(acquisition.TakeNewest(), std::make_optional(std::make_pair(int{TARGET_STATE_MOVING}, 205)));
    // A new run starts with nothing untaken and tells its first read.
    reads(300, 1);
    acquisition.SetRun(2, false);
    EXPECT_EQ(acquisition.TakeNewest(), std::nullopt);
    reads(400, 1);
    ASSERT_TRUE(PumpUntil([&] { return page.received.size() == 4; }));
    EXPECT_EQ(page.received.back(), (Received{"report", TARGET_STATE_MOVING, 402, ui}));
}

TEST(WorkerSinks, AWindowDeletedBeforeItsLoopRunsMissesItsNotices) {
    auto doomed = std::make_unique<RecordingWindow>();
    RecordingWindow survivor;
    SensingEventSink sink;
    doomed->Listen(sink);
    survivor.Listen(sink);
    std::thread worker([&] { sink.OnSensingFinished(0); });
    worker.join();
    doomed.reset();
    ASSERT_TRUE(PumpUntil([&] { return !survivor.received.empty(); }));
    EXPECT_EQ(survivor.received.size(), 1u);
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
        SensorLine line;
        CBootloader boot(direct, &line);
        boot.portNumber = sim.PortNumber();
        ASSERT_TRUE(boot.UpdateFWInfo());
    }
    ASSERT_FALSE(direct.calls.empty());

    QWidget page;
    ThreadRecordingBootSink target;
    QueuedBootloaderSink queued(&page, target);
    bool ok = false;
    std::thread worker([&] {
        SensorLine line;
        CBootloader boot(queued, &line);
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
    QueuedBootloaderSink queued(page.get(), target);
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
