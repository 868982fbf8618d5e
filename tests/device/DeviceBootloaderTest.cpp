// A firmware image written through the raw bootloader commands, as the firmware
// window sends them, changes the version the sensor reports.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/SimulatedSensor.h"

namespace {

constexpr uint16_t MALFORMED_BOOT_REPLY = 0xA005;

// The bootloader's reply is u16 status + u32 value; the value goes to *context.
uint16_t BootReply(eRADAR_PROTOCOL_VERSION, const uint8_t* reply, int length, uint64_t context)
{
    if (length != 6) {
        return MALFORMED_BOOT_REPLY;
    }
    uint32_t value = 0;
    std::memcpy(&value, reply + 2, 4);
    *reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(context)) = value;
    return static_cast<uint16_t>(reply[0] | (reply[1] << 8));
}

class DeviceBootloaderTest : public SensorTest {
protected:
    uint16_t Boot(uint16_t command, const std::vector<uint8_t>& payload, uint32_t& value, int timeoutMs = 3500)
    {
        return TAVO_Interface_RadarDevice_Protocol_SendCommand(device_, command, payload.data(),
                                                               static_cast<int>(payload.size()), &BootReply,
                                                               reinterpret_cast<uintptr_t>(&value), timeoutMs);
    }

    static void PutU32(std::vector<uint8_t>& out, uint32_t v)
    {
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<uint8_t>(v >> shift));
        }
    }

    // Software reset; once the sensor is back from it, the bootloader answers for itself.
    void EnterBootloader()
    {
        ASSERT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, SETUP_REPLY_TIMEOUT_MS), 1);
        TAVO_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(device_, 0x64, nullptr, 0);
        ASSERT_TRUE(WaitUntil([&] { return sensor_->Counters().softwareResets > 0 && !sensor_->Restarting(); }));
        uint32_t mode = 0;
        ASSERT_EQ(Boot(0x60, {}, mode), 0);
        ASSERT_EQ(mode, 1u);
    }

    // Announces and sends the image in packets of M - 20 data bytes, the last one
    // padded with 0xFF to a multiple of 4; the status of the first failure, or 0.
    uint16_t Download(const std::vector<uint8_t>& image, int partition, uint32_t checksumError = 0)
    {
        const uint32_t length = static_cast<uint32_t>(image.size());
        const uint32_t pad = length % 4 == 0 ? 0 : 4 - length % 4;
        uint32_t checksum = 255u * pad;
        for (uint8_t b : image) {
            checksum += b;
        }
        std::vector<uint8_t> info;
        PutU32(info, 1u << partition);
        PutU32(info, length);
        PutU32(info, checksum + checksumError);
        uint32_t value = 0;
        uint16_t status = Boot(0x62, info, value, 10000);
        if (status != 0) {
            return status;
        }
        const uint32_t maxPacket = value & 0xFFFF;
        EXPECT_GT(maxPacket, 20u);
        const uint32_t dataSize = maxPacket - 20;
        uint32_t offset = 0;
        for (uint32_t serial = 0; offset < length; ++serial) {
            const uint32_t n = std::min(dataSize, length - offset);
            const uint32_t p = length - offset < dataSize ? pad : 0;
            std::vector<uint8_t> packet;
            PutU32(packet, serial);
            uint32_t sum = 255u * p;
            for (uint32_t i = 0; i < n; ++i) {
                sum += image[offset + i];
            }
            PutU32(packet, sum);
            packet.insert(packet.end(), image.begin() + offset, image.begin() + offset + n);
            packet.insert(packet.end(), p, 0xFF);
            status = Boot(0x63, packet, value);
            if (status != 0) {
                return status;
            }
            offset += n;
        }
        return 0;
    }
};

