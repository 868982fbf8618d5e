#pragma once
// The one envelope of every frame on the sensor's serial line (docs/protocol.md):
// header (4 bytes) | u16 L | L body bytes | tail (4 bytes), little-endian.
//   report frames, sensor to tool:          F4 F3 F2 F1 | L | payload (type first)  | F8 F7 F6 F5
//   command and acknowledgement frames:     FD FC FB FA | L | u16 word, payload     | 04 03 02 01
// The markers are byte sequences as they appear on the wire.

#include <cstddef>
#include <cstdint>
#include <cstring>

inline constexpr uint8_t REPORT_FRAME_HEADER[4] = {0xF4, 0xF3, 0xF2, 0xF1};
inline constexpr uint8_t REPORT_FRAME_TAIL[4] = {0xF8, 0xF7, 0xF6, 0xF5};
inline constexpr uint8_t COMMAND_FRAME_HEADER[4] = {0xFD, 0xFC, 0xFB, 0xFA};
inline constexpr uint8_t COMMAND_FRAME_TAIL[4] = {0x04, 0x03, 0x02, 0x01};
inline constexpr size_t FRAME_MARKER_SIZE = 4;
// Header, length field and tail around the body.
inline constexpr size_t FRAME_OVERHEAD = 2 * FRAME_MARKER_SIZE + 2;

// True when the four bytes at p are the marker; p must have four readable bytes.
[[nodiscard]] inline bool IsFrameMarker(const uint8_t* p, const uint8_t (&marker)[FRAME_MARKER_SIZE])
{
    return std::memcmp(p, marker, FRAME_MARKER_SIZE) == 0;
}
