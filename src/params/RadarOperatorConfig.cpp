#include "params/RadarOperatorConfig.h"

#include <cmath>

#include "app/StringTable.h"
#include "common/DbgOutput.h"
#include "params/ParamSetting.h"

const uint16_t DETECT_SETTING_KEYS[DETECT_SETTING_COUNT] = {
    DETECT_KEY_RANGE_MIN,         DETECT_KEY_RANGE_MAX,         DETECT_KEY_RESPONSE_FREQ,
    DETECT_KEY_STATE_REPORT_FREQ, DETECT_KEY_RANGE_REPORT_FREQ, DETECT_KEY_DISAPPEAR_TIME,
};

const uint16_t PRIV_CONFIG_KEYS[PRIV_CONFIG_COUNT] = {1, 3, 4, 7, 8, 9, 13};
const uint32_t PRIV_CONFIG_VALUES[PRIV_CONFIG_COUNT] = {4, 2, 2, 6, 1, 1, 120};
const uint32_t APPEAR_THRESHOLD_TABLE[16] = {51, 50, 30, 28, 25, 25, 25, 25, 25, 25, 25, 25, 25, 22, 22, 22};
const uint32_t MOTION_THRESHOLD_TABLE[16] = {52, 49, 26, 25, 25, 21, 22, 24, 23, 22, 21, 21, 20, 21, 21, 20};

namespace {

const uint16_t GATE_KEYS[PARAM_GATE_COUNT] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// The sensor takes gates 0..16; the comparison is unsigned, so a negative gate
// (only from a hand-edited file) wraps to a large number and is sent as 16.
uint32_t GateValue(double distance, double resolution) {
    const auto gate = static_cast<uint32_t>(GateOfDistance(distance, resolution));
    return gate > 16 ? 16 : gate;
}

// Frequency in tenths of a hertz, truncated (a hair below a tenth counts as on it);
// wraps like the sensor's unsigned field.
uint32_t TenthsValue(double frequency) {
    const double tenths = WholeUnitsOf(frequency, 0.1);
    if (!std::isfinite(tenths) || std::fabs(tenths) > 4e9) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(tenths));
}

void LogResult(const char* operation, bool ok) {
    DbgOutputA(2, "%s, result: %s\r\n", operation, ok ? "Success" : "Failed");
}

thread_local std::string tFailureDetail;

// Frequencies are sent in tenths of a hertz; the lists offer 0.5 ... 8.0 Hz in
// steps of 0.5 (reports) and 0.5 or 1.0 Hz (response speed).
bool OfferedReportTenths(uint32_t tenths) { return tenths >= 5 && tenths <= 80 && tenths % 5 == 0; }
bool OfferedResponseTenths(uint32_t tenths) { return tenths == 5 || tenths == 10; }

// "NAME is VALUE, expected RANGE" in the user's language.
std::string Problem(const char* name, const std::string& value, const char* expected) {
    return FormatStringText(TEXT_IMPLAUSIBLE_VALUE, name, value.c_str(), expected);
}

std::string Hertz(uint32_t tenths) { return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " Hz"; }

// Why one detection value is implausible, or empty.
std::string DetectValueProblem(uint16_t key, uint32_t value) {
    switch (key) {
    case DETECT_KEY_RANGE_MIN:
    case DETECT_KEY_RANGE_MAX:
        if (value <= 16) return {};
        return Problem(key == DETECT_KEY_RANGE_MIN ? "DetectRangeMin" : "DetectRangeMax", std::to_string(value),
                       "0-16");
    case DETECT_KEY_RESPONSE_FREQ:
        if (OfferedResponseTenths(value)) return {};
        return Problem("ResponseFreq", Hertz(value), "0.5/1.0 Hz");
    case DETECT_KEY_STATE_REPORT_FREQ:
    case DETECT_KEY_RANGE_REPORT_FREQ:
        if (OfferedReportTenths(value)) return {};
        return Problem(key == DETECT_KEY_STATE_REPORT_FREQ ? "StateReportFreq" : "RangeReportFreq", Hertz(value),
                       "0.5, 1.0 ... 8.0 Hz");
    case DETECT_KEY_DISAPPEAR_TIME:
        if (value <= 65535) return {};
        return Problem("ObjectDisappearReportTime", std::to_string(value), "0-65535");
    default:
        return {};
    }
}

