// Parameter writes and reads by id, and replies picked out of a busy line.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "support/SimulatedSensor.h"

namespace {

class DeviceParameterTest : public SensorTest {};

TEST_F(DeviceParameterTest, DetectionSettingWrittenIsReadBack)
{
    ASSERT_TRUE(StartSensor());
    ASSERT_TRUE(OpenInCommandMode());

    // Keys in the order the tool sends them; values as it encodes them.
    const uint16_t keys[6] = {10, 5, 11, 2, 12, 6};
    const uint32_t written[6] = {2, 9, 10, 80, 20, 120};
    ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, 112, 6, keys, written, 2000), 1);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(sensor_->ConfigValue(keys[i]), written[i]) << "key " << keys[i];
    }
    uint32_t read[6] = {};
    ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, 113, 6, keys, read, 2000), 1);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(read[i], written[i]) << "key " << keys[i];
    }
}

TEST_F(DeviceParameterTest, FreshSensorHoldsTheDefaultConfiguration)
{
    ASSERT_TRUE(StartSensor());
    ASSERT_TRUE(OpenInCommandMode());
    const uint16_t keys[6] = {10, 5, 11, 2, 12, 6};
    uint32_t read[6] = {};
    ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, 113, 6, keys, read, 2000), 1);
    const uint32_t expected[6] = {0, 12, 5, 40, 5, 40};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(read[i], expected[i]) << "key " << keys[i];
    }
}

TEST_F(DeviceParameterTest, GateTablesWrittenAreReadBackUnderTheirReadIds)
{
    ASSERT_TRUE(StartSensor());
    ASSERT_TRUE(OpenInCommandMode());
    uint16_t gates[16];
    for (uint16_t g = 0; g < 16; ++g) {
        gates[g] = g;
    }
    struct Case {
        uint16_t writeId;
        uint16_t readId;
        uint32_t base;
    };
    const Case cases[] = {{114, 115, 60}, {116, 117, 40}, {118, 119, 20}};
    for (const Case& c : cases) {
        uint32_t values[16];
        for (int g = 0; g < 16; ++g) {
            values[g] = c.base + static_cast<uint32_t>(g);
        }
        ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, c.writeId, 16, gates, values, 2000), 1)
            << "id " << c.writeId;
        uint32_t read[16] = {};
        ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, c.readId, 16, gates, read, 2000), 1)
            << "id " << c.readId;
        const std::array<uint32_t, 16> stored = sensor_->GateTable(c.writeId);
        for (int g = 0; g < 16; ++g) {
            EXPECT_EQ(read[g], values[g]) << "id " << c.readId << " gate " << g;
            EXPECT_EQ(stored[g], values[g]) << "id " << c.writeId << " gate " << g;
        }
    }
}

TEST_F(DeviceParameterTest, WriteWithAnUnknownKeyFailsAndChangesNothing)
{
    ASSERT_TRUE(StartSensor());
    ASSERT_TRUE(OpenInCommandMode());
    const uint16_t keys[2] = {10, 99};
    const uint32_t values[2] = {3, 3};
    EXPECT_EQ(TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, 112, 2, keys, values, 2000), 0);
    EXPECT_EQ(sensor_->ConfigValue(10), 0u);
    uint32_t read[2] = {7, 7};
    EXPECT_EQ(TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, 113, 2, keys, read, 2000), 0);
    EXPECT_EQ(read[0], 7u);
}

TEST_F(DeviceParameterTest, OutputSwitchStopsAndStartsTheReportStream)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.streamTimeScale = 40.0;  // a report every 6 ms
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(OpenInCommandMode());
    const uint16_t key = 0;
    const uint32_t off = 0;
    const uint32_t on = 1;
    ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, 0x7A, 1, &key, &off, 2000), 1);
    EXPECT_FALSE(sensor_->ReportOutputOn());
    TAVO_Interface_RadarDevice_StopCmdMode(device_);

    uint8_t buffer[256];
    EXPECT_EQ(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 150, 0), 0) << "nothing streams";

    ASSERT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, SETUP_REPLY_TIMEOUT_MS), 1);
    ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, 0x7A, 1, &key, &on, 2000), 1);
    TAVO_Interface_RadarDevice_StopCmdMode(device_);
    std::vector<uint8_t> stream;
    for (int i = 0; i < 50 && stream.size() < 160; ++i) {
        const int n = TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 500, 0);
        ASSERT_GE(n, 0);
        stream.insert(stream.end(), buffer, buffer + n);
    }
    ASSERT_GE(stream.size(), 80u);
    // The stream is whole report frames: header, length 70, type 1, tail.
    const std::vector<uint8_t> header = {0xF4, 0xF3, 0xF2, 0xF1, 70, 0, 1};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), stream.begin()));
    EXPECT_EQ(stream[76], 0xF8);
    EXPECT_EQ(stream[79], 0xF5);
}

