// The conversion of one ".qf" recording into one MP4 file: video copied (the codecs of
// VideoTrack's table), audio copied or encoded to AAC (AudioTrack), time stamps from the
// packaged frames' presentation times, starting at 0 with the first key picture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kx::qf2mp4 {

struct ConversionReport {
    enum class Outcome {
        Converted,  // every byte of the input was a whole frame
        Damaged,    // damaged bytes were skipped; every whole frame was converted
        Partial,    // whole, but a track the MP4 file cannot hold was left out (skippedTracks)
        Failed,     // nothing written (see error): unreadable, empty, nothing convertible
    };
    Outcome outcome = Outcome::Failed;
    std::string error;
    std::string video;  // codec names, empty when the track is absent
    std::string audio;
    uint64_t videoSamples = 0;
    uint64_t audioFrames = 0;
    uint64_t durationUs = 0;     // of the video track
    uint64_t damagedBytes = 0;   // skipped: cut frames, bytes between frames, a cut tail
    uint64_t firstDamageAt = 0;  // file offset of the first skipped byte
    std::string skippedTracks;   // data types left out, for one warning line
};

// progress(done bytes, total bytes, frames) is called as the input is read.
using ProgressFn = std::function<void(uint64_t, uint64_t, uint64_t)>;

ConversionReport convertQfToMp4(const std::string& input, const std::string& output,
                                const ProgressFn& progress);

}  // namespace kx::qf2mp4
