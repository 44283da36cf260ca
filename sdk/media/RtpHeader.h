// RtpHeader: the fixed RTP header of one packet, checked against the packet's length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx::media {

struct RtpHeader {
    uint8_t payloadType = 0;
    bool marker = false;
    uint16_t sequenceNumber = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;

    // Parses an RTP packet (version 2, CSRC list, header extension and padding removed).
    // Returns false for anything that is not a complete, consistent RTP packet.
    bool parse(const uint8_t* data, size_t size);
};

}  // namespace kx::media
