// The virtual sensor on its terminal: pacing, the link, start-up errors, and the
// palo520g-sim program.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "device/RadarDevice.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Reads until `count` bytes came or reads stop delivering; returns the bytes read.
int ReadAtLeast(TAVO_RadarDeviceHandle device, int count)
{
    std::vector<uint8_t> buffer(4096);
    int total = 0;
    while (total < count) {
        const int n = TAVO_Interface_RadarDevice_ReadData(device, buffer.data(), static_cast<int>(buffer.size()),
                                                          3000, 0);
        if (n <= 0) {
            break;
        }
        total += n;
    }
    return total;
}

TEST(VirtualSensor, PacesItsOutputAtTheLinesBaudRate)
{
    VirtualSensorOptions options;
    options.reportOutputOn = false;
    SimulatedSensor sensor;
    ASSERT_TRUE(sensor.StartAndOpen(options, OpenMode::Plain, 19200));

    // 1920 bytes at 19200 baud, 10 bits a byte: one second on the wire.
    const auto start = Clock::now();
    sensor->InjectBytes(std::vector<uint8_t>(1920, 0x55));
    ASSERT_EQ(ReadAtLeast(sensor.Device(), 1920), 1920);
    EXPECT_GE(SecondsSince(start), 0.9);
}

TEST(VirtualSensor, PacesWhatItReceivesWhenAsked)
{
    VirtualSensorOptions options;
    options.reportOutputOn = false;
    options.paceReceive = true;
    SimulatedSensor sensor;
    ASSERT_TRUE(sensor.StartAndOpen(options, OpenMode::Plain, 19200));

    // A command of about 1900 bytes at 19200 baud: one second on the wire, and the
    // sensor sees none of it before its last byte has come through.
    const std::vector<uint8_t> payload(1900, 0x55);
    const auto start = Clock::now();
    TAVO_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(sensor.Device(), 0x00FF, payload.data(),
                                                               static_cast<int>(payload.size()));
    ASSERT_TRUE(WaitUntil([&] { return sensor->Counters().bytesReceived >= payload.size(); }));
    EXPECT_GE(SecondsSince(start), 0.9);
}

TEST(VirtualSensor, WithoutPacingALargeBurstArrivesWhole)
{
    VirtualSensorOptions options;
    options.reportOutputOn = false;
    options.pacing = false;
    SimulatedSensor sensor;
    ASSERT_TRUE(sensor.StartAndOpen(options, OpenMode::Plain, 9600));
    sensor->InjectBytes(std::vector<uint8_t>(3000, 0xAA));
    EXPECT_EQ(ReadAtLeast(sensor.Device(), 3000), 3000);
    EXPECT_EQ(sensor->Counters().bytesSent, 3000u);
}

TEST(VirtualSensor, CorruptsBytesAtTheGivenRate)
{
    VirtualSensorOptions options;
    options.reportOutputOn = false;
    options.pacing = false;
    options.corruptByteRate = 0.1;
    options.seed = 5;
    SimulatedSensor sensor;
    ASSERT_TRUE(sensor.StartAndOpen(options, OpenMode::Plain, 9600));
    sensor->InjectBytes(std::vector<uint8_t>(2000, 0x00));
    std::vector<uint8_t> received;
    uint8_t buffer[4096];
    while (received.size() < 2000) {
        const int n = TAVO_Interface_RadarDevice_ReadData(sensor.Device(), buffer, sizeof(buffer), 3000, 0);
        ASSERT_GT(n, 0);
        received.insert(received.end(), buffer, buffer + n);
    }
    const auto changed = static_cast<uint64_t>(std::count_if(received.begin(), received.end(), [](uint8_t b) { return b != 0; }));
    EXPECT_EQ(changed, sensor->Counters().bytesCorrupted);
    EXPECT_GT(changed, 100u);
    EXPECT_LT(changed, 300u);
}

