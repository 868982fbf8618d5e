#include "Session.h"

#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <CLI/CLI.hpp>

#include "Output.h"
#include "PortWait.h"
#include "app/StringIds.h"
#include "params/RadarOperatorConfig.h"

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) {
    gInterrupted = 1;
    // A second Ctrl+C should not wait for a clean stop.
    std::signal(SIGINT, SIG_DFL);
}

}  // namespace

void AddPortOptions(CLI::App* command, PortOptions& options) {
#ifdef _WIN32
    command->add_option("-p,--port", options.port, "Serial port (COM3)")->required();
#else
    command->add_option("-p,--port", options.port, "Serial device path (/dev/ttyUSB0, a pseudo-terminal)")
        ->required();
#endif
    command->add_option("-b,--baud", options.baud, "Baud rate")
        ->capture_default_str()
        ->check(CLI::Range(1, 4000000));
}

// ---------------------------------------------------------------- device

int DeviceSession::Open(const PortOptions& options) {
    if (!WaitForPortToAppear(options.port)) return EXIT_PORT_ERROR;
    // Opened without entering command mode: each command brackets its own sequence.
    const SensorResult opened = sensor_.Open(options.port, options.baud);
    if (opened) return EXIT_OK;
    PrintError(CleanText(SensorResultText(opened)));
    return EXIT_PORT_ERROR;
}

void PrintSensorFailure(const SensorResult& result, int failureId) {
    if (result.failure == SensorFailure::NotConnected) {
        PrintError(Text(TEXT_DEVICE_NOT_CONNECTED));
        return;
    }
    // Every failure says why: a time-out with how long was waited, a lost line, the
    // sensor's status, or the implausible value.
    PrintError(Text(failureId) + ": " + CleanText(SensorResultText(result)));
    if (!result.commandModeEntered) PrintError(Text(TEXT_SENSOR_SILENT));
}

// ---------------------------------------------------------------- Ctrl+C

void InstallInterruptHandler() {
    gInterrupted = 0;
    HandleInterruptsWith(OnInterrupt);
}

void HandleInterruptsWith(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() { return gInterrupted != 0; }
