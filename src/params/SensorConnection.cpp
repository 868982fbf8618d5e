#include "params/SensorConnection.h"

#include "app/StringTable.h"
#include "device/CommandModeScope.h"
#include "params/RadarOperatorConfig.h"

CSensorConnection::CSensorConnection() : device_(TAVO_Interface_RadarDevice_Serial_Create()) {}

CSensorConnection::~CSensorConnection() {
    TAVO_Interface_RadarDevice_Serial_Close(device_);
    TAVO_Interface_RadarDevice_Serial_Destroy(device_);
}

bool CSensorConnection::Open(const std::string& path, int baudRate) {
    return TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, path.c_str(), baudRate, eRADAR_PROTOCOL_VERSION_2, 0,
                                                        0, 0, COMMAND_MODE_TIMEOUT_MS) != 0;
}

bool CSensorConnection::Open(int portNumber, int baudRate) {
    return TAVO_Interface_RadarDevice_Serial_OpenByPortNum(device_, portNumber, baudRate, eRADAR_PROTOCOL_VERSION_2,
                                                           0, 0, 0, COMMAND_MODE_TIMEOUT_MS) != 0;
}

bool CSensorConnection::Connect(int portNumber, int baudRate, ParamSetting& record) {
    version_.clear();
    serialNumber_.clear();
    readResult_ = OPERATOR_NOT_CONNECTED;
    // Command mode is entered by the open itself and left after the last read.
    if (!TAVO_Interface_RadarDevice_Serial_OpenByPortNum(device_, portNumber, baudRate, eRADAR_PROTOCOL_VERSION_2, 1,
                                                         1, 1, COMMAND_MODE_TIMEOUT_MS))
        return false;
    TAVO_Interface_RadarDevice_GetVersion(device_, version_);
    TAVO_Interface_RadarDevice_GetSerialNumber(device_, serialNumber_);
    readResult_ = ReadAllParams(device_, record);
    TAVO_Interface_RadarDevice_StopCmdMode(device_);
    return true;
}

void CSensorConnection::Close() { TAVO_Interface_RadarDevice_Serial_Close(device_); }

bool CSensorConnection::IsConnected() const { return TAVO_Interface_RadarDevice_IsConnected(device_) != 0; }

bool CSensorConnection::ReadIdentity() {
    CommandModeScope mode(device_);
    const bool version = TAVO_Interface_RadarDevice_GetVersion(device_, version_) != 0;
    const bool serial = TAVO_Interface_RadarDevice_GetSerialNumber(device_, serialNumber_) != 0;
    return version && serial;
}

eRADAR_OPEN_ERROR CSensorConnection::OpenError() const { return TAVO_Interface_RadarDevice_GetLastOpenError(device_); }

std::string OpenErrorText(eRADAR_OPEN_ERROR error) {
    switch (error) {
    case eRADAR_OPEN_NO_SUCH_PORT: return LoadStringText(TEXT_NO_SUCH_PORT);
    case eRADAR_OPEN_BUSY: return LoadStringText(TEXT_PORT_BUSY);
    case eRADAR_OPEN_PERMISSION_DENIED: return LoadStringText(TEXT_PERMISSION_DENIED);
    case eRADAR_OPEN_BAD_BAUD_RATE: return LoadStringText(TEXT_BAD_BAUD_RATE);
    case eRADAR_OPEN_CONTROLLING_TERMINAL: return LoadStringText(TEXT_CONTROLLING_TERMINAL);
    default: return LoadStringText(TEXT_PORT_NOT_OPENED);
    }
}

std::string PortOpenFailureText(const std::string& path, eRADAR_OPEN_ERROR error) {
    return FormatStringText(TEXT_CANNOT_OPEN_PORT, path.c_str(), OpenErrorText(error).c_str());
}

std::string CSensorConnection::OpenFailureText(const std::string& path) const {
    return PortOpenFailureText(path, OpenError());
}

CSensorConnection::LineClaim& CSensorConnection::LineClaim::operator=(LineClaim&& other) noexcept {
    if (this != &other) {
        Release();
        claims_ = other.claims_;
        other.claims_ = nullptr;
    }
    return *this;
}

void CSensorConnection::LineClaim::Release() {
    if (claims_ != nullptr) claims_->fetch_sub(1);
    claims_ = nullptr;
}
