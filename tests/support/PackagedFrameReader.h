// Reading packaged frames back, field by field, at the offsets of KXPackagedFrame.h: the inner
// part a data callback receives, and whole packaged frames as a recording file holds them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Brelso::Testing {

struct InnerFrame {
    uint32_t ptsSeconds = 0;
    uint32_t ptsMicroseconds = 0;
    uint16_t dataType = 0;
    uint16_t frameType = 0;
    bool audio = false;
    uint32_t channels = 0;         // audio only
    uint32_t sampleRate = 0;       // audio only
    std::vector<uint8_t> payload;  // video: from offset 35 (start code included); audio: from 43
};

// Parses an inner part of `size` bytes (the callback's dwBufSize). Audio is recognised by its
// data type (AAC, PCMU, PCMA, G7221). False with *error set when the part is too short.
bool parseInnerFrame(const uint8_t* inner, size_t size, InnerFrame& frame, std::string* error);

struct PackagedFrame {
    uint32_t wallClockSeconds = 0;  // offset 11
    uint32_t reserved = 0;          // offset 15
    uint32_t length = 0;            // L, offset 19
    InnerFrame inner;
};

// Splits a byte sequence of whole packaged frames (a recording file). False with *error set
// at the first malformed frame (bad marker, length beyond the data); frames read before it
// stay in *frames.
bool parsePackagedFrames(const std::vector<uint8_t>& data, std::vector<PackagedFrame>& frames,
                         std::string* error);

uint32_t readLe32(const uint8_t* p);
uint16_t readLe16(const uint8_t* p);

}  // namespace Brelso::Testing
