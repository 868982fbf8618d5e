#include "sim/WireFormat.h"

#include "common/ByteOrder.h"

namespace {

// header | u16 L | body (L bytes) | tail
std::vector<uint8_t> Wrap(const uint8_t (&header)[SIM_MARKER_SIZE], const std::vector<uint8_t>& body,
                          const uint8_t (&tail)[SIM_MARKER_SIZE])
{
    std::vector<uint8_t> frame;
    frame.reserve(body.size() + SIM_FRAME_OVERHEAD);
    frame.insert(frame.end(), std::begin(header), std::end(header));
    AppendLE16(frame, static_cast<uint16_t>(body.size()));
    frame.insert(frame.end(), body.begin(), body.end());
    frame.insert(frame.end(), std::begin(tail), std::end(tail));
    return frame;
}

}  // namespace

std::vector<uint8_t> SimReportFrame(const uint8_t* payload, size_t length)
{
    return Wrap(SIM_REPORT_HEADER, std::vector<uint8_t>(payload, payload + length), SIM_REPORT_TAIL);
}

std::vector<uint8_t> SimAckFrame(uint16_t requestWord, const std::vector<uint8_t>& reply)
{
    std::vector<uint8_t> body;
    body.reserve(2 + reply.size());
    AppendLE16(body, static_cast<uint16_t>(requestWord | SIM_ACK_BIT));
    body.insert(body.end(), reply.begin(), reply.end());
    return Wrap(SIM_COMMAND_HEADER, body, SIM_COMMAND_TAIL);
}
