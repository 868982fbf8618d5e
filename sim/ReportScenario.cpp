#include "sim/ReportScenario.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "common/ByteOrder.h"
#include "common/FileUtils.h"
#include "sim/WireFormat.h"

const GateTable& EmptyRoomEnergyDb()
{
    static const GateTable energies = {37, 34, 25, 24, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20};
    return energies;
}

uint16_t RawFromDb(double db)
{
    if (db <= 0.0) {
        return 0;
    }
    const double raw = 100.0 * std::pow(10.0, db / 20.0);
    return static_cast<uint16_t>(std::clamp(raw, 0.0, 65535.0));
}

ReportPayload MakeReportPayload(uint8_t state, uint16_t distanceCm, const std::array<uint16_t, GATE_COUNT>& gateRaw)
{
    ReportPayload payload{};
    payload[0] = 1;
    payload[1] = state;
    WriteLE16(&payload[2], distanceCm);
    for (int g = 0; g < GATE_COUNT; ++g) {
        WriteLE16(&payload[6 + 4 * g], gateRaw[g]);
    }
    return payload;
}

// ---------------------------------------------------------------- built-in scene

BuiltInScenario::BuiltInScenario(uint32_t seed) : random_(seed) {}

ReportPayload BuiltInScenario::ReportAt(double sceneSeconds, const SceneSettings& settings)
{
    // Where the person is during one cycle; distance < 0 means nobody in the room.
    constexpr double WALK_IN_START = 8.0, STAND_START = 14.0, LEAVE_START = 24.0, GONE = 30.0;
    constexpr double DOOR = 9.0, SPOT = 2.5;
    const double t = std::fmod(std::max(sceneSeconds, 0.0), CYCLE_SECONDS);
    double distance = -1.0;
    bool moving = false;
    if (t >= WALK_IN_START && t < STAND_START) {
        distance = DOOR + (SPOT - DOOR) * (t - WALK_IN_START) / (STAND_START - WALK_IN_START);
        moving = true;
    } else if (t >= STAND_START && t < LEAVE_START) {
        distance = SPOT + 0.05 * std::sin(t * 1.3);  // breathing, a little sway
    } else if (t >= LEAVE_START && t < GONE) {
        distance = SPOT + (DOOR - SPOT) * (t - LEAVE_START) / (GONE - LEAVE_START);
        moving = true;
    }

    std::uniform_real_distribution<double> jitter(-2.0, 2.0);
    const double gateLength = settings.gateLengthM > 0.0 ? settings.gateLengthM : 0.7;
    const int targetGate = distance >= 0.0 ? static_cast<int>(distance / gateLength) : -1;
    const bool inRoom = targetGate >= 0 && targetGate < GATE_COUNT;
    // A moving person rises well above the trigger threshold of their gate; a still
    // one stays between hold and trigger, which keeps presence without re-triggering.
    double peak = 0.0;
    if (inRoom) {
        peak = moving ? settings.trigger[targetGate] + 8.0 : settings.hold[targetGate] + 4.0;
        peak = std::min(peak, 56.0);
    }
    std::array<uint16_t, GATE_COUNT> raw{};
    for (int g = 0; g < GATE_COUNT; ++g) {
        double db = EmptyRoomEnergyDb()[g] + jitter(random_);
        if (inRoom) {
            db = std::max(db, peak - 7.0 * std::abs(g - targetGate) + jitter(random_) * 0.5);
        }
        raw[g] = RawFromDb(db);
    }

    const bool detected = inRoom && static_cast<uint32_t>(targetGate) >= settings.minGate &&
                          static_cast<uint32_t>(targetGate) <= settings.maxGate;
    const uint8_t state = detected ? (moving ? 2 : 3) : 0;
    const uint16_t distanceCm = detected ? static_cast<uint16_t>(std::lround(distance * 100.0)) : 0;
    return MakeReportPayload(state, distanceCm, raw);
}

// ---------------------------------------------------------------- recording

RecordedScenario::~RecordedScenario()
{
    if (file_) {
        std::fclose(file_);
    }
}

bool RecordedScenario::Load(const std::string& path, std::string& error)
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    std::string why;
    const int fd = OpenRegularFile(path, &why);
    if (fd < 0 || !(file_ = ::fdopen(fd, "rb"))) {
        if (fd >= 0) {
            ::close(fd);
        }
        error = "cannot read " + path + ": " + why;
        return false;
    }
    window_.clear();
    frameCount_ = 0;
    ReportPayload payload{};
    while (NextReport(payload)) {
        ++frameCount_;
    }
    if (frameCount_ == 0) {
        error = path + " holds no target report frames";
        return false;
    }
    std::rewind(file_);
    window_.clear();
    return true;
}

bool RecordedScenario::NextReport(ReportPayload& payload)
{
    constexpr size_t READ_SIZE = 64 * 1024;
    size_t i = 0;
    for (;;) {
        // Scan what is there; stop where a frame could still be completed by more bytes.
        while (i + SIM_FRAME_OVERHEAD <= window_.size()) {
            if (std::memcmp(&window_[i], SIM_REPORT_HEADER, SIM_MARKER_SIZE) != 0) {
                ++i;
                continue;
            }
            const size_t length = ReadLE16(&window_[i + 4]);
            if (i + length + SIM_FRAME_OVERHEAD > window_.size()) {
                break;
            }
            if (std::memcmp(&window_[i + 6 + length], SIM_REPORT_TAIL, SIM_MARKER_SIZE) != 0) {
                ++i;
                continue;
            }
            const bool report = length == REPORT_PAYLOAD_SIZE && window_[i + 6] == 1;
            if (report) {
                std::memcpy(payload.data(), &window_[i + 6], REPORT_PAYLOAD_SIZE);
            }
            i += length + SIM_FRAME_OVERHEAD;
            if (report) {
                window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(i));
                return true;
            }
        }
        window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(i));
        i = 0;
        const size_t old = window_.size();
        window_.resize(old + READ_SIZE);
        const size_t n = std::fread(window_.data() + old, 1, READ_SIZE, file_);
        window_.resize(old + n);
        if (n == 0) {
            return false;
        }
    }
}

ReportPayload RecordedScenario::ReportAt(double /*sceneSeconds*/, const SceneSettings& /*settings*/)
{
    ReportPayload payload{};
    if (!NextReport(payload)) {
        // The end of the file: the recording starts over.
        std::clearerr(file_);
        std::rewind(file_);
        window_.clear();
        NextReport(payload);
    }
    return payload;
}
