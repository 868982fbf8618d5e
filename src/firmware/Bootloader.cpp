#include "firmware/Bootloader.h"

#include <cstring>
#include <string>

#include "app/StringTable.h"
#include "common/BaseBuffer.h"
#include "common/ByteOrder.h"
#include "common/FileUtils.h"
#include "device/SerialPortRegistry.h"
#include "session/SensorResult.h"

namespace {

// Why a bootloader exchange failed, for the end of the failure line: the line's
// error code field is the sensor's last answer and says nothing when none came.
std::string FailureCause(uint16_t status, int timeoutMs) {
    switch (status) {
    case RADAR_ERR_TIMEOUT: return FormatStringText(TEXT_NO_REPLY_WITHIN, timeoutMs);
    case RADAR_ERR_NOT_CONNECTED:
    case RADAR_ERR_WRITE_FAILED: return LoadStringText(TEXT_LINE_LOST);
    case RADAR_ERR_MALFORMED_REPLY:
    case BOOT_ACK_BAD_LENGTH: return LoadStringText(TEXT_MALFORMED_REPLY);
    default: return FormatStringText(TEXT_SENSOR_STATUS, static_cast<unsigned>(status));
    }
}

// The failure line of the string table with the cause before its line end.
std::string WithCause(std::string line, const std::string& cause) {
    size_t end = line.size();
    while (end > 0 && (line[end - 1] == '\r' || line[end - 1] == '\n')) --end;
    return line.substr(0, end) + " (" + cause + ")" + line.substr(end);
}

uint32_t ByteSum(const uint8_t* bytes, size_t length) {
    uint32_t sum = 0;
    for (size_t k = 0; k < length; ++k) sum += bytes[k];
    return sum;
}

// The fixed open arguments of the firmware page: no command mode on open, 50 ms.
bool OpenPortNumber(SensorLine& line, int portNumber, int baudRate) {
    return line.OpenByPortNumber(portNumber, baudRate, false, 50);
}

constexpr int MAX_PARTITION = 31;

// The running mode's name as a label shows it: the names are the sensor's own,
// only "Unknown" is a word of the user-interface language.
std::string RunningModeText(uint32_t mode) {
    switch (mode) {
    case RUNNING_MODE_BOOTLOADER:
    case RUNNING_MODE_APP0:
    case RUNNING_MODE_APP1: return RunningModeName(mode);
    default: return LoadStringText(TEXT_RUNNING_MODE_UNKNOWN);
    }
}

}  // namespace

// ---- Commands, checksums and packets ------------------------------------------

const char* RunningModeName(uint32_t mode) {
    switch (mode) {
    case RUNNING_MODE_BOOTLOADER:
        return "BootLoader";
    case RUNNING_MODE_APP0:
        return "App0";
    case RUNNING_MODE_APP1:
        return "App1";
    default:
        return "Unknown";
    }
}

uint16_t ReadBootAck(eRADAR_PROTOCOL_VERSION, const uint8_t* reply, int length, uint64_t context) {
    if (length != BOOT_REPLY_LENGTH || !reply) return BOOT_ACK_BAD_LENGTH;
    auto* result = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(context));
    if (result) *result = ReadLE32(reply + 2);
    return ReadLE16(reply);
}

bool QueryRunningMode(SensorLine& line, uint32_t& mode, int timeoutMs) {
    line.StartCmdMode(50);
    uint32_t result = 0;
    const bool answered = line.SendCommand(BOOT_CMD_READ_MODE, nullptr, 0, ReadBootAck,
                                           reinterpret_cast<uintptr_t>(&result), timeoutMs) == 0;
    if (answered) mode = result;
    if (!answered || result != RUNNING_MODE_BOOTLOADER) line.StopCmdMode();
    return answered;
}

std::string ByteCountText(uint64_t count) {
    if (count == 1) return LoadStringText(TEXT_ONE_BYTE);
    std::string digits = std::to_string(count);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return FormatStringText(TEXT_BYTE_COUNT, digits.c_str());
}

uint32_t ImagePadCount(size_t length) { return length % 4 ? static_cast<uint32_t>(4 - length % 4) : 0; }

uint32_t ImageChecksum(const uint8_t* image, size_t length) {
    return ByteSum(image, length) + 0xFFu * ImagePadCount(length);
}

