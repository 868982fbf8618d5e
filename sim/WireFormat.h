#pragma once
// The sensor's side of the serial line, written from docs/protocol.md and not
// taken from the tool's device library: the tool's framing is tested against the
// simulator, so a mistake in it must not be shared here. All fields little-endian.
//   report frames, sensor to tool:     F4 F3 F2 F1 | u16 L | L payload bytes (type first)  | F8 F7 F6 F5
//   command frames, tool to sensor:    FD FC FB FA | u16 L | u16 word, L - 2 payload bytes | 04 03 02 01
//   acknowledgements, sensor to tool:  the command envelope; word = request's word | 0x0100, then the reply

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr uint8_t SIM_REPORT_HEADER[4] = {0xF4, 0xF3, 0xF2, 0xF1};
inline constexpr uint8_t SIM_REPORT_TAIL[4] = {0xF8, 0xF7, 0xF6, 0xF5};
inline constexpr uint8_t SIM_COMMAND_HEADER[4] = {0xFD, 0xFC, 0xFB, 0xFA};
inline constexpr uint8_t SIM_COMMAND_TAIL[4] = {0x04, 0x03, 0x02, 0x01};
inline constexpr size_t SIM_MARKER_SIZE = 4;
// Header, u16 length and tail around a frame's body.
inline constexpr size_t SIM_FRAME_OVERHEAD = 2 * SIM_MARKER_SIZE + 2;
// The bit an acknowledgement sets in the request's command word.
inline constexpr uint16_t SIM_ACK_BIT = 0x0100;
// A command's length field counts the word and the payload: 2 at least, and a
// body longer than this is taken for noise.
inline constexpr size_t SIM_MIN_COMMAND_BODY = 2;
inline constexpr size_t SIM_MAX_COMMAND_BODY = 4096;

// A report frame around the payload (its first byte is the payload type).
[[nodiscard]] std::vector<uint8_t> SimReportFrame(const uint8_t* payload, size_t length);
// The acknowledgement of requestWord carrying the reply payload.
[[nodiscard]] std::vector<uint8_t> SimAckFrame(uint16_t requestWord, const std::vector<uint8_t>& reply);
