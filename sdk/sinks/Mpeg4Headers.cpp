#include "Mpeg4Headers.h"

#include <cstring>

namespace kx::sdk {

namespace {

constexpr uint8_t kVop = 0xB6;
constexpr uint8_t kGov = 0xB3;

// Offset of the next start code prefix 00 00 01 at or after `from` that has a code byte
// behind it, or size.
size_t NextStartCode(const uint8_t* b, size_t size, size_t from) {
    for (size_t i = from; i + 3 < size; ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) return i;
    }
    return size;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool Mpeg4IsIntraVop(const uint8_t* frame, size_t size) {
    if (frame == nullptr) return false;
    for (size_t i = NextStartCode(frame, size, 0); i < size;
         i = NextStartCode(frame, size, i + 3)) {
        if (frame[i + 3] != kVop) continue;
        return i + 4 < size && (frame[i + 4] >> 6) == 0;
    }
    return false;
}

size_t Mpeg4ConfigLength(const uint8_t* frame, size_t size) {
    if (frame == nullptr) return 0;
    bool vol = false;
    for (size_t i = NextStartCode(frame, size, 0); i < size;
         i = NextStartCode(frame, size, i + 3)) {
        const uint8_t code = frame[i + 3];
        if (code == kVop || code == kGov) return vol ? i : 0;
        if (code >= 0x20 && code <= 0x2F) vol = true;
    }
    return vol ? size : 0;  // headers alone, without a picture
}

bool Mpeg4ParseHexConfig(const char* text, std::vector<uint8_t>& out) {
    out.clear();
    const size_t n = text == nullptr ? 0 : std::strlen(text);
    if (n == 0 || n % 2 != 0) return false;
    try {
        out.reserve(n / 2);
        for (size_t i = 0; i < n; i += 2) {
            const int hi = HexDigit(text[i]);
            const int lo = HexDigit(text[i + 1]);
            if (hi < 0 || lo < 0) {
                out.clear();
                return false;
            }
            out.push_back(static_cast<uint8_t>(hi << 4 | lo));
        }
    } catch (...) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace kx::sdk
