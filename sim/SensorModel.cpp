#include "sim/SensorModel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/ByteOrder.h"
#include "sim/WireFormat.h"

namespace {

constexpr uint16_t ENTER_COMMAND_MODE = 0x00FF;
constexpr uint16_t LEAVE_COMMAND_MODE = 0x00FE;
constexpr uint16_t READ_VERSION = 0x0000;
constexpr uint16_t READ_SERIAL_NUMBER = 0x0011;
constexpr uint16_t GENERATE_THRESHOLDS = 0x0009;
constexpr uint16_t BOOT_READ_MODE = 0x60;
constexpr uint16_t BOOT_READ_PARTITIONS = 0x61;
constexpr uint16_t BOOT_FILE_INFO = 0x62;
constexpr uint16_t BOOT_PACKET = 0x63;
constexpr uint16_t BOOT_SOFT_RESET = 0x64;
constexpr uint16_t BOOT_READ_DEVICE_ID = 0x65;
constexpr uint16_t WRITE_CONFIG = 112, READ_CONFIG = 113;
constexpr uint16_t WRITE_TRIGGER = 114, READ_TRIGGER = 115;
constexpr uint16_t WRITE_APPEAR = 116, READ_APPEAR = 117;
constexpr uint16_t WRITE_HOLD = 118, READ_HOLD = 119;
constexpr uint16_t OUTPUT_SWITCH = 0x7A;

constexpr uint16_t PROTOCOL_VERSION = 2;
constexpr uint8_t PROGRESS_TYPE = 3;  // payload type of threshold generation progress frames
constexpr uint32_t PARTITION_CAPACITY = 1u << 20;
// An incomplete command that holds the input this long is taken for noise.
constexpr double INPUT_STALL_MS = 1000.0;
// A verified image starts this long after the last packet's reply, so the reply leaves first.
constexpr double APP_START_DELAY_MS = 20.0;
// A report is skipped while this much is still waiting to be sent.
constexpr size_t MAX_QUEUED_OUTPUT = 512;
constexpr double NEVER = std::numeric_limits<double>::max();

constexpr GateTable DEFAULT_TRIGGER = {48, 42, 36, 34, 32, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31};
constexpr GateTable DEFAULT_HOLD = {45, 42, 33, 32, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28};
constexpr GateTable FACTORY_APPEAR = {51, 50, 30, 28, 25, 25, 25, 25, 25, 25, 25, 25, 25, 22, 22, 22};

uint32_t ClampDb(int value)
{
    return static_cast<uint32_t>(std::clamp(value, 10, 95));
}

}  // namespace

SensorModel::SensorModel(const VirtualSensorOptions& options, std::unique_ptr<ReportScenario> scenario)
    : options_(options), scenario_(std::move(scenario)), random_(options.seed ^ 0x9E3779B9u)
{
    config_ = {{10, 0}, {5, 12}, {11, 5}, {2, 40}, {12, 5}, {6, 40},
               {1, 4},  {3, 2},  {4, 2},  {7, 6},  {8, 1},  {9, 1}, {13, 120}};
    trigger_ = DEFAULT_TRIGGER;
    hold_ = DEFAULT_HOLD;
    appear_ = FACTORY_APPEAR;
    flash_[0] = BuildSimFirmwareImage(options.version, 1024);
    outputOn_ = options.reportOutputOn;
    silent_ = options.silent;
    if (!scenario_) {
        scenario_ = std::make_unique<BuiltInScenario>(options.seed);
    }
}

GateTable SensorModel::GeneratedTrigger(int coefficient)
{
    GateTable table{};
    for (int g = 0; g < GATE_COUNT; ++g) {
        table[g] = ClampDb(static_cast<int>(EmptyRoomEnergyDb()[g]) + 6 + coefficient);
    }
    return table;
}

GateTable SensorModel::GeneratedHold(int coefficient)
{
    GateTable table{};
    for (int g = 0; g < GATE_COUNT; ++g) {
        table[g] = ClampDb(static_cast<int>(EmptyRoomEnergyDb()[g]) + 3 + coefficient);
    }
    return table;
}

