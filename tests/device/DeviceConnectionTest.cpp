// Opening the port, command mode, identity, and what a silent sensor gives,
// against the virtual sensor over a real pseudo-terminal.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "device/SerialPortRegistry.h"
#include "support/SimulatedSensor.h"

namespace {

using Clock = std::chrono::steady_clock;

class DeviceConnectionTest : public SensorTest {};

TEST_F(DeviceConnectionTest, SecondOpenOfAHeldPortFailsAsBusyUntilTheFirstCloses)
{
    ASSERT_TRUE(StartSensor());
    ASSERT_TRUE(OpenPlain());
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 1);
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetLastOpenError(device_), eRADAR_OPEN_OK);

    TAVO_RadarDeviceHandle other = TAVO_Interface_RadarDevice_Serial_Create();
    EXPECT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPath(other, sensor_->PortPath().c_str(), 256000, 2, 0, 0, 0, 50),
              0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetLastOpenError(other), eRADAR_OPEN_BUSY);
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(other), 0);

    TAVO_Interface_RadarDevice_Serial_Close(device_);
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPath(other, sensor_->PortPath().c_str(), 256000, 2, 0, 0, 0, 50),
              1);
    TAVO_Interface_RadarDevice_Serial_Destroy(other);
}

TEST_F(DeviceConnectionTest, OpenFailuresSayWhy)
{
    ASSERT_TRUE(StartSensor());
    EXPECT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, "/dev/does-not-exist-palo", 256000, 2, 0, 0, 0, 50),
              0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetLastOpenError(device_), eRADAR_OPEN_NO_SUCH_PORT);

    EXPECT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPortNum(device_, 0, 256000, 2, 1, 1, 1, 150), 0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetLastOpenError(device_), eRADAR_OPEN_NO_SUCH_PORT);
    EXPECT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPortNum(device_, 999999, 256000, 2, 1, 1, 1, 150), 0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetLastOpenError(device_), eRADAR_OPEN_NO_SUCH_PORT);

    // A regular file is not a serial port.
    char name[] = "/tmp/palo-not-a-tty-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, name, 256000, 2, 0, 0, 0, 50), 0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetLastOpenError(device_), eRADAR_OPEN_NOT_A_SERIAL_PORT);
    unlink(name);

    EXPECT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, sensor_->PortPath().c_str(), 0, 2, 0, 0, 0, 50), 0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetLastOpenError(device_), eRADAR_OPEN_BAD_BAUD_RATE);
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 0);
}

TEST_F(DeviceConnectionTest, PortWithoutReadPermissionIsReportedAsPermissionDenied)
{
    ASSERT_TRUE(StartSensor());
    const std::string path = sensor_->PortPath();
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(path.c_str(), 0), 0);
        EXPECT_FALSE(OpenPlain());
        EXPECT_EQ(TAVO_Interface_RadarDevice_GetLastOpenError(device_), eRADAR_OPEN_PERMISSION_DENIED);
        return;
    }
    // Root opens any device node: try as an ordinary user in a child process,
    // which reports the open error as its exit code.
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(100);
        }
        TAVO_RadarDeviceHandle device = TAVO_Interface_RadarDevice_Serial_Create();
        const int opened = TAVO_Interface_RadarDevice_Serial_OpenByPath(device, path.c_str(), 256000, 2, 0, 0, 0, 50);
        _exit(opened != 0 ? 101 : static_cast<int>(TAVO_Interface_RadarDevice_GetLastOpenError(device)));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), eRADAR_OPEN_PERMISSION_DENIED);
}

TEST_F(DeviceConnectionTest, OpensAt256000BaudThroughThePortNumberRegistry)
{
    ASSERT_TRUE(StartSensor());
    const int number = RegisterSerialPortPath(sensor_->PortPath());
    ASSERT_GT(number, 0);
    EXPECT_EQ(RegisterSerialPortPath(sensor_->PortPath()), number);
    EXPECT_EQ(SerialPortPathFromNumber(number), sensor_->PortPath());

    ASSERT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPortNum(device_, number, 256000, 2, 1, 1, 1,
                                                              SETUP_REPLY_TIMEOUT_MS),
              1);
    EXPECT_EQ(sensor_->LineBaudRate(), 256000);
    EXPECT_TRUE(sensor_->InCommandMode());
    std::string version;
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetVersion(device_, version), 1);
    EXPECT_EQ(version, "v1.0.2");

    // Reopening at another non-standard rate replaces the first line.
    ASSERT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPortNum(device_, number, 230400, 2, 0, 0, 0, 50), 1);
    EXPECT_EQ(sensor_->LineBaudRate(), 230400);
}

TEST_F(DeviceConnectionTest, CommandModeReportsTheSensorsBufferSize)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.bufferSize = 200;
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(OpenPlain());
    EXPECT_FALSE(sensor_->InCommandMode());

    EXPECT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, SETUP_REPLY_TIMEOUT_MS), 1);
    EXPECT_TRUE(sensor_->InCommandMode());
    EXPECT_EQ(TAVO_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device_), 200);

    TAVO_Interface_RadarDevice_StopCmdMode(device_);
    EXPECT_FALSE(sensor_->InCommandMode());
    // A protocol version the sensor does not speak is refused.
    EXPECT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 3, 150), 0);
    EXPECT_FALSE(sensor_->InCommandMode());
}

