// AccessUnits: an H.264 or H.265 Annex B file read into access units, split at the access
// unit delimiters the encoder wrote (x264 and x265 "aud=1").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Brelso::Bench {

struct AccessUnit {
    std::vector<uint8_t> bytes;  // Annex B, starting with the delimiter's start code
    bool key = false;            // holds an IDR slice (H.265: an IRAP slice)
};

// Empty when the file cannot be read or holds no delimiter.
std::vector<AccessUnit> readAccessUnits(const std::string& path, bool hevc = false);

}  // namespace Brelso::Bench
