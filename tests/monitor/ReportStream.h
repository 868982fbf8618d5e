#pragma once
// Building report streams for the monitor tests.

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "monitor/FrameScanner.h"

using Bytes = std::vector<uint8_t>;

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A whole 70-byte target report frame; gate g's raw energy is base + g.
inline Bytes ReportFrame(uint8_t state, uint16_t distanceCm, uint16_t base = 0, uint8_t type = TARGET_REPORT_TYPE) {
    uint16_t raw[TARGET_GATE_COUNT];
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) raw[g] = static_cast<uint16_t>(base + g);
    const auto payload = BuildTargetReportPayload(state, distanceCm, raw, type);
    return BuildReportFrame(payload.data(), static_cast<uint16_t>(payload.size()));
}

inline Bytes ProgressFrame(uint16_t percent) {
    const uint8_t payload[3] = {3, static_cast<uint8_t>(percent), static_cast<uint8_t>(percent >> 8)};
    return BuildReportFrame(payload, 3);
}