GateTable SensorModel::TableByWriteId(uint16_t writeId) const
{
    switch (writeId) {
    case WRITE_TRIGGER:
    case READ_TRIGGER:
        return trigger_;
    case WRITE_APPEAR:
    case READ_APPEAR:
        return appear_;
    case WRITE_HOLD:
    case READ_HOLD:
        return hold_;
    default:
        return {};
    }
}

uint32_t SensorModel::RunningMode() const
{
    return runningPartition_ < 0 ? SIM_MODE_BOOTLOADER : (2u << runningPartition_);
}

std::string SensorModel::Version() const
{
    if (runningPartition_ < 0) {
        return {};
    }
    const auto found = flash_.find(runningPartition_);
    if (found == flash_.end()) {
        return {};
    }
    return SimFirmwareImageVersion(found->second).value_or(std::string());
}

std::vector<uint8_t> SensorModel::FlashPartition(int partition) const
{
    const auto found = flash_.find(partition);
    return found == flash_.end() ? std::vector<uint8_t>() : found->second;
}

size_t SensorModel::TakeOutput(size_t count, std::vector<uint8_t>& out)
{
    count = std::min(count, output_.size());
    out.insert(out.end(), output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(count));
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(count));
    size_t ackEnd = 0;
    if (ackEndInOutput_ > 0 && ackEndInOutput_ <= count) {
        ackEnd = ackEndInOutput_;
        ackEndInOutput_ = 0;
    } else if (ackEndInOutput_ > 0) {
        ackEndInOutput_ -= count;
    }
    return ackEnd;
}

void SensorModel::DropOutput()
{
    output_.clear();
    ackEndInOutput_ = 0;
}

void SensorModel::Inject(const std::vector<uint8_t>& bytes)
{
    output_.insert(output_.end(), bytes.begin(), bytes.end());
    counters_.noiseBytesSent += bytes.size();
}

// ---------------------------------------------------------------- input

void SensorModel::Receive(const uint8_t* data, size_t length, double nowMs)
{
    counters_.bytesReceived += length;
    if (resetUntilMs_ >= 0 && nowMs < resetUntilMs_) {
        return;  // nobody listening
    }
    input_.insert(input_.end(), data, data + length);

    const size_t maxBody = MaxCommandBody();
    size_t i = 0;
    while (i + SIM_MARKER_SIZE <= input_.size()) {
        if (std::memcmp(&input_[i], SIM_COMMAND_HEADER, SIM_MARKER_SIZE) != 0) {
            ++i;
            continue;
        }
        if (i + SIM_MARKER_SIZE + 2 > input_.size()) {
            break;
        }
        const size_t body = ReadLE16(&input_[i + 4]);
        if (body < SIM_MIN_COMMAND_BODY || body > maxBody) {
            ++i;  // more than any command this sensor takes: noise
            continue;
        }
        if (i + body + SIM_FRAME_OVERHEAD > input_.size()) {
            // A header in noise must not hold back a complete command behind it.
            if (const size_t next = FindCompleteCommand(i + 1, maxBody); next != SIZE_MAX) {
                inputStallSinceMs_ = -1;
                i = next;
                continue;
            }
            if (inputStallSinceMs_ < 0) {
                inputStallSinceMs_ = nowMs;
            }
            if (nowMs - inputStallSinceMs_ < INPUT_STALL_MS) {
                break;
            }
            inputStallSinceMs_ = -1;
            ++i;  // a header in noise whose frame never completes
            continue;
        }
        inputStallSinceMs_ = -1;
        if (std::memcmp(&input_[i + 6 + body], SIM_COMMAND_TAIL, SIM_MARKER_SIZE) != 0) {
            ++i;
            continue;
        }
        const std::vector<uint8_t> frame(input_.begin() + static_cast<std::ptrdiff_t>(i + 6),
                                         input_.begin() + static_cast<std::ptrdiff_t>(i + 6 + body));
        i += body + SIM_FRAME_OVERHEAD;
        ++counters_.commandsReceived;
        HandleFrame(ReadLE16(frame.data()), frame.data() + 2, frame.size() - 2, nowMs);
        if (resetUntilMs_ >= 0) {
            i = input_.size();  // a reset drops whatever followed
        }
    }
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(i));
}

