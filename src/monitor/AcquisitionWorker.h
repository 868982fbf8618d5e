#pragma once
// The acquisition run of the target page: live reads from the device (optionally
// recorded to a file) or replay of a record file, fed through the frame scanner on
// the "ReadData" worker thread.
//
// Start/Stop, the settings and the replay mode belong to the owner's thread. The
// worker publishes each report into the last report and the state history under a
// lock, then tells the sink; readers take copies.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "common/BaseThread.h"
#include "device/SensorLine.h"
#include "monitor/FrameScanner.h"
#include "monitor/RecordSidecar.h"

constexpr int STATE_HISTORY_LENGTH = 240;
constexpr uint8_t STATE_NO_REPORT = 0xFF;
constexpr int DEFAULT_REPLAY_INTERVAL = 500;  // ms
constexpr int REPLAY_CHUNK_SIZE = 1024;
constexpr int LIVE_READ_TIMEOUT_MS = 2000;
// After a live read that did not fill the buffer, the worker lets the line gather
// bytes this long before it reads again: a line at full speed then wakes it some
// 25 times a second instead of for every few bytes the adapter hands on. It is the
// window's frame interval: a report waits no longer than it would for its frame.
constexpr int LIVE_GATHER_MS = 40;

using StateHistory = std::array<uint8_t, STATE_HISTORY_LENGTH>;

// Receives the worker's notices on the worker thread. An implementation appends
// to its charts and posts events on; it must never wait for the owner's thread
// (the owner may be inside Stop, joining the worker).
class IAcquisitionSink {
public:
    virtual ~IAcquisitionSink() = default;
    // A target report was decoded; LastReport/GetStateHistory already include it.
    virtual void OnNewReport(const TargetReport& report) = 0;
    // The replay file is exhausted; the owner should call Stop.
    virtual void OnReplayEnd() = 0;
    // A live read found the port closed (hang-up, unplugged); the run has ended and
    // the owner should call Stop.
    virtual void OnDeviceLost() = 0;
    // Every chunk read during a run, after it is recorded and before it is scanned (for
    // traffic views and checks); the bytes are valid only during the call.
    virtual void OnRawChunk(const uint8_t* /*bytes*/, size_t /*length*/) {}
    // Every report of the chunk has been handed over (a writer may flush its lines).
    virtual void OnChunkDone() {}
    // The record file could not be created or written: recording has stopped for the
    // rest of the run, which goes on. RecordFailure() says why.
    virtual void OnRecordFailed() {}
};

// Why a recording stopped: the file and the system's reason.
struct RecordFailureInfo {
    std::string path;
    std::string reason;
};

enum : int {
    ACQUISITION_STARTED = 0,
    ACQUISITION_NOT_CONNECTED = 1,  // live start without an open port: nothing changed
    ACQUISITION_ALREADY_RUNNING = 2,
    ACQUISITION_THREAD_FAILED = 3,
};

class XMLNode;

class CAcquisitionWorker : public IThreadFuncInterface {
public:
    CAcquisitionWorker(SensorLine* line, IAcquisitionSink& sink);
    ~CAcquisitionWorker() override;  // stops a run
    CAcquisitionWorker(const CAcquisitionWorker&) = delete;
    CAcquisitionWorker& operator=(const CAcquisitionWorker&) = delete;

    void SetLine(SensorLine* line) { line_ = line; }

    // Settings, changed only while idle. Paths are absolute.
    int replayMode = 0;                    // 1 = the next run replays lastReplayFile
    int replayInterval = DEFAULT_REPLAY_INTERVAL;  // ms pause after each replayed 70-byte frame
    std::string lastReplayFile;
    int saveData = 0;                      // 1 = record live runs
    std::string saveDataPath;              // folder of record files
    // When set, a recording run writes the description beside the record file
    // (RecordSidecar.h) at its start and completes it at its end.
    std::optional<RecordSidecar> recordDescription;
    // Replay: the first reports of the file are read without notice and without a pause.
    uint64_t replaySkipReports = 0;
    // What the worker keeps of each report. A sink that prints the raw values itself
    // (the command-line tool) clears both: the reports then reach it without the
    // gates' decibels, and LastReport/GetStateHistory stay empty, which spares a
    // lock and the history's shift per report.
    bool decodeDecibels = true;
    bool keepLastReport = true;
    // The run turns the sensor's report output on as it starts and off as it ends.
    // An owner that does both itself (off the thread that waits in Stop) clears it.
    bool switchReportOutput = true;

    // Starts a run in the mode replayMode names: resets the last report and the
    // history, creates saveDataPath for a recording live run, starts the worker.
    // ACQUISITION_NOT_CONNECTED for a live run without an open port.
    int Start();
    // Ends the run: stop flag, cancelled read, woken pacing or pause wait, join; then the
    // last report's state and distance are 0. Safe when no run is active.
    void Stop();
    // 1 between a successful Start and the next Stop.
    [[nodiscard]] bool IsRunning() const { return running_.load() != 0; }
    // True while the worker thread body runs (a run can end by itself before Stop).
    [[nodiscard]] bool IsWorkerActive() const;

