// StreamStartConfig: what a decoder needs before a stream's first key frame (H.264 SPS and
// PPS, MPEG-4 VOS/VOL headers), kept per stream by its sink as the latest seen, from the
// session description or from the stream itself. A recording that starts at a key frame of
// the stream writes these units first, in slot order, so that the file decodes from its
// first frame. Session thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx::sdk {

class StreamStartConfig {
public:
    // Enough slots for the longest set of units a codec needs (VPS, SPS, PPS).
    static constexpr size_t kSlots = 3;
    // A unit longer than this is not a configuration: it is ignored.
    static constexpr size_t kMaxUnitBytes = 64 * 1024;

    struct Unit {
        uint16_t dataType = 0;
        uint16_t frameType = 0;
        std::vector<uint8_t> bytes;  // without a start code in front
    };

    // Replaces the unit of a slot. False (and nothing changes) for a slot out of range, an
    // empty unit, one longer than kMaxUnitBytes, or when no memory is left.
    bool Set(size_t slot, uint16_t dataType, uint16_t frameType, const uint8_t* bytes,
             size_t size) noexcept;
    // Calls fn(unit) for each slot that holds a unit, in slot order.
    template <class Fn>
    void ForEach(Fn&& fn) const {
        for (const Unit& unit : m_units) {
            if (!unit.bytes.empty()) fn(unit);
        }
    }
    bool Empty() const;

private:
    std::array<Unit, kSlots> m_units;
};

}  // namespace kx::sdk
