#include "FrameTag.h"

#include <cstring>

namespace Brelso::Bench {

namespace {

constexpr uint8_t kSeiNal = 0x06;
constexpr uint8_t kUserDataUnregistered = 0x05;
constexpr uint8_t kTagUuid[16] = {0x4b, 0x58, 0x42, 0x45, 0x4e, 0x43, 0x48, 0x2d,
                                  0x46, 0x52, 0x41, 0x4d, 0x45, 0x2d, 0x4e, 0x4f};
constexpr size_t kNumberBytes = 4;
constexpr size_t kPayloadSize = sizeof(kTagUuid) + kNumberBytes;
constexpr size_t kTagSize = 3 + kPayloadSize + 1;  // header, type, size, payload, stop bit

}  // namespace

std::vector<uint8_t> makeFrameTag(uint32_t frameNumber) {
    std::vector<uint8_t> tag;
    tag.reserve(kTagSize);
    tag.push_back(kSeiNal);
    tag.push_back(kUserDataUnregistered);
    tag.push_back(static_cast<uint8_t>(kPayloadSize));
    tag.insert(tag.end(), std::begin(kTagUuid), std::end(kTagUuid));
    for (int shift = 21; shift >= 0; shift -= 7) {
        tag.push_back(static_cast<uint8_t>(0x80 | ((frameNumber >> shift) & 0x7f)));
    }
    tag.push_back(0x80);  // rbsp stop bit
    return tag;
}

std::optional<uint32_t> readFrameTag(const uint8_t* nal, size_t size) {
    if (size < kTagSize || (nal[0] & 0x1f) != kSeiNal || nal[1] != kUserDataUnregistered ||
        nal[2] != kPayloadSize || std::memcmp(nal + 3, kTagUuid, sizeof(kTagUuid)) != 0) {
        return std::nullopt;
    }
    uint32_t number = 0;
    for (size_t i = 0; i < kNumberBytes; ++i) {
        number = (number << 7) | (nal[3 + sizeof(kTagUuid) + i] & 0x7f);
    }
    return number;
}

int nalTypeOf(const uint8_t* data, size_t size, const uint8_t** nalStart) {
    size_t header = 0;
    if (size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1) {
        header = 4;
    } else if (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1) {
        header = 3;
    }
    if (header >= size) return -1;
    *nalStart = data + header;
    return data[header] & 0x1f;
}

}  // namespace Brelso::Bench
