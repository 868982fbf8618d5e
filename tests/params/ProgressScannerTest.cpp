#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "common/BaseBuffer.h"
#include "common/DbgOutput.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"
#include "params/ThresholdGeneration.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(uint16_t length, const Bytes& payload, bool goodTail = true) {
    Bytes f = {0xF4, 0xF3, 0xF2, 0xF1, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    f.insert(f.end(), payload.begin(), payload.end());
    const Bytes tail = goodTail ? Bytes{0xF8, 0xF7, 0xF6, 0xF5} : Bytes{0xF8, 0xF7, 0xF6, 0x00};
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
}

Bytes Progress(uint16_t percent, uint8_t type = 3, bool goodTail = true) {
    return Frame(3, {type, static_cast<uint8_t>(percent), static_cast<uint8_t>(percent >> 8)}, goodTail);
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Scan {
    CBaseBuffer buffer;
    std::atomic<int> stop{0};
    std::vector<int> seen;

    int Feed(const Bytes& bytes) {
        buffer.AppendBuffer(bytes.data(), bytes.size());
        return ScanProgressFrames(buffer, stop, [this](int p) { seen.push_back(p); });
    }
};

TEST(ProgressScanner, ReportsEveryProgressFrameInOrderAndReturnsTheLast) {
    Scan scan;
    EXPECT_EQ(scan.Feed(Join({Progress(40), Progress(70), Progress(100)})), 100);
    EXPECT_EQ(scan.seen, (std::vector<int>{40, 70, 100}));
    EXPECT_EQ(scan.buffer.GetAvailSize(), 0u);
}

TEST(ProgressScanner, SplitFrameIsCompletedByTheNextReadAndCountedOnce) {
    const Bytes frame = Progress(55);
    for (size_t cut = 1; cut < frame.size(); ++cut) {
        Scan scan;
        EXPECT_EQ(scan.Feed(Bytes(frame.begin(), frame.begin() + cut)), 0) << cut;
        EXPECT_EQ(scan.Feed(Bytes(frame.begin() + cut, frame.end())), 55) << cut;
        EXPECT_EQ(scan.seen, std::vector<int>{55}) << cut;
    }
}

TEST(ProgressScanner, ProgressResetsForAChunkWithoutProgress) {
    Scan scan;
    EXPECT_EQ(scan.Feed(Progress(30)), 30);
    EXPECT_EQ(scan.Feed(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), 0);
}

TEST(ProgressScanner, OtherTypeIsConsumedWithoutUpdate) {
    Scan scan;
    EXPECT_EQ(scan.Feed(Join({Progress(80, 2), Progress(20)})), 20);
    EXPECT_EQ(scan.seen, std::vector<int>{20});
}

TEST(ProgressScanner, ValueAboveHundredIsPassedOn) {
    Scan scan;
    EXPECT_EQ(scan.Feed(Progress(300)), 300);
}

TEST(ProgressScanner, SkipsGarbageForeignLengthsAndWrongTails) {
    // A target report (length 70) skips only its header; a wrong tail skips 6 bytes.
    Bytes report = Frame(70, Bytes(70, 0x11));
    Scan scan;
    EXPECT_EQ(scan.Feed(Join({Bytes{0x00, 0xF4, 0x13}, report, Progress(50, 3, false), Progress(60)})), 60);
    EXPECT_EQ(scan.seen, std::vector<int>{60});
}

TEST(ProgressScanner, WrongTailResumesSixBytesOnSoAFrameInsideCanBeFound) {
    // Header, length 3, then 3 bytes and a bad tail: the scan resumes at the
    // payload, where a complete progress frame starts.
    Bytes bad = {0xF4, 0xF3, 0xF2, 0xF1, 0x03, 0x00};
    Bytes inner = Progress(77);
    Scan scan;
    EXPECT_EQ(scan.Feed(Join({bad, inner})), 77);
}

TEST(ProgressScanner, IncompleteFrameAfterHeaderWaitsAndStopKeepsTheRest) {
    Scan scan;
    const Bytes frame = Progress(90);
    EXPECT_EQ(scan.Feed(Bytes(frame.begin(), frame.begin() + 11)), 0);
    EXPECT_EQ(scan.buffer.GetAvailSize(), 11u);

    Scan stopped;
    stopped.stop = 1;
    EXPECT_EQ(stopped.Feed(Progress(10)), 0);
    EXPECT_TRUE(stopped.seen.empty());
    EXPECT_EQ(stopped.buffer.GetAvailSize(), 13u);
}

TEST(ProgressScanner, GenerationPayloadIsThreeLittleEndianWords) {
    EXPECT_EQ(BuildSensingGeneratePayload(2, 1, 120), (std::array<uint8_t, 6>{2, 0, 1, 0, 120, 0}));
    EXPECT_EQ(BuildSensingGeneratePayload(0x1234, 10, 0x10100), (std::array<uint8_t, 6>{0x34, 0x12, 10, 0, 0, 1}));
}

// ---- operations on a closed port ------------------------------------------------

std::vector<std::string>* gClosedPortLines = nullptr;
void CollectClosedPortLine(void*, uint64_t, const char* text, size_t length) {
    if (gClosedPortLines) gClosedPortLines->emplace_back(text, length);
}

TEST(RadarOperatorConfig, ClosedPortReturnsOneSendsAndLogsNothing) {
    std::vector<std::string> lines;
    gClosedPortLines = &lines;
    DbgOutputAddCallback(CollectClosedPortLine, nullptr);
    SensorLine device;  // never opened
    ParamSetting s;
    s.DetectRangeMin = 1.4;
    const ParamSetting before = s;
    EXPECT_EQ(ReadAllParams(device, s), OPERATOR_NOT_CONNECTED);
    EXPECT_EQ(WriteAllParams(device, s), OPERATOR_NOT_CONNECTED);
    EXPECT_EQ(FactoryResetSequence(device, s), OPERATOR_NOT_CONNECTED);
    EXPECT_EQ(RadarOperatorConfig_ReadHoldThreshold(device, s), OPERATOR_NOT_CONNECTED);
    EXPECT_EQ(RadarOperatorConfig_WriteMotionThreshold(device), OPERATOR_NOT_CONNECTED);
    EXPECT_DOUBLE_EQ(s.DetectRangeMin, before.DetectRangeMin);
    DbgOutputDelCallback(CollectClosedPortLine);
    gClosedPortLines = nullptr;
    EXPECT_TRUE(lines.empty());
}

}  // namespace
