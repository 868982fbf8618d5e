// Raw reads of the report stream: cancelling a blocked read, and a line that
// goes away under a reader.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/SimulatedSensor.h"
#include "support/ThreadState.h"

namespace {

using Clock = std::chrono::steady_clock;

// A read that is to be ended by something else waits this long by itself: far
// beyond the hang guard, so that a read that ran into its time-out is told apart.
constexpr int LONG_READ_MS = 60000;

long long MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// A sensor whose report output is off: reads block until their time-out.
VirtualSensorOptions QuietLineOptions()
{
    VirtualSensorOptions options = FastSensorOptions();
    options.reportOutputOn = false;
    return options;
}

class DeviceReadTest : public SensorTest {};

TEST_F(DeviceReadTest, CancelReadEndsABlockedRead)
{
    ASSERT_TRUE(StartSensor(QuietLineOptions()));
    ASSERT_TRUE(OpenPlain());

    for (int attempt = 0; attempt < 3; ++attempt) {
        std::atomic<pid_t> readerId{0};
        std::atomic<int> result{-99};
        Clock::time_point returned;
        std::thread reader([&] {
            uint8_t buffer[64];
            readerId.store(CurrentThreadId());
            result.store(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), LONG_READ_MS, 0));
            returned = Clock::now();
        });
        EXPECT_TRUE(WaitUntil([&] { return readerId.load() != 0 && ThreadWaitsInPoll(readerId.load()); }))
            << "the read never blocked";
        // Asking from this thread does not wait for the blocked read.
        EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 1);
        const Clock::time_point cancelled = Clock::now();
        TAVO_Interface_RadarDevice_CancelRead(device_);
        reader.join();
        EXPECT_EQ(result.load(), 0);
        EXPECT_GE(returned, cancelled) << "the read ended after the cancel";
        EXPECT_LT(MsBetween(cancelled, returned), HANG_GUARD_MS) << "the read waited for its time-out, attempt "
                                                                 << attempt;
    }
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 1);
}

TEST_F(DeviceReadTest, CancelWithNoReaderMakesTheNextReadReturnAtOnceOnlyOnce)
{
    ASSERT_TRUE(StartSensor(QuietLineOptions()));
    ASSERT_TRUE(OpenPlain());
    TAVO_Interface_RadarDevice_CancelRead(device_);
    uint8_t buffer[64];
    const auto start = Clock::now();
    EXPECT_EQ(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), LONG_READ_MS, 0), 0);
    EXPECT_LT(MsSince(start), HANG_GUARD_MS) << "the read waited for its time-out";
    // The cancel is used up: the next read waits out its own time-out.
    const auto second = Clock::now();
    EXPECT_EQ(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 200, 0), 0);
    EXPECT_GE(MsSince(second), 190);
}

TEST_F(DeviceReadTest, BytesAfterAReplyAreHandedToTheNextRead)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.requireCmdMode = false;
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(OpenPlain());
    // A reply with a report frame right behind it, as one burst. It is sent once
    // the sensor has the command: the library drops what came before it sent.
    const uint16_t key = 0;
    const uint32_t on = 1;
    sensor_->SetSilent(true);
    const uint64_t commandsBefore = sensor_->Counters().commandsReceived;
    std::thread injector([&] {
        if (!WaitUntil([&] { return sensor_->Counters().commandsReceived > commandsBefore; })) {
            return;  // the call below fails with its time-out
        }
        sensor_->InjectBytes({0xFD, 0xFC, 0xFB, 0xFA, 0x04, 0x00, 0x7A, 0x01, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01,
                              0xF4, 0xF3, 0xF2, 0xF1, 0x03, 0x00, 0x03, 0x2A, 0x00, 0xF8, 0xF7, 0xF6, 0xF5});
    });
    const int written =
        TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, 0x7A, 1, &key, &on, HANG_GUARD_MS + 5000);
    injector.join();
    ASSERT_EQ(written, 1);
    uint8_t buffer[64] = {};
    ASSERT_EQ(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), SETUP_REPLY_TIMEOUT_MS, 0), 13);
    EXPECT_EQ(buffer[0], 0xF4);
    EXPECT_EQ(buffer[7], 0x2A);
    EXPECT_EQ(buffer[12], 0xF5);
}

