#pragma once
// Where the virtual sensor's target reports come from: the built-in scene of a
// person walking in, standing still and leaving, or the report frames of a
// record file played in a loop.

#include <cstdio>
#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

inline constexpr int GATE_COUNT = 16;
inline constexpr size_t REPORT_PAYLOAD_SIZE = 70;
using ReportPayload = std::array<uint8_t, REPORT_PAYLOAD_SIZE>;
using GateTable = std::array<uint32_t, GATE_COUNT>;

// What the scene needs to know of the sensor's configuration.
struct SceneSettings {
    double gateLengthM = 0.7;
    uint32_t minGate = 0;
    uint32_t maxGate = 12;
    GateTable trigger{};
    GateTable hold{};
};

// The energy of an empty room, per gate (dB): high near the sensor, where its own
// housing and the mounting reflect, flat further out. Below the default hold table.
[[nodiscard]] const GateTable& EmptyRoomEnergyDb();

class ReportScenario {
public:
    virtual ~ReportScenario() = default;
    // The report at scene time t (seconds since the scene started).
    virtual ReportPayload ReportAt(double sceneSeconds, const SceneSettings& settings) = 0;
    // True for a recording, whose reports are sent as they were recorded.
    [[nodiscard]] virtual bool IsRecording() const = 0;
};

class BuiltInScenario final : public ReportScenario {
public:
    explicit BuiltInScenario(uint32_t seed);
    ReportPayload ReportAt(double sceneSeconds, const SceneSettings& settings) override;
    [[nodiscard]] bool IsRecording() const override { return false; }

    // One cycle of the scene: nobody, walking in, standing still, leaving, nobody.
    static constexpr double CYCLE_SECONDS = 40.0;

private:
    std::mt19937 random_;
};

// The target report frames of a record file, streamed from the file in a loop: only
// a window of the file is held, whatever its size.
class RecordedScenario final : public ReportScenario {
public:
    RecordedScenario() = default;
    ~RecordedScenario() override;
    RecordedScenario(const RecordedScenario&) = delete;
    RecordedScenario& operator=(const RecordedScenario&) = delete;

    // Opens the record file and counts its target report frames. False with a reason
    // when it is not a readable regular file (a FIFO or a device could block or never
    // end) or holds none.
    bool Load(const std::string& path, std::string& error);
    ReportPayload ReportAt(double sceneSeconds, const SceneSettings& settings) override;
    [[nodiscard]] bool IsRecording() const override { return true; }
    [[nodiscard]] size_t FrameCount() const { return frameCount_; }

private:
    // The next target report after the read position; false at the end of the file.
    bool NextReport(ReportPayload& payload);

    std::FILE* file_ = nullptr;
    std::vector<uint8_t> window_;  // bytes read but not yet scanned
    size_t frameCount_ = 0;
};

// The 70-byte target report: type 1, state, distance (cm), 16 gate slots of 4 bytes.
[[nodiscard]] ReportPayload MakeReportPayload(uint8_t state, uint16_t distanceCm,
                                              const std::array<uint16_t, GATE_COUNT>& gateRaw);
// Raw gate energy whose dB value (20 log10(raw / 100), integer division) is about dB.
[[nodiscard]] uint16_t RawFromDb(double db);
