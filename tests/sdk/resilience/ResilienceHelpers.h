// Shared pieces of the resilience tests: a small H.264 stream for the scripted server, the
// whole packaged frame a delivered inner part stands for, and the check that a recording file
// is exactly the delivered frames from its first key frame on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api_fixture.h"

namespace Brelso::Resilience {

using Testing::Bytes;
using namespace std::chrono_literals;

// SPS, PPS, an IDR slice and nine P slices; `tag` goes into every slice so that streams can
// be told apart.
std::vector<Bytes> smallGop(uint8_t tag = 0x11);

// The scripted server's session description for smallGop(): one H.264 track (track 0), an
// optional PCMU track (track 1) and extra session lines.
std::string h264Sdp(bool withPcmu, const std::string& extraSessionLines = "");

// The whole packaged frame (markers, wall clock, reserved, L) around a delivered inner part.
Bytes wholeFrame(const Bytes& inner, uint32_t wallClockSeconds);

bool isKeyFrame(const ApiTests::Delivered& delivered);

// Where a recording sits in the delivered frames.
struct RecordedSpan {
    size_t first = 0;    // index of the first recorded key frame among the delivered ones
    size_t end = 0;      // one past the last recorded frame among the delivered ones
    size_t resumed = 0;  // times the recording started again at a key frame after a gap
};

// Checks (with gtest assertions) that the file is, byte for byte, the whole packaged frames of
// delivered[first, end) for some first >= earliest, each start at a key frame preceded by the
// stream's SPS and PPS (frame types 3 and 4, with the key frame's presentation time): the
// first is a key frame, no key frame was delivered between `settled` and it (the recording
// waits for the first key frame after it was started); after a gap in the file's frames (a
// reconnection) the recording starts again at the first key frame delivered after the gap.
// Key frames carry a wall-clock time between wallFrom and wallTo, all other frames 0.
RecordedSpan checkRecording(const std::string& path,
                            const std::vector<ApiTests::Delivered>& delivered, size_t earliest,
                            size_t settled, uint32_t wallFrom, uint32_t wallTo);

uint32_t wallClockNow();

}  // namespace Brelso::Resilience
