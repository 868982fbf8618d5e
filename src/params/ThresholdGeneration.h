#pragma once
// The sensor's threshold generation: the generation command, the progress-frame
// scanner and the worker that follows the progress until 100 % or a stop.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "common/BaseThread.h"
#include "device/SensorLine.h"

class CBaseBuffer;

constexpr uint16_t SENSING_GENERATE_COMMAND = 9;
constexpr int SENSING_COMMAND_TIMEOUT_MS = 2000;
constexpr int SENSING_READ_CHUNK = 32;

// Initial inputs the parameter page gives the dialog.
constexpr int DEFAULT_TRIGGER_COEFFICIENT = 2;
constexpr int DEFAULT_HOLD_COEFFICIENT = 1;
constexpr int DEFAULT_SCAN_TIME = 120;

// Receives the worker's notices on the worker thread. An implementation only
// posts them on (to a window, a queue); it must not wait for the owner's thread.
class ISensingGenerateSink {
public:
    virtual ~ISensingGenerateSink() = default;
    virtual void OnSensingProgress(int progress) = 0;
    virtual void OnSensingFinished(int success) = 0;
};

// Payload of command 9: trigger coefficient, hold coefficient, scan time as
// little-endian 16-bit values (the low 16 bits of each).
[[nodiscard]] std::array<uint8_t, 6> BuildSensingGeneratePayload(int triggerCoefficient, int holdCoefficient,
                                                                 int scanTime);

// Scans the buffer for progress frames (envelope with length 3, type 3) and drops
// the consumed bytes; an incomplete frame stays for the next read. Calls
// onProgress (may be empty) for every progress value in stream order, logs
// "process=%d". Returns the last progress value of this scan, 0 when none.
int ScanProgressFrames(CBaseBuffer& buffer, const std::atomic<int>& stop, const std::function<void(int)>& onProgress);

// The worker: one generation run at a time on the "SensingGenerate" thread.
// Uses the line alone while it runs (the owner holds a claim on it for the run)
// and must not touch it until Stop has returned or OnSensingFinished has arrived.
class CSensingGenerateWorker : public IThreadFuncInterface {
public:
    CSensingGenerateWorker(SensorLine* line, ISensingGenerateSink& sink);
    ~CSensingGenerateWorker() override;
    CSensingGenerateWorker(const CSensingGenerateWorker&) = delete;
    CSensingGenerateWorker& operator=(const CSensingGenerateWorker&) = delete;

    // The line the next run uses (null: none; the run fails at once). Only while no run is active.
    void SetLine(SensorLine* line) { line_ = line; }
    // Starts a run with the three inputs (success is cleared). False when a run is still active.
    bool Start(int triggerCoefficient, int holdCoefficient, int scanTime);
    // Sets the stop flag, cancels a blocked read and waits for the worker to end.
    // The worker still reports OnSensingFinished (with 0 unless 100 % had been reached).
    void Stop();
    // True while the worker thread runs.
    [[nodiscard]] bool IsRunning() const;
    // 1 when the last run ended with progress 100 or more.
    [[nodiscard]] int Success() const { return success_.load(); }

private:
    void ThreadFunc(uint64_t param) override;

    SensorLine* line_;
    ISensingGenerateSink& sink_;
    CBaseThread thread_;
    std::atomic<int> stop_{0};
    std::atomic<int> success_{0};
    int triggerCoefficient_ = DEFAULT_TRIGGER_COEFFICIENT;  // written before the thread starts
    int holdCoefficient_ = DEFAULT_HOLD_COEFFICIENT;
    int scanTime_ = DEFAULT_SCAN_TIME;
};
