// Raw reads of the report stream: cancelling a blocked read, and a line that
// goes away under a reader.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SimulatorFixture.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// A sensor whose report output is off: reads block until their time-out.
VirtualSensorOptions QuietLineOptions()
{
    VirtualSensorOptions options = FastOptions();
    options.reportOutputOn = false;
    return options;
}

class DeviceReadTest : public SimulatorFixture {};

TEST_F(DeviceReadTest, CancelReadReturnsABlockedReadWithin100Ms)
{
    StartSensor(QuietLineOptions());
    ASSERT_EQ(OpenPlain(), 1);

    for (int attempt = 0; attempt < 3; ++attempt) {
        std::atomic<bool> entered{false};
        std::atomic<int> result{-99};
        Clock::time_point returned;
        std::thread reader([&] {
            uint8_t buffer[64];
            entered.store(true);
            result.store(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 5000, 0));
            returned = Clock::now();
        });
        while (!entered.load()) {
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it block in poll
        // Asking from this thread does not wait for the blocked read.
        EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 1);
        const Clock::time_point cancelled = Clock::now();
        TAVO_Interface_RadarDevice_CancelRead(device_);
        reader.join();
        EXPECT_EQ(result.load(), 0);
        EXPECT_GE(returned, cancelled) << "the read ended by the cancel, not by its time-out";
        EXPECT_LT(MsBetween(cancelled, returned), 100) << "attempt " << attempt;
    }
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 1);
}

TEST_F(DeviceReadTest, CancelWithNoReaderMakesTheNextReadReturnAtOnceOnlyOnce)
{
    StartSensor(QuietLineOptions());
    ASSERT_EQ(OpenPlain(), 1);
    TAVO_Interface_RadarDevice_CancelRead(device_);
    uint8_t buffer[64];
    const auto start = Clock::now();
    EXPECT_EQ(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 5000, 0), 0);
    EXPECT_LT(MsBetween(start, Clock::now()), 1000);
    // The cancel is used up: the next read waits out its own time-out.
    const auto second = Clock::now();
    EXPECT_EQ(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 200, 0), 0);
    EXPECT_GE(MsBetween(second, Clock::now()), 190);
}

TEST_F(DeviceReadTest, BytesAfterAReplyAreHandedToTheNextRead)
{
    VirtualSensorOptions options = FastOptions();
    options.requireCmdMode = false;
    StartSensor(options);
    ASSERT_EQ(OpenPlain(), 1);
    // A reply with a report frame right behind it, as one burst.
    const uint16_t key = 0;
    const uint32_t on = 1;
    sensor_->SetSilent(true);
    std::thread injector([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sensor_->InjectBytes({0xFD, 0xFC, 0xFB, 0xFA, 0x04, 0x00, 0x7A, 0x01, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01,
                              0xF4, 0xF3, 0xF2, 0xF1, 0x03, 0x00, 0x03, 0x2A, 0x00, 0xF8, 0xF7, 0xF6, 0xF5});
    });
    const int written = TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, 0x7A, 1, &key, &on, 2000);
    injector.join();
    ASSERT_EQ(written, 1);
    uint8_t buffer[64] = {};
    ASSERT_EQ(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 500, 0), 13);
    EXPECT_EQ(buffer[0], 0xF4);
    EXPECT_EQ(buffer[7], 0x2A);
    EXPECT_EQ(buffer[12], 0xF5);
}

TEST_F(DeviceReadTest, HangUpClosesThePortAndReadsFailWithoutSpinning)
{
    StartSensor(QuietLineOptions());
    ASSERT_EQ(OpenPlain(), 1);

    std::atomic<int> result{-99};
    Clock::time_point started;
    Clock::time_point returned;
    std::thread reader([&] {
        uint8_t buffer[64];
        started = Clock::now();
        result.store(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 5000, 0));
        returned = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sensor_->HangUp();
    reader.join();
    EXPECT_LT(result.load(), 0);
    EXPECT_LT(MsBetween(started, returned), 5000) << "the read that met the hang-up did not wait out its time-out";
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0);

    // Later reads fail too; they idle for their time-out instead of returning at
    // once, so that a retrying worker does not spin, and a cancel still ends them.
    uint8_t buffer[64];
    const auto idle = Clock::now();
    EXPECT_LT(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 150, 0), 0);
    EXPECT_GE(MsBetween(idle, Clock::now()), 140);
    TAVO_Interface_RadarDevice_CancelRead(device_);
    EXPECT_LT(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 5000, 0), 0);

    EXPECT_EQ(TAVO_Interface_RadarDevice_Protocol_SendCommand(device_, 0x60, nullptr, 0, nullptr, 0, 100),
              RADAR_ERR_NOT_CONNECTED);
    EXPECT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, 100), 0);
}

TEST_F(DeviceReadTest, HangUpOfAnIdlePortShowsInIsConnected)
{
    StartSensor(QuietLineOptions());
    ASSERT_EQ(OpenInCommandMode(), 1);
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 1);
    sensor_->HangUp();
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0) << "no call used the line in between";
    EXPECT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, 100), 0);
}

TEST_F(DeviceReadTest, SensorThatHangsUpByItselfEndsAStreamingReader)
{
    VirtualSensorOptions options = FastOptions();
    options.streamTimeScale = 20.0;
    options.hangUpAfterMs = 300;
    StartSensor(options);
    ASSERT_EQ(OpenPlain(), 1);
    uint8_t buffer[256];
    int bytes = 0;
    int n = 0;
    int reads = 0;
    while ((n = TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 2000, 0)) >= 0 && reads < 10000) {
        bytes += n;
        ++reads;
    }
    EXPECT_LT(n, 0);
    EXPECT_GT(bytes, 0) << "reports streamed before the hang-up";
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0);
    EXPECT_FALSE(sensor_->IsRunning());
}

TEST_F(DeviceReadTest, HungUpPortCanBeOpenedAgainOnceTheSensorIsBack)
{
    StartSensor(QuietLineOptions());
    ASSERT_EQ(OpenInCommandMode(), 1);
    sensor_->HangUp();
    uint8_t buffer[16];
    EXPECT_LT(TAVO_Interface_RadarDevice_ReadData(device_, buffer, sizeof(buffer), 1000, 0), 0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0);

    VirtualSensor replacement(FastOptions());
    ASSERT_TRUE(replacement.Start());
    ASSERT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, replacement.PortPath().c_str(), 256000, 2, 1, 1, 1,
                                                           150),
              1);
    std::string version;
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetVersion(device_, version), 1);
    EXPECT_EQ(version, "v1.0.2");
    TAVO_Interface_RadarDevice_Serial_Close(device_);
}

}  // namespace