TEST_F(DeviceConnectionTest, VersionAndSerialNumberAreRead)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.version = "v1.4.9";
    options.serialNumber = "SN-20261210-77";
    ASSERT_TRUE(StartSensor(options));
    ASSERT_TRUE(OpenInCommandMode());

    std::string version = "stale";
    std::string serial = "stale";
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetVersion(device_, version), 1);
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetSerialNumber(device_, serial), 1);
    EXPECT_EQ(version, "v1.4.9");
    EXPECT_EQ(serial, "SN-20261210-77");

    // Outside command mode the sensor ignores the request: the call fails, the text is emptied.
    // The port is opened again with a short time-out, which is how long that call waits.
    TAVO_Interface_RadarDevice_StopCmdMode(device_);
    sensor_.CloseDevice();
    ASSERT_TRUE(sensor_.Open(OpenMode::Plain, 256000, 200));
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetVersion(device_, version), 0);
    EXPECT_EQ(version, "");
}

// Replies carry no checksum: a text that is not printable ASCII is asked for once
// more. A printable answer or the same text again is taken; two different texts
// that are both unprintable fail.
TEST_F(DeviceConnectionTest, TextsThatAreNotPrintableAreAskedForOnceMore)
{
    struct Case {
        const char* name;
        std::string serial;
        int garbled;  // replies to 0x0011 with the last byte's top bit flipped
        int expected;
        std::string text;
        uint64_t asks;
    };
    const Case cases[] = {
        {"printable", "SN-7", 0, 1, "SN-7", 1},
        {"corrupted once", "SN-7", 1, 1, "SN-7", 2},
        {"the same twice", "SN-7", 2, 1, "SN-\xB7", 2},
        {"held by the sensor", "SN\xFF\xFE", 0, 1, "SN\xFF\xFE", 2},
        {"two different", "SN\xFF", 1, 0, "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualSensorOptions options = FastSensorOptions();
        options.serialNumber = c.serial;
        options.garbleReplyCommand = 0x0011;
        options.garbleReplyCount = c.garbled;
        ASSERT_TRUE(StartSensor(options));
        ASSERT_TRUE(OpenInCommandMode());
        const uint64_t before = sensor_->Counters().commandsReceived;
        std::string serial = "stale";
        EXPECT_EQ(TAVO_Interface_RadarDevice_GetSerialNumber(device_, serial), c.expected);
        EXPECT_EQ(serial, c.text);
        EXPECT_EQ(sensor_->Counters().commandsReceived - before, c.asks);
    }
}

TEST_F(DeviceConnectionTest, SilentSensorTimesOutWith0xA003AndStillLeavesThePortOpen)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.silent = true;
    ASSERT_TRUE(StartSensor(options));
    // Entering command mode on open fails quietly; the port stays open.
    ASSERT_TRUE(OpenInCommandMode(256000, 150));
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device_), 1);

    const auto start = Clock::now();
    const uint16_t status = TAVO_Interface_RadarDevice_Protocol_SendCommand(device_, 0x0009, "\x02\x00\x01\x00\x78\x00",
                                                                            6, nullptr, 0, 300);
    EXPECT_EQ(status, RADAR_ERR_TIMEOUT);
    EXPECT_GE(MsSince(start), 290);

    const uint16_t keys[2] = {10, 5};
    uint32_t values[2] = {77, 88};
    EXPECT_EQ(TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, 113, 2, keys, values, 200), 0);
    EXPECT_EQ(values[0], 77u);
    EXPECT_EQ(values[1], 88u);
    EXPECT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, 150), 0);
    EXPECT_GT(sensor_->Counters().commandsReceived, 0u) << "the sensor heard the commands";
    EXPECT_EQ(sensor_->Counters().bytesSent, 0u);
}

TEST_F(DeviceConnectionTest, CallsOnAClosedHandleReportNotConnected)
{
    ASSERT_TRUE(StartSensor());
    EXPECT_EQ(TAVO_Interface_RadarDevice_Protocol_SendCommand(device_, 0x60, nullptr, 0, nullptr, 0, 100),
              RADAR_ERR_NOT_CONNECTED);
    EXPECT_EQ(TAVO_Interface_RadarDevice_StartCmdMode(device_, 2, 100), 0);
    std::string version = "x";
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetVersion(device_, version), 0);
    EXPECT_EQ(version, "");
    EXPECT_EQ(sensor_->Counters().bytesReceived, 0u);
}

TEST(CheckCmdAckDataRetCode, StatusIsTheFirst16BitFieldAndShortRepliesAreMalformed)
{
    const uint8_t ok[] = {0x00, 0x00, 0x05};
    const uint8_t refused[] = {0x03, 0x01};
    const uint8_t shortReply[] = {0x01};
    EXPECT_EQ(CheckCmdAckData_RetCode(eRADAR_PROTOCOL_VERSION_2, ok, 3, 0), 0);
    EXPECT_EQ(CheckCmdAckData_RetCode(eRADAR_PROTOCOL_VERSION_2, refused, 2, 0), 0x0103);
    EXPECT_EQ(CheckCmdAckData_RetCode(eRADAR_PROTOCOL_VERSION_2, shortReply, 1, 0), RADAR_ERR_MALFORMED_REPLY);
    EXPECT_EQ(CheckCmdAckData_RetCode(eRADAR_PROTOCOL_VERSION_2, nullptr, 0, 0), RADAR_ERR_MALFORMED_REPLY);
}

}  // namespace
