#include "BitstreamInfo.h"

#include "KXPackagedFrame.h"

namespace kx::play {

long firstNalOffset(const uint8_t* data, size_t size) {
    if (data == nullptr) return -1;
    for (size_t i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            return static_cast<long>(i + 3);
        }
        if (data[i] != 0) return -1;  // only zero bytes may come before the first start code
    }
    return -1;
}

int h264FirstNalType(const uint8_t* data, size_t size) {
    const long off = firstNalOffset(data, size);
    if (off < 0) return -1;
    return data[off] & 0x1F;
}

bool h264IsKey(const uint8_t* data, size_t size) {
    // A chunk may hold several NAL units (an access unit that came with start codes).
    int zeros = 0;
    for (size_t i = 0; i + 1 < size; ++i) {
        if (data[i] == 0) {
            ++zeros;
            continue;
        }
        if (data[i] == 1 && zeros >= 2) {
            const int type = data[i + 1] & 0x1F;
            if (type == 5 || type == 7) return true;
            if (type >= 1 && type <= 4) return false;  // a non-IDR slice comes first
        }
        zeros = 0;
    }
    return false;
}

bool mpeg4IsKey(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 4 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
        const uint8_t code = data[i + 3];
        if (code == 0xB0 || code == 0xB3 || (code >= 0x20 && code <= 0x2F)) return true;
        if (code == 0xB6) return (data[i + 4] >> 6) == 0;  // vop_coding_type 0: intra
    }
    return false;
}

const uint8_t* mpeg4SkipPrefix(const uint8_t* data, size_t& size) {
    if (size >= 7 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1 && data[4] == 0 &&
        data[5] == 0 && data[6] == 1) {
        size -= 4;
        return data + 4;
    }
    return data;
}

bool isKeyFrame(uint16_t dataType, uint16_t frameType, const uint8_t* data, size_t size) {
    if (dataType == KX_DATA_H264) {
        if (frameType == KX_FRAME_IDR || frameType == KX_FRAME_SPS) return true;
        if (frameType == KX_FRAME_OTHER) return h264IsKey(data, size);
        return false;
    }
    if (dataType == KX_DATA_MPEG4) return mpeg4IsKey(data, size);
    return false;
}

uint8_t parameterSetKind(uint16_t dataType, uint16_t frameType, const uint8_t* data, size_t size) {
    if (dataType != KX_DATA_H264) return 0;
    if (frameType == KX_FRAME_SPS) return 7;
    if (frameType == KX_FRAME_PPS) return 8;
    if (frameType != KX_FRAME_OTHER) return 0;
    const int type = h264FirstNalType(data, size);
    return type == 7 || type == 8 ? static_cast<uint8_t>(type) : 0;
}

bool h264IsVcl(const uint8_t* data, size_t size) {
    const int type = h264FirstNalType(data, size);
    return type >= 1 && type <= 5;
}

bool h264StartsAccessUnit(const uint8_t* data, size_t size, bool previousWasVcl) {
    const long off = firstNalOffset(data, size);
    if (off < 0) return false;
    const int type = data[off] & 0x1F;
    if (!previousWasVcl) return false;
    if (type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18)) {
        return true;
    }
    if (type < 1 || type > 5) return false;
    // first_mb_in_slice is the first Exp-Golomb value after the header: a value of 0 is the
    // single bit 1.
    if (static_cast<size_t>(off) + 1 >= size) return false;
    return (data[off + 1] & 0x80) != 0;
}

}  // namespace kx::play
