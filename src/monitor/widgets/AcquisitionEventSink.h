#pragma once
// The acquisition worker's notices as queued signals to the target page.
//
// The IAcquisitionSink calls arrive on the "ReadData" worker thread; each emits
// its signal and returns at once, so it never waits for the page's thread (which
// may be inside Stop, joining the worker). Connected with Qt::QueuedConnection, the
// page's slots run on its own thread in the order the worker emitted. The report
// hook, when set, runs first on the worker thread (the charts are fed there).
// The sink must outlive the run: its owner stops the worker before it goes.
//
// Every signal carries the number of the run it belongs to (SetRun, before the
// worker starts): notices still queued when a run ends are told from the next run's.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

#include <QObject>

#include "monitor/AcquisitionWorker.h"

class AcquisitionEventSink : public QObject, public IAcquisitionSink {
    Q_OBJECT

public:
    explicit AcquisitionEventSink(QObject* parent = nullptr) : QObject(parent) {}

    // Runs on the worker thread for every report, before reportArrived is emitted.
    void SetReportHook(std::function<void(const TargetReport&)> hook) { reportHook_ = std::move(hook); }
    // The number the next run's signals carry, and whether the run tells the page of
    // every report (a replay, which may step through them) or only that there is a
    // newer one (a live run, whose page shows the current state); set while no
    // worker runs.
    //
    // In a live run, reportArrived is emitted for the newest report of a chunk the
    // line gave and then not again until the page has taken the newest with
    // TakeNewest: a page that shows the state a few times a second is not woken for
    // every read.
    void SetRun(quint64 run, bool everyReport = true)
    {
        run_ = run;
        everyReport_ = everyReport;
        newest_.reset();
        std::lock_guard lock(takeLock_);
        untaken_.reset();
        told_ = false;
    }
    // Page's thread, live runs: the newest report's state and distance not taken yet,
    // if any; the next chunk is told again.
    std::optional<std::pair<int, int>> TakeNewest();

    void OnNewReport(const TargetReport& report) override;
    void OnChunkDone() override;
    void OnReplayEnd() override { emit replayEnded(run_.load()); }
    void OnDeviceLost() override { emit lineLost(run_.load()); }
    void OnRecordFailed() override { emit recordingFailed(run_.load()); }

signals:
    // A report arrived: its state code and distance (the full report is the worker's LastReport).
    void reportArrived(quint64 run, int state, int distanceCm);
    // The replay file is exhausted: the page stops the run.
    void replayEnded(quint64 run);
    // A live read found the port closed: the page stops the run.
    void lineLost(quint64 run);
    // Recording has stopped (the worker's RecordFailure says why); the run goes on.
    void recordingFailed(quint64 run);

private:
    std::function<void(const TargetReport&)> reportHook_;  // set before the run starts
    std::atomic<quint64> run_{0};
    bool everyReport_ = true;               // set before the run starts
    std::optional<std::pair<int, int>> newest_;  // worker thread: state and distance of this chunk's newest

    std::mutex takeLock_;
    std::optional<std::pair<int, int>> untaken_;  // under takeLock_: the newest the page has not taken
    bool told_ = false;                            // under takeLock_: reportArrived was emitted since the last take
};
