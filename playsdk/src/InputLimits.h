// How much compressed input the library takes at once. Anything larger is damage (or an
// attack): it is skipped and play goes on.
#pragma once

#include <cstddef>

namespace kx::play {

// One packaged frame: a frame's inner part in a ".qf" file, one KX_PLAY_InputData delivery.
// The stream library never packages more than 4 MiB of a frame.
constexpr size_t kMaxFrameBytes = 8u << 20;
// One H.264 access unit collected from the NAL units of a ".qf" file: generous for a key
// picture of an 8K stream in many slices.
constexpr size_t kMaxAccessUnitBytes = 32u << 20;

}  // namespace kx::play
