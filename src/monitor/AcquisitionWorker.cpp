#include "monitor/AcquisitionWorker.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "common/BaseBuffer.h"
#include "common/DbgOutput.h"
#include "common/FileUtils.h"
#include "common/TimeUtils.h"
#include "common/ValueParse.h"
#include "device/CommandModeScope.h"
#include "params/RadarOperatorConfig.h"

namespace {

enum : uint64_t { RUN_LIVE = 0, RUN_REPLAY = 1 };

// How often a recording run looks whether its file is still where it was created.
constexpr auto RECORD_CHECK_PERIOD = std::chrono::milliseconds(500);

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

CAcquisitionWorker::CAcquisitionWorker(SensorLine* line, IAcquisitionSink& sink)
    : line_(line), sink_(sink) {
    history_.fill(STATE_NO_REPORT);
}

CAcquisitionWorker::~CAcquisitionWorker() {
    if (IsRunning() || IsWorkerActive()) Stop();
}

int CAcquisitionWorker::Start() {
    if (IsRunning() || IsWorkerActive()) return ACQUISITION_ALREADY_RUNNING;
    const bool replay = replayMode != 0;
    if (!replay) {
        if (line_ == nullptr || !line_->IsConnected()) return ACQUISITION_NOT_CONNECTED;
        DbgOutputA(2, "Start Realtime data show.\r\n");
        if (saveData) RecursiveCreateDirectory(saveDataPath);
    }
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        report_ = TargetReport{};
        history_.fill(STATE_NO_REPORT);
        bandDirty_ = false;
        recordFile_.clear();
        recordFailure_ = {};
    }
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        stopRequested_ = 0;
        interrupt_ = 0;
        paused_ = false;
        steps_ = 0;
        seekTo_ = -1;
    }
    reportCount_ = 0;
    recordedBytes_ = 0;
    replayPosition_ = 0;
    replayFileSize_ = 0;
    replayReports_ = 0;
    running_ = 1;
    if (!readThread_.StartThread("ReadData", this, replay ? RUN_REPLAY : RUN_LIVE, 0, 0x400000, 0)) {
        running_ = 0;
        return ACQUISITION_THREAD_FAILED;
    }
    return ACQUISITION_STARTED;
}

void CAcquisitionWorker::Stop() {
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        stopRequested_ = 1;
        interrupt_ = 1;
    }
    controlChanged_.notify_all();
    // A cancel with no blocked read would be kept for the next one; only cancel a live worker.
    if (line_ && IsWorkerActive()) line_->CancelRead();
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

RecordFailureInfo CAcquisitionWorker::RecordFailure() const {
    std::lock_guard<std::mutex> lock(reportMutex_);
    return recordFailure_;
}

// ---- replay controls ----

void CAcquisitionWorker::SetReplaySpeed(double speed) {
    replaySpeed_ = speed > 0 ? speed : 0.0;
    controlChanged_.notify_all();
}

void CAcquisitionWorker::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        paused_ = paused;
        steps_ = 0;
    }
    controlChanged_.notify_all();
}

bool CAcquisitionWorker::IsPaused() const {
    std::lock_guard<std::mutex> lock(controlMutex_);
    return paused_;
}

void CAcquisitionWorker::StepReport() {
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        if (!paused_) return;
        ++steps_;
    }
    controlChanged_.notify_all();
}

void CAcquisitionWorker::SeekReplay(uint64_t offset) {
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        seekTo_ = static_cast<long long>(std::min<uint64_t>(offset, static_cast<uint64_t>(LLONG_MAX)));
        interrupt_ = 1;
    }
    controlChanged_.notify_all();
}

long long CAcquisitionWorker::TakeSeek() {
    std::lock_guard<std::mutex> lock(controlMutex_);
    const long long target = seekTo_;
    seekTo_ = -1;
    interrupt_ = stopRequested_.load();
    return target;
}

