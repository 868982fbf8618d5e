// The device handle: one serial line, the command exchange over it, and the
// named operations the tool calls.

#include "device/RadarDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "common/ByteOrder.h"
#include "common/ValueParse.h"
#include "device/CommandFraming.h"
#include "device/NetworkPort.h"
#include "device/SerialPort.h"
#include "device/SerialPortRegistry.h"
#include "device/WireTrace.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t CMD_ENTER_COMMAND_MODE = 0x00FF;
constexpr uint16_t CMD_LEAVE_COMMAND_MODE = 0x00FE;
constexpr uint16_t CMD_READ_VERSION = 0x0000;
constexpr uint16_t CMD_READ_SERIAL_NUMBER = 0x0011;
// Chunk size until a command-mode reply names the sensor's.
constexpr int DEFAULT_BUFFER_SIZE = 64;
// Calls without a time-out of their own wait at least this long for their reply.
constexpr int MINIMUM_REPLY_MS = 100;
constexpr int WRITE_TIMEOUT_MS = 2000;
// Bytes read at a time while waiting for a reply.
constexpr size_t READ_CHUNK = 512;

int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

eRADAR_OPEN_ERROR ToOpenError(SerialOpenResult result)
{
    switch (result) {
    case SerialOpenResult::Ok:
        return eRADAR_OPEN_OK;
    case SerialOpenResult::NoSuchPort:
        return eRADAR_OPEN_NO_SUCH_PORT;
    case SerialOpenResult::Busy:
        return eRADAR_OPEN_BUSY;
    case SerialOpenResult::PermissionDenied:
        return eRADAR_OPEN_PERMISSION_DENIED;
    case SerialOpenResult::BadBaudRate:
        return eRADAR_OPEN_BAD_BAUD_RATE;
    case SerialOpenResult::ControllingTerminal:
        return eRADAR_OPEN_CONTROLLING_TERMINAL;
    case SerialOpenResult::IsFolder:
        return eRADAR_OPEN_IS_FOLDER;
    case SerialOpenResult::NotSerialPort:
        return eRADAR_OPEN_NOT_A_SERIAL_PORT;
    case SerialOpenResult::NoServer:
        return eRADAR_OPEN_NO_SERVER;
    case SerialOpenResult::NoComPortControl:
        return eRADAR_OPEN_NO_LINE_CONTROL;
    case SerialOpenResult::Other:
        break;
    }
    return eRADAR_OPEN_OTHER;
}

}  // namespace

struct TAVO_RadarDevice {
    std::unique_ptr<SerialPort> port = CreatePortForAnyName();
    // Serialises every use of the line and of the fields below it between the
    // controlling thread and the worker. CancelRead, IsConnected and the two
    // atomics need no lock.
    std::mutex ioMutex;
    std::vector<uint8_t> pending;   //!< Bytes received after a reply, handed out by ReadData first.
    int protocolVersion = eRADAR_PROTOCOL_VERSION_2;
    int replyTimeoutMs = MINIMUM_REPLY_MS;  //!< For calls that have no time-out argument.
    std::atomic<int> bufferSize{DEFAULT_BUFFER_SIZE};
    std::atomic<int> lastOpenError{eRADAR_OPEN_OK};
    // How the last exchange ended and how long it waited, for the caller to say why a call failed.
    std::atomic<uint16_t> lastStatus{RADAR_STATUS_OK};
    std::atomic<int> lastTimeoutMs{0};
    std::string path;  //!< What was opened last, as the wire trace names the port; under ioMutex.
};