// The sensor keeps streaming reports (it answers outside command mode here) and
// sends noise after every frame, more than the paced line can carry, so every
// reply queues behind reports and noise; each must still be found.
TEST_F(DeviceParameterTest, RepliesAreFoundAmongReportFramesNoiseAndForeignReplies)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.pacing = true;            // at the line's 115200 baud
    options.streamTimeScale = 100.0;  // a report every 2.5 ms, then every 1.25 ms
    options.noiseBytesBetweenFrames = 13;
    options.requireCmdMode = false;
    options.seed = 7;
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(OpenPlain(115200));
    uint8_t scratch[512];
    while (sensor_->Counters().reportFramesSent < 20) {
        ASSERT_GE(TAVO_Interface_RadarDevice_ReadData(device_, scratch, sizeof(scratch), 500, 0), 0);
    }

    const uint16_t keys[6] = {10, 5, 11, 2, 12, 6};
    const uint32_t written[6] = {1, 11, 10, 80, 10, 60};
    ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, 112, 6, keys, written, 2000), 1);
    for (int round = 0; round < 20; ++round) {
        if (round % 3 == 0) {
            // Queued behind the reports, so they arrive after the command: a whole
            // reply to another word, a frame of our word with a broken tail, a lone header.
            sensor_->InjectBytes({0xFD, 0xFC, 0xFB, 0xFA, 0x04, 0x00, 0x70, 0x01, 0x00, 0x00, 0x04, 0x03,
                                  0x02, 0x01, 0xFD, 0xFC, 0xFB, 0xFA, 0x06, 0x00, 0x71, 0x01, 0x00, 0x00,
                                  0xEE, 0xEE, 0xEE, 0xEE, 0x04, 0x03, 0x02, 0x01, 0xF4, 0xF3, 0xF2, 0xF1});
        }
        uint32_t read[6] = {};
        ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, 113, 6, keys, read, 2000), 1)
            << "round " << round;
        for (int i = 0; i < 6; ++i) {
            ASSERT_EQ(read[i], written[i]) << "round " << round << " key " << keys[i];
        }
    }
    EXPECT_GT(sensor_->Counters().reportFramesSent, 40u);
    EXPECT_GT(sensor_->Counters().noiseBytesSent, 500u);
    EXPECT_GE(sensor_->Counters().acksSent, 21u);
}

TEST_F(DeviceParameterTest, LostRepliesFailSomeCallsWithoutDisturbingTheNext)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.lostAckRate = 0.5;
    options.seed = 3;
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(OpenPlain());
    int ok = 0;
    int failed = 0;
    const uint16_t keys[1] = {6};
    for (int i = 0; i < 40; ++i) {
        uint32_t value = 0;
        if (TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, 113, 1, keys, &value, 60) == 1) {
            EXPECT_EQ(value, 40u);
            ++ok;
        } else {
            ++failed;
        }
        if (!sensor_->InCommandMode()) {
            TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, 60);
        }
    }
    EXPECT_GT(ok, 0);
    EXPECT_GT(failed, 0);
    EXPECT_GT(sensor_->Counters().acksDropped, 0u);
}

}  // namespace

namespace {

// The generator's sequence: the command in command mode, progress frames in the
// stream after leaving it, then the new tables read back.
TEST_F(DeviceParameterTest, ThresholdGenerationProgressesToHundredAndChangesTheTables)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.timeScale = 400.0;  // 120 s in 0.3 s
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(OpenInCommandMode());
    TAVO_Interface_RadarDevice_StopCmdMode(device_);

    ASSERT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, SETUP_REPLY_TIMEOUT_MS), 1);
    const uint8_t command[6] = {4, 0, 2, 0, 120, 0};
    ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_SendCommand(device_, 9, command, 6, nullptr, 0, 2000), 0);
    TAVO_Interface_RadarDevice_StopCmdMode(device_);

    std::vector<uint8_t> stream;
    std::vector<int> progress;
    uint8_t chunk[32];
    while ((progress.empty() || progress.back() < 100) && progress.size() < 1000) {
        const int n = TAVO_Interface_RadarDevice_ReadData(device_, chunk, sizeof(chunk), 2000, 0);
        ASSERT_GT(n, 0) << "the stream stopped before 100 %";
        stream.insert(stream.end(), chunk, chunk + n);
        size_t i = 0;
        while (i + 13 <= stream.size()) {
            const bool frame = stream[i] == 0xF4 && stream[i + 1] == 0xF3 && stream[i + 2] == 0xF2 &&
                               stream[i + 3] == 0xF1 && stream[i + 4] == 3 && stream[i + 5] == 0 && stream[i + 6] == 3 &&
                               stream[i + 9] == 0xF8 && stream[i + 12] == 0xF5;
            if (frame) {
                progress.push_back(stream[i + 7] | (stream[i + 8] << 8));
                i += 13;
            } else {
                ++i;
            }
        }
        stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(i));
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    ASSERT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, SETUP_REPLY_TIMEOUT_MS), 1);
    uint16_t gates[16];
    for (uint16_t g = 0; g < 16; ++g) {
        gates[g] = g;
    }
    uint32_t trigger[16] = {};
    uint32_t hold[16] = {};
    ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, 115, 16, gates, trigger, 2000), 1);
    ASSERT_EQ(TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, 119, 16, gates, hold, 2000), 1);
    // Both tables come from the same empty-room scan: trigger = room + 6 + 4, hold = room + 3 + 2.
    for (int g = 0; g < 16; ++g) {
        EXPECT_EQ(trigger[g], hold[g] + 5) << "gate " << g;
        EXPECT_EQ(trigger[g], sensor_->GateTable(114)[g]) << "gate " << g;
    }
    EXPECT_NE(trigger[0], 48u) << "no longer the default table";
}

}  // namespace
