#pragma once
// Command mode for the length of a scope: every sequence of parameter or command
// calls on a device handle is bracketed by entering command mode (protocol 2,
// 150 ms) and leaving it, whatever path the sequence ends on.

#include "device/RadarDevice.h"

constexpr int COMMAND_MODE_TIMEOUT_MS = 150;

class CommandModeScope {
public:
    // Enters command mode. The sequence goes on either way, as the windows do;
    // Entered() tells whether the sensor acknowledged, to explain a failure.
    explicit CommandModeScope(TAVO_RadarDeviceHandle device, int timeoutMs = COMMAND_MODE_TIMEOUT_MS)
        : device_(device),
          entered_(TAVO_Interface_RadarDevice_StartCmdMode(device, eRADAR_PROTOCOL_VERSION_2, timeoutMs) != 0)
    {
    }
    ~CommandModeScope() { TAVO_Interface_RadarDevice_StopCmdMode(device_); }
    CommandModeScope(const CommandModeScope&) = delete;
    CommandModeScope& operator=(const CommandModeScope&) = delete;

    [[nodiscard]] bool Entered() const { return entered_; }

private:
    TAVO_RadarDeviceHandle device_;
    bool entered_;
};