size_t SensorModel::MaxCommandBody() const
{
    // A bootloader packet is the command word plus up to maxPacketSize payload bytes.
    return std::min<size_t>(0xFFFF, std::max<size_t>(SIM_MAX_COMMAND_BODY, 2 + size_t{options_.maxPacketSize}));
}

size_t SensorModel::FindCompleteCommand(size_t from, size_t maxBody) const
{
    for (size_t i = from; i + SIM_FRAME_OVERHEAD <= input_.size(); ++i) {
        if (std::memcmp(&input_[i], SIM_COMMAND_HEADER, SIM_MARKER_SIZE) != 0) {
            continue;
        }
        const size_t body = ReadLE16(&input_[i + 4]);
        if (body >= SIM_MIN_COMMAND_BODY && body <= maxBody && i + body + SIM_FRAME_OVERHEAD <= input_.size() &&
            std::memcmp(&input_[i + 6 + body], SIM_COMMAND_TAIL, SIM_MARKER_SIZE) == 0) {
            return i;
        }
    }
    return SIZE_MAX;
}

void SensorModel::HandleFrame(uint16_t word, const uint8_t* payload, size_t length, double nowMs)
{
    if (silent_) {
        return;  // hears the command, does nothing
    }
    if (runningPartition_ < 0) {
        HandleBootloader(word, payload, length, nowMs);
    } else {
        HandleApplication(word, payload, length, nowMs);
    }
}

void SensorModel::HandleApplication(uint16_t word, const uint8_t* payload, size_t length, double nowMs)
{
    if (word == ENTER_COMMAND_MODE) {
        if (length < 2 || ReadLE16(payload) != PROTOCOL_VERSION) {
            AckStatus(word, SIM_STATUS_BAD_PAYLOAD);
            return;
        }
        commandMode_ = true;
        std::vector<uint8_t> reply;
        AppendLE16(reply, SIM_STATUS_OK);
        AppendLE16(reply, PROTOCOL_VERSION);
        AppendLE16(reply, options_.bufferSize);
        Ack(word, reply);
        return;
    }
    if (word == LEAVE_COMMAND_MODE) {
        commandMode_ = false;
        AckStatus(word, SIM_STATUS_OK);
        return;
    }
    if (options_.requireCmdMode && !commandMode_) {
        return;  // a streaming sensor ignores commands
    }
    switch (word) {
    case READ_VERSION:
    case READ_SERIAL_NUMBER: {
        const std::string text = word == READ_VERSION ? Version() : options_.serialNumber;
        std::vector<uint8_t> reply;
        AppendLE16(reply, SIM_STATUS_OK);
        AppendLE16(reply, static_cast<uint16_t>(text.size()));
        reply.insert(reply.end(), text.begin(), text.end());
        Ack(word, reply);
        return;
    }
    case GENERATE_THRESHOLDS: {
        if (length != 6 || ReadLE16(payload + 4) == 0) {
            AckStatus(word, SIM_STATUS_BAD_PAYLOAD);
            return;
        }
        generation_ = Generation{};
        generation_.active = true;
        generation_.triggerCoefficient = static_cast<int16_t>(ReadLE16(payload));
        generation_.holdCoefficient = static_cast<int16_t>(ReadLE16(payload + 2));
        generation_.scanMs = ReadLE16(payload + 4) * 1000.0;
        generation_.startMs = nowMs;
        generation_.nextFrameMs = nowMs;
        lastGenerate_ = SimGenerateRequest{generation_.triggerCoefficient, generation_.holdCoefficient, ReadLE16(payload + 4)};
        AckStatus(word, SIM_STATUS_OK);
        return;
    }
    case BOOT_READ_MODE:
        AckBoot(word, SIM_STATUS_OK, RunningMode());
        return;
    case BOOT_READ_PARTITIONS:
        AckBoot(word, SIM_STATUS_OK, options_.partitionMask);
        return;
    case BOOT_READ_DEVICE_ID:
        AckBoot(word, SIM_STATUS_OK, options_.deviceId);
        return;
    case BOOT_SOFT_RESET:
        break;
    case BOOT_FILE_INFO:
    case BOOT_PACKET:
        AckBoot(word, SIM_STATUS_WRONG_MODE, SIM_STATUS_WRONG_MODE);
        return;
    default:
        if (!HandleParameter(word, payload, length)) {
            AckStatus(word, SIM_STATUS_UNKNOWN_COMMAND);
        }
        return;
    }

    // Software reset into the bootloader: no reply, quiet for a while, all
    // volatile state gone.
    commandMode_ = false;
    generation_ = Generation{};
    download_ = Download{};
    runningPartition_ = -1;
    resetUntilMs_ = nowMs + options_.resetDelayMs;
    nextReportMs_ = -1;
    ++counters_.softwareResets;
    DropOutput();
    input_.clear();
}

