// The packaged frame, written by the stream library and read back by the decode library.
// The byte layout is documented in KXPackagedFrame.h; this module is the only code that
// writes or parses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "KXPackagedFrame.h"

namespace kx::frame {

constexpr bool isAudioDataType(uint16_t dataType) {
    return dataType == KX_DATA_AAC || dataType == KX_DATA_PCMU || dataType == KX_DATA_PCMA ||
           dataType == KX_DATA_G7221;
}

constexpr bool isVideoDataType(uint16_t dataType) {
    return dataType == KX_DATA_H264 || dataType == KX_DATA_MPEG4 || dataType == KX_DATA_H265;
}

// Bytes a whole packaged frame needs. Video: the start code is put in front unless the frame
// carries one. Audio: channel count and sample rate come before the frame.
constexpr size_t packagedVideoSize(size_t n, bool hasStartCode) {
    return n + KX_PKT_OVERHEAD + 12 + (hasStartCode ? 0 : 4);
}
constexpr size_t packagedAudioSize(size_t n) {
    return n + KX_PKT_OVERHEAD + 20;
}

struct VideoFrameInfo {
    uint16_t dataType = 0;
    uint16_t frameType = 0;
    bool hasStartCode = false;
    uint32_t ptsSec = 0;
    uint32_t ptsUsec = 0;
    uint32_t wallClockSec = 0;  // written only for frame type 1
};

struct AudioFrameInfo {
    uint16_t dataType = 0;
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t ptsSec = 0;
    uint32_t ptsUsec = 0;
};

// Writes a whole packaged frame into dst, which must hold packagedVideoSize() /
// packagedAudioSize() bytes. Returns the number of bytes written (L + 34).
size_t writeVideo(uint8_t* dst, const VideoFrameInfo& info, const uint8_t* frame, size_t n);
size_t writeAudio(uint8_t* dst, const AudioFrameInfo& info, const uint8_t* frame, size_t n);

// The length field L of a whole packaged frame written by the functions above.
uint32_t innerLength(const uint8_t* packaged);

// A parsed inner part (what the data callback receives: offset 23 up to the end marker).
struct InnerFrame {
    uint32_t ptsSec = 0;
    uint32_t ptsUsec = 0;
    uint16_t dataType = 0;
    uint16_t frameType = 0;
    uint32_t channels = 0;             // audio only
    uint32_t sampleRate = 0;           // audio only
    const uint8_t* payload = nullptr;  // video: with its start code; audio: the frame
    size_t payloadSize = 0;
};

// Parses an inner part of size L. Returns nothing when it is too short for its header or its
// data type is none of the packaged ones (the raw private payload is never packaged).
std::optional<InnerFrame> parseInner(const uint8_t* inner, size_t size);

// MPEG-4 part 2 frames carry their own start codes (00 00 01): the 00 00 00 01 the packaging
// puts in front of one is no part of the stream. The number of such leading bytes (0 or 4).
size_t addedStartCodeSize(const InnerFrame& frame);

// Finds whole packaged frames in a byte range (a ".qf" file or a part of one). A frame is
// whole when it starts with the start marker, its L fits the range, the end marker stands at
// 23 + L and its inner part parses. Damaged bytes are skipped up to the next start marker.
struct ScanResult {
    size_t offset = 0;  // where the whole packaged frame starts
    size_t size = 0;    // L + 34
    InnerFrame frame;
};
// Searches from `from`. Returns nothing when no whole frame starts in [from, size).
// maxInner bounds L so that a damaged length can never ask for more than that.
std::optional<ScanResult> scanNext(const uint8_t* data, size_t size, size_t from,
                                   size_t maxInner = 64u * 1024u * 1024u);

}  // namespace kx::frame
