// Decoding a recording with the ffprobe program: the video payloads of its packaged frames,
// unwrapped into an elementary stream (MPEG-4 frames without the 00 00 00 01 each packaged
// frame gets in front), read as raw H.264, H.265 or MPEG-4 part 2 video.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "PackagedFrameReader.h"

namespace Brelso::Testing {

struct RecordingDecode {
    bool ran = false;          // ffprobe ran and read the stream
    size_t pictures = 0;       // pictures in the recording (H.264/H.265: by presentation time)
    size_t decoded = 0;        // pictures ffprobe decoded
    std::string firstPicture;  // picture type of the first decoded one ("I", "P", ...)
    size_t errors = 0;         // lines of decoding errors ffprobe printed
    std::string output;        // what ffprobe printed, for failure messages
};

// Writes the stream to `elementaryPath` and decodes it.
RecordingDecode decodeRecordedVideo(const std::vector<PackagedFrame>& frames, uint16_t dataType,
                                    const std::string& elementaryPath);

}  // namespace Brelso::Testing