bool SensorModel::HandleParameter(uint16_t word, const uint8_t* payload, size_t length)
{
    GateTable* table = nullptr;
    bool write = false;
    switch (word) {
    case WRITE_CONFIG:
    case WRITE_TRIGGER:
    case WRITE_APPEAR:
    case WRITE_HOLD:
    case OUTPUT_SWITCH:
        write = true;
        break;
    case READ_CONFIG:
    case READ_TRIGGER:
    case READ_APPEAR:
    case READ_HOLD:
        break;
    default:
        return false;
    }
    switch (word) {
    case WRITE_TRIGGER:
    case READ_TRIGGER:
        table = &trigger_;
        break;
    case WRITE_APPEAR:
    case READ_APPEAR:
        table = &appear_;
        break;
    case WRITE_HOLD:
    case READ_HOLD:
        table = &hold_;
        break;
    default:
        break;
    }
    // The switch is write-only in the tool's use; one key alone reads it back.
    if (word == OUTPUT_SWITCH && length == 2) {
        write = false;
    }
    auto keyKnown = [&](uint16_t key) {
        if (word == OUTPUT_SWITCH) {
            return key == 0;
        }
        if (table != nullptr) {
            return key < GATE_COUNT;
        }
        return key >= 1 && key <= 13;
    };

    const size_t stride = write ? 6 : 2;
    if (length == 0 || length % stride != 0) {
        AckStatus(word, SIM_STATUS_BAD_PAYLOAD);
        return true;
    }
    const size_t count = length / stride;
    for (size_t i = 0; i < count; ++i) {
        if (!keyKnown(ReadLE16(payload + i * stride))) {
            AckStatus(word, SIM_STATUS_BAD_KEY);  // nothing is changed
            return true;
        }
    }
    if (write) {
        for (size_t i = 0; i < count; ++i) {
            const uint16_t key = ReadLE16(payload + i * 6);
            const uint32_t value = ReadLE32(payload + i * 6 + 2);
            if (word == OUTPUT_SWITCH) {
                outputOn_ = value != 0;
            } else if (table != nullptr) {
                (*table)[key] = value;
            } else {
                config_[key] = value;
            }
        }
        AckStatus(word, SIM_STATUS_OK);
        return true;
    }
    std::vector<uint8_t> reply;
    AppendLE16(reply, SIM_STATUS_OK);
    for (size_t i = 0; i < count; ++i) {
        const uint16_t key = ReadLE16(payload + i * 2);
        uint32_t value = 0;
        if (word == OUTPUT_SWITCH) {
            value = outputOn_ ? 1 : 0;
        } else if (table != nullptr) {
            value = (*table)[key];
        } else {
            value = config_[key];
        }
        AppendLE32(reply, value);
    }
    Ack(word, reply);
    return true;
}

// ---------------------------------------------------------------- bootloader

