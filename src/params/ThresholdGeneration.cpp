#include "params/ThresholdGeneration.h"

#include "common/BaseBuffer.h"
#include "common/ByteOrder.h"
#include "common/DbgOutput.h"
#include "device/CommandModeScope.h"
#include "device/FrameEnvelope.h"

namespace {

// A progress report: type 3, u16 percent.
constexpr uint16_t PROGRESS_LENGTH = 3;
constexpr uint8_t PROGRESS_TYPE = 3;
constexpr size_t PROGRESS_FRAME_SIZE = FRAME_OVERHEAD + PROGRESS_LENGTH;

}  // namespace

std::array<uint8_t, 6> BuildSensingGeneratePayload(int triggerCoefficient, int holdCoefficient, int scanTime) {
    std::array<uint8_t, 6> payload{};
    const int values[3] = {triggerCoefficient, holdCoefficient, scanTime};
    for (int k = 0; k < 3; ++k) WriteLE16(payload.data() + 2 * k, static_cast<uint16_t>(values[k]));
    return payload;
}

// This scanner differs from the report scanner on purpose: a header with another
// length skips only the 4 header bytes, and a wrong tail skips 6.
int ScanProgressFrames(CBaseBuffer& buffer, const std::atomic<int>& stop, const std::function<void(int)>& onProgress) {
    const uint8_t* b = buffer.GetBuffer();
    const size_t n = buffer.GetAvailSize();
    int progress = 0;
    size_t i = 0;
    while (!stop.load() && i + FRAME_OVERHEAD <= n) {
        if (!IsFrameMarker(b + i, REPORT_FRAME_HEADER)) {
            i += 1;
        } else if (ReadLE16(b + i + 4) != PROGRESS_LENGTH) {
            i += 4;
        } else if (i + PROGRESS_FRAME_SIZE > n) {
            break;  // the frame is not complete yet
        } else if (!IsFrameMarker(b + i + 9, REPORT_FRAME_TAIL)) {
            i += 6;
        } else {
            if (b[i + 6] == PROGRESS_TYPE) {
                progress = ReadLE16(b + i + 7);
                DbgOutputA(2, "process=%d\r\n", progress);
                if (onProgress) onProgress(progress);
            }
            i += PROGRESS_FRAME_SIZE;
        }
    }
    buffer.Delete(i);
    return progress;
}

CSensingGenerateWorker::CSensingGenerateWorker(SensorLine* line, ISensingGenerateSink& sink)
    : line_(line), sink_(sink) {}

CSensingGenerateWorker::~CSensingGenerateWorker() { Stop(); }

bool CSensingGenerateWorker::Start(int triggerCoefficient, int holdCoefficient, int scanTime) {
    if (IsRunning()) return false;
    success_ = 0;
    triggerCoefficient_ = triggerCoefficient;
    holdCoefficient_ = holdCoefficient;
    scanTime_ = scanTime;
    stop_ = 0;
    return thread_.StartThread("SensingGenerate", this, 1, 0, 0x400000, 0) != 0;
}

void CSensingGenerateWorker::Stop() {
    stop_ = 1;
    // Cut a blocked read short instead of waiting out its 2000 ms; only while a
    // worker runs, since a cancel with no blocked read is kept for the next one.
    if (line_ && IsRunning()) line_->CancelRead();
    thread_.StopThread();
}

bool CSensingGenerateWorker::IsRunning() const { return thread_.IsThreadExit() == 0; }

void CSensingGenerateWorker::ThreadFunc(uint64_t) {
    const auto payload = BuildSensingGeneratePayload(triggerCoefficient_, holdCoefficient_, scanTime_);
    uint16_t status = 0;
    if (line_ == nullptr) {
        sink_.OnSensingFinished(0);
        return;
    }
    {
        CommandModeScope mode(*line_);
        status = line_->SendCommand(SENSING_GENERATE_COMMAND, payload.data(), static_cast<int>(payload.size()),
                                    CheckCmdAckData_RetCode, 0, SENSING_COMMAND_TIMEOUT_MS);
    }
    if (status != 0) {
        sink_.OnSensingFinished(0);
        return;
    }

    CBaseBuffer buffer;
    int progress = 0;
    const std::function<void(int)> onProgress = [this](int p) { sink_.OnSensingProgress(p); };
    while (!stop_.load()) {
        uint8_t chunk[SENSING_READ_CHUNK];
        const int n = line_->ReadData(chunk, SENSING_READ_CHUNK, 2000);
        if (n < 0) break;  // the port has gone: no progress can come any more
        if (n == 0) continue;
        buffer.AppendBuffer(chunk, static_cast<size_t>(n));
        progress = ScanProgressFrames(buffer, stop_, onProgress);
        if (progress >= 100) break;
    }
    success_ = progress >= 100 ? 1 : 0;
    sink_.OnSensingFinished(success_.load());
}
