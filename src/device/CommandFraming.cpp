#include "device/CommandFraming.h"

#include "common/ByteOrder.h"

std::vector<uint8_t> BuildCommandFrame(uint16_t command, const uint8_t* payload, size_t length)
{
    const size_t body = length + 2;
    std::vector<uint8_t> frame;
    frame.reserve(body + FRAME_OVERHEAD);
    frame.insert(frame.end(), std::begin(COMMAND_FRAME_HEADER), std::end(COMMAND_FRAME_HEADER));
    AppendLE16(frame, static_cast<uint16_t>(body));
    AppendLE16(frame, command);
    if (length > 0) {
        frame.insert(frame.end(), payload, payload + length);
    }
    frame.insert(frame.end(), std::begin(COMMAND_FRAME_TAIL), std::end(COMMAND_FRAME_TAIL));
    return frame;
}

AckScanResult ScanForAck(const uint8_t* data, size_t size, uint16_t ackWord)
{
    AckScanResult result;
    size_t i = 0;
    while (i + 4 <= size) {
        const uint8_t* p = data + i;
        const bool isAck = IsFrameMarker(p, COMMAND_FRAME_HEADER);
        const bool isReport = !isAck && IsFrameMarker(p, REPORT_FRAME_HEADER);
        if (!isAck && !isReport) {
            ++i;
            continue;
        }
        if (i + 6 > size) {
            break;  // the length field has not arrived
        }
        const size_t body = ReadLE16(p + 4);
        if (body > MAX_FRAME_BODY || (isAck && body < 2)) {
            ++i;  // a header pattern in noise
            continue;
        }
        const size_t frameSize = body + FRAME_OVERHEAD;
        if (i + frameSize > size) {
            break;  // wait for the rest of this frame
        }
        const uint8_t* tail = p + 6 + body;
        if (!IsFrameMarker(tail, isAck ? COMMAND_FRAME_TAIL : REPORT_FRAME_TAIL)) {
            ++i;  // damaged, or not a frame at all: resynchronise one byte on
            continue;
        }
        if (isAck && ReadLE16(p + 6) == ackWord) {
            result.status = AckScan::Found;
            result.payloadOffset = i + 8;
            result.payloadLength = body - 2;
            result.consumed = i + frameSize;
            return result;
        }
        i += frameSize;  // a report or someone else's acknowledgement
    }
    result.consumed = i;
    return result;
}
