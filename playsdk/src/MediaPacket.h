// One compressed frame on its way from a source (live queue, ".qf" file, AVI file) to a
// decoder. The data is borrowed: valid until the source's next read.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVCodecParameters;

namespace kx::play {

enum class MediaKind { Video, Audio };

struct MediaPacket {
    MediaKind kind = MediaKind::Video;
    // Which decoder: a packaged data type (KX_DATA_*) for live and ".qf" input, or 0 with
    // codecpar set for AVI streams.
    uint16_t dataType = 0;
    const AVCodecParameters* codecpar = nullptr;
    uint32_t channels = 0;    // packaged audio
    uint32_t sampleRate = 0;  // packaged audio
    int64_t ptsUs = 0;        // presentation time in microseconds
    bool key = false;         // a decoder can start here
    const uint8_t* data = nullptr;
    size_t size = 0;
};

}  // namespace kx::play