std::array<uint8_t, 12> BuildFileInfoPayload(int partition, uint32_t length, uint32_t checksum) {
    std::array<uint8_t, 12> payload{};
    const uint32_t mask = partition >= 0 && partition <= MAX_PARTITION ? 1u << partition : 0u;
    WriteLE32(payload.data(), mask);
    WriteLE32(payload.data() + 4, length);
    WriteLE32(payload.data() + 8, checksum);
    return payload;
}

void BuildDownloadPack(CBaseBuffer& buffer, uint32_t serial, const uint8_t* source, size_t n, size_t p) {
    buffer.SetBufferSize(BOOT_PACKET_HEADER + n + p);
    buffer.SetAvailSize(BOOT_PACKET_HEADER + n + p);
    uint8_t* out = buffer.GetBuffer();
    if (n) std::memcpy(out + BOOT_PACKET_HEADER, source, n);
    std::memset(out + BOOT_PACKET_HEADER + n, 0xFF, p);
    WriteLE32(out, serial);
    WriteLE32(out + 4, ByteSum(out + BOOT_PACKET_HEADER, n + p));
}

std::vector<DownloadPacket> PlanDownloadPackets(size_t length, uint32_t maxPacketSize) {
    std::vector<DownloadPacket> packets;
    if (maxPacketSize <= BOOT_PACKET_RESERVE || length == 0) return packets;
    const size_t dataSize = maxPacketSize - BOOT_PACKET_RESERVE;
    const size_t pad = ImagePadCount(length);
    size_t offset = 0;
    uint32_t serial = 0;
    while (offset < length) {
        const size_t remaining = length - offset;
        const bool full = remaining >= dataSize;
        const size_t n = full ? dataSize : remaining;
        packets.push_back({serial++, offset, n, full ? 0 : pad});
        offset += n;
    }
    return packets;
}

// ---- Procedures -----------------------------------------------------------------

CBootloader::CBootloader(IBootloaderSink& sink, SensorLine* line) : sink_(sink), line_(line) {}

CBootloader::~CBootloader() {
    if (line_) line_->Close();
}

void CBootloader::RequestStop() {
    stop_ = 1;
    stopEvent_.Set();
}

void CBootloader::ClearStop() {
    stop_ = 0;
    stopEvent_.Reset();
    leftInBootloader_ = false;
    interrupted_ = false;
}

void CBootloader::Log(int stringId, const std::string& text) { sink_.AppendLog(stringId, text); }

bool CBootloader::OpenPort() {
    if (portNumber <= 0) {
        sink_.ShowMessage(TEXT_PORT_NOT_CHOSEN, LoadStringText(TEXT_PORT_NOT_CHOSEN));
        return false;
    }
    if (line_ == nullptr) {
        sink_.ShowMessage(TEXT_PORT_OPEN_FAILED, LoadStringText(TEXT_PORT_OPEN_FAILED));
        return false;
    }
    if (!OpenPortNumber(*line_, portNumber, baudRate)) {
        // Say why, so that the user knows what to change.
        sink_.ShowMessage(TEXT_PORT_OPEN_FAILED, LoadStringText(TEXT_PORT_OPEN_FAILED) + "\r\n\r\n" +
                                     PortOpenFailureText(SerialPortPathFromNumber(portNumber), line_->LastOpenError()));
        return false;
    }
    return true;
}

uint16_t CBootloader::SendWithAck(uint16_t command, const void* payload, int length, uint32_t& result,
                                  int timeoutMs) {
    return line_->SendCommand(command, payload, length, ReadBootAck, reinterpret_cast<uintptr_t>(&result), timeoutMs);
}

