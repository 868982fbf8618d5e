#include "monitor/AcquisitionWorker.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/AppConfig.h"
#include "app/XMLParser.h"
#include "common/BaseBuffer.h"
#include "common/DbgOutput.h"
#include "common/FileUtils.h"
#include "common/ValueParse.h"
#include "device/CommandModeScope.h"
#include "params/RadarOperatorConfig.h"

namespace {

enum : uint64_t { RUN_LIVE = 0, RUN_REPLAY = 1 };

// Writes every byte unless the stream reports an error; a short write is retried.
void WriteAll(std::FILE* file, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        const size_t written = std::fwrite(bytes, 1, length, file);
        if (written == 0 || std::ferror(file)) return;
        bytes += written;
        length -= written;
    }
}

// Fills the chunk from the file until it is full, the file ends or a read fails.
size_t ReadChunk(std::FILE* file, uint8_t* chunk, size_t size) {
    size_t total = 0;
    while (total < size) {
        const size_t got = std::fread(chunk + total, 1, size - total, file);
        if (got == 0) break;
        total += got;
    }
    return total;
}

}  // namespace

CAcquisitionWorker::CAcquisitionWorker(TAVO_RadarDeviceHandle device, IAcquisitionSink& sink)
    : device_(device), sink_(sink) {
    history_.fill(STATE_NO_REPORT);
}

CAcquisitionWorker::~CAcquisitionWorker() {
    if (IsRunning() || IsWorkerActive()) Stop();
}

int CAcquisitionWorker::Start() {
    if (IsRunning() || IsWorkerActive()) return ACQUISITION_ALREADY_RUNNING;
    const bool replay = replayMode != 0;
    if (!replay) {
        if (!TAVO_Interface_RadarDevice_IsConnected(device_)) return ACQUISITION_NOT_CONNECTED;
        DbgOutputA(2, "Start Realtime data show.\r\n");
        if (saveData) RecursiveCreateDirectory(saveDataPath);
    }
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        report_ = TargetReport{};
        history_.fill(STATE_NO_REPORT);
        bandDirty_ = false;
        recordFile_.clear();
    }
    running_ = 1;
    stopRequested_ = 0;
    pacingEvent_.Reset();
    if (!readThread_.StartThread("ReadData", this, replay ? RUN_REPLAY : RUN_LIVE, 0, 0x400000, 0)) {
        running_ = 0;
        return ACQUISITION_THREAD_FAILED;
    }
    return ACQUISITION_STARTED;
}

void CAcquisitionWorker::Stop() {
    stopRequested_ = 1;
    // A cancel with no blocked read would be kept for the next one; only cancel a live worker.
    if (device_ && IsWorkerActive()) TAVO_Interface_RadarDevice_CancelRead(device_);
    pacingEvent_.Set();
    readThread_.StopThread();
    running_ = 0;
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        report_.state = 0;
        report_.distanceCm = 0;
    }
    DbgOutputA(2, "Stop Realtime data show.\r\n");
}

bool CAcquisitionWorker::IsWorkerActive() const { return readThread_.IsThreadExit() == 0; }

TargetReport CAcquisitionWorker::LastReport() const {
    std::lock_guard<std::mutex> lock(reportMutex_);
    return report_;
}

StateHistory CAcquisitionWorker::GetStateHistory() const {
    std::lock_guard<std::mutex> lock(reportMutex_);
    return history_;
}

void CAcquisitionWorker::GetSnapshot(TargetReport& report, StateHistory& history) const {
    std::lock_guard<std::mutex> lock(reportMutex_);
    report = report_;
    history = history_;
}

bool CAcquisitionWorker::TakeBandDirty() {
    std::lock_guard<std::mutex> lock(reportMutex_);
    const bool dirty = bandDirty_;
    bandDirty_ = false;
    return dirty;
}

std::string CAcquisitionWorker::RecordFilePath() const {
    std::lock_guard<std::mutex> lock(reportMutex_);
    return recordFile_;
}

void CAcquisitionWorker::SwitchReportOutput(uint32_t on) {
    const uint16_t key = 0;
    CommandModeScope mode(device_);
    TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, PARAM_ID_REPORT_OUTPUT, 1, &key, &on, PARAM_TIMEOUT_MS);
}

