#include "PackagedFrameReader.h"

#include <cstring>

#include "KXPackagedFrame.h"

namespace Brelso::Testing {

uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t readLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool parseInnerFrame(const uint8_t* inner, size_t size, InnerFrame& frame, std::string* error) {
    auto fail = [&](const char* text) {
        if (error) *error = text;
        return false;
    };
    if (!inner || size < KX_INNER_OFF_PAYLOAD) return fail("inner part shorter than its header");
    frame.ptsSeconds = readLe32(inner + KX_INNER_OFF_PTS_SEC);
    frame.ptsMicroseconds = readLe32(inner + KX_INNER_OFF_PTS_USEC);
    frame.dataType = readLe16(inner + KX_INNER_OFF_DATA_TYPE);
    frame.frameType = readLe16(inner + KX_INNER_OFF_FRAME_TYPE);
    frame.audio = frame.dataType == KX_DATA_AAC || frame.dataType == KX_DATA_PCMU ||
                  frame.dataType == KX_DATA_PCMA || frame.dataType == KX_DATA_G7221;
    size_t payloadOffset = KX_INNER_OFF_PAYLOAD;
    if (frame.audio) {
        if (size < KX_INNER_OFF_AUDIO_PAYLOAD) return fail("audio inner part shorter than 20");
        frame.channels = readLe32(inner + KX_INNER_OFF_CHANNELS);
        frame.sampleRate = readLe32(inner + KX_INNER_OFF_SAMPLE_RATE);
        payloadOffset = KX_INNER_OFF_AUDIO_PAYLOAD;
    }
    frame.payload.assign(inner + payloadOffset, inner + size);
    return true;
}

bool parsePackagedFrames(const std::vector<uint8_t>& data, std::vector<PackagedFrame>& frames,
                         std::string* error) {
    size_t offset = 0;
    while (offset < data.size()) {
        auto fail = [&](const std::string& text) {
            if (error) *error = text + " at byte " + std::to_string(offset);
            return false;
        };
        if (data.size() - offset < KX_PKT_OVERHEAD) return fail("truncated frame");
        const uint8_t* p = data.data() + offset;
        if (std::memcmp(p, KX_PKT_START_MARKER, KX_PKT_MARKER_SIZE) != 0)
            return fail("no start marker");
        PackagedFrame frame;
        frame.wallClockSeconds = readLe32(p + KX_PKT_OFF_WALLCLOCK);
        frame.reserved = readLe32(p + KX_PKT_OFF_RESERVED);
        frame.length = readLe32(p + KX_PKT_OFF_LENGTH);
        if (frame.length > data.size() - offset - KX_PKT_OVERHEAD)
            return fail("length beyond data");
        if (std::memcmp(p + KX_PKT_OFF_INNER + frame.length, KX_PKT_END_MARKER,
                        KX_PKT_MARKER_SIZE) != 0) {
            return fail("no end marker");
        }
        std::string innerError;
        if (!parseInnerFrame(p + KX_PKT_OFF_INNER, frame.length, frame.inner, &innerError)) {
            return fail(innerError);
        }
        frames.push_back(std::move(frame));
        offset += frames.back().length + KX_PKT_OVERHEAD;
    }
    return true;
}

}  // namespace Brelso::Testing
