#include "FrameStats.h"

#include "KXPackagedFrame.h"

namespace {

uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t readLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

bool isAudioType(uint32_t dataType) {
    return dataType == KX_DATA_AAC || dataType == KX_DATA_PCMU || dataType == KX_DATA_PCMA ||
           dataType == KX_DATA_G7221;
}

std::string dataTypeName(uint32_t dataType) {
    switch (dataType) {
        case KX_DATA_H264:
            return "H.264";
        case KX_DATA_MPEG4:
            return "MPEG-4";
        case KX_DATA_H265:
            return "H.265";
        case KX_DATA_AAC:
            return "AAC";
        case KX_DATA_PCMU:
            return "PCMU";
        case KX_DATA_PCMA:
            return "PCMA";
        case KX_DATA_PRIVATE:
            return "PRIVATE";
        case KX_DATA_G7221:
            return "G.722.1";
        default:
            return "type " + std::to_string(dataType);
    }
}

void FrameStats::add(uint32_t dataType, const uint8_t* buffer, uint32_t size) {
    std::lock_guard lock(m_mutex);
    TypeStats& stats = m_types[dataType];
    ++stats.frames;
    stats.bytes += size;
    if (dataType == KX_DATA_PRIVATE) return;  // raw payload: no packaged header to read

    // The inner part starts with the presentation time (8 bytes), the data type and the
    // frame type (2 bytes each); audio adds the channel count and the sample rate.
    if (size < KX_INNER_OFF_PAYLOAD ||
        (isAudioType(dataType) && size < KX_INNER_OFF_AUDIO_PAYLOAD)) {
        ++stats.malformed;
        return;
    }
    const uint16_t frameType = readLe16(buffer + KX_INNER_OFF_FRAME_TYPE);
    if (frameType == KX_FRAME_IDR) ++stats.keyFrames;
    if (frameType == KX_FRAME_SPS || frameType == KX_FRAME_PPS ||
        (dataType == KX_DATA_H265 && frameType == KX_FRAME_VPS)) {
        ++stats.parameterSets;
    }
    if (isAudioType(dataType)) {
        stats.channels = readLe32(buffer + KX_INNER_OFF_CHANNELS);
        stats.sampleRate = readLe32(buffer + KX_INNER_OFF_SAMPLE_RATE);
    }
}

std::map<uint32_t, TypeStats> FrameStats::snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_types;
}
