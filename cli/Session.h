#pragma once
// What every command of the tool shares: the registry of commands, the port
// options, the open connection with its reasons for failing, and Ctrl+C.

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/CommandModeScope.h"
#include "device/RadarDevice.h"
#include "params/SensorConnection.h"

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

// The connection of one command run: opened here, closed and destroyed with the session.
class DeviceSession {
public:
    // Opens the port. EXIT_OK, or EXIT_PORT_ERROR after printing why it failed.
    int Open(const PortOptions& options);
    [[nodiscard]] TAVO_RadarDeviceHandle Handle() const { return connection_.Handle(); }
    [[nodiscard]] CSensorConnection& Connection() { return connection_; }

private:
    CSensorConnection connection_;
};

// The whole message for a port that would not open: "Cannot open the port X: why".
[[nodiscard]] std::string PortOpenFailure(const std::string& path, TAVO_RadarDeviceHandle device);

// Prints the failure of a parameter sequence result (OPERATOR_*) with the page's
// texts; failureId is TEXT_READ_PARAMS_FAILED after a read and TEXT_WRITE_PARAMS_FAILED after a write. Adds the hint
// that the sensor did not answer when command mode was not acknowledged.
void PrintOperatorFailure(int result, int failureId, bool commandModeEntered);

// Ctrl+C: the first press sets the flag (and the commands stop cleanly); a second
// press ends the program at once.
void InstallInterruptHandler();
[[nodiscard]] bool InterruptRequested();
