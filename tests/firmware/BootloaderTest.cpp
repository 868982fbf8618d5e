#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "BootSink.h"
#include "app/StringTable.h"
#include "common/BaseBuffer.h"

namespace {

uint32_t U32At(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

TEST(ReadBootAck, SixByteReplyStoresTheValueAndReturnsTheStatus) {
    uint32_t result = 0x11111111;
    const uint8_t reply[6] = {0x34, 0x12, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(ReadBootAck(eRADAR_PROTOCOL_VERSION_2, reply, 6, reinterpret_cast<uintptr_t>(&result)), 0x1234);
    EXPECT_EQ(result, 0x12345678u);

    for (int length : {0, 2, 5, 7, 8}) {
        uint32_t untouched = 0xCAFE;
        const uint8_t longer[8] = {0, 0, 1, 0, 0, 0, 0, 0};
        EXPECT_EQ(ReadBootAck(eRADAR_PROTOCOL_VERSION_2, longer, length, reinterpret_cast<uintptr_t>(&untouched)),
                  BOOT_ACK_BAD_LENGTH)
            << length;
        EXPECT_EQ(untouched, 0xCAFEu) << length;
    }
}

TEST(ImageChecksum, PadCountAndPaddedSum) {
    struct Case {
        size_t length;
        uint32_t pad;
    } cases[] = {{0, 0}, {1, 3}, {2, 2}, {3, 1}, {4, 0}, {1000, 0}, {1001, 3}, {1003, 1}};
    for (const auto& c : cases) EXPECT_EQ(ImagePadCount(c.length), c.pad) << c.length;

    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(ImageChecksum(abc, 3), 0x225u);  // 0x61 + 0x62 + 0x63 + 0xFF
    SetUiLanguage(UiLanguage::English);
    EXPECT_EQ(FormatStringText(TEXT_BIN_CHECKSUM, ImageChecksum(abc, 3)), "Checksum: 0x00000225\r\n");

    std::vector<uint8_t> image(1001);
    for (size_t k = 0; k < image.size(); ++k) image[k] = static_cast<uint8_t>(k * 7);
    const uint32_t sum = std::accumulate(image.begin(), image.end(), 0u);
    EXPECT_EQ(ImageChecksum(image.data(), image.size()), sum + 765);

    // The sum wraps at 32 bits.
    std::vector<uint8_t> big(16843012, 0xFF);  // 0xFF * 16843012 > 2^32
    EXPECT_EQ(ImageChecksum(big.data(), big.size()), static_cast<uint32_t>(0xFFull * big.size()));
}

struct PlanCase {
    size_t length;
    uint32_t maxPacket;
    std::vector<size_t> n;  // data bytes per packet
    size_t lastPad;
};

TEST(PacketPlan, SplitsByMaxPacketMinusTwenty) {
    const PlanCase cases[] = {
        {1000, 256, {236, 236, 236, 236, 56}, 0},
        {1001, 256, {236, 236, 236, 236, 57}, 3},
        {9, 23, {3, 3, 3}, 0},      // a multiple of D but not of 4: the last packet is full, no pad
        {3, 21, {1, 1, 1}, 0},      // M = 21: one byte per packet
        {5, 200, {5}, 3},
        {1000, 20, {}, 0},          // M <= 20: nothing is sent
        {1000, 0, {}, 0},
    };
    for (const auto& c : cases) {
        const auto plan = PlanDownloadPackets(c.length, c.maxPacket);
        ASSERT_EQ(plan.size(), c.n.size()) << c.length << "/" << c.maxPacket;
        size_t offset = 0;
        for (size_t k = 0; k < plan.size(); ++k) {
            EXPECT_EQ(plan[k].serial, k);
            EXPECT_EQ(plan[k].offset, offset);
            EXPECT_EQ(plan[k].n, c.n[k]);
            EXPECT_EQ(plan[k].p, k + 1 == plan.size() ? c.lastPad : 0u);
            offset += plan[k].n;
        }
        if (!plan.empty()) {
            EXPECT_EQ(offset, c.length);
        }
    }
}

TEST(PacketPlan, PayloadsOfThe1001ByteImage) {
    std::vector<uint8_t> image(1001);
    for (size_t k = 0; k < image.size(); ++k) image[k] = static_cast<uint8_t>(k);
    const auto plan = PlanDownloadPackets(image.size(), 256);
    std::vector<size_t> lengths;
    CBaseBuffer pack;
    for (const auto& p : plan) {
        BuildDownloadPack(pack, p.serial, image.data() + p.offset, p.n, p.p);
        lengths.push_back(pack.GetAvailSize());
        const uint8_t* b = pack.GetBuffer();
        EXPECT_EQ(U32At(b), p.serial);
        uint32_t sum = 0;
        for (size_t k = 8; k < pack.GetAvailSize(); ++k) sum += b[k];
        EXPECT_EQ(U32At(b + 4), sum);
        EXPECT_EQ(0, std::memcmp(b + 8, image.data() + p.offset, p.n));
        for (size_t k = 0; k < p.p; ++k) EXPECT_EQ(b[8 + p.n + k], 0xFF);
    }
    EXPECT_EQ(lengths, (std::vector<size_t>{244, 244, 244, 244, 68}));
}

TEST(PacketPlan, FileInformationPayload) {
    const auto info = BuildFileInfoPayload(2, 1001, 0xA1B2C3D4);
    EXPECT_EQ(U32At(info.data()), 0x4u);
    EXPECT_EQ(U32At(info.data() + 4), 1001u);  // unpadded length
    EXPECT_EQ(U32At(info.data() + 8), 0xA1B2C3D4u);
    EXPECT_EQ(U32At(BuildFileInfoPayload(31, 0, 0).data()), 0x80000000u);
}

TEST(RunningModes, NamesShown) {
    EXPECT_STREQ(RunningModeName(1), "BootLoader");
    EXPECT_STREQ(RunningModeName(2), "App0");
    EXPECT_STREQ(RunningModeName(4), "App1");
    EXPECT_STREQ(RunningModeName(3), "Unknown");
    EXPECT_STREQ(RunningModeName(0), "Unknown");
}

TEST(BootloaderProcedures, NoPortRefusesAtOnceWithoutOpening) {
    SetUiLanguage(UiLanguage::English);
    RecordingBootSink sink;
    CBootloader boot(sink);
    boot.portNumber = 0;
    EXPECT_FALSE(boot.UpdateFWInfo());
    EXPECT_FALSE(boot.DownloadFW(0, "/nonexistent.bin"));
    const RecordingBootSink::Record seen = sink.Snapshot();
    ASSERT_EQ(seen.messages.size(), 2u);
    EXPECT_EQ(seen.messages[0], (std::pair<int, std::string>(TEXT_PORT_NOT_CHOSEN, "Port No. cannot be NULL!")));
    EXPECT_EQ(seen.messages[1].first, TEXT_PORT_NOT_CHOSEN);
    EXPECT_TRUE(seen.log.empty());
    EXPECT_TRUE(seen.busy.empty());
    EXPECT_FALSE(TAVO_Interface_RadarDevice_IsConnected(boot.Device()));
}

}  // namespace
