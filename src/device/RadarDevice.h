#pragma once
// The radar device library: one serial link to the sensor, its command framing,
// parameter reads and writes by id, commands with reply checks, and raw reads of
// the report stream. Wire format: docs/protocol.md.
//
// Threads: one handle serves one controlling thread (the UI thread, or the CLI's
// main thread) and at most one worker at a time. CancelRead may be called from any
// thread at any time and makes a ReadData that blocks on another thread return at
// once. IsConnected, GetLastOpenError and Protocol_GetWriteBufferMaxSize may be
// called from any thread. Every other call uses the line and is serialised by the
// handle: it waits while another such call runs, so a command issued while a
// worker blocks in ReadData waits for that read to end (cancel it first).
// Serial_Destroy must be the last call, after every worker has been joined.

#include <cstddef>
#include <cstdint>
#include <string>

struct TAVO_RadarDevice;  // opaque
using TAVO_RadarDeviceHandle = TAVO_RadarDevice*;

enum eRADAR_PROTOCOL_VERSION : int {
    eRADAR_PROTOCOL_VERSION_2 = 2,
};

// Library status codes, returned like a reply status (16 bits).
enum : uint16_t {
    RADAR_STATUS_OK = 0x0000,
    RADAR_ERR_NOT_CONNECTED = 0xA001,
    RADAR_ERR_WRITE_FAILED = 0xA002,
    RADAR_ERR_TIMEOUT = 0xA003,
    RADAR_ERR_MALFORMED_REPLY = 0xA004,
};

// Why the last open of a handle failed.
enum eRADAR_OPEN_ERROR : int {
    eRADAR_OPEN_OK = 0,
    eRADAR_OPEN_NO_SUCH_PORT = 1,      // the path does not exist, or the port number is unknown
    eRADAR_OPEN_BUSY = 2,              // another program holds the port
    eRADAR_OPEN_PERMISSION_DENIED = 3, // on Linux: the user is not in the dialout group
    eRADAR_OPEN_BAD_BAUD_RATE = 4,     // the driver refused the rate
    eRADAR_OPEN_OTHER = 5,
    eRADAR_OPEN_CONTROLLING_TERMINAL = 6,  // the process's own terminal (/dev/tty) is refused
    eRADAR_OPEN_IS_FOLDER = 7,             // the path names a folder
    eRADAR_OPEN_NOT_A_SERIAL_PORT = 8,     // a file or a device that is not a terminal (/dev/null)
    eRADAR_OPEN_NO_SERVER = 9,             // tcp:// or rfc2217://: refused, or no answer to the connect
    eRADAR_OPEN_NO_LINE_CONTROL = 10,      // rfc2217://: the server did not answer the line settings
};

// Reply check: (protocol version, reply payload, its length, caller's context) -> status, 0 = ok.
using RadarAckCheckFunc = uint16_t (*)(eRADAR_PROTOCOL_VERSION version, const uint8_t* reply, int length,
                                       uint64_t context);

// The library's own reply check: the status is the reply's first 16-bit field;
// a reply shorter than 2 bytes gives RADAR_ERR_MALFORMED_REPLY.
uint16_t CheckCmdAckData_RetCode(eRADAR_PROTOCOL_VERSION version, const uint8_t* reply, int length,
                                 uint64_t context);

TAVO_RadarDeviceHandle TAVO_Interface_RadarDevice_Serial_Create();
void TAVO_Interface_RadarDevice_Serial_Destroy(TAVO_RadarDeviceHandle device);

// Opens the port that the port number stands for (see SerialPortRegistry.h), in
// raw 8N1 at the baud rate, exclusively. flagEnterCmdMode non-zero enters command
// mode with the time-out right after opening; a sensor that does not answer still
// leaves the port open. flagA and flagB are accepted and have no effect here.
// Non-zero when the port is open. Closes a port the handle already had open.
int TAVO_Interface_RadarDevice_Serial_OpenByPortNum(TAVO_RadarDeviceHandle device, int portNumber, int baudRate,
                                                     int protocolVersion, int flagA, int flagEnterCmdMode,
                                                     int flagB, int timeoutMs);
// The same by device path ("/dev/ttyUSB0", a pseudo-terminal, a symbolic link).
int TAVO_Interface_RadarDevice_Serial_OpenByPath(TAVO_RadarDeviceHandle device, const char* path, int baudRate,
                                                  int protocolVersion, int flagA, int flagEnterCmdMode,
                                                  int flagB, int timeoutMs);
