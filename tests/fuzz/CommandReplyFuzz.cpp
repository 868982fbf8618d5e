// Command-reply scanner and reply check under libFuzzer. After the chunk plan, the
// input's next two bytes are the acknowledgement word looked for and the rest is the
// line. The line is scanned once whole and once in reads whose lengths come from the
// input, dropping what each scan consumed as the device's exchange does. Checked:
// - consumed never exceeds what was scanned; a found payload lies inside the buffer,
//   between a command header whose length field counts the word and the payload, the
//   expected word and a command tail, and the scan consumed exactly up to that tail;
// - a scan that found nothing stops only before fewer than four bytes or before a
//   header whose frame has not fully arrived;
// - both deliveries find the same reply at the same place, or drop the same bytes;
// - the reply check gives the payload's first 16-bit field, or the malformed-reply
//   status for a payload shorter than 2 bytes, reading only the payload.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "common/ByteOrder.h"
#include "device/CommandFraming.h"
#include "device/RadarDevice.h"

namespace {

struct Reply {
    bool found = false;
    size_t start = 0;  // payload offset in the whole line
    size_t end = 0;    // one past the tail, in the whole line
    size_t dropped = 0;
    std::vector<uint8_t> payload;
};

// The properties of one scan of buf[0, size), whatever its outcome.
void CheckScan(const uint8_t* buf, size_t size, uint16_t word, const AckScanResult& scan) {
    FUZZ_CHECK(scan.consumed <= size);
    if (scan.status == AckScan::Found) {
        FUZZ_CHECK(scan.payloadOffset >= 8);
        FUZZ_CHECK(scan.payloadOffset + scan.payloadLength + FRAME_MARKER_SIZE == scan.consumed);
        FUZZ_CHECK(scan.payloadLength + 2 <= MAX_FRAME_BODY);
        const uint8_t* frame = buf + scan.payloadOffset - 8;
        FUZZ_CHECK(IsFrameMarker(frame, COMMAND_FRAME_HEADER));
        FUZZ_CHECK(ReadLE16(frame + 4) == scan.payloadLength + 2);
        FUZZ_CHECK(ReadLE16(frame + 6) == word);
        FUZZ_CHECK(IsFrameMarker(buf + scan.payloadOffset + scan.payloadLength, COMMAND_FRAME_TAIL));
        return;
    }
    FUZZ_CHECK(scan.status == AckScan::NeedMore);
    const size_t left = size - scan.consumed;
    if (left < FRAME_MARKER_SIZE) return;
    const uint8_t* p = buf + scan.consumed;
    const bool ack = IsFrameMarker(p, COMMAND_FRAME_HEADER);
    FUZZ_CHECK(ack || IsFrameMarker(p, REPORT_FRAME_HEADER));
    if (left < 6) return;
    const size_t body = ReadLE16(p + 4);
    FUZZ_CHECK(body <= MAX_FRAME_BODY && (!ack || body >= 2));
    FUZZ_CHECK(body + FRAME_OVERHEAD > left);
}

// The reply check on a copy of exactly the payload, as the exchange hands it over.
void CheckReply(const std::vector<uint8_t>& payload) {
    const std::vector<uint8_t> copy(payload);
    const uint16_t status = CheckCmdAckData_RetCode(eRADAR_PROTOCOL_VERSION_2, copy.empty() ? nullptr : copy.data(),
                                                    static_cast<int>(copy.size()), 0);
    if (copy.size() < 2)
        FUZZ_CHECK(status == RADAR_ERR_MALFORMED_REPLY);
    else
        FUZZ_CHECK(status == ReadLE16(copy.data()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t planLength = data[0] % 8;
    if (size < 3 + planLength) return 0;
    ChunkPlan plan{data + 1, planLength};
    const uint16_t word = ReadLE16(data + 1 + planLength);
    const uint8_t* line = data + 3 + planLength;
    const size_t length = size - 3 - planLength;

    // Scanned whole straight from the input, so any read past its end is caught.
    Reply whole;
    const AckScanResult all = ScanForAck(line, length, word);
    CheckScan(line, length, word, all);
    if (all.status == AckScan::Found) {
        whole.found = true;
        whole.start = all.payloadOffset;
        whole.end = all.consumed;
        whole.payload.assign(line + all.payloadOffset, line + all.payloadOffset + all.payloadLength);
        CheckReply(whole.payload);
    } else {
        whole.dropped = all.consumed;
    }

    // Read by read: the consumed front is dropped after each scan, the rest kept.
    Reply chunked;
    std::vector<uint8_t> received;
    for (size_t at = 0; at < length && !chunked.found;) {
        const size_t n = std::min(plan.Next(), length - at);
        received.insert(received.end(), line + at, line + at + n);
        at += n;
        const std::vector<uint8_t> exact(received);  // sized exactly, for the address checks
        const AckScanResult scan = ScanForAck(exact.data(), exact.size(), word);
        CheckScan(exact.data(), exact.size(), word, scan);
        if (scan.status == AckScan::Found) {
            chunked.found = true;
            chunked.start = chunked.dropped + scan.payloadOffset;
            chunked.end = chunked.dropped + scan.consumed;
            chunked.payload.assign(exact.begin() + static_cast<std::ptrdiff_t>(scan.payloadOffset),
                                   exact.begin() + static_cast<std::ptrdiff_t>(scan.payloadOffset + scan.payloadLength));
        } else {
            received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(scan.consumed));
            chunked.dropped += scan.consumed;
        }
    }
    FUZZ_CHECK(chunked.found == whole.found);
    if (whole.found) {
        FUZZ_CHECK(chunked.start == whole.start && chunked.end == whole.end);
        FUZZ_CHECK(chunked.payload == whole.payload);
    } else {
        FUZZ_CHECK(chunked.dropped == whole.dropped);
    }

    // The check on the raw line as a reply, with the length it is given and no more.
    const int given = static_cast<int>(std::min<size_t>(length, INT_MAX));
    const uint16_t status = CheckCmdAckData_RetCode(eRADAR_PROTOCOL_VERSION_2, line, given, 0);
    FUZZ_CHECK(status == (given < 2 ? RADAR_ERR_MALFORMED_REPLY : ReadLE16(line)));
    return 0;
}
