// Report scanner under libFuzzer. The input is scanned once whole and once in chunks
// whose lengths come from its first bytes: both deliveries must agree, every delivered
// payload must lie inside the carry-over between a header with length 70 and a tail,
// and what stays behind must be the unconsumed end of the stream, no longer than one
// incomplete frame.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "common/BaseBuffer.h"
#include "monitor/FrameScanner.h"

namespace {

struct Run {
    CBaseBuffer carry;
    std::atomic<int> stop{0};
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<uint8_t> fed;
    size_t dropped = 0;

    void Feed(const uint8_t* chunk, size_t length) {
        fed.insert(fed.end(), chunk, chunk + length);
        const size_t before = carry.GetAvailSize() + length;
        ScanFrames(carry, chunk, length, [this](const uint8_t* payload) {
            const uint8_t* b = carry.GetBuffer();
            FUZZ_CHECK(payload >= b + 6 && payload + TARGET_REPORT_LENGTH + 4 <= b + carry.GetAvailSize());
            const uint8_t* f = payload - 6;
            FUZZ_CHECK(f[0] == 0xF4 && f[1] == 0xF3 && f[2] == 0xF2 && f[3] == 0xF1);
            FUZZ_CHECK((f[4] | (f[5] << 8)) == TARGET_REPORT_LENGTH);
            const uint8_t* t = payload + TARGET_REPORT_LENGTH;
            FUZZ_CHECK(t[0] == 0xF8 && t[1] == 0xF7 && t[2] == 0xF6 && t[3] == 0xF5);
            TargetReport report;
            if (DecodeTargetReport(payload, report))
                for (double db : report.gateEnergyDb) FUZZ_CHECK(db >= 0.0 && db < 56.4);
            payloads.emplace_back(payload, payload + TARGET_REPORT_LENGTH);
        }, stop);
        const size_t left = carry.GetAvailSize();
        FUZZ_CHECK(left <= before);
        dropped += before - left;
        FUZZ_CHECK(dropped + left == fed.size());
        FUZZ_CHECK(left == 0 || std::memcmp(carry.GetBuffer(), fed.data() + dropped, left) == 0);
        if (left >= FRAME_OVERHEAD) {
            const uint8_t* b = carry.GetBuffer();
            FUZZ_CHECK(b[0] == 0xF4 && b[1] == 0xF3 && b[2] == 0xF2 && b[3] == 0xF1);
            FUZZ_CHECK(left < static_cast<size_t>(b[4] | (b[5] << 8)) + FRAME_OVERHEAD);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t planLength = data[0] % 8;
    if (size < 1 + planLength) return 0;
    ChunkPlan plan{data + 1, planLength};
    const uint8_t* stream = data + 1 + planLength;
    const size_t length = size - 1 - planLength;

    // Scanned whole, the carry-over is sized to the stream exactly, so any read past
    // its end is caught.
    Run whole;
    whole.Feed(stream, length);

    Run chunked;
    for (size_t at = 0; at < length;) {
        const size_t n = std::min(plan.Next(), length - at);
        chunked.Feed(stream + at, n);
        at += n;
    }
    FUZZ_CHECK(chunked.payloads == whole.payloads);
    FUZZ_CHECK(chunked.dropped == whole.dropped);
    return 0;
}