void SensorModel::HandleBootloader(uint16_t word, const uint8_t* payload, size_t length, double nowMs)
{
    switch (word) {
    case ENTER_COMMAND_MODE: {
        std::vector<uint8_t> reply;
        AppendLE16(reply, SIM_STATUS_OK);
        AppendLE16(reply, PROTOCOL_VERSION);
        AppendLE16(reply, options_.bufferSize);
        Ack(word, reply);
        return;
    }
    case LEAVE_COMMAND_MODE:
        AckStatus(word, SIM_STATUS_OK);
        return;
    case BOOT_READ_MODE:
        AckBoot(word, SIM_STATUS_OK, SIM_MODE_BOOTLOADER);
        return;
    case BOOT_READ_PARTITIONS:
        AckBoot(word, SIM_STATUS_OK, options_.partitionMask);
        return;
    case BOOT_READ_DEVICE_ID:
        AckBoot(word, SIM_STATUS_OK, options_.deviceId);
        return;
    case BOOT_FILE_INFO:
        HandleFileInfo(payload, length);
        return;
    case BOOT_PACKET:
        HandlePacket(payload, length, nowMs);
        return;
    case BOOT_SOFT_RESET:
        download_ = Download{};
        resetUntilMs_ = nowMs + options_.resetDelayMs;
        ++counters_.softwareResets;
        DropOutput();
        input_.clear();
        return;
    default:
        AckStatus(word, SIM_STATUS_UNKNOWN_COMMAND);
        return;
    }
}

void SensorModel::HandleFileInfo(const uint8_t* payload, size_t length)
{
    if (length != 12) {
        AckBoot(BOOT_FILE_INFO, SIM_STATUS_BAD_PAYLOAD, SIM_STATUS_BAD_PAYLOAD);
        return;
    }
    const uint32_t mask = ReadLE32(payload);
    const uint32_t imageLength = ReadLE32(payload + 4);
    if (!std::has_single_bit(mask) || (mask & options_.partitionMask) == 0) {
        AckBoot(BOOT_FILE_INFO, SIM_STATUS_BAD_PARTITION, SIM_STATUS_BAD_PARTITION);
        return;
    }
    if (imageLength == 0 || imageLength > PARTITION_CAPACITY) {
        AckBoot(BOOT_FILE_INFO, SIM_STATUS_BAD_PAYLOAD, SIM_STATUS_BAD_PAYLOAD);
        return;
    }
    download_ = Download{};
    download_.active = true;
    download_.partition = std::countr_zero(mask);
    download_.length = imageLength;
    download_.checksum = ReadLE32(payload + 8);
    download_.data.reserve(imageLength + 3);
    AckBoot(BOOT_FILE_INFO, SIM_STATUS_OK, options_.maxPacketSize);
}

void SensorModel::HandlePacket(const uint8_t* payload, size_t length, double nowMs)
{
    if (!download_.active) {
        AckBoot(BOOT_PACKET, SIM_STATUS_WRONG_MODE, SIM_STATUS_WRONG_MODE);
        return;
    }
    if (length <= 8 || length > options_.maxPacketSize) {
        AckBoot(BOOT_PACKET, SIM_STATUS_BAD_PAYLOAD, SIM_STATUS_BAD_PAYLOAD);
        return;
    }
    const uint32_t serial = ReadLE32(payload);
    if (serial != download_.nextSerial) {
        AckBoot(BOOT_PACKET, SIM_STATUS_SEQUENCE, download_.nextSerial);
        return;
    }
    uint32_t sum = 0;
    for (size_t i = 8; i < length; ++i) {
        sum += payload[i];
    }
    if (sum != ReadLE32(payload + 4)) {
        AckBoot(BOOT_PACKET, SIM_STATUS_CHECKSUM, SIM_STATUS_CHECKSUM);
        return;  // the same serial number may be sent again
    }
    download_.data.insert(download_.data.end(), payload + 8, payload + length);
    ++download_.nextSerial;
    if (download_.data.size() < download_.length) {
        AckBoot(BOOT_PACKET, SIM_STATUS_OK, 0);
        return;
    }

    // The whole image is in: check it against the announced checksum, with the
    // 0xFF pad bytes the checksum counts whether or not they were sent.
    const uint32_t length32 = download_.length;
    const uint32_t pad = length32 % 4 == 0 ? 0 : 4 - length32 % 4;
    uint32_t imageSum = 0;
    for (uint32_t i = 0; i < length32; ++i) {
        imageSum += download_.data[i];
    }
    imageSum += 255u * pad;
    const bool intact = imageSum == download_.checksum;
    const int partition = download_.partition;
    std::vector<uint8_t> image(download_.data.begin(), download_.data.begin() + length32);
    download_ = Download{};
    if (!intact) {
        AckBoot(BOOT_PACKET, SIM_STATUS_CHECKSUM, SIM_STATUS_CHECKSUM);
        return;
    }
    const bool startable = SimFirmwareImageVersion(image).has_value();
    flash_[partition] = std::move(image);
    AckBoot(BOOT_PACKET, SIM_STATUS_OK, 0);
    if (startable) {
        startAppAtMs_ = nowMs + APP_START_DELAY_MS;
        startAppPartition_ = partition;
    }
}

