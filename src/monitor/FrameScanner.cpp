#include "monitor/FrameScanner.h"

#include <array>
#include <cmath>
#include <cstring>

#include "common/BaseBuffer.h"
#include "common/ByteOrder.h"
#include "common/DbgOutput.h"

namespace {

// 20 log10(q) with log10 correctly rounded to a double: the C library's double
// log10 is off by one unit in the last place for 24 of the 655 values, and a
// compiler that folds the call at compile time rounds correctly, so the printed
// decibels depended on the compiler. The long double logarithm, rounded once,
// gives the correctly rounded value for every q the table holds.
double DbOfQuotient(uint32_t q) { return 20.0 * static_cast<double>(std::log10(static_cast<long double>(q))); }

// raw / 100 takes only 656 values; the logarithms are computed once.
const std::array<double, 656>& EnergyTable() {
    static const std::array<double, 656> table = [] {
        std::array<double, 656> t{};
        for (uint32_t q = 1; q < t.size(); ++q) t[q] = DbOfQuotient(q);
        return t;
    }();
    return table;
}

}  // namespace

void ScanFrames(CBaseBuffer& carry, const uint8_t* chunk, size_t length, const ReportHandler& handler,
                const std::atomic<int>& stop, ScanCounters* counters) {
    ScanCounters seen;
    if (chunk && length) carry.AppendBuffer(chunk, length);
    if (stop.load()) return;

    const uint8_t* b = carry.GetBuffer();
    const size_t n = carry.GetAvailSize();
    size_t i = 0;
    while (i + FRAME_OVERHEAD <= n) {
        if (!IsFrameMarker(b + i, REPORT_FRAME_HEADER)) {
            ++i;
            ++seen.skippedBytes;
        } else {
            const size_t payloadLength = ReadLE16(b + i + 4);
            const size_t end = i + payloadLength + FRAME_OVERHEAD;
            if (end > n) break;  // incomplete: wait for more bytes, keeping the header
            if (!IsFrameMarker(b + i + 6 + payloadLength, REPORT_FRAME_TAIL)) {
                DbgOutputA(2, "Tailer TAG Invalid!\r\n");
                i += 6 + payloadLength;
                ++seen.rejected;
            } else {
                ++seen.frames;
                if (payloadLength == TARGET_REPORT_LENGTH && handler) handler(b + i + 6);
                i = end;
            }
        }
        if (stop.load()) break;
    }
    carry.Delete(i);
    if (counters) {
        counters->frames += seen.frames;
        counters->rejected += seen.rejected;
        counters->skippedBytes += seen.skippedBytes;
    }
}

double GateEnergyDb(uint32_t raw) {
    if (raw <= 100) return 0.0;
    const uint32_t q = raw / 100;
    if (q < EnergyTable().size()) return EnergyTable()[q];
    return DbOfQuotient(q);
}

bool DecodeTargetReportRaw(const uint8_t* payload, TargetReport& report) {
    if (!payload || payload[0] != TARGET_REPORT_TYPE) return false;
    report.state = payload[1];
    report.distanceCm = ReadLE16(payload + 2);
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) report.gateRaw[g] = ReadLE16(payload + 6 + 4 * g);
    return true;
}

bool DecodeTargetReport(const uint8_t* payload, TargetReport& report) {
    if (!DecodeTargetReportRaw(payload, report)) return false;
    for (int g = 0; g < TARGET_GATE_COUNT; ++g)
        report.gateEnergyDb[g] = GateEnergyDb(static_cast<uint32_t>(report.gateRaw[g]));
    return true;
}

std::vector<uint8_t> BuildReportFrame(const uint8_t* payload, uint16_t length) {
    std::vector<uint8_t> frame(length + FRAME_OVERHEAD);
    std::memcpy(frame.data(), REPORT_FRAME_HEADER, FRAME_MARKER_SIZE);
    WriteLE16(frame.data() + 4, length);
    if (length && payload) std::memcpy(frame.data() + 6, payload, length);
    std::memcpy(frame.data() + 6 + length, REPORT_FRAME_TAIL, FRAME_MARKER_SIZE);
    return frame;
}

std::vector<uint8_t> BuildTargetReportPayload(uint8_t state, uint16_t distanceCm,
                                              const uint16_t gateRaw[TARGET_GATE_COUNT], uint8_t type) {
    std::vector<uint8_t> payload(TARGET_REPORT_LENGTH, 0);
    payload[0] = type;
    payload[1] = state;
    WriteLE16(payload.data() + 2, distanceCm);
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) WriteLE16(payload.data() + 6 + 4 * g, gateRaw ? gateRaw[g] : 0);
    return payload;
}