// One read of a parameter id, checked; an implausible reply is asked for once more.
int ReadChecked(SensorLine& line, uint16_t id, int count, const uint16_t* keys, uint32_t* values,
                const char* operation, const char* failureEnd = "") {
    if (!line.IsConnected()) return OPERATOR_NOT_CONNECTED;
    tFailureDetail.clear();
    std::string why;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool ok = line.GetParameter(id, count, keys, values, PARAM_TIMEOUT_MS);
        if (!ok) {
            DbgOutputA(2, "%s, result: Failed%s\r\n", operation, failureEnd);
            return OPERATOR_FAILED;
        }
        if (PlausibleParameterValues(id, count, keys, values, &why)) {
            DbgOutputA(2, "%s, result: Success\r\n", operation);
            return OPERATOR_OK;
        }
        DbgOutputA(2, "%s, implausible reply (%s)%s\r\n", operation, why.c_str(),
                   attempt == 0 ? ", asking again" : "");
    }
    tFailureDetail = FormatStringText(TEXT_IMPLAUSIBLE_REPLY, why.c_str());
    DbgOutputA(2, "%s, result: Failed%s\r\n", operation, failureEnd);
    return OPERATOR_MALFORMED_REPLY;
}

int ReadGateTable(SensorLine& line, uint16_t id, uint32_t (&table)[PARAM_GATE_COUNT],
                  const char* operation) {
    uint32_t values[PARAM_GATE_COUNT] = {};
    const int result = ReadChecked(line, id, PARAM_GATE_COUNT, GATE_KEYS, values, operation);
    if (result != OPERATOR_OK) return result;
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) table[g] = values[g];
    return OPERATOR_OK;
}

int WriteTable(SensorLine& line, uint16_t id, int count, const uint16_t* keys, const uint32_t* values,
               const char* operation) {
    if (!line.IsConnected()) return OPERATOR_NOT_CONNECTED;
    const bool ok = line.SetParameter(id, count, keys, values, PARAM_TIMEOUT_MS);
    LogResult(operation, ok);
    return ok ? OPERATOR_OK : OPERATOR_FAILED;
}

}  // namespace

bool PlausibleParameterValues(uint16_t paramId, int count, const uint16_t* keys, const uint32_t* values,
                              std::string* why) {
    for (int i = 0; i < count; ++i) {
        std::string problem;
        if (paramId == PARAM_ID_READ_DETECT_SETTING) {
            problem = DetectValueProblem(keys[i], values[i]);
        } else if ((paramId == PARAM_ID_READ_TRIGGER_THRESHOLD || paramId == PARAM_ID_READ_HOLD_THRESHOLD) &&
                   values[i] > 100) {
            const char* table =
                paramId == PARAM_ID_READ_TRIGGER_THRESHOLD ? "GateTriggerThreshold" : "GateHoldThreshold";
            problem = Problem((std::string(table) + "[" + std::to_string(keys[i]) + "]").c_str(), std::to_string(values[i]), "0-100");
        }
        if (!problem.empty()) {
            if (why != nullptr) *why = problem;
            return false;
        }
    }
    return true;
}

std::string OperatorFailureDetail() { return tFailureDetail; }

void DetectSettingToValues(const ParamSetting& setting, uint32_t values[DETECT_SETTING_COUNT]) {
    values[0] = GateValue(setting.DetectRangeMin, setting.RangeResolution);
    values[1] = GateValue(setting.DetectRangeMax, setting.RangeResolution);
    values[2] = TenthsValue(setting.ResponseFreq);
    values[3] = TenthsValue(setting.StateReportFreq);
    values[4] = TenthsValue(setting.RangeReportFreq);
    values[5] = setting.ObjectDisappearReportTime;
}

void DetectSettingFromValues(const uint32_t values[DETECT_SETTING_COUNT], ParamSetting& setting) {
    setting.DetectRangeMin = values[0] * setting.RangeResolution;
    setting.DetectRangeMax = values[1] * setting.RangeResolution;
    setting.ResponseFreq = values[2] / 10.0;
    setting.StateReportFreq = values[3] / 10.0;
    setting.RangeReportFreq = values[4] / 10.0;
    setting.ObjectDisappearReportTime = values[5];
}