bool CAcquisitionWorker::WaitWhilePaused(std::unique_lock<std::mutex>& lock) {
    controlChanged_.wait(lock, [this] { return stopRequested_.load() || seekTo_ >= 0 || !paused_ || steps_ > 0; });
    if (stopRequested_.load() || seekTo_ >= 0) return false;
    if (paused_) --steps_;
    return true;
}

bool CAcquisitionWorker::PaceReplay() {
    const double speed = replaySpeed_.load();
    // A negative interval from a hand-edited configuration means no pause, not an
    // endless wait; an interval of 0 or the fastest speed skips the wait altogether.
    const double period = replayPeriod_.load() >= 0 ? replayPeriod_.load() : replayInterval;
    const bool pacing = period > 0 && speed > 0;
    // Unpaced and nothing asked: no lock per report. A stop or a seek sets interrupt_,
    // and a pause asked now holds the next report.
    if (!pacing && !paused_.load() && !interrupt_.load()) return true;
    std::unique_lock<std::mutex> lock(controlMutex_);
    if (pacing && !paused_) {
        const auto pause = std::chrono::microseconds(std::llround(period * 1000.0 / speed));
        controlChanged_.wait_for(lock, pause, [this] { return stopRequested_.load() || seekTo_ >= 0; });
    }
    if (stopRequested_.load() || seekTo_ >= 0) return false;
    return !paused_ || WaitWhilePaused(lock);
}

// ---- the run ----

void CAcquisitionWorker::SwitchReportOutput(uint32_t on) {
    if (line_ == nullptr) return;  // a replay without a sensor
    const uint16_t key = 0;
    CommandModeScope mode(*line_);
    line_->SetParameter(PARAM_ID_REPORT_OUTPUT, 1, &key, &on, PARAM_TIMEOUT_MS);
}

void CAcquisitionWorker::HandlePayload(const uint8_t* payload, bool replay, uint64_t frameEnd) {
    TargetReport decoded;
    if (decodeDecibels ? DecodeTargetReport(payload, decoded) : DecodeTargetReportRaw(payload, decoded)) {
        if (replay && replayReports_++ < replaySkipReports) return;
        if (keepLastReport) {
            std::lock_guard<std::mutex> lock(reportMutex_);
            report_ = decoded;
            std::copy(history_.begin() + 1, history_.end(), history_.begin());
            history_.back() = static_cast<uint8_t>(decoded.state & 0xFF);
            bandDirty_ = true;
        }
        // Only this thread counts: a plain store, no locked increment.
        reportCount_.store(reportCount_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        if (sidecar_) ++sidecar_->reportsWritten;
        if (replay) replayPosition_.store(frameEnd, std::memory_order_relaxed);
        sink_.OnNewReport(decoded);
    }
    // Replay paces every accepted 70-byte frame, whatever its type. A stop or a seek
    // has set the scanner's stop, so the rest of the chunk is dropped.
    if (replay) PaceReplay();
}

std::FILE* CAcquisitionWorker::OpenRecord() {
    // A new file, never one that is there already: two runs within a millisecond
    // would otherwise share a name and the second would empty the first.
    std::string path;
    std::FILE* record = nullptr;
    for (int attempt = 0; attempt < 5 && !record; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        path = CombinePathName(saveDataPath, GetFileNameByDate(".dat", "RadarData_", ""));
        record = std::fopen(path.c_str(), "wbx");
        if (!record && errno != EEXIST) break;
    }
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        recordFile_ = path;
    }
    if (!record) {
        FailRecording(record, path, std::strerror(errno));
        return nullptr;
    }
    // Unbuffered: each chunk reaches the file as one write, as it is read.
    std::setvbuf(record, nullptr, _IONBF, 0);
    recordChecked_ = std::chrono::steady_clock::now();
    if (recordDescription) {
        sidecar_ = *recordDescription;
        sidecar_->startTime = IsoLocalTimeNow();
        sidecar_->endTime.clear();
        sidecar_->bytesWritten = 0;
        sidecar_->reportsWritten = 0;
        sidecar_->status = SIDECAR_RECORDING;
        sidecar_->endedNormally = false;
        sidecar_->error.clear();
        sidecarPath_ = SidecarPathOf(path);
        std::string why;
        if (!WriteRecordSidecar(sidecarPath_, *sidecar_, &why)) {
            DbgOutputA(2, "Cannot write the record description %s: %s\r\n", sidecarPath_.c_str(), why.c_str());
            sidecar_.reset();
        }
    }
    return record;
}

