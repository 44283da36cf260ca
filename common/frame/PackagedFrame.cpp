#include "PackagedFrame.h"

#include <cstring>

namespace kx::frame {
namespace {

void putU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void putU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t getU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t getU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Start marker, time fields, presentation time, data type and frame type: offsets 0 to 34.
void writeHead(uint8_t* dst, uint32_t wallClock, uint32_t ptsSec, uint32_t ptsUsec,
               uint16_t dataType, uint16_t frameType) {
    std::memcpy(dst, KX_PKT_START_MARKER, KX_PKT_MARKER_SIZE);
    putU32(dst + KX_PKT_OFF_WALLCLOCK, wallClock);
    putU32(dst + KX_PKT_OFF_RESERVED, 0);
    putU32(dst + KX_PKT_OFF_PTS_SEC, ptsSec);
    putU32(dst + KX_PKT_OFF_PTS_USEC, ptsUsec);
    putU16(dst + KX_PKT_OFF_DATA_TYPE, dataType);
    putU16(dst + KX_PKT_OFF_FRAME_TYPE, frameType);
}

// Writes L and the end marker after `end` (the offset just past the frame); returns L + 34.
size_t writeTail(uint8_t* dst, size_t end) {
    std::memcpy(dst + end, KX_PKT_END_MARKER, KX_PKT_MARKER_SIZE);
    putU32(dst + KX_PKT_OFF_LENGTH, static_cast<uint32_t>(end - KX_PKT_OFF_INNER));
    return end + KX_PKT_MARKER_SIZE;
}

}  // namespace

size_t writeVideo(uint8_t* dst, const VideoFrameInfo& info, const uint8_t* frame, size_t n) {
    const uint32_t wallClock = info.frameType == KX_FRAME_IDR ? info.wallClockSec : 0;
    writeHead(dst, wallClock, info.ptsSec, info.ptsUsec, info.dataType, info.frameType);
    size_t pos = KX_PKT_OFF_PAYLOAD;
    if (!info.hasStartCode) {
        static const uint8_t kStartCode[4] = {0, 0, 0, 1};
        std::memcpy(dst + pos, kStartCode, sizeof kStartCode);
        pos += sizeof kStartCode;
    }
    if (n > 0) std::memcpy(dst + pos, frame, n);
    return writeTail(dst, pos + n);
}

size_t writeAudio(uint8_t* dst, const AudioFrameInfo& info, const uint8_t* frame, size_t n) {
    writeHead(dst, 0, info.ptsSec, info.ptsUsec, info.dataType, KX_FRAME_OTHER);
    putU32(dst + KX_PKT_OFF_CHANNELS, info.channels);
    putU32(dst + KX_PKT_OFF_SAMPLE_RATE, info.sampleRate);
    if (n > 0) std::memcpy(dst + KX_PKT_OFF_AUDIO_PAYLOAD, frame, n);
    return writeTail(dst, KX_PKT_OFF_AUDIO_PAYLOAD + n);
}

uint32_t innerLength(const uint8_t* packaged) {
    return getU32(packaged + KX_PKT_OFF_LENGTH);
}

std::optional<InnerFrame> parseInner(const uint8_t* inner, size_t size) {
    if (inner == nullptr || size < KX_INNER_OFF_PAYLOAD) return std::nullopt;
    InnerFrame f;
    f.ptsSec = getU32(inner + KX_INNER_OFF_PTS_SEC);
    f.ptsUsec = getU32(inner + KX_INNER_OFF_PTS_USEC);
    f.dataType = getU16(inner + KX_INNER_OFF_DATA_TYPE);
    f.frameType = getU16(inner + KX_INNER_OFF_FRAME_TYPE);
    if (isAudioDataType(f.dataType)) {
        if (size < KX_INNER_OFF_AUDIO_PAYLOAD) return std::nullopt;
        f.channels = getU32(inner + KX_INNER_OFF_CHANNELS);
        f.sampleRate = getU32(inner + KX_INNER_OFF_SAMPLE_RATE);
        f.payload = inner + KX_INNER_OFF_AUDIO_PAYLOAD;
        f.payloadSize = size - KX_INNER_OFF_AUDIO_PAYLOAD;
    } else if (isVideoDataType(f.dataType)) {
        // The video parameter set frame type belongs to H.265 alone.
        const uint16_t lastType = f.dataType == KX_DATA_H265 ? KX_FRAME_VPS : KX_FRAME_PPS;
        if (f.frameType > lastType) return std::nullopt;
        f.payload = inner + KX_INNER_OFF_PAYLOAD;
        f.payloadSize = size - KX_INNER_OFF_PAYLOAD;
    } else {
        return std::nullopt;
    }
    return f;
}

size_t addedStartCodeSize(const InnerFrame& frame) {
    static constexpr uint8_t kPrefix[] = {0, 0, 0, 1, 0, 0, 1};
    if (frame.dataType != KX_DATA_MPEG4 || frame.payloadSize < sizeof kPrefix) return 0;
    return std::memcmp(frame.payload, kPrefix, sizeof kPrefix) == 0 ? 4 : 0;
}

std::optional<ScanResult> scanNext(const uint8_t* data, size_t size, size_t from, size_t maxInner) {
    if (data == nullptr) return std::nullopt;
    for (size_t pos = from; pos + KX_PKT_OVERHEAD <= size; ++pos) {
        const void* hit = std::memchr(data + pos, KX_PKT_START_MARKER[0], size - pos);
        if (hit == nullptr) return std::nullopt;
        pos = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (pos + KX_PKT_OVERHEAD > size) return std::nullopt;
        if (std::memcmp(data + pos, KX_PKT_START_MARKER, KX_PKT_MARKER_SIZE) != 0) continue;
        const size_t inner = getU32(data + pos + KX_PKT_OFF_LENGTH);
        if (inner > maxInner || inner > size - pos - KX_PKT_OVERHEAD) continue;
        const size_t endMarker = pos + KX_PKT_OFF_INNER + inner;
        if (std::memcmp(data + endMarker, KX_PKT_END_MARKER, KX_PKT_MARKER_SIZE) != 0) continue;
        auto parsed = parseInner(data + pos + KX_PKT_OFF_INNER, inner);
        if (!parsed) continue;
        return ScanResult{pos, inner + KX_PKT_OVERHEAD, *parsed};
    }
    return std::nullopt;
}

}  // namespace kx::frame