TEST_F(DeviceBootloaderTest, ImageWrittenThroughTheBootloaderChangesTheReportedVersion)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.deviceId = 0x520C1234;
    options.partitionMask = 0x3;
    options.maxPacketSize = 256;
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(OpenPlain());

    uint32_t value = 0;
    ASSERT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, SETUP_REPLY_TIMEOUT_MS), 1);
    ASSERT_EQ(Boot(0x60, {}, value), 0);
    EXPECT_EQ(value, 2u) << "running App0";
    ASSERT_EQ(Boot(0x65, {}, value), 0);
    EXPECT_EQ(value, 0x520C1234u);
    ASSERT_EQ(Boot(0x61, {}, value), 0);
    EXPECT_EQ(value, 0x3u);

    EnterBootloader();
    // Odd length: the last packet carries pad bytes; several packets of 236 bytes.
    const std::vector<uint8_t> image = BuildSimFirmwareImage("v2.3.4", 1001);
    ASSERT_NE(image.size() % 4, 0u);
    ASSERT_EQ(Download(image, 1), 0);
    EXPECT_EQ(sensor_->FlashPartition(1), image);

    // The new application starts by itself; it streams until asked for command mode.
    std::string version;
    ASSERT_TRUE(WaitUntil([&] { return sensor_->RunningMode() == SIM_MODE_APP1; }));
    ASSERT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, SETUP_REPLY_TIMEOUT_MS), 1);
    ASSERT_EQ(TAVO_Interface_RadarDevice_GetVersion(device_, version), 1);
    EXPECT_EQ(version, "v2.3.4");
    ASSERT_EQ(Boot(0x60, {}, value), 0);
    EXPECT_EQ(value, 4u) << "running App1";
}

TEST_F(DeviceBootloaderTest, ImageWithAWrongChecksumIsRefusedAndTheOldFirmwareStays)
{
    ASSERT_TRUE(StartSensor());
    ASSERT_TRUE(OpenPlain());
    EnterBootloader();
    const std::vector<uint8_t> image = BuildSimFirmwareImage("v9.9.9", 500);
    const uint16_t status = Download(image, 0, 1);
    EXPECT_NE(status, 0);
    EXPECT_EQ(sensor_->RunningMode(), static_cast<uint32_t>(SIM_MODE_BOOTLOADER));

    // A good download afterwards still works and starts.
    ASSERT_EQ(Download(BuildSimFirmwareImage("v3.0.0", 500), 0), 0);
    EXPECT_TRUE(WaitUntil([&] { return sensor_->RunningMode() == SIM_MODE_APP0; }));
    EXPECT_EQ(sensor_->Version(), "v3.0.0");
}

TEST_F(DeviceBootloaderTest, BootloaderRefusalsCarryAnErrorStatus)
{
    ASSERT_TRUE(StartSensor());
    ASSERT_TRUE(OpenPlain());
    uint32_t value = 0;
    ASSERT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, SETUP_REPLY_TIMEOUT_MS), 1);
    std::vector<uint8_t> info;
    PutU32(info, 1);
    PutU32(info, 100);
    PutU32(info, 0);
    EXPECT_NE(Boot(0x62, info, value), 0) << "the application does not take images";

    EnterBootloader();
    std::vector<uint8_t> badPartition;
    PutU32(badPartition, 1u << 5);  // not in the mask 0x3
    PutU32(badPartition, 100);
    PutU32(badPartition, 0);
    EXPECT_NE(Boot(0x62, badPartition, value), 0);
    std::vector<uint8_t> packet;
    PutU32(packet, 0);
    PutU32(packet, 0);
    packet.push_back(0);
    EXPECT_NE(Boot(0x63, packet, value), 0) << "a packet before any file information";

    // A reply of the wrong length fails the check with its own code.
    EXPECT_EQ(TAVO_Interface_RadarDevice_Protocol_SendCommand(device_, 0x00FE, nullptr, 0, &BootReply,
                                                              reinterpret_cast<uintptr_t>(&value), 500),
              MALFORMED_BOOT_REPLY);
}

}  // namespace
