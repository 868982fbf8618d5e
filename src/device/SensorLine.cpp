#include "device/SensorLine.h"

SensorLine::SensorLine() : device_(TAVO_Interface_RadarDevice_Serial_Create()), owned_(true) {}

SensorLine::SensorLine(TAVO_RadarDeviceHandle borrowed) : device_(borrowed), owned_(false) {}

SensorLine::~SensorLine()
{
    if (!owned_)
        return;
    TAVO_Interface_RadarDevice_Serial_Close(device_);
    TAVO_Interface_RadarDevice_Serial_Destroy(device_);
}

bool SensorLine::Note(bool ok)
{
    if (!ok) {
        int timeoutMs = 0;
        failure_.status = TAVO_Interface_RadarDevice_GetLastStatus(device_, &timeoutMs);
        failure_.timeoutMs = timeoutMs;
        // A call refused before any exchange (closed port) leaves no status behind.
        if (failure_.status == RADAR_STATUS_OK)
            failure_.status = RADAR_ERR_NOT_CONNECTED;
    }
    return ok;
}

uint16_t SensorLine::NoteStatus(uint16_t status)
{
    if (status != RADAR_STATUS_OK) {
        int timeoutMs = 0;
        (void)TAVO_Interface_RadarDevice_GetLastStatus(device_, &timeoutMs);
        failure_ = LineFailure{status, timeoutMs};
    }
    return status;
}

bool SensorLine::OpenByPath(const std::string& path, int baudRate, bool enterCommandMode, int timeoutMs)
{
    const bool opened = TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, path.c_str(), baudRate,
                                                                     eRADAR_PROTOCOL_VERSION_2, 0,
                                                                     enterCommandMode ? 1 : 0, 0, timeoutMs) != 0;
    // Whether the sensor acknowledged command mode shows as the line's last failure.
    if (opened && enterCommandMode)
        NoteStatus(TAVO_Interface_RadarDevice_GetLastStatus(device_, nullptr));
    return opened;
}

bool SensorLine::OpenByPortNumber(int portNumber, int baudRate, bool enterCommandMode, int timeoutMs)
{
    const bool opened = TAVO_Interface_RadarDevice_Serial_OpenByPortNum(device_, portNumber, baudRate,
                                                                        eRADAR_PROTOCOL_VERSION_2, 0,
                                                                        enterCommandMode ? 1 : 0, 0, timeoutMs) != 0;
    if (opened && enterCommandMode)
        NoteStatus(TAVO_Interface_RadarDevice_GetLastStatus(device_, nullptr));
    return opened;
}

eRADAR_OPEN_ERROR SensorLine::LastOpenError() const
{
    return TAVO_Interface_RadarDevice_GetLastOpenError(device_);
}

bool SensorLine::IsConnected() const
{
    return TAVO_Interface_RadarDevice_IsConnected(device_) != 0;
}

void SensorLine::Close()
{
    TAVO_Interface_RadarDevice_Serial_Close(device_);
}

bool SensorLine::StartCmdMode(int timeoutMs)
{
    return Note(TAVO_Interface_RadarDevice_StartCmdMode(device_, eRADAR_PROTOCOL_VERSION_2, timeoutMs) != 0);
}

void SensorLine::StopCmdMode()
{
    TAVO_Interface_RadarDevice_StopCmdMode(device_);
}

bool SensorLine::GetVersion(std::string& version)
{
    return Note(TAVO_Interface_RadarDevice_GetVersion(device_, version) != 0);
}

bool SensorLine::GetSerialNumber(std::string& serialNumber)
{
    return Note(TAVO_Interface_RadarDevice_GetSerialNumber(device_, serialNumber) != 0);
}

bool SensorLine::GetParameter(uint16_t paramId, int count, const uint16_t* keys, uint32_t* values, int timeoutMs)
{
    return Note(TAVO_Interface_RadarDevice_Protocol_GetParameter(device_, paramId, count, keys, values, timeoutMs) !=
                0);
}

bool SensorLine::SetParameter(uint16_t paramId, int count, const uint16_t* keys, const uint32_t* values,
                              int timeoutMs)
{
    return Note(TAVO_Interface_RadarDevice_Protocol_SetParameter(device_, paramId, count, keys, values, timeoutMs) !=
                0);
}

uint16_t SensorLine::SendCommand(uint16_t command, const void* payload, int length, RadarAckCheckFunc check,
                                 uint64_t context, int timeoutMs)
{
    return NoteStatus(
        TAVO_Interface_RadarDevice_Protocol_SendCommand(device_, command, payload, length, check, context, timeoutMs));
}

void SensorLine::SendCommandNoAck(uint16_t command, const void* payload, int length)
{
    TAVO_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(device_, command, payload, length);
}

int SensorLine::ReadData(void* buffer, int capacity, int timeoutMs)
{
    return TAVO_Interface_RadarDevice_ReadData(device_, buffer, capacity, timeoutMs, 0);
}

void SensorLine::CancelRead()
{
    TAVO_Interface_RadarDevice_CancelRead(device_);
}

int SensorLine::WriteBufferMaxSize() const
{
    return TAVO_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(device_);
}

void SensorLine::Drain()
{
    char scratch[4096];
    while (ReadData(scratch, sizeof scratch, 0) > 0) {
    }
}
