#pragma once
// The device library's C++ face: one device handle, created and destroyed with
// the object, and its calls as member functions. Procedures and workers take a
// SensorLine& and never see the handle; the sensor session (session/) owns the
// one line of a connection and lends it out.
//
// Threads: as the handle's (RadarDevice.h): one controlling thread and at most
// one worker; CancelRead, IsConnected, LastOpenError and WriteBufferMaxSize from
// any thread.

#include <cstdint>
#include <string>

#include "device/RadarDevice.h"

// How a call on the line failed: the library's RADAR_ERR_* or the status the
// sensor answered, and how long the exchange waited for its reply.
struct LineFailure {
    uint16_t status = RADAR_STATUS_OK;
    int timeoutMs = 0;
};

class SensorLine {
public:
    SensorLine();
    // A view of a handle someone else owns (the device library's own tests): the
    // destructor leaves it open.
    explicit SensorLine(TAVO_RadarDeviceHandle borrowed);
    ~SensorLine();  // closes the port and destroys the handle it created
    SensorLine(const SensorLine&) = delete;
    SensorLine& operator=(const SensorLine&) = delete;

    // Opens a path or a port number of the registry, raw 8N1, exclusively;
    // enterCommandMode enters it right after opening (a silent sensor still leaves
    // the port open). True when the port is open.
    bool OpenByPath(const std::string& path, int baudRate, bool enterCommandMode, int timeoutMs);
    bool OpenByPortNumber(int portNumber, int baudRate, bool enterCommandMode, int timeoutMs);
    [[nodiscard]] eRADAR_OPEN_ERROR LastOpenError() const;
    [[nodiscard]] bool IsConnected() const;
    void Close();

    bool StartCmdMode(int timeoutMs);
    void StopCmdMode();
    bool GetVersion(std::string& version);
    bool GetSerialNumber(std::string& serialNumber);
    bool GetParameter(uint16_t paramId, int count, const uint16_t* keys, uint32_t* values, int timeoutMs);
    bool SetParameter(uint16_t paramId, int count, const uint16_t* keys, const uint32_t* values, int timeoutMs);
    // The check's status (0 = ok) or a RADAR_ERR_*; check null = the reply's first field.
    uint16_t SendCommand(uint16_t command, const void* payload, int length, RadarAckCheckFunc check,
                         uint64_t context, int timeoutMs);
    void SendCommandNoAck(uint16_t command, const void* payload, int length);
    // Bytes read within the time-out; 0 on time-out or CancelRead; negative once the port is closed.
    int ReadData(void* buffer, int capacity, int timeoutMs);
    void CancelRead();
    [[nodiscard]] int WriteBufferMaxSize() const;
    // Reads away whatever the line holds now without waiting (the report stream
    // between commands) and lets the library notice a hang-up.
    void Drain();

    // The last call that failed since ClearFailure (leaving command mode is not
    // counted: it runs on every path and would hide why the sequence failed).
    [[nodiscard]] const LineFailure& LastFailure() const { return failure_; }
    void ClearFailure() { failure_ = {}; }

private:
    bool Note(bool ok);
    uint16_t NoteStatus(uint16_t status);

    TAVO_RadarDeviceHandle device_;
    bool owned_;
    LineFailure failure_;  // written and read by the thread that makes the calls
};