bool CBootloader::UpdateFWInfo() {
    if (!OpenPort()) return false;
    Log(TEXT_BOOT_QUERYING_FIRMWARE, LoadStringText(TEXT_BOOT_QUERYING_FIRMWARE));
    if (!line_->StartCmdMode(50)) {
        const LineFailure& failure = line_->LastFailure();
        Log(TEXT_BOOT_ENABLE_FAILED,
            WithCause(LoadStringText(TEXT_BOOT_ENABLE_FAILED), FailureCause(failure.status, failure.timeoutMs)));
    }

    bool ok = false;
    uint32_t result = 0;
    if (const uint16_t status = SendWithAck(BOOT_CMD_READ_MODE, nullptr, 0, result, commandTimeoutMs); status != 0) {
        Log(TEXT_BOOT_MODE_FAILED,
            WithCause(LoadStringText(TEXT_BOOT_MODE_FAILED), FailureCause(status, commandTimeoutMs)));
        sink_.SetLabel(BootLabel::RunningMode, FormatStringText(TEXT_CURRENT_FIRMWARE, LoadStringText(TEXT_RUNNING_MODE_UNKNOWN).c_str()));
    } else {
        inBootloader = result == RUNNING_MODE_BOOTLOADER ? 1 : 0;
        sink_.OnRunningMode(result);
        sink_.SetLabel(BootLabel::RunningMode, FormatStringText(TEXT_CURRENT_FIRMWARE, RunningModeText(result).c_str()));
        uint32_t deviceId = 0;
        if (const uint16_t idStatus = SendWithAck(BOOT_CMD_READ_DEVICE_ID, nullptr, 0, deviceId, commandTimeoutMs);
            idStatus != 0) {
            Log(TEXT_BOOT_DEVICE_ID_FAILED,
                WithCause(LoadStringText(TEXT_BOOT_DEVICE_ID_FAILED), FailureCause(idStatus, commandTimeoutMs)));
            sink_.SetLabel(BootLabel::DeviceId, LoadStringText(TEXT_DEVICE_ID_UNKNOWN));
        } else {
            sink_.OnDeviceId(deviceId);
            const std::string text = FormatStringText(TEXT_DEVICE_ID, deviceId);
            Log(TEXT_DEVICE_ID, text);
            sink_.SetLabel(BootLabel::DeviceId, text);
            if (const uint16_t partitionStatus =
                    SendWithAck(BOOT_CMD_READ_PARTITIONS, nullptr, 0, result, commandTimeoutMs);
                partitionStatus != 0) {
                Log(TEXT_BOOT_PARTITIONS_FAILED, WithCause(LoadStringText(TEXT_BOOT_PARTITIONS_FAILED),
                                                           FailureCause(partitionStatus, commandTimeoutMs)));
            } else {
                partitionMask = result;
                sink_.OnPartitionMask(result);
                std::vector<PartitionItem> items;
                for (int bit = 0; bit <= MAX_PARTITION; ++bit)
                    if (result & (1u << bit)) items.push_back({"App" + std::to_string(bit), bit});
                selectedPartition = items.empty() ? -1 : items.front().tag;
                sink_.SetPartitionList(items, items.empty() ? -1 : 0);
                ok = true;
            }
        }
    }

    if (!inBootloader) line_->StopCmdMode();
    sink_.ScrollLogToEnd();
    line_->Close();
    return ok;
}

bool CBootloader::EnterBootloader(uint32_t& result) {
    line_->StartCmdMode(50);
    line_->SendCommandNoAck(BOOT_CMD_SOFTWARE_RESET, nullptr, 0);
    // From here on the sensor restarts into its bootloader whatever happens next.
    bootloaderPhase_ = true;
    // The sensor restarts into its bootloader meanwhile; the owner may cut the wait short.
    if (stopEvent_.Wait(resetWaitMs) || stop_.load()) return false;
    // Each failure says why: the port did not open again, the sensor did not
    // answer after the reset, or it answered from its application.
    if (!OpenPortNumber(*line_, portNumber, baudRate)) {
        Log(TEXT_BOOT_RESET_FAILED,
            WithCause(LoadStringText(TEXT_BOOT_RESET_FAILED),
                      PortOpenFailureText(SerialPortPathFromNumber(portNumber), line_->LastOpenError())));
        return false;
    }
    if (const uint16_t status = SendWithAck(BOOT_CMD_READ_MODE, nullptr, 0, result, commandTimeoutMs); status != 0) {
        Log(TEXT_BOOT_RESET_FAILED,
            WithCause(LoadStringText(TEXT_BOOT_RESET_FAILED), FailureCause(status, commandTimeoutMs)));
        return false;
    }
    if (result != RUNNING_MODE_BOOTLOADER) {
        // A sensor that says it still runs its application did not take the reset.
        bootloaderPhase_ = false;
        Log(TEXT_BOOT_RESET_FAILED, WithCause(LoadStringText(TEXT_BOOT_RESET_FAILED),
                                              FormatStringText(TEXT_NOT_IN_BOOTLOADER, RunningModeText(result).c_str())));
        return false;
    }
    return true;
}

