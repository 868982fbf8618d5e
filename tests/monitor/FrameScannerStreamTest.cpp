// Randomised streams through the report scanner (fixed seeds, so a failure repeats):
// how a stream is cut into chunks must never change what is delivered, the carry-over
// stays bounded and only ever loses bytes from its front, and a stop loses nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <vector>

#include "ReportStream.h"
#include "common/BaseBuffer.h"

namespace {

using Rng = std::mt19937;

size_t Pick(Rng& rng, size_t lo, size_t hi) { return lo + rng() % (hi - lo + 1); }

// What a scan delivered and what it left, with the invariants checked on the way.
struct ScanRun {
    CBaseBuffer carry;
    std::atomic<int> stop{0};
    std::vector<Bytes> payloads;
    Bytes fed;         // every byte given to the scanner so far
    size_t dropped = 0;  // bytes gone from the carry-over's front
    int stopAfter = -1;  // set stop in the handler after this many deliveries

    void Feed(const uint8_t* chunk, size_t length) {
        fed.insert(fed.end(), chunk, chunk + length);
        const size_t before = carry.GetAvailSize() + length;
        ScanFrames(carry, chunk, length, [this](const uint8_t* payload) { Deliver(payload); }, stop);
        ASSERT_LE(carry.GetAvailSize(), before);
        dropped += before - carry.GetAvailSize();
        // The carry-over is exactly the unconsumed end of the stream.
        ASSERT_EQ(dropped + carry.GetAvailSize(), fed.size());
        ASSERT_TRUE(std::equal(carry.GetBuffer(), carry.GetBuffer() + carry.GetAvailSize(), fed.begin() + dropped));
        if (stop.load()) return;
        // Scanning went as far as it could: fewer than 10 bytes are left, or an
        // incomplete frame whose header starts the buffer.
        const size_t left = carry.GetAvailSize();
        if (left >= FRAME_OVERHEAD) {
            const uint8_t* b = carry.GetBuffer();
            ASSERT_TRUE(b[0] == 0xF4 && b[1] == 0xF3 && b[2] == 0xF2 && b[3] == 0xF1);
            ASSERT_LT(left, (b[4] | (b[5] << 8)) + FRAME_OVERHEAD);
        }
        ASSERT_LT(left, 65535u + FRAME_OVERHEAD);
    }

    void Deliver(const uint8_t* payload) {
        // The payload lies whole inside the carry-over, framed by a header, length 70 and a tail.
        const uint8_t* b = carry.GetBuffer();
        ASSERT_GE(payload, b + 6);
        ASSERT_LE(payload + TARGET_REPORT_LENGTH + 4, b + carry.GetAvailSize());
        const uint8_t* f = payload - 6;
        ASSERT_TRUE(f[0] == 0xF4 && f[1] == 0xF3 && f[2] == 0xF2 && f[3] == 0xF1);
        ASSERT_EQ(f[4] | (f[5] << 8), TARGET_REPORT_LENGTH);
        const uint8_t* t = payload + TARGET_REPORT_LENGTH;
        ASSERT_TRUE(t[0] == 0xF8 && t[1] == 0xF7 && t[2] == 0xF6 && t[3] == 0xF5);
        payloads.emplace_back(payload, payload + TARGET_REPORT_LENGTH);
        if (stopAfter >= 0 && static_cast<int>(payloads.size()) == stopAfter) stop = 1;
    }

    // Feeds the stream in chunks of 1..maxChunk bytes.
    void FeedInChunks(const Bytes& stream, Rng& rng, size_t maxChunk) {
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min(Pick(rng, 1, maxChunk), stream.size() - at);
            Feed(stream.data() + at, n);
            if (::testing::Test::HasFatalFailure()) return;
            at += n;
        }
    }
};

Bytes RandomBytes(Rng& rng, size_t n) {
    Bytes b(n);
    for (auto& v : b) v = static_cast<uint8_t>(rng());
    return b;
}

// A stream of whole frames (target reports of both types, progress frames, other
// lengths) with noise between them that holds no 0xF4, so no header can start in it.
// Payloads are random and may hold header and tail patterns. Returns the stream and
// the 70-byte payloads in order.
std::pair<Bytes, std::vector<Bytes>> WellFormedStream(Rng& rng, int frames) {
    Bytes stream;
    std::vector<Bytes> expected;
    const Bytes header = {0xF4, 0xF3, 0xF2, 0xF1};
    for (int k = 0; k < frames; ++k) {
        for (size_t noise = Pick(rng, 0, 3) == 0 ? Pick(rng, 1, 12) : 0; noise > 0; --noise)
            stream.push_back(static_cast<uint8_t>(Pick(rng, 0, 0xF3)));
        uint16_t length = TARGET_REPORT_LENGTH;
        switch (Pick(rng, 0, 5)) {
        case 0: length = 3; break;
        case 1: length = static_cast<uint16_t>(Pick(rng, 0, 300)); break;
        default: break;
        }
        Bytes payload = RandomBytes(rng, length);
        if (length >= 10 && Pick(rng, 0, 1)) {  // a header with a plausible length inside the payload
            const size_t at = Pick(rng, 0, length - 6);
            std::copy(header.begin(), header.end(), payload.begin() + at);
            payload[at + 4] = TARGET_REPORT_LENGTH;
            payload[at + 5] = 0;
        }
        const Bytes frame = BuildReportFrame(payload.data(), length);
        stream.insert(stream.end(), frame.begin(), frame.end());
        if (length == TARGET_REPORT_LENGTH) expected.push_back(payload);
    }
    return {stream, expected};
}

