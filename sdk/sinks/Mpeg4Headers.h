// Reading MPEG-4 part 2 video frames as far as recording needs: where a frame's VOP starts
// and whether it is intra coded, and the configuration headers (VOS, VO, VOL) in front of
// it or in the session description's "config" parameter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx::sdk {

// True when the frame's first VOP (start code 00 00 01 B6) has vop_coding_type 0 (intra).
bool Mpeg4IsIntraVop(const uint8_t* frame, size_t size);
// Length of the configuration headers the frame starts with: the bytes before its first GOV
// or VOP start code (the whole frame when it has none), when they hold a VOL header (start
// codes 00 00 01 20 to 2F); else 0.
size_t Mpeg4ConfigLength(const uint8_t* frame, size_t size);
// Decodes the hexadecimal "config" text of the session description; false (out cleared)
// when it is empty, has an odd length, or a character that is not a hexadecimal digit.
bool Mpeg4ParseHexConfig(const char* text, std::vector<uint8_t>& out);

}  // namespace kx::sdk