namespace {

// Sends one command and waits for its acknowledgement; the reply payload lands
// in `reply`. Caller holds ioMutex.
// `seen` (when not null) gets the frame sent and every byte received, for the wire trace.
struct ExchangeBytes {
    std::vector<uint8_t> sent;
    std::vector<uint8_t> received;
};

uint16_t ExchangeOnce(TAVO_RadarDevice& device, uint16_t command, const uint8_t* payload, size_t length, int timeoutMs,
                  std::vector<uint8_t>& reply, ExchangeBytes* seen)
{
    reply.clear();
    if (!device.port->IsOpen()) {
        return RADAR_ERR_NOT_CONNECTED;
    }
    // Whatever arrived before the command cannot be its reply, but it could be a
    // late reply to an earlier command with the same word.
    device.pending.clear();
    device.port->DiscardInput();

    const std::vector<uint8_t> frame = BuildCommandFrame(command, payload, length);
    if (seen != nullptr) {
        seen->sent = frame;
    }
    if (!device.port->Write(frame.data(), frame.size(), WRITE_TIMEOUT_MS)) {
        return RADAR_ERR_WRITE_FAILED;
    }

    const uint16_t ackWord = static_cast<uint16_t>(command | ACK_FLAG);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::vector<uint8_t> received;
    uint8_t chunk[READ_CHUNK];
    for (;;) {
        const AckScanResult scan = ScanForAck(received.data(), received.size(), ackWord);
        if (scan.status == AckScan::Found) {
            reply.assign(received.begin() + static_cast<std::ptrdiff_t>(scan.payloadOffset),
                         received.begin() + static_cast<std::ptrdiff_t>(scan.payloadOffset + scan.payloadLength));
            device.pending.assign(received.begin() + static_cast<std::ptrdiff_t>(scan.consumed), received.end());
            return RADAR_STATUS_OK;
        }
        received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(scan.consumed));
        const int left = RemainingMs(deadline);
        if (left == 0) {
            return RADAR_ERR_TIMEOUT;
        }
        // Not cancellable: CancelRead is meant for the report reads of a worker.
        const int n = device.port->Read(chunk, sizeof(chunk), left, false);
        if (n < 0) {
            return RADAR_ERR_NOT_CONNECTED;
        }
        received.insert(received.end(), chunk, chunk + n);
        if (seen != nullptr) {
            seen->received.insert(seen->received.end(), chunk, chunk + n);
        }
    }
}

TraceOutcome OutcomeOf(uint16_t status, bool sent)
{
    switch (status) {
    case RADAR_STATUS_OK: return TraceOutcome::Ok;
    case RADAR_ERR_TIMEOUT: return TraceOutcome::Timeout;
    case RADAR_ERR_WRITE_FAILED: return TraceOutcome::WriteFailed;
    default: return sent ? TraceOutcome::LineLost : TraceOutcome::NotOpen;
    }
}

// Notes how an exchange ended (the transport's status, or the sensor's own) and
// passes the status on.
uint16_t NoteStatus(TAVO_RadarDevice& device, uint16_t status)
{
    device.lastStatus.store(status);
    return status;
}

// The status a reply starts with; a reply too short to hold one is malformed.
uint16_t ReplyStatus(const std::vector<uint8_t>& reply)
{
    return reply.size() >= 2 ? ReadLE16(reply.data()) : static_cast<uint16_t>(RADAR_ERR_MALFORMED_REPLY);
}

uint16_t Exchange(TAVO_RadarDevice& device, uint16_t command, const uint8_t* payload, size_t length, int timeoutMs,
                  std::vector<uint8_t>& reply)
{
    device.lastTimeoutMs.store(timeoutMs);
    const std::shared_ptr<WireTrace> trace = CurrentWireTrace();
    if (!trace) {
        return NoteStatus(device, ExchangeOnce(device, command, payload, length, timeoutMs, reply, nullptr));
    }
    ExchangeBytes seen;
    const auto started = std::chrono::system_clock::now();
    const auto startedSteady = Clock::now();
    const uint16_t status = ExchangeOnce(device, command, payload, length, timeoutMs, reply, &seen);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedSteady).count();
    trace->Exchange(device.path, command, started, seen.sent, seen.received, OutcomeOf(status, !seen.sent.empty()),
                    static_cast<int>(waited));
    return NoteStatus(device, status);
}

int EnterCommandMode(TAVO_RadarDevice& device, int protocolVersion, int timeoutMs)
{
    std::vector<uint8_t> payload;
    AppendLE16(payload, static_cast<uint16_t>(protocolVersion));
    std::vector<uint8_t> reply;
    if (Exchange(device, CMD_ENTER_COMMAND_MODE, payload.data(), payload.size(), timeoutMs, reply) != RADAR_STATUS_OK) {
        return 0;
    }
    if (NoteStatus(device, ReplyStatus(reply)) != RADAR_STATUS_OK) {
        return 0;
    }
    if (reply.size() >= 6) {
        const int size = ReadLE16(reply.data() + 4);
        if (size > 0) {
            device.bufferSize.store(size);
        }
    }
    return 1;
}

