#pragma once
// Device operations on the parameter record: reads and writes by parameter id.
//
// Each operation asks IsConnected first and returns OPERATOR_NOT_CONNECTED without
// sending or logging anything when the port is closed; otherwise it makes one
// library call (2000 ms) and logs one line.
//
// The command replies carry no checksum, so a read checks that the values are ones
// the sensor can hold (gates 0-16, frequencies from the lists the tool offers,
// thresholds 0-100, delay 0-65535). An implausible reply is logged and asked for
// once more; implausible twice, the read fails with OPERATOR_MALFORMED_REPLY and
// OperatorFailureDetail() says which value was wrong. None enters or leaves command mode:
// callers bracket a sequence with a CommandModeScope (device/CommandModeScope.h).
// All calls block the calling thread; a read changes the record only on success.

#include <cstdint>
#include <string>

#include "device/RadarDevice.h"

struct ParamSetting;

enum : int {
    OPERATOR_OK = 0,
    OPERATOR_NOT_CONNECTED = 1,
    OPERATOR_FAILED = 2,
    OPERATOR_MALFORMED_REPLY = 3,  // implausible values twice (the library's 0xA004)
};

// Parameter ids.
enum : uint16_t {
    PARAM_ID_WRITE_DETECT_SETTING = 112,
    PARAM_ID_READ_DETECT_SETTING = 113,
    PARAM_ID_WRITE_TRIGGER_THRESHOLD = 114,
    PARAM_ID_READ_TRIGGER_THRESHOLD = 115,
    PARAM_ID_WRITE_APPEAR_THRESHOLD = 116,
    PARAM_ID_WRITE_HOLD_THRESHOLD = 118,
    PARAM_ID_READ_HOLD_THRESHOLD = 119,
    PARAM_ID_REPORT_OUTPUT = 0x007A,
};

// Detection setting keys (ids 112/113), in the order they are sent.
enum : uint16_t {
    DETECT_KEY_RANGE_MIN = 10,
    DETECT_KEY_RANGE_MAX = 5,
    DETECT_KEY_RESPONSE_FREQ = 11,
    DETECT_KEY_STATE_REPORT_FREQ = 2,
    DETECT_KEY_RANGE_REPORT_FREQ = 12,
    DETECT_KEY_DISAPPEAR_TIME = 6,
};
constexpr int DETECT_SETTING_COUNT = 6;
extern const uint16_t DETECT_SETTING_KEYS[DETECT_SETTING_COUNT];

constexpr int PARAM_TIMEOUT_MS = 2000;

// Fixed tables written only by the factory reset.
constexpr int PRIV_CONFIG_COUNT = 7;
extern const uint16_t PRIV_CONFIG_KEYS[PRIV_CONFIG_COUNT];
extern const uint32_t PRIV_CONFIG_VALUES[PRIV_CONFIG_COUNT];
extern const uint32_t APPEAR_THRESHOLD_TABLE[16];
extern const uint32_t MOTION_THRESHOLD_TABLE[16];

// Checks values read under a parameter id against what the sensor can hold. False
// with `why` naming the first wrong value ("GateTriggerThreshold[3] is 212,
// expected 0-100") when one is not; keys the check does not know are let through.
[[nodiscard]] bool PlausibleParameterValues(uint16_t paramId, int count, const uint16_t* keys, const uint32_t* values,
                                            std::string* why);
// The text of the last OPERATOR_MALFORMED_REPLY on the calling thread: the
// sentence TEXT_IMPLAUSIBLE_REPLY in the user's language; empty otherwise.
[[nodiscard]] std::string OperatorFailureDetail();

// The six values the detection setting write sends, in key order (gates capped at 16).
void DetectSettingToValues(const ParamSetting& setting, uint32_t values[DETECT_SETTING_COUNT]);
// Fills the six detection fields from values read, in key order.
void DetectSettingFromValues(const uint32_t values[DETECT_SETTING_COUNT], ParamSetting& setting);

[[nodiscard]] int RadarOperatorConfig_ReadDetectSetting(TAVO_RadarDeviceHandle device, ParamSetting& setting);
[[nodiscard]] int RadarOperatorConfig_WriteDetectSetting(TAVO_RadarDeviceHandle device, const ParamSetting& setting);
[[nodiscard]] int RadarOperatorConfig_ReadTriggerThreshold(TAVO_RadarDeviceHandle device, ParamSetting& setting);
[[nodiscard]] int RadarOperatorConfig_WriteTriggerThreshold(TAVO_RadarDeviceHandle device, const ParamSetting& setting);
[[nodiscard]] int RadarOperatorConfig_ReadHoldThreshold(TAVO_RadarDeviceHandle device, ParamSetting& setting);
[[nodiscard]] int RadarOperatorConfig_WriteHoldThreshold(TAVO_RadarDeviceHandle device, const ParamSetting& setting);
// Factory-reset writes of the fixed tables.
[[nodiscard]] int RadarOperatorConfig_WritePrivConfig(TAVO_RadarDeviceHandle device);
[[nodiscard]] int RadarOperatorConfig_WriteAppearThreshold(TAVO_RadarDeviceHandle device);
[[nodiscard]] int RadarOperatorConfig_WriteMotionThreshold(TAVO_RadarDeviceHandle device);

// Sequences: stop at the first non-zero result and return it, else 0.
// Read: detection setting, trigger table, hold table.
[[nodiscard]] int ReadAllParams(TAVO_RadarDeviceHandle device, ParamSetting& setting);
// Write: detection setting, trigger table, hold table.
[[nodiscard]] int WriteAllParams(TAVO_RadarDeviceHandle device, const ParamSetting& setting);
// WriteAllParams of the (default) record, then the private configuration, the
// appear table and the motion table (the latter under the hold table's id).
[[nodiscard]] int FactoryResetSequence(TAVO_RadarDeviceHandle device, const ParamSetting& setting);
