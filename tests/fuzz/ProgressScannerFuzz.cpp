// Progress-frame scanner under libFuzzer. The input is scanned once whole and once in
// reads whose lengths come from its first bytes: both must show the same progress
// values, each read must report the last value it completed (0 when none), and what
// stays behind must be the unconsumed end of the stream, at most 12 bytes.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "common/BaseBuffer.h"
#include "params/ThresholdGeneration.h"

namespace {

struct Run {
    CBaseBuffer buffer;
    std::atomic<int> stop{0};
    std::vector<int> seen;
    std::vector<uint8_t> fed;
    size_t dropped = 0;

    void Feed(const uint8_t* chunk, size_t length) {
        fed.insert(fed.end(), chunk, chunk + length);
        buffer.AppendBuffer(chunk, length);
        const size_t before = buffer.GetAvailSize();
        const size_t seenBefore = seen.size();
        const int p = ScanProgressFrames(buffer, stop, [this](int v) {
            FUZZ_CHECK(v >= 0 && v <= 0xFFFF);
            seen.push_back(v);
        });
        FUZZ_CHECK(p == (seen.size() > seenBefore ? seen.back() : 0));
        const size_t left = buffer.GetAvailSize();
        FUZZ_CHECK(left <= before && left <= 12);
        dropped += before - left;
        FUZZ_CHECK(dropped + left == fed.size());
        FUZZ_CHECK(left == 0 || std::memcmp(buffer.GetBuffer(), fed.data() + dropped, left) == 0);
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

    Run whole;  // the buffer is sized to the stream exactly: a read past its end is caught
    whole.Feed(stream, length);

    Run chunked;
    for (size_t at = 0; at < length;) {
        const size_t n = std::min(plan.Next(), length - at);
        chunked.Feed(stream + at, n);
        at += n;
    }
    FUZZ_CHECK(chunked.seen == whole.seen);
    FUZZ_CHECK(chunked.dropped == whole.dropped);
    return 0;
}