// Why the last open failed (eRADAR_OPEN_OK after a successful one).
[[nodiscard]] eRADAR_OPEN_ERROR TAVO_Interface_RadarDevice_GetLastOpenError(TAVO_RadarDeviceHandle device);

// Non-zero while the port is open. A hang-up or an I/O error on the port closes it;
// an idle port is looked at on each call, so an unplugged adapter shows at once.
[[nodiscard]] int TAVO_Interface_RadarDevice_IsConnected(TAVO_RadarDeviceHandle device);
void TAVO_Interface_RadarDevice_Serial_Close(TAVO_RadarDeviceHandle device);

// Enter command mode (0x00FF); non-zero when the sensor acknowledged it.
int TAVO_Interface_RadarDevice_StartCmdMode(TAVO_RadarDeviceHandle device, int protocolVersion, int timeoutMs);
// Leave command mode (0x00FE); the sensor goes back to streaming reports. Waits for
// the reply as long as GetVersion does.
void TAVO_Interface_RadarDevice_StopCmdMode(TAVO_RadarDeviceHandle device);

// Firmware version and serial number texts; non-zero on success, the text empty
// otherwise. They wait for the reply as long as the open call's time-out, at least 100 ms.
// A text that is not printable ASCII is asked for once more: a printable answer or
// the same text again is taken, anything else fails.
int TAVO_Interface_RadarDevice_GetVersion(TAVO_RadarDeviceHandle device, std::string& version);
int TAVO_Interface_RadarDevice_GetSerialNumber(TAVO_RadarDeviceHandle device, std::string& serialNumber);

// Reads count values of a parameter id by key; non-zero when all were read
// (values is left unchanged otherwise).
int TAVO_Interface_RadarDevice_Protocol_GetParameter(TAVO_RadarDeviceHandle device, uint16_t paramId, int count,
                                                     const uint16_t* keys, uint32_t* values, int timeoutMs);
// Writes count key/value pairs of a parameter id; non-zero when acknowledged with status 0.
int TAVO_Interface_RadarDevice_Protocol_SetParameter(TAVO_RadarDeviceHandle device, uint16_t paramId, int count,
                                                     const uint16_t* keys, const uint32_t* values,
                                                     int timeoutMs);

// Sends a command and waits for its acknowledgement; the reply payload goes to the
// check (CheckCmdAckData_RetCode when null), whose status is returned. 0 = ok;
// RADAR_ERR_* when nothing usable came back. Report frames, noise and replies to
// other commands that arrive meanwhile are skipped; bytes received before the
// command was sent are discarded. The check runs on the calling thread.
uint16_t TAVO_Interface_RadarDevice_Protocol_SendCommand(TAVO_RadarDeviceHandle device, uint16_t command,
                                                         const void* payload, int length, RadarAckCheckFunc check,
                                                         uint64_t context, int timeoutMs);
// How the last exchange on the handle ended: RADAR_STATUS_OK, a RADAR_ERR_* of the
// library, or the status the sensor answered; *timeoutMs (when not null) gets how
// long that exchange waited for its reply. Meaningful right after a call failed,
// on the thread that made it.
[[nodiscard]] uint16_t TAVO_Interface_RadarDevice_GetLastStatus(TAVO_RadarDeviceHandle device, int* timeoutMs);
// Sends a command without waiting for anything.
void TAVO_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(TAVO_RadarDeviceHandle device, uint16_t command,
                                                                const void* payload, int length);

// Reads whatever bytes arrive within the time-out, up to capacity; bytes that
// came right behind a command's reply are returned first. Returns the count; 0 on
// time-out or CancelRead; negative when the port is closed or failed. The read
// that meets a hang-up returns at once; a read on a closed port waits out its
// time-out (or a CancelRead) before it returns negative, so that a worker which
// retries does not spin.
int TAVO_Interface_RadarDevice_ReadData(TAVO_RadarDeviceHandle device, void* buffer, int capacity, int timeoutMs,
                                        int flags);
// Makes a ReadData blocked on another thread return at once (and the next one, if
// none is blocked now).
void TAVO_Interface_RadarDevice_CancelRead(TAVO_RadarDeviceHandle device);
// The sensor's buffer size from the command-mode reply; the size of one read chunk.
[[nodiscard]] int TAVO_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(TAVO_RadarDeviceHandle device);