void SensorModel::StartApplication(int partition, double /*nowMs*/)
{
    runningPartition_ = partition;
    commandMode_ = false;
    outputOn_ = options_.reportOutputOn;
    generation_ = Generation{};
    download_ = Download{};
    nextReportMs_ = -1;
    nextRangeMs_ = -1;
}

// ---------------------------------------------------------------- output

void SensorModel::Ack(uint16_t word, const std::vector<uint8_t>& payload)
{
    if (options_.lostAckRate > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(random_) < options_.lostAckRate) {
        ++counters_.acksDropped;
        return;
    }
    std::vector<uint8_t> frame = SimAckFrame(word, payload);
    if (word == options_.garbleReplyCommand && !payload.empty() &&
        counters_.repliesGarbled < static_cast<uint64_t>(std::max(options_.garbleReplyCount, 0))) {
        frame[frame.size() - 5] ^= 0x80;  // the payload's last byte, before the 4-byte tail
        ++counters_.repliesGarbled;
    }
    output_.insert(output_.end(), frame.begin(), frame.end());
    ackEndInOutput_ = output_.size();
    ++counters_.acksSent;
}

void SensorModel::AckStatus(uint16_t word, uint16_t status)
{
    std::vector<uint8_t> reply;
    AppendLE16(reply, status);
    Ack(word, reply);
}

void SensorModel::AckBoot(uint16_t word, uint16_t status, uint32_t value)
{
    std::vector<uint8_t> reply;
    AppendLE16(reply, status);
    AppendLE32(reply, value);
    Ack(word, reply);
}

void SensorModel::SendFrame(const uint8_t* payload, size_t length)
{
    const std::vector<uint8_t> frame = SimReportFrame(payload, length);
    output_.insert(output_.end(), frame.begin(), frame.end());
    SendNoise(static_cast<size_t>(std::max(options_.noiseBytesBetweenFrames, 0)));
}

void SensorModel::SendNoise(size_t count)
{
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t i = 0; i < count; ++i) {
        output_.push_back(static_cast<uint8_t>(byte(random_)));
    }
    counters_.noiseBytesSent += count;
}

// ---------------------------------------------------------------- timed work

bool SensorModel::Streaming() const
{
    return !silent_ && runningPartition_ >= 0 && resetUntilMs_ < 0 && !commandMode_ && outputOn_ &&
           !generation_.active;
}

double SensorModel::ReportPeriodMs() const
{
    const auto found = config_.find(2);
    const uint32_t tenthsHz = found == config_.end() || found->second == 0 ? 40 : found->second;
    return 10000.0 / tenthsHz / std::max(options_.streamTimeScale, 1e-6);
}

double SensorModel::RangePeriodMs() const
{
    const auto found = config_.find(12);
    const uint32_t tenthsHz = found == config_.end() || found->second == 0 ? 5 : found->second;
    return 10000.0 / tenthsHz / std::max(options_.streamTimeScale, 1e-6);
}

SceneSettings SensorModel::Scene() const
{
    SceneSettings scene;
    scene.minGate = config_.count(10) ? config_.at(10) : 0;
    scene.maxGate = config_.count(5) ? config_.at(5) : 12;
    scene.trigger = trigger_;
    scene.hold = hold_;
    return scene;
}