void CAcquisitionWorker::RecordChunk(std::FILE*& record, const uint8_t* bytes, size_t length) {
    // Every byte, unless the stream reports an error; a short write is retried.
    while (length > 0) {
        errno = 0;
        const size_t written = std::fwrite(bytes, 1, length, record);
        recordedBytes_.fetch_add(written);
        if (sidecar_) sidecar_->bytesWritten += written;
        if (written == 0 || std::ferror(record)) {
            FailRecording(record, RecordFilePath(), std::strerror(errno ? errno : EIO));
            return;
        }
        bytes += written;
        length -= written;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - recordChecked_ >= RECORD_CHECK_PERIOD) {
        recordChecked_ = now;
        if (const std::string gone = WhyRecordIsGone(record); !gone.empty())
            FailRecording(record, RecordFilePath(), gone);
    }
}

std::string CAcquisitionWorker::WhyRecordIsGone(std::FILE* record) const {
    struct stat written {};
    struct stat named {};
    if (fstat(fileno(record), &written) != 0) return {};  // nothing to compare with: assume it is there
    if (written.st_nlink == 0) return LoadStringText(TEXT_RECORD_REMOVED);
    const std::string path = RecordFilePath();
    if (stat(path.c_str(), &named) == 0 && named.st_dev == written.st_dev && named.st_ino == written.st_ino) return {};
    return LoadStringText(TEXT_RECORD_MOVED);
}

void CAcquisitionWorker::FailRecording(std::FILE*& record, const std::string& path, const std::string& reason) {
    DbgOutputA(2, "Recording stopped: %s: %s\r\n", path.c_str(), reason.c_str());
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        recordFailure_ = {path, reason};
    }
    if (sidecar_) {
        sidecar_->status = SIDECAR_INCOMPLETE;
        sidecar_->error = reason;
    }
    CloseRecord(record, false);
    sink_.OnRecordFailed();
}

void CAcquisitionWorker::CloseRecord(std::FILE*& record, bool endedNormally) {
    if (record) std::fclose(record);
    record = nullptr;
    if (!sidecar_) return;
    sidecar_->endTime = IsoLocalTimeNow();
    if (sidecar_->status == SIDECAR_RECORDING) sidecar_->status = SIDECAR_COMPLETE;
    sidecar_->endedNormally = endedNormally && sidecar_->status == SIDECAR_COMPLETE;
    std::string why;
    if (!WriteRecordSidecar(sidecarPath_, *sidecar_, &why))
        DbgOutputA(2, "Cannot write the record description %s: %s\r\n", sidecarPath_.c_str(), why.c_str());
    sidecar_.reset();
}