// Random bytes rich in header and tail pieces, frames with wrong tails and damaged or
// huge lengths: the kind of stream a noisy line delivers.
Bytes HostileStream(Rng& rng, size_t size) {
    Bytes s;
    const Bytes header = {0xF4, 0xF3, 0xF2, 0xF1};
    const Bytes tail = {0xF8, 0xF7, 0xF6, 0xF5};
    while (s.size() < size) {
        switch (Pick(rng, 0, 7)) {
        case 0:
        case 1: {
            const Bytes f = ReportFrame(static_cast<uint8_t>(rng()), static_cast<uint16_t>(rng()),
                                        static_cast<uint16_t>(rng()), static_cast<uint8_t>(Pick(rng, 1, 2)));
            s.insert(s.end(), f.begin(), f.end());
            break;
        }
        case 2: {  // a frame cut short or with one byte changed
            Bytes f = ReportFrame(2, static_cast<uint16_t>(rng()));
            if (Pick(rng, 0, 1)) f.resize(Pick(rng, 1, f.size() - 1));
            else f[Pick(rng, 0, f.size() - 1)] ^= static_cast<uint8_t>(Pick(rng, 1, 255));
            s.insert(s.end(), f.begin(), f.end());
            break;
        }
        case 3: {  // a header with any length, sometimes a large one
            s.insert(s.end(), header.begin(), header.end());
            const uint16_t length = Pick(rng, 0, 9) == 0 ? static_cast<uint16_t>(Pick(rng, 1000, 3000))
                                                         : static_cast<uint16_t>(Pick(rng, 0, 100));
            s.push_back(static_cast<uint8_t>(length));
            s.push_back(static_cast<uint8_t>(length >> 8));
            break;
        }
        case 4:
            s.insert(s.end(), tail.begin(), tail.end());
            break;
        case 5: {  // pieces of a header
            const size_t n = Pick(rng, 1, 3);
            s.insert(s.end(), header.begin(), header.begin() + static_cast<std::ptrdiff_t>(n));
            break;
        }
        default: {
            const Bytes r = RandomBytes(rng, Pick(rng, 1, 20));
            s.insert(s.end(), r.begin(), r.end());
        }
        }
    }
    return s;
}

TEST(ScannerStream, WellFormedStreamInRandomChunksDeliversEveryReportOnce) {
    Rng rng(20261210);
    for (int round = 0; round < 200; ++round) {
        const auto [stream, expected] = WellFormedStream(rng, 30);
        ScanRun run;
        run.FeedInChunks(stream, rng, Pick(rng, 0, 1) ? 16 : 400);
        ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "round " << round;
        ASSERT_EQ(run.payloads, expected) << "round " << round;
        EXPECT_EQ(run.carry.GetAvailSize(), 0u) << "round " << round;
    }
}

TEST(ScannerStream, ChunkingNeverChangesWhatADamagedStreamDelivers) {
    Rng rng(4711);
    for (int round = 0; round < 300; ++round) {
        const Bytes stream = HostileStream(rng, Pick(rng, 10, 6000));
        ScanRun whole;
        whole.Feed(stream.data(), stream.size());
        ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "round " << round;

        ScanRun chunked;
        chunked.FeedInChunks(stream, rng, Pick(rng, 1, 3) == 1 ? 1 : Pick(rng, 2, 700));
        ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "round " << round;
        ASSERT_EQ(chunked.payloads, whole.payloads) << "round " << round;
        ASSERT_EQ(chunked.dropped, whole.dropped) << "round " << round;
    }
}

TEST(ScannerStream, StopInTheHandlerLosesNothingWhenScanningResumes) {
    Rng rng(99);
    for (int round = 0; round < 200; ++round) {
        const Bytes stream = HostileStream(rng, Pick(rng, 200, 4000));
        ScanRun whole;
        whole.Feed(stream.data(), stream.size());
        if (whole.payloads.empty()) continue;

        ScanRun stopped;
        stopped.stopAfter = static_cast<int>(Pick(rng, 1, whole.payloads.size()));
        stopped.Feed(stream.data(), stream.size());
        ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "round " << round;
        ASSERT_EQ(stopped.payloads.size(), static_cast<size_t>(stopped.stopAfter)) << "round " << round;
        stopped.stop = 0;
        stopped.stopAfter = -1;
        stopped.Feed(nullptr, 0);
        ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "round " << round;
        ASSERT_EQ(stopped.payloads, whole.payloads) << "round " << round;
    }
}

}  // namespace