void CAcquisitionWorker::HandlePayload(const uint8_t* payload, bool replay) {
    TargetReport decoded;
    if (DecodeTargetReport(payload, decoded)) {
        {
            std::lock_guard<std::mutex> lock(reportMutex_);
            report_ = decoded;
            std::copy(history_.begin() + 1, history_.end(), history_.begin());
            history_.back() = static_cast<uint8_t>(decoded.state & 0xFF);
            bandDirty_ = true;
        }
        sink_.OnNewReport(decoded);
    }
    // Replay paces every accepted 70-byte frame, whatever its type. A negative interval
    // from a hand-edited configuration means no pause, not an endless wait.
    if (replay) pacingEvent_.Wait(replayInterval > 0 ? replayInterval : 0);
}

void CAcquisitionWorker::ThreadFunc(uint64_t param) {
    const bool replay = param == RUN_REPLAY;
    std::FILE* source = nullptr;
    std::FILE* record = nullptr;
    if (replay) {
        source = std::fopen(lastReplayFile.c_str(), "rb");
        if (!source) return;
    } else if (saveData) {
        const std::string path = CombinePathName(saveDataPath, GetFileNameByDate(".dat", "RadarData_", ""));
        record = std::fopen(path.c_str(), "wb");
        if (record) {
            // Unbuffered: each chunk reaches the file as one write, as it is read.
            std::setvbuf(record, nullptr, _IONBF, 0);
            std::lock_guard<std::mutex> lock(reportMutex_);
            recordFile_ = path;
        }
    }

    SwitchReportOutput(1);

    CBaseBuffer carry;
    int chunkSize = replay ? REPLAY_CHUNK_SIZE : TAVO_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device_);
    if (chunkSize <= 0) chunkSize = REPLAY_CHUNK_SIZE;  // no size reported: a zero-sized read would spin
    std::vector<uint8_t> chunk(static_cast<size_t>(chunkSize));
    const ReportHandler handler = [this, replay](const uint8_t* payload) { HandlePayload(payload, replay); };

    bool deviceLost = false;
    while (!stopRequested_.load()) {
        size_t n = 0;
        if (replay) {
            n = ReadChunk(source, chunk.data(), chunk.size());
            if (n < 1) {
                sink_.OnReplayEnd();
                break;
            }
        } else {
            const int got = TAVO_Interface_RadarDevice_ReadData(device_, chunk.data(), chunkSize, LIVE_READ_TIMEOUT_MS, 0);
            if (got < 0) {
                // The port has gone (hang-up, unplugged): reading on would spin on a dead handle.
                deviceLost = true;
                break;
            }
            if (got < 1) continue;
            n = static_cast<size_t>(got);
        }
        if (record) WriteAll(record, chunk.data(), n);
        sink_.OnRawChunk(chunk.data(), n);
        ScanFrames(carry, chunk.data(), n, handler, stopRequested_);
    }

    if (source) std::fclose(source);
    if (record) std::fclose(record);
    SwitchReportOutput(0);
    if (deviceLost) {
        DbgOutputA(2, "Device lost during realtime data show.\r\n");
        sink_.OnDeviceLost();
    }
}

void LoadAcquisitionSettings(XMLNode appConfig, CAcquisitionWorker& worker) {
    const std::string dataFolder = GetProgramPath();
    worker.saveDataPath = CombinePathName(dataFolder, "SaveData");
    worker.lastReplayFile = CombinePathName(worker.saveDataPath, "RadarData.dat");
    worker.replayInterval = DEFAULT_REPLAY_INTERVAL;
    worker.saveData = 0;
    ReadConfigValue(appConfig, "ReplayInterval", DIGITAL_VALUE_INT32, &worker.replayInterval);
    ReadConfigValue(appConfig, "SaveData", DIGITAL_VALUE_FLAG, &worker.saveData);
    ReadConfigPath(appConfig, "SaveDataPath", worker.saveDataPath);
    ReadConfigPath(appConfig, "LastReplayFile", worker.lastReplayFile);
}

void SaveAcquisitionSettings(XMLNode appConfig, const CAcquisitionWorker& worker) {
    appConfig.SetAttributeInt64("ReplayInterval", worker.replayInterval);
    appConfig.SetAttributeInt64("SaveData", worker.saveData);
    WriteConfigPath(appConfig, "SaveDataPath", worker.saveDataPath);
    WriteConfigPath(appConfig, "LastReplayFile", worker.lastReplayFile);
}
