// FrameTag: the frame number the benchmark server writes into every access unit, as an H.264
// SEI message (user data unregistered) placed right after the access unit delimiter. A client
// reads it back from the delivered NAL units and so counts exactly which frames it missed.
//
// The message holds no 00 00 byte pair (every number byte has its top bit set), so it needs
// no emulation prevention and reads back byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace Brelso::Bench {

// The SEI NAL unit (header byte included, no start code) carrying frameNumber (28 bits).
std::vector<uint8_t> makeFrameTag(uint32_t frameNumber);

// The frame number when nal (header byte first, no start code) is such a tag.
std::optional<uint32_t> readFrameTag(const uint8_t* nal, size_t size);

// NAL type of a NAL unit that may begin with a 3- or 4-byte start code; -1 when empty.
int nalTypeOf(const uint8_t* data, size_t size, const uint8_t** nalStart);

}  // namespace Brelso::Bench