// Version and serial number replies: u16 status, u16 length, text. Caller holds ioMutex.
bool ExchangeText(TAVO_RadarDevice& device, uint16_t command, std::string& text)
{
    text.clear();
    std::vector<uint8_t> reply;
    if (Exchange(device, command, nullptr, 0, device.replyTimeoutMs, reply) != RADAR_STATUS_OK) {
        return false;
    }
    if (NoteStatus(device, ReplyStatus(reply)) != RADAR_STATUS_OK) {
        return false;
    }
    if (reply.size() < 4 || reply.size() < 4 + static_cast<size_t>(ReadLE16(reply.data() + 2))) {
        NoteStatus(device, RADAR_ERR_MALFORMED_REPLY);
        return false;
    }
    const size_t length = ReadLE16(reply.data() + 2);
    text.assign(reinterpret_cast<const char*>(reply.data() + 4), length);
    // Some firmware pads the text with NULs.
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return true;
}

// The replies carry no checksum: a text that is not printable ASCII may be a
// corrupted byte, so it is asked for once more. A printable second answer is
// taken; so is one that repeats the first, which is what the sensor holds.
int ReadText(TAVO_RadarDevice* device, uint16_t command, std::string& text)
{
    text.clear();
    if (device == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(device->ioMutex);
    std::string first;
    if (!ExchangeText(*device, command, first)) {
        return 0;
    }
    if (!IsPrintableAscii(first)) {
        std::string second;
        if (!ExchangeText(*device, command, second)) {
            return 0;
        }
        if (second != first && !IsPrintableAscii(second)) {
            NoteStatus(*device, RADAR_ERR_MALFORMED_REPLY);
            return 0;
        }
        first = std::move(second);
    }
    text = std::move(first);
    return 1;
}

int OpenPath(TAVO_RadarDevice* device, const std::string& path, int baudRate, int protocolVersion,
             int flagEnterCmdMode, int timeoutMs)
{
    if (device == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(device->ioMutex);
    device->pending.clear();
    device->bufferSize.store(DEFAULT_BUFFER_SIZE);
    const SerialOpenResult result = device->port->Open(path, baudRate);
    device->lastOpenError.store(ToOpenError(result));
    device->path = path;
    if (const std::shared_ptr<WireTrace> trace = CurrentWireTrace()) {
        trace->Event(path, result == SerialOpenResult::Ok ? "open-" + std::to_string(baudRate) + "-baud" : "open-failed");
    }
    if (result != SerialOpenResult::Ok) {
        return 0;
    }
    device->protocolVersion = protocolVersion;
    device->replyTimeoutMs = timeoutMs > MINIMUM_REPLY_MS ? timeoutMs : MINIMUM_REPLY_MS;
    if (flagEnterCmdMode != 0) {
        // A sensor that does not answer still leaves the port open: the caller
        // finds out from its next call.
        EnterCommandMode(*device, protocolVersion, timeoutMs);
    }
    return 1;
}

}  // namespace

uint16_t CheckCmdAckData_RetCode(eRADAR_PROTOCOL_VERSION /*version*/, const uint8_t* reply, int length,
                                 uint64_t /*context*/)
{
    if (reply == nullptr || length < 2) {
        return RADAR_ERR_MALFORMED_REPLY;
    }
    return ReadLE16(reply);
}

TAVO_RadarDeviceHandle TAVO_Interface_RadarDevice_Serial_Create()
{
    return new TAVO_RadarDevice();
}

void TAVO_Interface_RadarDevice_Serial_Destroy(TAVO_RadarDeviceHandle device)
{
    delete device;
}

int TAVO_Interface_RadarDevice_Serial_OpenByPortNum(TAVO_RadarDeviceHandle device, int portNumber, int baudRate,
                                                     int protocolVersion, int /*flagA*/, int flagEnterCmdMode,
                                                     int /*flagB*/, int timeoutMs)
{
    if (device == nullptr) {
        return 0;
    }
    const std::string path = SerialPortPathFromNumber(portNumber);
    if (path.empty()) {
        TAVO_Interface_RadarDevice_Serial_Close(device);
        device->lastOpenError.store(eRADAR_OPEN_NO_SUCH_PORT);
        return 0;
    }
    return OpenPath(device, path, baudRate, protocolVersion, flagEnterCmdMode, timeoutMs);
}

int TAVO_Interface_RadarDevice_Serial_OpenByPath(TAVO_RadarDeviceHandle device, const char* path, int baudRate,
                                                  int protocolVersion, int /*flagA*/, int flagEnterCmdMode,
                                                  int /*flagB*/, int timeoutMs)
{
    return OpenPath(device, path == nullptr ? std::string() : std::string(path), baudRate, protocolVersion,
                    flagEnterCmdMode, timeoutMs);
}

eRADAR_OPEN_ERROR TAVO_Interface_RadarDevice_GetLastOpenError(TAVO_RadarDeviceHandle device)
{
    if (device == nullptr) {
        return eRADAR_OPEN_OTHER;
    }
    return static_cast<eRADAR_OPEN_ERROR>(device->lastOpenError.load());
}

int TAVO_Interface_RadarDevice_IsConnected(TAVO_RadarDeviceHandle device)
{
    if (device == nullptr || !device->port->IsOpen()) {
        return 0;
    }
    // An idle line is looked at, so that an unplugged adapter shows before the next
    // command. A line in use by another call is left alone: that call notices.
    std::unique_lock<std::mutex> lock(device->ioMutex, std::try_to_lock);
    if (lock.owns_lock()) {
        return device->port->CheckLine() ? 1 : 0;
    }
    return device->port->IsOpen() ? 1 : 0;
}

void TAVO_Interface_RadarDevice_Serial_Close(TAVO_RadarDeviceHandle device)
{
    if (device == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(device->ioMutex);
    if (device->port->IsOpen()) {
        if (const std::shared_ptr<WireTrace> trace = CurrentWireTrace()) {
            trace->Event(device->path, "close");
        }
    }
    device->port->Close();
    device->pending.clear();
}

int TAVO_Interface_RadarDevice_StartCmdMode(TAVO_RadarDeviceHandle device, int protocolVersion, int timeoutMs)
{
    if (device == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(device->ioMutex);
    return EnterCommandMode(*device, protocolVersion, timeoutMs);
}

void TAVO_Interface_RadarDevice_StopCmdMode(TAVO_RadarDeviceHandle device)
{
    if (device == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(device->ioMutex);
    std::vector<uint8_t> reply;
    Exchange(*device, CMD_LEAVE_COMMAND_MODE, nullptr, 0, device->replyTimeoutMs, reply);
}

int TAVO_Interface_RadarDevice_GetVersion(TAVO_RadarDeviceHandle device, std::string& version)
{
    return ReadText(device, CMD_READ_VERSION, version);
}

int TAVO_Interface_RadarDevice_GetSerialNumber(TAVO_RadarDeviceHandle device, std::string& serialNumber)
{
    return ReadText(device, CMD_READ_SERIAL_NUMBER, serialNumber);
}

int TAVO_Interface_RadarDevice_Protocol_GetParameter(TAVO_RadarDeviceHandle device, uint16_t paramId, int count,
                                                     const uint16_t* keys, uint32_t* values, int timeoutMs)
{
    if (device == nullptr || count <= 0 || keys == nullptr || values == nullptr) {
        return 0;
    }
    std::vector<uint8_t> payload;
    for (int i = 0; i < count; ++i) {
        AppendLE16(payload, keys[i]);
    }
    std::lock_guard<std::mutex> lock(device->ioMutex);
    std::vector<uint8_t> reply;
    if (Exchange(*device, paramId, payload.data(), payload.size(), timeoutMs, reply) != RADAR_STATUS_OK) {
        return 0;
    }
    if (NoteStatus(*device, ReplyStatus(reply)) != RADAR_STATUS_OK) {
        return 0;
    }
    const size_t expected = 2 + 4 * static_cast<size_t>(count);
    if (reply.size() != expected) {
        NoteStatus(*device, RADAR_ERR_MALFORMED_REPLY);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        values[i] = ReadLE32(reply.data() + 2 + 4 * i);
    }
    return 1;
}

int TAVO_Interface_RadarDevice_Protocol_SetParameter(TAVO_RadarDeviceHandle device, uint16_t paramId, int count,
                                                     const uint16_t* keys, const uint32_t* values, int timeoutMs)
{
    if (device == nullptr || count <= 0 || keys == nullptr || values == nullptr) {
        return 0;
    }
    std::vector<uint8_t> payload;
    for (int i = 0; i < count; ++i) {
        AppendLE16(payload, keys[i]);
        AppendLE32(payload, values[i]);
    }
    std::lock_guard<std::mutex> lock(device->ioMutex);
    std::vector<uint8_t> reply;
    if (Exchange(*device, paramId, payload.data(), payload.size(), timeoutMs, reply) != RADAR_STATUS_OK) {
        return 0;
    }
    return NoteStatus(*device, ReplyStatus(reply)) == RADAR_STATUS_OK ? 1 : 0;
}

uint16_t TAVO_Interface_RadarDevice_Protocol_SendCommand(TAVO_RadarDeviceHandle device, uint16_t command,
                                                         const void* payload, int length, RadarAckCheckFunc check,
                                                         uint64_t context, int timeoutMs)
{
    if (device == nullptr) {
        return RADAR_ERR_NOT_CONNECTED;
    }
    if (length < 0 || (length > 0 && payload == nullptr)) {
        return RADAR_ERR_WRITE_FAILED;
    }
    std::vector<uint8_t> reply;
    eRADAR_PROTOCOL_VERSION version;
    {
        std::lock_guard<std::mutex> lock(device->ioMutex);
        const uint16_t status = Exchange(*device, command, static_cast<const uint8_t*>(payload),
                                         static_cast<size_t>(length), timeoutMs, reply);
        if (status != RADAR_STATUS_OK) {
            return status;
        }
        version = static_cast<eRADAR_PROTOCOL_VERSION>(device->protocolVersion);
    }
    // The check runs without the lock: it is the caller's code.
    const RadarAckCheckFunc checker = check != nullptr ? check : &CheckCmdAckData_RetCode;
    return NoteStatus(*device, checker(version, reply.data(), static_cast<int>(reply.size()), context));
}

uint16_t TAVO_Interface_RadarDevice_GetLastStatus(TAVO_RadarDeviceHandle device, int* timeoutMs)
{
    if (device == nullptr) {
        return RADAR_ERR_NOT_CONNECTED;
    }
    if (timeoutMs != nullptr) {
        *timeoutMs = device->lastTimeoutMs.load();
    }
    return device->lastStatus.load();
}

void TAVO_Interface_RadarDevice_Protocol_SendCommand_NoCheckAck(TAVO_RadarDeviceHandle device, uint16_t command,
                                                                const void* payload, int length)
{
    if (device == nullptr || length < 0 || (length > 0 && payload == nullptr)) {
        return;
    }
    std::lock_guard<std::mutex> lock(device->ioMutex);
    if (!device->port->IsOpen()) {
        return;
    }
    const std::vector<uint8_t> frame =
        BuildCommandFrame(command, static_cast<const uint8_t*>(payload), static_cast<size_t>(length));
    const auto started = std::chrono::system_clock::now();
    const bool written = device->port->Write(frame.data(), frame.size(), WRITE_TIMEOUT_MS);
    if (const std::shared_ptr<WireTrace> trace = CurrentWireTrace()) {
        trace->Exchange(device->path, command, started, frame, {},
                        written ? TraceOutcome::NoReplyWanted : TraceOutcome::WriteFailed, 0);
    }
}

int TAVO_Interface_RadarDevice_ReadData(TAVO_RadarDeviceHandle device, void* buffer, int capacity, int timeoutMs,
                                        int /*flags*/)
{
    if (device == nullptr || buffer == nullptr || capacity <= 0) {
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(device->ioMutex);
        if (!device->pending.empty()) {
            const size_t n = std::min(device->pending.size(), static_cast<size_t>(capacity));
            std::memcpy(buffer, device->pending.data(), n);
            device->pending.erase(device->pending.begin(), device->pending.begin() + static_cast<std::ptrdiff_t>(n));
            return static_cast<int>(n);
        }
        if (device->port->IsOpen()) {
            // Bytes, 0 on a time-out or cancel, or -1 from the read that met a hang-up.
            const int n = device->port->Read(static_cast<uint8_t*>(buffer), static_cast<size_t>(capacity), timeoutMs, true);
            if (n != 0) {
                if (const std::shared_ptr<WireTrace> trace = CurrentWireTrace()) {
                    if (n > 0) {
                        trace->Stream(device->path, std::chrono::system_clock::now(), static_cast<uint8_t*>(buffer),
                                      static_cast<size_t>(n));
                    } else {
                        trace->Event(device->path, "line-lost");
                    }
                }
            }
            return n;
        }
    }
    // No line: idle like a read that times out, so that a retrying worker does not
    // spin, but stay cancellable.
    device->port->WaitForCancel(timeoutMs);
    return -1;
}

void TAVO_Interface_RadarDevice_CancelRead(TAVO_RadarDeviceHandle device)
{
    if (device != nullptr) {
        device->port->CancelRead();
    }
}

int TAVO_Interface_RadarDevice_Protocol_GetWriteBufferMaxSize(TAVO_RadarDeviceHandle device)
{
    return device != nullptr ? device->bufferSize.load() : DEFAULT_BUFFER_SIZE;
}