    [[nodiscard]] TargetReport LastReport() const;
    [[nodiscard]] StateHistory GetStateHistory() const;
    // Both at once, consistent with each other.
    void GetSnapshot(TargetReport& report, StateHistory& history) const;
    // True when a report arrived since the last call (the state band needs painting).
    bool TakeBandDirty();

    // The record file of the current or last live run; empty when none was created.
    [[nodiscard]] std::string RecordFilePath() const;
    // Why recording stopped in the current or last run; an empty path when it did not.
    [[nodiscard]] RecordFailureInfo RecordFailure() const;
    // Reports decoded in the current or last run, and bytes written to its record file.
    [[nodiscard]] uint64_t ReportCount() const { return reportCount_.load(); }
    [[nodiscard]] uint64_t RecordedBytes() const { return recordedBytes_.load(); }

    // ---- Replay controls: any time, they act on the current replay run ----
    // The pause after a report is the period / speed; a speed of 0 (or less) = no pause.
    void SetReplaySpeed(double speed);
    [[nodiscard]] double ReplaySpeed() const { return replaySpeed_.load(); }
    // The period of speed 1 in ms, when it is not replayInterval (a recording's own
    // report period, say); negative = replayInterval.
    void SetReplayPeriod(double periodMs) { replayPeriod_ = periodMs; }
    // A paused replay shows no further report until resumed, stepped or moved.
    void SetPaused(bool paused);
    [[nodiscard]] bool IsPaused() const;
    // While paused: lets one more report through.
    void StepReport();
    // Goes on at the first whole frame at or after the byte offset (the bytes held
    // back from the last read are dropped, so no frame is half-read).
    void SeekReplay(uint64_t offset);
    // The replay file's size and the offset just past the last report shown.
    [[nodiscard]] uint64_t ReplayFileSize() const { return replayFileSize_.load(); }
    [[nodiscard]] uint64_t ReplayPosition() const { return replayPosition_.load(); }

private:
    void ThreadFunc(uint64_t param) override;
    void SwitchReportOutput(uint32_t on);
    void HandlePayload(const uint8_t* payload, bool replay, uint64_t frameEnd);
    // Replay: the pause after a report, then the wait of a paused replay. False when
    // the run is stopping or moving.
    bool PaceReplay();
    bool WaitWhilePaused(std::unique_lock<std::mutex>& lock);
    // A pending seek's offset (clearing it), or -1.
    long long TakeSeek();
    // Recording: open (with its description), write, close; a failure ends recording.
    std::FILE* OpenRecord();
    void RecordChunk(std::FILE*& record, const uint8_t* bytes, size_t length);
    // Why the record's path no longer names the open file, or empty: a folder removed
    // or renamed during the run leaves the writes succeeding on a file nobody finds.
    [[nodiscard]] std::string WhyRecordIsGone(std::FILE* record) const;
    void CloseRecord(std::FILE*& record, bool endedNormally);
    void FailRecording(std::FILE*& record, const std::string& path, const std::string& reason);

    SensorLine* line_;
    IAcquisitionSink& sink_;
    CBaseThread readThread_;
    std::atomic<int> stopRequested_{0};
    std::atomic<int> running_{0};

    // The replay controls. The pacing wait and the pause wait on controlChanged_;
    // Stop, Seek, Step and Resume notify it, so a wait never outlives them.
    mutable std::mutex controlMutex_;  //!< Protects paused_, steps_, seekTo_ and interrupt_ changes.
    std::condition_variable controlChanged_;
    std::atomic<bool> paused_{false};  // changed under controlMutex_; read without it by an unpaced replay
    int steps_ = 0;
    long long seekTo_ = -1;
    std::atomic<int> interrupt_{0};  // the scanner's stop: set by Stop and by a seek
    std::atomic<double> replaySpeed_{1.0};
    std::atomic<double> replayPeriod_{-1.0};
    std::atomic<uint64_t> replayFileSize_{0};
    std::atomic<uint64_t> replayPosition_{0};
    uint64_t replayReports_ = 0;  // worker thread only

    std::atomic<uint64_t> reportCount_{0};
    std::atomic<uint64_t> recordedBytes_{0};
    std::optional<RecordSidecar> sidecar_;  // worker thread only, while recording
    std::chrono::steady_clock::time_point recordChecked_;  // worker thread only: last WhyRecordIsGone
    std::string sidecarPath_;

    mutable std::mutex reportMutex_;  //!< Protects report_, history_, bandDirty_, recordFile_ and recordFailure_.
    TargetReport report_;
    StateHistory history_;
    bool bandDirty_ = false;
    std::string recordFile_;
    RecordFailureInfo recordFailure_;
};

// The run settings kept as attributes of the AppConfig element: the defaults
// (data folder + "SaveData", + "SaveData/RadarData.dat", 500 ms, no recording)
// overwritten by ReplayInterval, SaveData, SaveDataPath and LastReplayFile when
// present. Paths are read absolute against the data folder.
void LoadAcquisitionSettings(XMLNode appConfig, CAcquisitionWorker& worker);
// Writes the four keys back ("%lld"; paths relative to the data folder when inside it).
void SaveAcquisitionSettings(XMLNode appConfig, const CAcquisitionWorker& worker);
