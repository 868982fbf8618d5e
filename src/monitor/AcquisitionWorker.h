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
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/BaseEvent.h"
#include "common/BaseThread.h"
#include "device/RadarDevice.h"
#include "monitor/FrameScanner.h"

// Message numbers the target page gives the worker's notices.
enum : int {
    WM_REPORT_NEW = 0x0500,   // a report arrived (OnNewReport)
    WM_REPLAY_END = 0x0501,   // the replay file is exhausted (OnReplayEnd)
    WM_DEVICE_LOST = 0x0502,  // a live read found the port closed (OnDeviceLost)
};

constexpr int STATE_HISTORY_LENGTH = 240;
constexpr uint8_t STATE_NO_REPORT = 0xFF;
constexpr int DEFAULT_REPLAY_INTERVAL = 500;  // ms
constexpr int REPLAY_CHUNK_SIZE = 1024;
constexpr int LIVE_READ_TIMEOUT_MS = 2000;

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
    CAcquisitionWorker(TAVO_RadarDeviceHandle device, IAcquisitionSink& sink);
    ~CAcquisitionWorker() override;  // stops a run
    CAcquisitionWorker(const CAcquisitionWorker&) = delete;
    CAcquisitionWorker& operator=(const CAcquisitionWorker&) = delete;

    void SetDevice(TAVO_RadarDeviceHandle device) { device_ = device; }

    // Settings, changed only while idle. Paths are absolute.
    int replayMode = 0;                    // 1 = the next run replays lastReplayFile
    int replayInterval = DEFAULT_REPLAY_INTERVAL;  // ms pause after each replayed 70-byte frame
    std::string lastReplayFile;
    int saveData = 0;                      // 1 = record live runs
    std::string saveDataPath;              // folder of record files

    // Starts a run in the mode replayMode names: resets the last report and the
    // history, creates saveDataPath for a recording live run, starts the worker.
    // ACQUISITION_NOT_CONNECTED for a live run without an open port.
    int Start();
    // Ends the run: stop flag, cancelled read, signalled pacing wait, join; then the
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

private:
    void ThreadFunc(uint64_t param) override;
    void SwitchReportOutput(uint32_t on);
    void HandlePayload(const uint8_t* payload, bool replay);

    TAVO_RadarDeviceHandle device_;
    IAcquisitionSink& sink_;
    CBaseThread readThread_;
    CBaseEvent pacingEvent_{true, false};  // manual reset: once Stop signals it, every later wait is cut short
    std::atomic<int> stopRequested_{0};
    std::atomic<int> running_{0};

    mutable std::mutex reportMutex_;  //!< Protects report_, history_, bandDirty_ and recordFile_.
    TargetReport report_;
    StateHistory history_;
    bool bandDirty_ = false;
    std::string recordFile_;
};

// The run settings kept as attributes of the AppConfig element: the defaults
// (data folder + "SaveData", + "SaveData/RadarData.dat", 500 ms, no recording)
// overwritten by ReplayInterval, SaveData, SaveDataPath and LastReplayFile when
// present. Paths are read absolute against the data folder.
void LoadAcquisitionSettings(XMLNode appConfig, CAcquisitionWorker& worker);
// Writes the four keys back ("%lld"; paths relative to the data folder when inside it).
void SaveAcquisitionSettings(XMLNode appConfig, const CAcquisitionWorker& worker);