TEST_F(DeviceReadTest, HangUpClosesThePortAndReadsFailWithoutSpinning)
{
    ASSERT_TRUE(StartSensor(QuietLineOptions()));
    ASSERT_TRUE(OpenPlain());

    std::atomic<pid_t> readerId{0};
    std::atomic<int> result{-99};
    Clock::time_point started;
    Clock::time_point returned;
    std::thread reader([&] {
        uint8_t buffer[64];
        started = Clock::now();
        readerId.store(CurrentThreadId());
        result.store(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), LONG_READ_MS, 0));
        returned = Clock::now();
    });
    // The hang-up meets the read while it waits.
    EXPECT_TRUE(WaitUntil([&] { return readerId.load() != 0 && ThreadWaitsInPoll(readerId.load()); }))
        << "the read never blocked";
    sensor_->HangUp();
    reader.join();
    EXPECT_LT(result.load(), 0);
    EXPECT_LT(MsBetween(started, returned), HANG_GUARD_MS)
        << "the read that met the hang-up did not wait out its time-out";
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0);

    // Later reads fail too; they idle for their time-out instead of returning at
    // once, so that a retrying worker does not spin, and a cancel still ends them.
    uint8_t buffer[64];
    const auto idle = Clock::now();
    EXPECT_LT(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 150, 0), 0);
    EXPECT_GE(MsSince(idle), 140);
    TAVO_Interface_RadarDevice_CancelRead(device_);
    const auto cancelled = Clock::now();
    EXPECT_LT(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), LONG_READ_MS, 0), 0);
    EXPECT_LT(MsSince(cancelled), HANG_GUARD_MS) << "the cancel did not end the idle read";

    EXPECT_EQ(TAVO_Interface_RadarDevice_Protocol_SendCommand(device_, 0x60, nullptr, 0, nullptr, 0, 100),
              RADAR_ERR_NOT_CONNECTED);
    EXPECT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, 100), 0);
}

TEST_F(DeviceReadTest, HangUpOfAnIdlePortShowsInIsConnected)
{
    ASSERT_TRUE(StartSensor(QuietLineOptions()));
    ASSERT_TRUE(OpenInCommandMode());
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 1);
    sensor_->HangUp();
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0) << "no call used the line in between";
    EXPECT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, 100), 0);
}

TEST_F(DeviceReadTest, SensorThatHangsUpByItselfEndsAStreamingReader)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.streamTimeScale = 20.0;
    options.hangUpAfterMs = 300;  // after the port is opened
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(OpenPlain());
    uint8_t buffer[256];
    int bytes = 0;
    int n = 0;
    const auto start = Clock::now();
    while ((n = TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 2000, 0)) >= 0 &&
           MsSince(start) < HANG_GUARD_MS) {
        bytes += n;
    }
    EXPECT_LT(n, 0) << "the reads went on after the hang-up";
    EXPECT_GT(bytes, 0) << "reports streamed before the hang-up";
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0);
    EXPECT_FALSE(sensor_->IsRunning());
}

TEST_F(DeviceReadTest, HungUpPortCanBeOpenedAgainOnceTheSensorIsBack)
{
    ASSERT_TRUE(StartSensor(QuietLineOptions()));
    ASSERT_TRUE(OpenInCommandMode());
    sensor_->HangUp();
    uint8_t buffer[16];
    EXPECT_LT(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 1000, 0), 0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0);

    VirtualSensor replacement(FastSensorOptions());
    ASSERT_TRUE(replacement.Start());
    ASSERT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, replacement.PortPath().c_str(), 256000, 2, 1, 1, 1,
                                                           SETUP_REPLY_TIMEOUT_MS),
              1);
    std::string version;
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetVersion(device_, version), 1);
    EXPECT_EQ(version, "v1.0.2");
    TAVO_Interface_RadarDevice_Serial_Close(device_);
}

}  // namespace
