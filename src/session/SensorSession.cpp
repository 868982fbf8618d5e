#include "session/SensorSession.h"

#include <algorithm>
#include <functional>

#include "device/CommandModeScope.h"
#include "device/SerialPortRegistry.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"

SensorResult SensorSession::ResultOf(int operatorResult, bool commandModeEntered) const
{
    SensorResult result;
    switch (operatorResult) {
    case OPERATOR_OK: return result;
    case OPERATOR_NOT_CONNECTED: result.failure = SensorFailure::NotConnected; break;
    case OPERATOR_MALFORMED_REPLY:
        result.failure = SensorFailure::MalformedReply;
        result.detail = OperatorFailureDetail();
        break;
    default: {
        const LineFailure& failure = line_.LastFailure();
        result = SensorResult::FromStatus(failure.status, failure.timeoutMs);
        if (result.Ok())
            result.failure = SensorFailure::LineLost;
        break;
    }
    }
    result.commandModeEntered = commandModeEntered;
    return result;
}

SensorResult SensorSession::Open(const std::string& path, int baudRate)
{
    if (line_.OpenByPath(path, baudRate, false, COMMAND_MODE_TIMEOUT_MS))
        return {};
    return SensorResult::PortOpenFailed(path, line_.LastOpenError());
}

SensorResult SensorSession::Open(int portNumber, int baudRate)
{
    if (line_.OpenByPortNumber(portNumber, baudRate, false, COMMAND_MODE_TIMEOUT_MS))
        return {};
    return SensorResult::PortOpenFailed(SerialPortPathFromNumber(portNumber), line_.LastOpenError());
}

SensorResult SensorSession::Connect(int portNumber, int baudRate, ParamSetting& record)
{
    version_.clear();
    serialNumber_.clear();
    readResult_ = {};
    readResult_.failure = SensorFailure::NotConnected;
    // Command mode is entered by the open itself and left after the last read.
    line_.ClearFailure();
    if (!line_.OpenByPortNumber(portNumber, baudRate, true, COMMAND_MODE_TIMEOUT_MS))
        return SensorResult::PortOpenFailed(SerialPortPathFromNumber(portNumber), line_.LastOpenError());
    const bool entered = line_.LastFailure().status == RADAR_STATUS_OK;
    // A silent sensor answers nothing: the reads would each wait out their time-out.
    if (!line_.GetVersion(version_) && !entered) {
        readResult_ = ResultOf(OPERATOR_FAILED, false);
    } else {
        line_.GetSerialNumber(serialNumber_);
        line_.ClearFailure();
        readResult_ = ResultOf(ReadAllParams(line_, record), entered);
    }
    line_.StopCmdMode();
    return {};
}

void SensorSession::Close()
{
    line_.Close();
    version_.clear();
    serialNumber_.clear();
}

bool SensorSession::IsConnected() const
{
    return line_.IsConnected();
}

SensorResult SensorSession::ReadIdentity()
{
    if (!line_.IsConnected())
        return ResultOf(OPERATOR_NOT_CONNECTED, false);
    line_.ClearFailure();
    CommandModeScope mode(line_);
    const bool version = line_.GetVersion(version_);
    const bool serial = line_.GetSerialNumber(serialNumber_);
    return ResultOf(version && serial ? OPERATOR_OK : OPERATOR_FAILED, mode.Entered());
}

SensorResult SensorSession::ReadParameters(ParamSetting& record)
{
    line_.ClearFailure();
    CommandModeScope mode(line_);
    return ResultOf(ReadAllParams(line_, record), mode.Entered());
}

SensorResult SensorSession::ReadThresholds(ParamSetting& record)
{
    line_.ClearFailure();
    CommandModeScope mode(line_);
    ParamSetting read = record;
    int result = RadarOperatorConfig_ReadTriggerThreshold(line_, read);
    if (result == OPERATOR_OK)
        result = RadarOperatorConfig_ReadHoldThreshold(line_, read);
    if (result == OPERATOR_OK) {
        std::copy(std::begin(read.GateTriggerThreshold), std::end(read.GateTriggerThreshold),
                  record.GateTriggerThreshold);
        std::copy(std::begin(read.GateHoldThreshold), std::end(read.GateHoldThreshold), record.GateHoldThreshold);
    }
    return ResultOf(result, mode.Entered());
}

SensorResult SensorSession::WriteAndReadBack(const std::function<int()>& write, ParamSetting* stored,
                                             SensorResult* readBack)
{
    line_.ClearFailure();
    CommandModeScope mode(line_);
    const SensorResult result = ResultOf(write(), mode.Entered());
    if (result && stored != nullptr) {
        line_.ClearFailure();
        const SensorResult read = ResultOf(ReadAllParams(line_, *stored), mode.Entered());
        if (readBack != nullptr)
            *readBack = read;
    }
    return result;
}

SensorResult SensorSession::WriteParameters(const ParamSetting& record, ParamSetting* stored, SensorResult* readBack)
{
    return WriteAndReadBack([&] { return WriteAllParams(line_, record); }, stored, readBack);
}

SensorResult SensorSession::WriteThresholds(const ParamSetting& record)
{
    line_.ClearFailure();
    CommandModeScope mode(line_);
    int result = RadarOperatorConfig_WriteTriggerThreshold(line_, record);
    if (result == OPERATOR_OK)
        result = RadarOperatorConfig_WriteHoldThreshold(line_, record);
    return ResultOf(result, mode.Entered());
}

SensorResult SensorSession::FactoryReset(const ParamSetting& defaults, ParamSetting* stored, SensorResult* readBack)
{
    return WriteAndReadBack([&] { return FactoryResetSequence(line_, defaults); }, stored, readBack);
}

SensorResult SensorSession::SwitchReportOutput(bool on)
{
    if (!line_.IsConnected())
        return ResultOf(OPERATOR_NOT_CONNECTED, false);
    line_.ClearFailure();
    CommandModeScope mode(line_);
    const uint16_t key = 0;
    const uint32_t value = on ? 1 : 0;
    const bool ok = line_.SetParameter(PARAM_ID_REPORT_OUTPUT, 1, &key, &value, PARAM_TIMEOUT_MS);
    return ResultOf(ok ? OPERATOR_OK : OPERATOR_FAILED, mode.Entered());
}

void SensorSession::Drain()
{
    if (!IsLineClaimed() && line_.IsConnected())
        line_.Drain();
}

SensorSession::LineClaim& SensorSession::LineClaim::operator=(LineClaim&& other) noexcept
{
    if (this != &other) {
        Release();
        session_ = other.session_;
        other.session_ = nullptr;
    }
    return *this;
}

void SensorSession::LineClaim::Release()
{
    if (session_ != nullptr)
        session_->claims_.fetch_sub(1);
    session_ = nullptr;
}