int RadarOperatorConfig_ReadDetectSetting(SensorLine& line, ParamSetting& setting) {
    uint32_t values[DETECT_SETTING_COUNT] = {};
    // This one line has always ended its failure with a full stop.
    const int result = ReadChecked(line, PARAM_ID_READ_DETECT_SETTING, DETECT_SETTING_COUNT, DETECT_SETTING_KEYS,
                                   values, "RadarOperatorConfig_ReadDetectSetting", ".");
    if (result != OPERATOR_OK) return result;
    DetectSettingFromValues(values, setting);
    return OPERATOR_OK;
}

int RadarOperatorConfig_WriteDetectSetting(SensorLine& line, const ParamSetting& setting) {
    uint32_t values[DETECT_SETTING_COUNT];
    DetectSettingToValues(setting, values);
    return WriteTable(line, PARAM_ID_WRITE_DETECT_SETTING, DETECT_SETTING_COUNT, DETECT_SETTING_KEYS, values,
                      "RadarOperatorConfig_WriteDetectSetting");
}

int RadarOperatorConfig_ReadTriggerThreshold(SensorLine& line, ParamSetting& setting) {
    return ReadGateTable(line, PARAM_ID_READ_TRIGGER_THRESHOLD, setting.GateTriggerThreshold,
                         "RadarOperatorConfig_ReadTriggerThreshold");
}

int RadarOperatorConfig_WriteTriggerThreshold(SensorLine& line, const ParamSetting& setting) {
    return WriteTable(line, PARAM_ID_WRITE_TRIGGER_THRESHOLD, PARAM_GATE_COUNT, GATE_KEYS,
                      setting.GateTriggerThreshold, "RadarOperatorConfig_WriteTriggerThreshold");
}

int RadarOperatorConfig_ReadHoldThreshold(SensorLine& line, ParamSetting& setting) {
    return ReadGateTable(line, PARAM_ID_READ_HOLD_THRESHOLD, setting.GateHoldThreshold,
                         "RadarOperatorConfig_ReadHoldThreshold");
}

int RadarOperatorConfig_WriteHoldThreshold(SensorLine& line, const ParamSetting& setting) {
    return WriteTable(line, PARAM_ID_WRITE_HOLD_THRESHOLD, PARAM_GATE_COUNT, GATE_KEYS, setting.GateHoldThreshold,
                      "RadarOperatorConfig_WriteHoldThreshold");
}

int RadarOperatorConfig_WritePrivConfig(SensorLine& line) {
    return WriteTable(line, PARAM_ID_WRITE_DETECT_SETTING, PRIV_CONFIG_COUNT, PRIV_CONFIG_KEYS, PRIV_CONFIG_VALUES,
                      "RadarOperatorConfig_WritePrivConfig");
}

int RadarOperatorConfig_WriteAppearThreshold(SensorLine& line) {
    return WriteTable(line, PARAM_ID_WRITE_APPEAR_THRESHOLD, PARAM_GATE_COUNT, GATE_KEYS, APPEAR_THRESHOLD_TABLE,
                      "RadarOperatorConfig_WriteAppearThreshold");
}

int RadarOperatorConfig_WriteMotionThreshold(SensorLine& line) {
    return WriteTable(line, PARAM_ID_WRITE_HOLD_THRESHOLD, PARAM_GATE_COUNT, GATE_KEYS, MOTION_THRESHOLD_TABLE,
                      "RadarOperatorConfig_WriteMotionThreshold");
}

int ReadAllParams(SensorLine& line, ParamSetting& setting) {
    if (int result = RadarOperatorConfig_ReadDetectSetting(line, setting)) return result;
    if (int result = RadarOperatorConfig_ReadTriggerThreshold(line, setting)) return result;
    return RadarOperatorConfig_ReadHoldThreshold(line, setting);
}

int WriteAllParams(SensorLine& line, const ParamSetting& setting) {
    if (int result = RadarOperatorConfig_WriteDetectSetting(line, setting)) return result;
    if (int result = RadarOperatorConfig_WriteTriggerThreshold(line, setting)) return result;
    return RadarOperatorConfig_WriteHoldThreshold(line, setting);
}

int FactoryResetSequence(SensorLine& line, const ParamSetting& setting) {
    if (int result = WriteAllParams(line, setting)) return result;
    if (int result = RadarOperatorConfig_WritePrivConfig(line)) return result;
    if (int result = RadarOperatorConfig_WriteAppearThreshold(line)) return result;
    return RadarOperatorConfig_WriteMotionThreshold(line);
}