void SensorModel::StreamReport(double nowMs)
{
    if (output_.size() > MAX_QUEUED_OUTPUT) {
        return;  // the line is still busy with earlier reports: this one is skipped
    }
    ReportPayload payload = scenario_->ReportAt((nowMs - sceneOriginMs_) / 1000.0 * options_.streamTimeScale, Scene());
    if (!scenario_->IsRecording()) {
        // The distance is refreshed at the range report frequency, the state at every report.
        if (nextRangeMs_ < 0 || nowMs >= nextRangeMs_) {
            heldDistanceCm_ = ReadLE16(&payload[2]);
            nextRangeMs_ = nowMs + RangePeriodMs();
        }
        const uint16_t distance = payload[1] >= 2 ? heldDistanceCm_ : 0;
        WriteLE16(&payload[2], distance);
    }
    SendFrame(payload.data(), payload.size());
    ++counters_.reportFramesSent;
}

void SensorModel::TickGeneration(double nowMs)
{
    if (!generation_.active) {
        return;
    }
    const double scale = std::max(options_.timeScale, 1e-6);
    const double elapsed = (nowMs - generation_.startMs) * scale;
    bool justFinished = false;
    if (elapsed >= generation_.scanMs && !generation_.finishPending) {
        trigger_ = GeneratedTrigger(generation_.triggerCoefficient);
        hold_ = GeneratedHold(generation_.holdCoefficient);
        generation_.finishPending = true;
        justFinished = true;
    }
    // A frame is due every hundredth of the scan, at the end, and as soon as the
    // tool leaves command mode after the end.
    const bool due = justFinished || nowMs >= generation_.nextFrameMs || (generation_.finishPending && !commandMode_);
    if (!due) {
        return;
    }
    generation_.nextFrameMs = nowMs + std::max(generation_.scanMs / 100.0 / scale, 5.0);
    if (commandMode_ || silent_) {
        return;  // progress waits until the tool leaves command mode
    }
    const uint16_t percent = generation_.finishPending
                                 ? 100
                                 : static_cast<uint16_t>(std::min(99.0, std::floor(100.0 * elapsed / generation_.scanMs)));
    uint8_t frame[3] = {PROGRESS_TYPE};
    WriteLE16(&frame[1], percent);
    SendFrame(frame, sizeof(frame));
    ++counters_.progressFramesSent;
    if (generation_.finishPending) {
        generation_ = Generation{};
    }
}

void SensorModel::Tick(double nowMs)
{
    if (sceneOriginMs_ < 0) {
        sceneOriginMs_ = nowMs;
    }
    if (resetUntilMs_ >= 0 && nowMs >= resetUntilMs_) {
        resetUntilMs_ = -1;
    }
    if (startAppAtMs_ >= 0 && nowMs >= startAppAtMs_) {
        startAppAtMs_ = -1;
        StartApplication(startAppPartition_, nowMs);
    }
    if (silent_) {
        return;
    }
    TickGeneration(nowMs);
    if (!Streaming()) {
        nextReportMs_ = -1;
        return;
    }
    if (nextReportMs_ < 0) {
        nextReportMs_ = nowMs;  // the stream starts at once when it is switched on
    }
    if (nowMs >= nextReportMs_) {
        StreamReport(nowMs);
        const double period = ReportPeriodMs();
        nextReportMs_ += period;
        if (nextReportMs_ < nowMs) {
            nextReportMs_ = nowMs + period;  // fell behind (paced output, a busy machine): do not burst
        }
    }
}

double SensorModel::NextEventMs() const
{
    double next = NEVER;
    if (resetUntilMs_ >= 0) {
        next = std::min(next, resetUntilMs_);
    }
    if (startAppAtMs_ >= 0) {
        next = std::min(next, startAppAtMs_);
    }
    if (silent_) {
        return next;
    }
    if (generation_.active) {
        const double scale = std::max(options_.timeScale, 1e-6);
        next = std::min(next, generation_.nextFrameMs);
        if (!generation_.finishPending) {
            next = std::min(next, generation_.startMs + generation_.scanMs / scale);
        }
    }
    if (Streaming()) {
        next = std::min(next, nextReportMs_ < 0 ? 0.0 : nextReportMs_);
    }
    return next;
}