// The hang-up counts from the moment the tool opens the line, so that a sensor
// started long before still serves the tool for the whole time.
TEST(VirtualSensor, HangUpCountsFromTheToolsOpeningOfTheLine)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.hangUpAfterMs = 100;
    SimulatedSensor sensor;
    ASSERT_TRUE(sensor.Start(options));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the tool comes late
    EXPECT_TRUE(sensor->IsRunning());
    ASSERT_TRUE(sensor.Open());
    EXPECT_TRUE(WaitUntil([&] { return !sensor->IsRunning(); })) << "the sensor never hung up";
    uint8_t buffer[16];
    EXPECT_LT(TAVO_Interface_RadarDevice_ReadData(sensor.Device(), buffer, sizeof(buffer), 1000, 0), 0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(sensor.Device()), 0);
}

TEST(VirtualSensor, LinkPointsAtTheTerminalWhileItRuns)
{
    TempDir dir;
    VirtualSensorOptions options;
    options.linkPath = dir.File("radar");
    VirtualSensor sensor(options);
    ASSERT_TRUE(sensor.Start());
    char target[256] = {};
    ASSERT_GT(readlink(options.linkPath.c_str(), target, sizeof(target) - 1), 0);
    EXPECT_EQ(std::string(target), sensor.PortPath());

    TAVO_RadarDeviceHandle device = TAVO_Interface_RadarDevice_Serial_Create();
    EXPECT_EQ(TAVO_Interface_RadarDevice_Serial_OpenByPath(device, options.linkPath.c_str(), 256000, 2, 1, 1, 1,
                                                           SETUP_REPLY_TIMEOUT_MS),
              1);
    std::string version;
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetVersion(device, version), 1);
    TAVO_Interface_RadarDevice_Serial_Destroy(device);

    sensor.Stop();
    struct stat st {};
    EXPECT_NE(lstat(options.linkPath.c_str(), &st), 0) << "the link goes with the sensor";
}

TEST(VirtualSensor, StartFailsWithAReason)
{
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("file"), "x"));
    struct Case {
        std::string name;
        VirtualSensorOptions options;
    };
    std::vector<Case> cases(3);
    cases[0].name = "missing recording";
    cases[0].options.replayFile = dir.File("missing.dat");
    cases[1].name = "recording without reports";
    cases[1].options.replayFile = dir.File("file");
    cases[2].name = "link over a regular file";
    cases[2].options.linkPath = dir.File("file");
    for (const Case& c : cases) {
        VirtualSensor sensor(c.options);
        std::string error;
        EXPECT_FALSE(sensor.Start(&error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_FALSE(sensor.IsRunning()) << c.name;
    }
    EXPECT_EQ(ReadWholeFile(dir.File("file")), "x") << "a file in the link's place is left alone";
}

// The program prints the path, serves the protocol, and ends cleanly on SIGTERM.
TEST(VirtualSensorProgram, ServesUntilTerminated)
{
    TempDir dir;
    const std::string link = dir.File("sim-port");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        const std::string program = std::string(PALO_BINARY_DIR) + "/palo520g-sim";
        execl(program.c_str(), program.c_str(), "--no-pacing", "--fw-version", "v7.7.7", "--link", link.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* stream = fdopen(out[0], "r");
    char line[512] = {};
    ASSERT_NE(fgets(line, sizeof(line), stream), nullptr);
    std::string path(line);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) {
        path.pop_back();
    }
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

    TAVO_RadarDeviceHandle device = TAVO_Interface_RadarDevice_Serial_Create();
    ASSERT_EQ(
        TAVO_Interface_RadarDevice_Serial_OpenByPath(device, link.c_str(), 256000, 2, 1, 1, 1, SETUP_REPLY_TIMEOUT_MS), 1);
    std::string version;
    EXPECT_EQ(TAVO_Interface_RadarDevice_GetVersion(device, version), 1);
    EXPECT_EQ(version, "v7.7.7");

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    fclose(stream);
    uint8_t buffer[16];
    EXPECT_LT(TAVO_Interface_RadarDevice_ReadData(device, buffer, sizeof(buffer), 1000, 0), 0);
    EXPECT_EQ(TAVO_Interface_RadarDevice_IsConnected(device), 0);
    TAVO_Interface_RadarDevice_Serial_Destroy(device);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

}  // namespace
