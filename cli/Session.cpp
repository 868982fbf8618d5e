#include "Session.h"

#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <CLI/CLI.hpp>

#include "Output.h"
#include "CliStrings.h"
#include "common/ValueParse.h"
#include "params/RadarOperatorConfig.h"

namespace {

constexpr int kCommandModeTimeoutMs = 150;

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) {
    gInterrupted = 1;
    // A second Ctrl+C should not wait for a clean stop.
    std::signal(SIGINT, SIG_DFL);
}

}  // namespace

void AddPortOptions(CLI::App* command, PortOptions& options) {
    command->add_option("-p,--port", options.port, "Serial device path (/dev/ttyUSB0, a pseudo-terminal)")
        ->required();
    command->add_option("-b,--baud", options.baud, "Baud rate")
        ->capture_default_str()
        ->check(CLI::Range(1, 4000000));
}

// ---------------------------------------------------------------- device

DeviceSession::DeviceSession() : device_(TAVO_Interface_RadarDevice_Serial_Create()) {}

DeviceSession::~DeviceSession() {
    TAVO_Interface_RadarDevice_Serial_Close(device_);
    TAVO_Interface_RadarDevice_Serial_Destroy(device_);
}

int DeviceSession::Open(const PortOptions& options) {
    // Opened without entering command mode: each command brackets its own sequence.
    if (TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, options.port.c_str(), options.baud,
                                                     eRADAR_PROTOCOL_VERSION_2, 0, 0, 0, kCommandModeTimeoutMs)) {
        return EXIT_OK;
    }
    PrintError(PortOpenFailure(options.port, device_));
    return EXIT_PORT_ERROR;
}

std::string OpenErrorText(TAVO_RadarDeviceHandle device) {
    switch (TAVO_Interface_RadarDevice_GetLastOpenError(device)) {
    case eRADAR_OPEN_NO_SUCH_PORT: return Text(20003);
    case eRADAR_OPEN_BUSY: return Text(20002);
    case eRADAR_OPEN_PERMISSION_DENIED: return Text(20001);
    case eRADAR_OPEN_BAD_BAUD_RATE: return Text(20005);
    default: return Text(CLI_TEXT_OPEN_FAILED_OTHER);
    }
}

std::string PortOpenFailure(const std::string& path, TAVO_RadarDeviceHandle device) {
    return Text(CLI_TEXT_CANNOT_OPEN_PORT, path.c_str(), OpenErrorText(device).c_str());
}

CommandModeScope::CommandModeScope(TAVO_RadarDeviceHandle device)
    : device_(device),
      entered_(TAVO_Interface_RadarDevice_StartCmdMode(device, eRADAR_PROTOCOL_VERSION_2, kCommandModeTimeoutMs) !=
               0) {}

CommandModeScope::~CommandModeScope() { TAVO_Interface_RadarDevice_StopCmdMode(device_); }

void PrintOperatorFailure(int result, int failureId, bool commandModeEntered) {
    if (result == OPERATOR_NOT_CONNECTED) {
        PrintError(Text(10103));
        return;
    }
    PrintError(Text(failureId));
    if (!commandModeEntered) PrintError(Text(CLI_TEXT_SENSOR_SILENT));
}

// ---------------------------------------------------------------- Ctrl+C

void InstallInterruptHandler() {
    gInterrupted = 0;
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() { return gInterrupted != 0; }

// ---------------------------------------------------------------- numbers

bool ParseDecimal(const std::string& text, double& value) {
    double parsed = 0.0;
    if (!DigtalStringToValue(text.c_str(), text.size(), &parsed, DIGITAL_VALUE_DOUBLE)) return false;
    if (!std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool ParseWholeNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value);
}

LimitCorrection ApplyEditLimits(double typed, long long minimum, long long maximum) {
    LimitCorrection result;
    // The edit's bounds lie half a unit outside its integer limits.
    if (typed < static_cast<double>(minimum) - 0.5) {
        result.corrected = true;
        result.value = minimum;
        result.key = 13;
        result.text = "MinValue Must >= " + std::to_string(minimum);
    } else if (typed > static_cast<double>(maximum) + 0.5) {
        result.corrected = true;
        result.value = maximum;
        result.key = 14;
        result.text = "MaxValue Must <= " + std::to_string(maximum);
    } else {
        result.value = std::llround(typed);
    }
    return result;
}
