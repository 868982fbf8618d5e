#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "ReportStream.h"
#include "common/BaseBuffer.h"
#include "common/DbgOutput.h"

namespace {

// Collects the state/distance of every delivered frame and the debug lines written meanwhile.
class Scanner : public ::testing::Test {
protected:
    void SetUp() override {
        lines_ = &lines;
        DbgOutputAddCallback(&Scanner::Collect, nullptr);
    }
    void TearDown() override {
        DbgOutputDelCallback(&Scanner::Collect);
        lines_ = nullptr;
    }

    void Feed(const Bytes& chunk) {
        ScanFrames(carry, chunk.data(), chunk.size(),
                   [this](const uint8_t* payload) {
                       TargetReport r;
                       if (DecodeTargetReport(payload, r)) delivered.push_back(r.distanceCm);
                       else delivered.push_back(-payload[0]);  // foreign type: mark it
                   },
                   stop);
    }

    static void Collect(void*, uint64_t, const char* text, size_t length) {
        if (lines_) lines_->emplace_back(text, length);
    }
    int TailerLines() const {
        int n = 0;
        for (const auto& l : lines) n += l.find("Tailer TAG Invalid!\r\n") != std::string::npos;
        return n;
    }

    CBaseBuffer carry;
    std::atomic<int> stop{0};
    std::vector<int> delivered;
    std::vector<std::string> lines;
    static inline std::vector<std::string>* lines_ = nullptr;
};

TEST_F(Scanner, FrameSplitAtEveryPositionIsDeliveredOnce) {
    const Bytes frame = ReportFrame(2, 250);
    for (size_t cut = 0; cut <= frame.size(); ++cut) {
        carry.SetAvailSize(0);
        delivered.clear();
        Feed(Bytes(frame.begin(), frame.begin() + cut));
        Feed(Bytes(frame.begin() + cut, frame.end()));
        EXPECT_EQ(delivered, std::vector<int>{250}) << "cut at " << cut;
        EXPECT_EQ(carry.GetAvailSize(), 0u);
    }
}

TEST_F(Scanner, FewerThanTenBytesAreKept) {
    Feed(Bytes{0x01, 0x02, 0xF4, 0xF3, 0xF2, 0xF1, 0x46, 0x00, 0x00});
    EXPECT_EQ(carry.GetAvailSize(), 9u);
    EXPECT_TRUE(delivered.empty());
}

TEST_F(Scanner, GarbageBeforeAHeaderIsSkippedByteByByte) {
    Feed(Join({Bytes{0xF4, 0xF3, 0xF2, 0x00, 0x55, 0xF4}, ReportFrame(3, 120), Bytes{0xAA}}));
    EXPECT_EQ(delivered, std::vector<int>{120});
    EXPECT_EQ(carry.GetAvailSize(), 1u);  // the trailing byte waits
}

TEST_F(Scanner, WrongTailLogsOnceAndResumesWhereTheTailWasExpected) {
    Bytes bad = ReportFrame(2, 100);
    bad[76] = 0x00;  // tail at 76..79
    // A good frame placed right at the expected tail position is found, a byte
    // later would be too (it is not inside the claimed frame).
    Feed(Join({Bytes(bad.begin(), bad.begin() + 76), ReportFrame(2, 200), ReportFrame(2, 300)}));
    EXPECT_EQ(delivered, (std::vector<int>{200, 300}));
    EXPECT_EQ(TailerLines(), 1);
}

TEST_F(Scanner, DamagedLengthSwallowsTheFramesInsideTheClaimedFrame) {
    Bytes bad = ReportFrame(2, 100);
    bad[4] = 80;  // claims 80 payload bytes: the tail check lands inside the next frame
    Feed(Join({bad, ReportFrame(2, 200), ReportFrame(2, 300), ReportFrame(2, 400)}));
    // The scan resumes at byte 86, inside the second frame, which is lost.
    EXPECT_EQ(delivered, (std::vector<int>{300, 400}));
    EXPECT_EQ(TailerLines(), 1);
}

TEST_F(Scanner, OtherLengthsWithGoodTailsAreSkippedWhole) {
    // A progress frame (length 3) and an empty frame pass without a delivery or a debug line.
    Feed(Join({ProgressFrame(100), BuildReportFrame(nullptr, 0), ReportFrame(1, 50)}));
    EXPECT_EQ(delivered, std::vector<int>{50});
    EXPECT_EQ(TailerLines(), 0);
}

TEST_F(Scanner, TypeTwoPayloadIsHandedToTheHandlerButDecodesToNothing) {
    Feed(ReportFrame(2, 500, 0, 2));
    EXPECT_EQ(delivered, std::vector<int>{-2});
    TargetReport r;
    r.distanceCm = 77;
    const Bytes frame = ReportFrame(2, 500, 0, 2);
    EXPECT_FALSE(DecodeTargetReport(frame.data() + 6, r));
    EXPECT_EQ(r.distanceCm, 77);
}

TEST_F(Scanner, SeveralFramesInOneChunkArriveInOrder) {
    Feed(Join({ReportFrame(0, 1), ReportFrame(1, 2), ReportFrame(2, 3), ReportFrame(3, 4), ReportFrame(2, 5)}));
    EXPECT_EQ(delivered, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(Scanner, HeaderInsideAWellFormedPayloadIsNeverSeen) {
    Bytes frame = ReportFrame(2, 10);
    const Bytes inner = ReportFrame(2, 999);
    // Put a header and a plausible length at payload offset 10 (gate slot bytes).
    std::copy(inner.begin(), inner.begin() + 6, frame.begin() + 16);
    Feed(frame);
    EXPECT_EQ(delivered, std::vector<int>{10});
}

TEST_F(Scanner, StopSetBeforeScanningConsumesNothing) {
    stop = 1;
    Feed(ReportFrame(2, 10));
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(carry.GetAvailSize(), 80u);
}

TEST_F(Scanner, StopSetByTheHandlerEndsScanningAfterThatFrame) {
    const Bytes two = Join({ReportFrame(2, 10), ReportFrame(2, 20)});
    ScanFrames(carry, two.data(), two.size(), [this](const uint8_t*) { delivered.push_back(1), stop = 1; }, stop);
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_EQ(carry.GetAvailSize(), 80u);  // the second frame stays
}

TEST_F(Scanner, LargeLengthHoldsTheScannerAtItsHeader) {
    const Bytes header = {0xF4, 0xF3, 0xF2, 0xF1, 0xFF, 0xFF};
    Feed(Join({header, ReportFrame(2, 10), ReportFrame(2, 20)}));
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(carry.GetAvailSize(), 166u);
}

TEST(TargetReportDecoding, FieldsAndGateEnergies) {
    uint16_t raw[TARGET_GATE_COUNT] = {100, 101, 199, 200, 1000, 65535, 0, 12345, 5, 6, 7, 8, 9, 10, 11, 650};
    auto payload = BuildTargetReportPayload(3, 0xABCD, raw);
    // Bytes that are not interpreted must not leak into the fields.
    payload[4] = payload[5] = 0xEE;
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) payload[8 + 4 * g] = payload[9 + 4 * g] = 0xEE;

    TargetReport r;
    ASSERT_TRUE(DecodeTargetReport(payload.data(), r));
    EXPECT_EQ(r.state, 3);
    EXPECT_EQ(r.distanceCm, 0xABCD);
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) EXPECT_EQ(r.gateRaw[g], raw[g]) << g;
    EXPECT_EQ(r.gateEnergyDb[0], 0.0);   // 100
    EXPECT_EQ(r.gateEnergyDb[1], 0.0);   // 101: quotient 1
    EXPECT_EQ(r.gateEnergyDb[2], 0.0);   // 199: quotient 1
    EXPECT_NEAR(r.gateEnergyDb[3], 6.0206, 1e-4);    // 200
    EXPECT_DOUBLE_EQ(r.gateEnergyDb[4], 20.0);        // 1000
    EXPECT_NEAR(r.gateEnergyDb[5], 56.3248, 1e-4);   // 65535 -> 655
    EXPECT_NEAR(r.gateEnergyDb[7], 20.0 * std::log10(123.0), 1e-12);
    EXPECT_EQ(r.gateEnergyDb[8], 0.0);
}

TEST(TargetReportDecoding, EnergyTableMatchesTheFormulaForEveryQuotient) {
    for (uint32_t raw = 0; raw <= 65535; raw += 7) {
        const double expected = raw > 100 ? 20.0 * std::log10(static_cast<double>(raw / 100)) : 0.0;
        ASSERT_DOUBLE_EQ(GateEnergyDb(raw), expected) << raw;
    }
}

// The printed decibels must not depend on the compiler: these quotients are where
// the C library's double log10 is one unit in the last place off the correctly
// rounded value (worked out with 60-digit decimals), which a compiler folding the
// call at compile time gives.
TEST(TargetReportDecoding, DecibelsAreTheCorrectlyRoundedLogarithm) {
    const std::pair<uint32_t, double> cases[] = {
        {11, 20.827853703164504}, {40, 32.04119982655924},   {43, 32.66936911159173},
        {85, 38.58837851428585},  {113, 41.06156886966839},  {651, 56.271619771363845},
    };
    for (const auto& [quotient, db] : cases) {
        EXPECT_EQ(GateEnergyDb(quotient * 100), db) << quotient;
        EXPECT_EQ(GateEnergyDb(quotient * 100 + 99), db) << quotient;
    }
}

TEST(TargetReportDecoding, HighStateAndDistanceBytesAreZeroExtended) {
    uint16_t raw[TARGET_GATE_COUNT] = {};
    raw[15] = 0xFFFF;
    const auto payload = BuildTargetReportPayload(0xFE, 0xFFFF, raw);
    TargetReport r;
    ASSERT_TRUE(DecodeTargetReport(payload.data(), r));
    EXPECT_EQ(r.state, 254);
    EXPECT_EQ(r.distanceCm, 65535);
    EXPECT_EQ(r.gateRaw[15], 65535);
}

}  // namespace
