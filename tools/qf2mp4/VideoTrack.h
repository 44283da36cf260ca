// Video of a recording as MP4 samples: the codec table, the assembly of access units from
// the packaged frames, and the codec parameters an MP4 file needs (decoder configuration and
// picture size), taken from the first key access unit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "PackagedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kx::qf2mp4 {

// How packaged frames of one data type make up the pictures of the stream.
enum class Framing {
    NalUnits,     // one NAL unit per frame (start code in front); a picture's NAL units share
                  // their presentation time
    WholeFrames,  // one coded picture per frame
};
enum class KeyRule {
    FrameTypeKey,  // the packaging marked the key picture's slices with KX_FRAME_IDR
    Mpeg4Vop,      // an intra-coded video object plane (vop_coding_type 0)
};
// For NAL unit framing: where the NAL unit type sits in the first header byte, and which
// types are coded slices of a picture (everything else is carried to the next picture).
struct NalTypeField {
    uint8_t shift = 0;
    uint8_t mask = 0;
    uint8_t firstPicture = 0;
    uint8_t lastPicture = 0;
};

struct VideoCodec {
    uint16_t dataType;
    AVCodecID codecId;
    const char* name;
    Framing framing;
    KeyRule keyRule;
    NalTypeField nalType;
};

// The codec of a video data type, or nullptr when the data type is no video we copy.
const VideoCodec* findVideoCodec(uint16_t dataType);

struct AccessUnit {
    std::vector<uint8_t> data;  // Annex B for NAL unit codecs
    int64_t ptsUs = 0;
    bool key = false;
};

// Joins packaged frames of one video codec into access units (one MP4 sample each).
class AccessUnitAssembler {
public:
    explicit AccessUnitAssembler(const VideoCodec& codec) : m_codec(codec) {}

    // Takes one frame; returns the access unit it completed, if any.
    std::optional<AccessUnit> push(const kx::frame::InnerFrame& frame, int64_t ptsUs);
    // The access unit still open at the end of the recording.
    std::optional<AccessUnit> flush();

private:
    bool isPicture(const kx::frame::InnerFrame& frame) const;
    bool isKey(const kx::frame::InnerFrame& frame) const;

    const VideoCodec& m_codec;
    AccessUnit m_open;
    bool m_hasPicture = false;
};

// Fills par (codec, decoder configuration, picture size) from a key access unit; false with
// *error set when FFmpeg finds no decoder configuration or no picture in it.
bool describeVideo(const VideoCodec& codec, const AccessUnit& key, AVCodecParameters* par,
                   std::string* error);

}  // namespace kx::qf2mp4
