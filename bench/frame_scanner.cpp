// The report scanner and decoder over a generated 100 MB stream (80-byte target
// report frames with a few noise bytes between some of them), beside a memcpy of
// the same buffer: the scanner's MB/s against the memory's.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include "common/BaseBuffer.h"
#include "monitor/FrameScanner.h"

namespace {

constexpr size_t STREAM_BYTES = 100u << 20;
constexpr size_t CHUNK = 64 * 1024;

const std::vector<uint8_t>& Stream() {
    static const std::vector<uint8_t> stream = [] {
        std::vector<uint8_t> bytes;
        bytes.reserve(STREAM_BYTES + 128);
        std::mt19937 random(42);
        uint16_t raw[TARGET_GATE_COUNT];
        for (int i = 0; bytes.size() < STREAM_BYTES; ++i) {
            for (uint16_t& r : raw) r = static_cast<uint16_t>(random());
            const auto payload = BuildTargetReportPayload(static_cast<uint8_t>(random() % 4),
                                                          static_cast<uint16_t>(random() % 840), raw);
            const auto frame = BuildReportFrame(payload.data(), static_cast<uint16_t>(payload.size()));
            bytes.insert(bytes.end(), frame.begin(), frame.end());
            if (i % 50 == 0)
                for (int k = 0; k < 7; ++k) bytes.push_back(static_cast<uint8_t>(random()));
        }
        return bytes;
    }();
    return stream;
}

void BM_ScanAndDecode(benchmark::State& state) {
    const std::vector<uint8_t>& stream = Stream();
    const std::atomic<int> never{0};
    uint64_t reports = 0;
    TargetReport report;
    const ReportHandler handler = [&](const uint8_t* payload) { reports += DecodeTargetReport(payload, report); };
    for (auto _ : state) {
        CBaseBuffer carry;
        for (size_t offset = 0; offset < stream.size(); offset += CHUNK)
            ScanFrames(carry, stream.data() + offset, std::min(CHUNK, stream.size() - offset), handler, never);
        benchmark::DoNotOptimize(report);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.SetItemsProcessed(static_cast<int64_t>(reports));
}
BENCHMARK(BM_ScanAndDecode)->Unit(benchmark::kMillisecond);

void BM_MemcpyOfTheStream(benchmark::State& state) {
    const std::vector<uint8_t>& stream = Stream();
    // Into a buffer as large as the stream, so that the copy goes through memory
    // as the scanner's reads do, not through a cache-sized chunk.
    std::vector<uint8_t> copy(stream.size());
    for (auto _ : state) {
        for (size_t offset = 0; offset < stream.size(); offset += CHUNK) {
            const size_t n = std::min(CHUNK, stream.size() - offset);
            std::memcpy(copy.data() + offset, stream.data() + offset, n);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_MemcpyOfTheStream)->Unit(benchmark::kMillisecond);

}  // namespace
