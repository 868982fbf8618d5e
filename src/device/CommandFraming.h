#pragma once
// Command and acknowledgement frames of the sensor's command protocol
// (docs/protocol.md): building a command, and finding one acknowledgement in the
// bytes received, past report frames, noise and other acknowledgements.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/FrameEnvelope.h"

// An acknowledgement carries the request's word with this bit set.
inline constexpr uint16_t ACK_FLAG = 0x0100;
// Longest frame body (command word and payload) either side sends; a length
// field above it is taken for noise.
inline constexpr size_t MAX_FRAME_BODY = 4096;

// header, u16 L = 2 + length, u16 command word, payload, tail.
[[nodiscard]] std::vector<uint8_t> BuildCommandFrame(uint16_t command, const uint8_t* payload, size_t length);

enum class AckScan {
    Found,     // the expected acknowledgement; its payload and the bytes consumed are set
    NeedMore,  // nothing yet; `consumed` bytes at the front can be dropped
};

struct AckScanResult {
    AckScan status = AckScan::NeedMore;
    size_t consumed = 0;          // bytes of the buffer dealt with (up to the end of the ack when found)
    size_t payloadOffset = 0;     // where the reply payload starts, when found
    size_t payloadLength = 0;
};

// Looks for the acknowledgement of `ackWord` in data[0, size). Bytes that start
// no frame are passed one by one; whole report frames and acknowledgements of
// other words are passed over; a header whose frame is incomplete stops the scan
// (NeedMore) so that the caller can read more and scan again from `consumed`.
[[nodiscard]] AckScanResult ScanForAck(const uint8_t* data, size_t size, uint16_t ackWord);
