#pragma once
// What every command of the tool shares: the registry of commands, the port
// options, the open device with its reasons for failing, command mode, Ctrl+C
// and the parsing of typed numbers.

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/RadarDevice.h"

namespace CLI {
class App;
}

// A leaf command and what runs when the command line named it; run returns the exit code.
struct CommandEntry {
    CLI::App* command;
    std::function<int()> run;
};
using CommandList = std::vector<CommandEntry>;

// Options of every command that talks to a sensor.
struct PortOptions {
    std::string port;
    int baud = 115200;
};
void AddPortOptions(CLI::App* command, PortOptions& options);

// The device handle of one command run: created and opened here, closed and
// destroyed with the session.
class DeviceSession {
public:
    DeviceSession();
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Opens the port. EXIT_OK, or EXIT_PORT_ERROR after printing why it failed.
    int Open(const PortOptions& options);
    [[nodiscard]] TAVO_RadarDeviceHandle Handle() const { return device_; }

private:
    TAVO_RadarDeviceHandle device_;
};

// The sentence that says why the handle's last open failed.
[[nodiscard]] std::string OpenErrorText(TAVO_RadarDeviceHandle device);
// The whole message for a port that would not open: "Cannot open the port X: why".
[[nodiscard]] std::string PortOpenFailure(const std::string& path, TAVO_RadarDeviceHandle device);

// StartCmdMode(2, 150) for the scope, StopCmdMode at its end. Entered() tells
// whether the sensor acknowledged; callers go on either way, as the windows do,
// and use it to explain a failure.
class CommandModeScope {
public:
    explicit CommandModeScope(TAVO_RadarDeviceHandle device);
    ~CommandModeScope();
    CommandModeScope(const CommandModeScope&) = delete;
    CommandModeScope& operator=(const CommandModeScope&) = delete;
    [[nodiscard]] bool Entered() const { return entered_; }

private:
    TAVO_RadarDeviceHandle device_;
    bool entered_;
};

// Prints the failure of a parameter sequence result (OPERATOR_*) with the page's
// texts; failureId is 10151 after a read and 10153 after a write. Adds the hint
// that the sensor did not answer when command mode was not acknowledged.
void PrintOperatorFailure(int result, int failureId, bool commandModeEntered);

// Ctrl+C: the first press sets the flag (and the commands stop cleanly); a second
// press ends the program at once.
void InstallInterruptHandler();
[[nodiscard]] bool InterruptRequested();

// Typed numbers as the numeric edits take them.
// Any finite decimal number ("-1", "2.5").
[[nodiscard]] bool ParseDecimal(const std::string& text, double& value);
// Digits only ("0", "120"), the way an unsigned edit admits them; may exceed 32 bits.
[[nodiscard]] bool ParseWholeNumber(const std::string& text, double& value);

// A correction made by a numeric edit whose value lay outside its limits: the
// clamped value and the edit's own message ("MaxValue Must <= 95", key 14).
struct LimitCorrection {
    bool corrected = false;
    long long value = 0;
    int key = 0;
    std::string text;
};
[[nodiscard]] LimitCorrection ApplyEditLimits(double typed, long long minimum, long long maximum);
