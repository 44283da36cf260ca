#include "BitstreamInfo.h"

#include "KXPackagedFrame.h"
#include "NalUnit.h"

namespace kx::play {

long firstNalOffset(const uint8_t* data, size_t size) {
    return kx::frame::firstNalOffset(data, size);
}

int h264FirstNalType(const uint8_t* data, size_t size) {
    return kx::frame::h264FirstNalType(data, size);
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
            const int type = kx::frame::h264NalType(data + i + 1, size - i - 1);
            if (type == 5 || type == 7) return true;
            if (type >= 1 && type <= 4) return false;  // a non-IDR slice comes first
        }
        zeros = 0;
    }
    return false;
}

bool h265IsKey(const uint8_t* data, size_t size) {
    int zeros = 0;
    for (size_t i = 0; i + 1 < size; ++i) {
        if (data[i] == 0) {
            ++zeros;
            continue;
        }
        if (data[i] == 1 && zeros >= 2) {
            const int type = kx::frame::h265NalType(data + i + 1, size - i - 1);
            if (kx::frame::h265::isIrap(type) || type == kx::frame::h265::kVps) return true;
            if (kx::frame::h265::isVcl(type)) return false;  // another slice comes first
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
    if (dataType == KX_DATA_H265) {
        if (frameType == KX_FRAME_IDR || frameType == KX_FRAME_VPS) return true;
        if (frameType == KX_FRAME_OTHER) return h265IsKey(data, size);
        return false;
    }
    if (dataType == KX_DATA_MPEG4) return mpeg4IsKey(data, size);
    return false;
}

uint8_t parameterSetKind(uint16_t dataType, uint16_t frameType, const uint8_t* data, size_t size) {
    if (dataType == KX_DATA_H265) {
        const int type = kx::frame::h265FirstNalType(data, size);
        return kx::frame::h265::isParameterSet(type) ? static_cast<uint8_t>(type) : 0;
    }
    if (dataType != KX_DATA_H264) return 0;
    if (frameType == KX_FRAME_SPS) return 7;
    if (frameType == KX_FRAME_PPS) return 8;
    if (frameType != KX_FRAME_OTHER) return 0;
    const int type = h264FirstNalType(data, size);
    return type == 7 || type == 8 ? static_cast<uint8_t>(type) : 0;
}

bool h264IsVcl(const uint8_t* data, size_t size) {
    return kx::frame::h264::isVcl(h264FirstNalType(data, size));
}

bool h264StartsAccessUnit(const uint8_t* data, size_t size, bool previousWasVcl) {
    const long off = firstNalOffset(data, size);
    if (off < 0 || !previousWasVcl) return false;
    return kx::frame::h264BeginsAccessUnit(data + off, size - static_cast<size_t>(off));
}

bool h265IsVcl(const uint8_t* data, size_t size) {
    return kx::frame::h265::isVcl(kx::frame::h265FirstNalType(data, size));
}

bool h265StartsAccessUnit(const uint8_t* data, size_t size, bool previousWasVcl) {
    const long off = firstNalOffset(data, size);
    if (off < 0 || !previousWasVcl) return false;
    return kx::frame::h265BeginsAccessUnit(data + off, size - static_cast<size_t>(off));
}

bool h265IsParameterSet(const uint8_t* data, size_t size) {
    return kx::frame::h265::isParameterSet(kx::frame::h265FirstNalType(data, size));
}

}  // namespace kx::play