bool CBootloader::DownloadFW(int partition, const std::string& imagePath) {
    leftInBootloader_ = false;
    interrupted_ = false;
    bootloaderPhase_ = false;
    if (!OpenPort()) return false;

    bool ok = false;
    uint8_t* image = nullptr;
    do {
        // Only 0..31 can be named in the partition mask; anything else is no choice at all.
        if (partition < 0 || partition > MAX_PARTITION) {
            sink_.ShowMessage(TEXT_PARTITION_NOT_CHOSEN, LoadStringText(TEXT_PARTITION_NOT_CHOSEN));
            break;
        }
        const size_t length = ReadFileData(imagePath, &image);
        if (length == 0 || !image) {
            sink_.ShowMessage(TEXT_BIN_FILE_ERROR, LoadStringText(TEXT_BIN_FILE_ERROR));
            break;
        }
        uint32_t result = 0;
        if (inBootloader) bootloaderPhase_ = true;
        if (stop_.load()) break;  // stopped before the sensor was touched
        if (!inBootloader && !EnterBootloader(result)) break;

        const uint32_t checksum = ImageChecksum(image, length);
        sink_.OnImageInfo(static_cast<uint32_t>(length), checksum);
        sink_.SetLabel(BootLabel::FileSize, FormatStringText(TEXT_BIN_FILE_SIZE, ByteCountText(length).c_str()));
        sink_.SetLabel(BootLabel::FileVerifyNum, FormatStringText(TEXT_BIN_CHECKSUM, checksum));
        sink_.SetLabel(BootLabel::DownloadProgressText, FormatStringText(TEXT_DOWNLOAD_PROGRESS, 0.0));
        sink_.SetProgressRange(static_cast<uint32_t>(length));
        sink_.SetProgressValue(0);
        sink_.SetBusyVisible(true);

        const auto info = BuildFileInfoPayload(partition, static_cast<uint32_t>(length), checksum);
        result = 0;
        if (const uint16_t status = SendWithAck(BOOT_CMD_FILE_INFO, info.data(), static_cast<int>(info.size()), result,
                                                BOOT_FILE_INFO_TIMEOUT_MS);
            status != 0) {
            Log(TEXT_BOOT_FILE_INFO_FAILED, WithCause(FormatStringText(TEXT_BOOT_FILE_INFO_FAILED, static_cast<int>(result)),
                                 FailureCause(status, BOOT_FILE_INFO_TIMEOUT_MS)));
            break;
        }
        const uint32_t maxPacket = result & 0xFFFF;
        if (maxPacket <= BOOT_PACKET_RESERVE) {
            Log(TEXT_BOOT_PACKET_TOO_SMALL, LoadStringText(TEXT_BOOT_PACKET_TOO_SMALL));
            break;
        }

        Log(TEXT_BOOT_DOWNLOADING, LoadStringText(TEXT_BOOT_DOWNLOADING));
        CBaseBuffer pack;
        bool failed = false;
        for (const DownloadPacket& packet : PlanDownloadPackets(length, maxPacket)) {
            if (stop_.load()) {  // the owner is closing: end before the next packet
                failed = true;
                break;
            }
            if (beforePacket) {
                beforePacket(packet.serial);
                if (stop_.load()) {
                    failed = true;
                    break;
                }
            }
            BuildDownloadPack(pack, packet.serial, image + packet.offset, packet.n, packet.p);
            result = 0;
            if (const uint16_t status = SendWithAck(BOOT_CMD_DATA_PACKET, pack.GetBuffer(),
                                                    static_cast<int>(pack.GetAvailSize()), result, commandTimeoutMs);
                status != 0) {
                Log(TEXT_BOOT_PACKET_FAILED, WithCause(FormatStringText(TEXT_BOOT_PACKET_FAILED, static_cast<int>(packet.serial), static_cast<int>(result)),
                                     FailureCause(status, commandTimeoutMs)));
                failed = true;
                break;
            }
            const size_t offset = packet.offset + packet.n;
            sink_.SetLabel(BootLabel::DownloadProgressText, FormatStringText(TEXT_DOWNLOAD_PROGRESS, offset * 100.0 / length));
            sink_.SetProgressValue(static_cast<uint32_t>(offset));
        }
        if (failed) break;
        Log(TEXT_BOOT_DOWNLOAD_SUCCEEDED, LoadStringText(TEXT_BOOT_DOWNLOAD_SUCCEEDED));
        ok = true;
    } while (false);

    leftInBootloader_ = !ok && bootloaderPhase_.load();
    interrupted_ = !ok && stop_.load() != 0;
    bootloaderPhase_ = false;
    sink_.ScrollLogToEnd();
    ReleaseFileData(image);
    line_->Close();
    sink_.SetBusyVisible(false);
    return ok;
}
