#pragma once
// What a sensor operation came to: success, or the failure with its reason. The
// session and the procedures it runs return one; the window and the command-line
// tool turn it into text at their boundary (SensorResultText).

#include <cstdint>
#include <string>

#include "device/RadarDevice.h"

enum class SensorFailure {
    None,
    NotConnected,    // the port is not open
    PortOpen,        // the port would not open: openError says why
    NoReply,         // nothing came back within timeoutMs
    LineLost,        // the port failed or hung up during the exchange
    MalformedReply,  // a reply that cannot be what was asked for; detail may name the value
    SensorStatus,    // the sensor answered with a non-zero status
};

struct SensorResult {
    SensorFailure failure = SensorFailure::None;
    uint16_t status = 0;                           // SensorStatus: the sensor's answer
    int timeoutMs = 0;                             // NoReply: how long it waited
    eRADAR_OPEN_ERROR openError = eRADAR_OPEN_OK;  // PortOpen
    std::string port;                              // PortOpen: the path that was asked for
    std::string detail;                            // MalformedReply: which value was implausible
    // False when the sensor did not acknowledge command mode before the sequence:
    // most often a wrong baud rate or no sensor on the line.
    bool commandModeEntered = true;

    [[nodiscard]] bool Ok() const { return failure == SensorFailure::None; }
    explicit operator bool() const { return Ok(); }

    // From the device library's status of a failed exchange (RADAR_ERR_* or the sensor's status).
    [[nodiscard]] static SensorResult FromStatus(uint16_t status, int timeoutMs);
    [[nodiscard]] static SensorResult PortOpenFailed(const std::string& port, eRADAR_OPEN_ERROR error);
};

// The reason in the user-interface language, as a clause: "no reply within 2000 ms",
// "the line was lost", "a malformed reply", "the sensor answered status 0x0001";
// for PortOpen the whole sentence "Cannot open the port PATH: why"; for a reply
// found implausible the sentence naming the value; empty for success.
[[nodiscard]] std::string SensorResultText(const SensorResult& result);

// The sentence for a reason an open failed, in the user-interface language.
[[nodiscard]] std::string OpenErrorText(eRADAR_OPEN_ERROR error);
// "Cannot open the port PATH: reason". A refused permission names the port's owner, group
// and mode, unless the group is dialout (then joining that group is the advice).
[[nodiscard]] std::string PortOpenFailureText(const std::string& path, eRADAR_OPEN_ERROR error);
