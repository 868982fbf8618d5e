#pragma once
// Report frames: F4 F3 F2 F1 | u16 L | payload (L bytes, type first) | F8 F7 F6 F5,
// the scanner that finds them in a byte stream and the target report decoding.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "device/FrameEnvelope.h"

class CBaseBuffer;

constexpr uint16_t TARGET_REPORT_LENGTH = 70;
constexpr uint8_t TARGET_REPORT_TYPE = 1;
constexpr int TARGET_GATE_COUNT = 16;

// Target state codes.
enum : int {
    TARGET_STATE_NONE = 0,
    TARGET_STATE_NONE_ALT = 1,  // shown exactly like 0
    TARGET_STATE_MOVING = 2,
    TARGET_STATE_MOTIONLESS = 3,
};

// The decoded target report.
struct TargetReport {
    int32_t state = 0;
    int32_t distanceCm = 0;
    int32_t gateRaw[TARGET_GATE_COUNT] = {};
    double gateEnergyDb[TARGET_GATE_COUNT] = {};
};

// Called with the 70 payload bytes of each accepted target-report frame; the bytes
// are valid only during the call.
using ReportHandler = std::function<void(const uint8_t* payload)>;

// Appends the chunk to the carry-over buffer, hands every complete 70-byte frame
// with a good tail to the handler in stream order and keeps the unconsumed tail
// (moved to the front once). A wrong tail logs "Tailer TAG Invalid!" and scanning
// resumes where the tail was expected. Nothing is consumed when stop is already
// set; stop is tested again after each frame.
// What a scan saw, added up over calls (for statistics of a stream).
struct ScanCounters {
    uint64_t frames = 0;        // whole frames with a good tail, any length
    uint64_t rejected = 0;      // headers whose tail was not where the length said
    uint64_t skippedBytes = 0;  // bytes passed over looking for a header
};

void ScanFrames(CBaseBuffer& carry, const uint8_t* chunk, size_t length, const ReportHandler& handler,
                const std::atomic<int>& stop, ScanCounters* counters = nullptr);

// 20 * log10(raw / 100) with integer division for raw > 100, else 0.0.
[[nodiscard]] double GateEnergyDb(uint32_t raw);

// Decodes a 70-byte payload into report; false and no change when the type is not 1.
bool DecodeTargetReport(const uint8_t* payload, TargetReport& report);
// The same without the decibels: gateEnergyDb is left as it was (for a reader that
// formats the raw values itself).
bool DecodeTargetReportRaw(const uint8_t* payload, TargetReport& report);

// Stream building, for the simulator and tests: the frame around a payload, and a
// 70-byte target payload (the uninterpreted bytes zero).
[[nodiscard]] std::vector<uint8_t> BuildReportFrame(const uint8_t* payload, uint16_t length);
[[nodiscard]] std::vector<uint8_t> BuildTargetReportPayload(uint8_t state, uint16_t distanceCm,
                                                            const uint16_t gateRaw[TARGET_GATE_COUNT],
                                                            uint8_t type = TARGET_REPORT_TYPE);
