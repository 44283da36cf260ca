#include "RtpHeader.h"

namespace kx::media {

bool RtpHeader::parse(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 12) return false;
    const uint8_t b0 = data[0];
    if ((b0 >> 6) != 2) return false;
    const bool padding = (b0 & 0x20) != 0;
    const bool extension = (b0 & 0x10) != 0;
    const size_t csrcCount = b0 & 0x0F;
    marker = (data[1] & 0x80) != 0;
    payloadType = data[1] & 0x7F;
    sequenceNumber = static_cast<uint16_t>((data[2] << 8) | data[3]);
    timestamp =
        (uint32_t(data[4]) << 24) | (uint32_t(data[5]) << 16) | (uint32_t(data[6]) << 8) | data[7];
    ssrc = (uint32_t(data[8]) << 24) | (uint32_t(data[9]) << 16) | (uint32_t(data[10]) << 8) |
           data[11];
    size_t offset = 12 + 4 * csrcCount;
    if (offset > size) return false;
    if (extension) {
        if (offset + 4 > size) return false;
        const size_t words = (size_t(data[offset + 2]) << 8) | data[offset + 3];
        offset += 4 + 4 * words;
        if (offset > size) return false;
    }
    size_t end = size;
    if (padding) {
        const size_t pad = data[size - 1];
        if (pad == 0 || pad > end - offset) return false;
        end -= pad;
    }
    payload = data + offset;
    payloadSize = end - offset;
    return true;
}

}  // namespace kx::media
