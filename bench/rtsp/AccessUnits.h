// AccessUnits: an H.264 Annex B file read into access units, split at the access unit
// delimiters the encoder wrote (x264 "aud=1").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Brelso::Bench {

struct AccessUnit {
    std::vector<uint8_t> bytes;  // Annex B, starting with the delimiter's start code
    bool key = false;            // holds an IDR slice
};

// Empty when the file cannot be read or holds no delimiter.
std::vector<AccessUnit> readAccessUnits(const std::string& path);

}  // namespace Brelso::Bench
