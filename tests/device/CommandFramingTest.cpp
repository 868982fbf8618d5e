// Finding one acknowledgement in received bytes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/CommandFraming.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Ack(uint16_t word, const Bytes& payload)
{
    return BuildCommandFrame(word, payload.data(), payload.size());
}

Bytes Report(const Bytes& payload)
{
    Bytes frame = {0xF4, 0xF3, 0xF2, 0xF1, static_cast<uint8_t>(payload.size()), 0};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.insert(frame.end(), {0xF8, 0xF7, 0xF6, 0xF5});
    return frame;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(CommandFraming, CommandFrameLayout)
{
    const Bytes payload = {0x02, 0x00};
    EXPECT_EQ(BuildCommandFrame(0x00FF, payload.data(), payload.size()),
              (Bytes{0xFD, 0xFC, 0xFB, 0xFA, 0x04, 0x00, 0xFF, 0x00, 0x02, 0x00, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(BuildCommandFrame(0x0060, nullptr, 0),
              (Bytes{0xFD, 0xFC, 0xFB, 0xFA, 0x02, 0x00, 0x60, 0x00, 0x04, 0x03, 0x02, 0x01}));
}

TEST(CommandFraming, ExpectedAckIsFoundPastWhatPrecedesIt)
{
    const Bytes reply = {0x00, 0x00, 0x2A, 0x00, 0x00, 0x00};
    // A report whose payload happens to contain a complete ack of the same word
    // must be passed over whole, not searched inside.
    Bytes tricky(70, 0x11);
    const Bytes fake = Ack(0x0170, {0x09, 0x09});
    std::copy(fake.begin(), fake.end(), tricky.begin() + 10);
    struct Case {
        std::string name;
        Bytes before;
    };
    const Case cases[] = {
        {"nothing", {}},
        {"noise", {0x00, 0xFD, 0xFC, 0x13, 0xF4, 0xF3, 0x77}},
        {"report frames", Join({Report(Bytes(70, 0x01)), Report({0x03, 0x28, 0x00})})},
        {"report carrying an ack pattern", Report(tricky)},
        {"acks of other words", Join({Ack(0x01FF, {0, 0, 2, 0, 64, 0}), Ack(0x0171, {0, 0, 1, 0, 0, 0})})},
        {"ack with a broken tail", {0xFD, 0xFC, 0xFB, 0xFA, 0x04, 0x00, 0x70, 0x01, 0x00, 0x00, 0x04, 0x03, 0x02, 0x00}},
        {"header with an absurd length", {0xFD, 0xFC, 0xFB, 0xFA, 0xFF, 0xFF, 0x70, 0x01}},
    };
    for (const Case& c : cases) {
        const Bytes data = Join({c.before, Ack(0x0170, reply), Report({0x03, 0x64, 0x00})});
        const AckScanResult result = ScanForAck(data.data(), data.size(), 0x0170);
        ASSERT_EQ(result.status, AckScan::Found) << c.name;
        EXPECT_EQ(Bytes(data.begin() + result.payloadOffset, data.begin() + result.payloadOffset + result.payloadLength),
                  reply)
            << c.name;
        EXPECT_EQ(result.consumed, c.before.size() + 6 + 4 + 2 + reply.size()) << c.name;
    }
}

TEST(CommandFraming, AckSplitAcrossReadsIsFoundOnceComplete)
{
    const Bytes data = Join({Report(Bytes(70, 0x05)), Ack(0x0100, {0x00, 0x00, 0x06, 0x00, 'v', '1', '.', '0', '.', '2'})});
    for (size_t cut = 0; cut < data.size(); ++cut) {
        // The first part never yields the ack; what it consumed must not reach into it.
        const AckScanResult first = ScanForAck(data.data(), cut, 0x0100);
        ASSERT_EQ(first.status, AckScan::NeedMore) << "cut " << cut;
        ASSERT_LE(first.consumed, 80u) << "cut " << cut;
        const Bytes rest(data.begin() + first.consumed, data.end());
        const AckScanResult second = ScanForAck(rest.data(), rest.size(), 0x0100);
        ASSERT_EQ(second.status, AckScan::Found) << "cut " << cut;
        EXPECT_EQ(second.payloadLength, 10u);
    }
}

}  // namespace
