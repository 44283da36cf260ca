#include "BitstreamInfo.h"

#include "KXPackagedFrame.h"
#include "NalUnit.h"

namespace kx::play {
namespace {

// Reads Exp-Golomb values from the payload of a NAL unit, leaving out the emulation
// prevention bytes (00 00 03).
class RbspBits {
public:
    RbspBits(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool readUe(uint32_t& value) {
        int zeros = 0;
        for (;;) {
            int bit = 0;
            if (!readBit(bit)) return false;
            if (bit == 1) break;
            if (++zeros > 31) return false;
        }
        uint64_t rest = 0;
        for (int i = 0; i < zeros; ++i) {
            int bit = 0;
            if (!readBit(bit)) return false;
            rest = (rest << 1) | static_cast<uint64_t>(bit);
        }
        const uint64_t full = ((uint64_t{1} << zeros) - 1) + rest;
        if (full > UINT32_MAX) return false;
        value = static_cast<uint32_t>(full);
        return true;
    }

private:
    bool readBit(int& bit) {
        if (m_bit == 0) {
            if (m_pos < m_size && m_zeros >= 2 && m_data[m_pos] == 3) {
                ++m_pos;  // emulation prevention byte
                m_zeros = 0;
            }
            if (m_pos >= m_size) return false;
            m_byte = m_data[m_pos++];
            m_zeros = m_byte == 0 ? m_zeros + 1 : 0;
        }
        bit = (m_byte >> (7 - m_bit)) & 1;
        m_bit = (m_bit + 1) % 8;
        return true;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    int m_zeros = 0;
    uint8_t m_byte = 0;
    int m_bit = 0;
};

}  // namespace

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

namespace kx::play {

bool h264ReadSliceStart(const uint8_t* data, size_t size, H264SliceStart& out) {
    const long off = firstNalOffset(data, size);
    if (off < 0) return false;
    const int type = data[off] & 0x1F;
    if (type < 1 || type > 5) return false;
    RbspBits bits(data + off + 1, size - static_cast<size_t>(off) - 1);
    uint32_t sliceType = 0;
    H264SliceStart start;
    start.nalType = type;
    start.reference = (data[off] & 0x60) != 0;
    if (!bits.readUe(start.firstMb) || !bits.readUe(sliceType) || !bits.readUe(start.ppsId)) {
        return false;
    }
    out = start;
    return true;
}

bool h264NewPicture(const H264SliceStart& previous, const H264SliceStart& next) {
    return next.firstMb == 0 || next.firstMb <= previous.firstMb ||
           (next.nalType == 5) != (previous.nalType == 5) || next.reference != previous.reference ||
           next.ppsId != previous.ppsId;
}

}  // namespace kx::play
