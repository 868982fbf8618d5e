#pragma once
// Command mode for the length of a scope: every sequence of parameter or command
// calls on a line is bracketed by entering command mode (protocol 2, 150 ms) and
// leaving it, whatever path the sequence ends on.

#include "device/SensorLine.h"

constexpr int COMMAND_MODE_TIMEOUT_MS = 150;

class CommandModeScope {
public:
    // Enters command mode. The sequence goes on either way, as the windows do;
    // Entered() tells whether the sensor acknowledged, to explain a failure.
    explicit CommandModeScope(SensorLine& line, int timeoutMs = COMMAND_MODE_TIMEOUT_MS)
        : line_(line), entered_(line.StartCmdMode(timeoutMs))
    {
    }
    ~CommandModeScope() { line_.StopCmdMode(); }
    CommandModeScope(const CommandModeScope&) = delete;
    CommandModeScope& operator=(const CommandModeScope&) = delete;

    [[nodiscard]] bool Entered() const { return entered_; }

private:
    SensorLine& line_;
    bool entered_;
};
