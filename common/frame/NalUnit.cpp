#include "NalUnit.h"

#include "KXPackagedFrame.h"

namespace kx::frame {

size_t leadingStartCode(const uint8_t* b, size_t n) {
    if (b == nullptr) return 0;
    if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1) return 4;
    if (n >= 3 && b[0] == 0 && b[1] == 0 && b[2] == 1) return 3;
    return 0;
}

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

int h264NalType(const uint8_t* nal, size_t size) {
    return nal != nullptr && size >= 1 ? (nal[0] & 0x1F) : -1;
}

int h265NalType(const uint8_t* nal, size_t size) {
    return nal != nullptr && size >= 2 ? ((nal[0] >> 1) & 0x3F) : -1;
}

int h264FirstNalType(const uint8_t* data, size_t size) {
    const long off = firstNalOffset(data, size);
    return off < 0 ? -1 : h264NalType(data + off, size - static_cast<size_t>(off));
}

int h265FirstNalType(const uint8_t* data, size_t size) {
    const long off = firstNalOffset(data, size);
    return off < 0 ? -1 : h265NalType(data + off, size - static_cast<size_t>(off));
}

uint16_t h264FrameType(const uint8_t* frame, size_t n, bool& hasStartCode) {
    const size_t header = leadingStartCode(frame, n);
    hasStartCode = header > 0;
    switch (h264NalType(frame + header, n - header)) {
        case h264::kIdr:
            return KX_FRAME_IDR;
        case h264::kSps:
            return KX_FRAME_SPS;
        case h264::kPps:
            return KX_FRAME_PPS;
        default:
            return hasStartCode ? KX_FRAME_OTHER : KX_FRAME_NOSTART;
    }
}

uint16_t h265FrameType(const uint8_t* frame, size_t n, bool& hasStartCode) {
    const size_t header = leadingStartCode(frame, n);
    hasStartCode = header > 0;
    const int type = h265NalType(frame + header, n - header);
    if (h265::isIrap(type)) return KX_FRAME_IDR;
    switch (type) {
        case h265::kVps:
            return KX_FRAME_VPS;
        case h265::kSps:
            return KX_FRAME_SPS;
        case h265::kPps:
            return KX_FRAME_PPS;
        default:
            return hasStartCode ? KX_FRAME_OTHER : KX_FRAME_NOSTART;
    }
}

bool h264BeginsAccessUnit(const uint8_t* nal, size_t size) {
    const int type = h264NalType(nal, size);
    if (type == h264::kSei || type == h264::kSps || type == h264::kPps || type == h264::kAud ||
        (type >= 14 && type <= 18)) {
        return true;
    }
    if (!h264::isVcl(type) || size < 2) return false;
    // first_mb_in_slice is the first Exp-Golomb value after the header: 0 is the single bit 1.
    return (nal[1] & 0x80) != 0;
}

bool h265BeginsAccessUnit(const uint8_t* nal, size_t size) {
    const int type = h265NalType(nal, size);
    if (h265::isParameterSet(type) || type == h265::kAud || type == h265::kPrefixSei ||
        (type >= 41 && type <= 44) || (type >= 48 && type <= 55)) {
        return true;
    }
    if (!h265::isVcl(type) || size < 3) return false;
    // first_slice_segment_in_pic_flag: the first bit after the two-byte header.
    return (nal[2] & 0x80) != 0;
}

}  // namespace kx::frame