void CAcquisitionWorker::ThreadFunc(uint64_t param) {
    const bool replay = param == RUN_REPLAY;
    std::FILE* source = nullptr;
    std::FILE* record = nullptr;
    if (replay) {
        source = std::fopen(lastReplayFile.c_str(), "rb");
        if (!source) return;
        // Large reads: the chunks are small, and a read call per 4 KiB showed in a fast replay.
        std::setvbuf(source, nullptr, _IOFBF, 64 * 1024);
        if (std::fseek(source, 0, SEEK_END) == 0) {
            const long size = std::ftell(source);
            replayFileSize_ = size > 0 ? static_cast<uint64_t>(size) : 0;
        }
        std::rewind(source);
    } else if (saveData) {
        record = OpenRecord();
    }

    if (switchReportOutput) SwitchReportOutput(1);

    CBaseBuffer carry;
    int chunkSize = replay ? REPLAY_CHUNK_SIZE : line_->WriteBufferMaxSize();
    if (chunkSize <= 0) chunkSize = REPLAY_CHUNK_SIZE;  // no size reported: a zero-sized read would spin
    std::vector<uint8_t> chunk(static_cast<size_t>(chunkSize));
    uint64_t offset = 0;        // replay: file offset of the next read
    uint64_t carryOffset = 0;   // replay: file offset of the carry-over's first byte
    const ReportHandler handler = [this, replay, &carry, &carryOffset](const uint8_t* payload) {
        const uint64_t frameEnd = carryOffset + static_cast<uint64_t>(payload - carry.GetBuffer()) +
                                  TARGET_REPORT_LENGTH + FRAME_MARKER_SIZE;
        HandlePayload(payload, replay, frameEnd);
    };

    bool deviceLost = false;
    while (!stopRequested_.load()) {
        if (replay) {
            const long long target = TakeSeek();
            if (target >= 0) {
                // Whatever was held back belongs to the old place in the file.
                carry.Delete(carry.GetAvailSize());
                const uint64_t to = std::min<uint64_t>(static_cast<uint64_t>(target), replayFileSize_.load());
                if (std::fseek(source, static_cast<long>(to), SEEK_SET) == 0) offset = to;
                replayPosition_ = offset;
            }
            if (stopRequested_.load()) break;
        }
        size_t n = 0;
        if (replay) {
            n = ReadChunk(source, chunk.data(), chunk.size());
            if (n < 1) {
                sink_.OnReplayEnd();
                break;
            }
            carryOffset = offset - carry.GetAvailSize();
            offset += n;
        } else {
            const int got = line_->ReadData(chunk.data(), chunkSize, LIVE_READ_TIMEOUT_MS);
            if (got < 0) {
                // The port has gone (hang-up, unplugged): reading on would spin on a dead handle.
                deviceLost = true;
                break;
            }
            if (got < 1) continue;
            n = static_cast<size_t>(got);
        }
        const bool gather = !replay && n < chunk.size();
        if (record) RecordChunk(record, chunk.data(), n);
        sink_.OnRawChunk(chunk.data(), n);
        ScanFrames(carry, chunk.data(), n, handler, interrupt_);
        sink_.OnChunkDone();
        if (gather) {
            std::unique_lock<std::mutex> lock(controlMutex_);
            controlChanged_.wait_for(lock, std::chrono::milliseconds(LIVE_GATHER_MS),
                                     [this] { return stopRequested_.load() != 0; });
        }
    }

    if (source) std::fclose(source);
    // A removal in the last moments is still a lost recording, not a saved one.
    if (record) {
        if (const std::string gone = WhyRecordIsGone(record); !gone.empty()) FailRecording(record, RecordFilePath(), gone);
    }
    if (record) CloseRecord(record, !deviceLost);
    if (switchReportOutput) SwitchReportOutput(0);
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
    ReadConfigValue(appConfig, "ReplayInterval", worker.replayInterval);
    ReadConfigFlag(appConfig, "SaveData", worker.saveData);
    ReadConfigPath(appConfig, "SaveDataPath", worker.saveDataPath);
    ReadConfigPath(appConfig, "LastReplayFile", worker.lastReplayFile);
}

void SaveAcquisitionSettings(XMLNode appConfig, const CAcquisitionWorker& worker) {
    appConfig.SetAttributeInt64("ReplayInterval", worker.replayInterval);
    appConfig.SetAttributeInt64("SaveData", worker.saveData);
    WriteConfigPath(appConfig, "SaveDataPath", worker.saveDataPath);
    WriteConfigPath(appConfig, "LastReplayFile", worker.lastReplayFile);
}
