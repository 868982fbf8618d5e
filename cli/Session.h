#pragma once
// What every command of the tool shares: the registry of commands, the port
// options, the open connection with its reasons for failing, and Ctrl+C.

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "session/SensorSession.h"

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
    [[nodiscard]] SensorSession& Sensor() { return sensor_; }

private:
    SensorSession sensor_;
};

// Prints the failure of a sensor operation with the page's texts and its reason
// ("Failed to read parameters: no reply within 2000 ms"); failureId is
// TEXT_READ_PARAMS_FAILED after a read and TEXT_WRITE_PARAMS_FAILED after a write. Adds the hint that the sensor did
// not answer when command mode was not acknowledged.
void PrintSensorFailure(const SensorResult& result, int failureId);

// Ctrl+C: the first press sets the flag (and the commands stop cleanly); a second
// press ends the program at once.
void InstallInterruptHandler();
// Ctrl+C and SIGTERM go to this handler instead (a command that counts presses).
void HandleInterruptsWith(void (*handler)(int));
[[nodiscard]] bool InterruptRequested();
