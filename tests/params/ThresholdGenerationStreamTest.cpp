// Randomised streams through the progress-frame scanner (fixed seeds, so a failure
// repeats): the cut into reads never changes the progress seen, at most an incomplete
// frame (12 bytes) waits, and the buffer only ever loses bytes from its front.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <vector>

#include "common/BaseBuffer.h"
#include "params/ThresholdGeneration.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Rng = std::mt19937;

size_t Pick(Rng& rng, size_t lo, size_t hi) { return lo + rng() % (hi - lo + 1); }

const Bytes HEADER = {0xF4, 0xF3, 0xF2, 0xF1};
const Bytes TAIL = {0xF8, 0xF7, 0xF6, 0xF5};

Bytes Frame(const Bytes& payload) {
    Bytes f = HEADER;
    f.push_back(static_cast<uint8_t>(payload.size()));
    f.push_back(static_cast<uint8_t>(payload.size() >> 8));
    f.insert(f.end(), payload.begin(), payload.end());
    f.insert(f.end(), TAIL.begin(), TAIL.end());
    return f;
}

Bytes ProgressFrame(uint16_t percent, uint8_t type = 3) {
    return Frame({type, static_cast<uint8_t>(percent), static_cast<uint8_t>(percent >> 8)});
}

struct ProgressRun {
    CBaseBuffer buffer;
    std::atomic<int> stop{0};
    std::vector<int> seen;
    Bytes fed;
    size_t dropped = 0;

    // One read: appends the chunk and scans, as the worker does; returns the chunk's progress.
    int Feed(const uint8_t* chunk, size_t length) {
        fed.insert(fed.end(), chunk, chunk + length);
        buffer.AppendBuffer(chunk, length);
        const size_t before = buffer.GetAvailSize();
        const int p = ScanProgressFrames(buffer, stop, [this](int v) { seen.push_back(v); });
        EXPECT_LE(buffer.GetAvailSize(), before);
        dropped += before - buffer.GetAvailSize();
        EXPECT_EQ(dropped + buffer.GetAvailSize(), fed.size());
        EXPECT_TRUE(std::equal(buffer.GetBuffer(), buffer.GetBuffer() + buffer.GetAvailSize(), fed.begin() + dropped));
        EXPECT_LE(buffer.GetAvailSize(), 12u);  // never more than an incomplete progress frame
        return p;
    }

    void FeedInChunks(const Bytes& stream, Rng& rng, size_t maxChunk) {
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min(Pick(rng, 1, maxChunk), stream.size() - at);
            Feed(stream.data() + at, n);
            at += n;
        }
    }
};

// Progress frames of both types, target reports whose payloads hold no 0xF4, and
// noise without 0xF4 between them. Returns the stream and the type-3 values in order.
std::pair<Bytes, std::vector<int>> WellFormedStream(Rng& rng, int frames) {
    Bytes stream;
    std::vector<int> expected;
    for (int k = 0; k < frames; ++k) {
        for (size_t noise = Pick(rng, 0, 2) == 0 ? Pick(rng, 1, 9) : 0; noise > 0; --noise)
            stream.push_back(static_cast<uint8_t>(Pick(rng, 0, 0xF3)));
        Bytes f;
        switch (Pick(rng, 0, 4)) {
        case 0: {
            Bytes report(70);
            for (auto& b : report) b = static_cast<uint8_t>(Pick(rng, 0, 0xF3));
            f = Frame(report);
            break;
        }
        case 1:
            f = ProgressFrame(static_cast<uint16_t>(rng()), static_cast<uint8_t>(Pick(rng, 0, 2)));
            break;
        default: {
            const uint16_t value = static_cast<uint16_t>(Pick(rng, 0, 300));
            f = ProgressFrame(value);
            expected.push_back(value);
        }
        }
        stream.insert(stream.end(), f.begin(), f.end());
    }
    return {stream, expected};
}

Bytes HostileStream(Rng& rng, size_t size) {
    Bytes s;
    while (s.size() < size) {
        Bytes piece;
        switch (Pick(rng, 0, 6)) {
        case 0:
            piece = ProgressFrame(static_cast<uint16_t>(rng()), static_cast<uint8_t>(Pick(rng, 2, 4)));
            break;
        case 1:  // a progress frame with one byte changed or cut short
            piece = ProgressFrame(static_cast<uint16_t>(rng()));
            if (Pick(rng, 0, 1)) piece[Pick(rng, 0, piece.size() - 1)] ^= static_cast<uint8_t>(Pick(rng, 1, 255));
            else piece.resize(Pick(rng, 1, piece.size() - 1));
            break;
        case 2:  // a header with any length
            piece = HEADER;
            piece.push_back(static_cast<uint8_t>(Pick(rng, 0, 5)));
            piece.push_back(static_cast<uint8_t>(Pick(rng, 0, 3) == 0 ? rng() : 0));
            break;
        case 3:
            piece = TAIL;
            break;
        case 4:
            piece.assign(HEADER.begin(), HEADER.begin() + static_cast<std::ptrdiff_t>(Pick(rng, 1, 3)));
            break;
        default:
            piece.resize(Pick(rng, 1, 16));
            for (auto& b : piece) b = static_cast<uint8_t>(rng());
        }
        s.insert(s.end(), piece.begin(), piece.end());
    }
    return s;
}

TEST(ProgressStream, WellFormedStreamInRandomReadsShowsEveryProgressOnce) {
    Rng rng(1280);
    for (int round = 0; round < 200; ++round) {
        const auto [stream, expected] = WellFormedStream(rng, 40);
        ProgressRun run;
        run.FeedInChunks(stream, rng, SENSING_READ_CHUNK);
        ASSERT_EQ(run.seen, expected) << "round " << round;
        // A trailing target report is passed over byte by byte; its last 9 bytes wait.
        EXPECT_LT(run.buffer.GetAvailSize(), 10u) << "round " << round;
    }
}

TEST(ProgressStream, ReadSizesNeverChangeWhatADamagedStreamShows) {
    Rng rng(1281);
    for (int round = 0; round < 300; ++round) {
        const Bytes stream = HostileStream(rng, Pick(rng, 10, 3000));
        ProgressRun whole;
        whole.Feed(stream.data(), stream.size());
        ProgressRun chunked;
        chunked.FeedInChunks(stream, rng, Pick(rng, 0, 2) == 0 ? 1 : SENSING_READ_CHUNK);
        ASSERT_FALSE(::testing::Test::HasFailure()) << "round " << round;
        ASSERT_EQ(chunked.seen, whole.seen) << "round " << round;
        ASSERT_EQ(chunked.dropped, whole.dropped) << "round " << round;
    }
}

TEST(ProgressStream, EachReadReportsTheLastProgressItCompleted) {
    // The worker decides success from what the latest read carried, so a read that
    // completes no frame reports 0 even after 100 had been seen earlier.
    Rng rng(1282);
    for (int round = 0; round < 100; ++round) {
        const auto [stream, expected] = WellFormedStream(rng, 20);
        ProgressRun run;
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min(Pick(rng, 1, SENSING_READ_CHUNK), stream.size() - at);
            const size_t before = run.seen.size();
            const int p = run.Feed(stream.data() + at, n);
            ASSERT_EQ(p, run.seen.size() > before ? run.seen.back() : 0) << "round " << round << " at " << at;
            at += n;
        }
    }
}

}  // namespace
