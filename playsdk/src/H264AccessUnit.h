// Collects the NAL units of a ".qf" file or a live stream (one per packaged frame) into whole
// access units, so that a decoder gets one picture per packet. H.264 by default; H.265 after
// setHevc(true) (its decoder takes nothing less than a whole picture). An access unit that
// would grow past kMaxAccessUnitBytes is damage: what was collected is dropped, and so is what
// follows up to the start of the next access unit.
//
// Parameter sets and SEI after a slice are held back until the next slice shows whether it
// begins another picture: cameras repeat their parameter sets in front of every slice of a
// key picture, and those must not cut the picture in two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "BitstreamInfo.h"

namespace kx::play {

class H264AccessUnit {
public:
    struct Unit {
        const uint8_t* data = nullptr;
        size_t size = 0;
        int64_t ptsUs = 0;
        bool key = false;
    };

    // Adds one Annex B chunk. When it begins a new access unit while one is collected, the
    // collected one is handed out in `out` (valid until the next call) and true returned.
    bool push(const uint8_t* data, size_t size, int64_t ptsUs, bool key, Unit& out);
    // Hands out what is collected (at the end of the input); false when nothing is.
    bool flush(Unit& out);
    void clear();
    void setHevc(bool hevc) { m_hevc = hevc; }
    bool hevc() const { return m_hevc; }
    // Access units dropped for growing past the bound.
    uint64_t dropped() const { return m_dropped; }

private:
    struct Buffer {
        std::vector<uint8_t> bytes;
        int64_t ptsUs = 0;
        bool key = false;
        bool hasVcl = false;
    };
    // Where a NAL unit that is no slice belongs when it follows a slice: it begins the next
    // access unit, belongs to the one collected, or waits for the next slice to tell.
    enum class Place { NextUnit, ThisUnit, Undecided };
    Place placeAfterSlice(const uint8_t* data, size_t size) const;
    bool startsPicture(const uint8_t* data, size_t size, bool isSlice,
                       const H264SliceStart& slice) const;
    void restart();
    static void append(Buffer& to, const uint8_t* data, size_t size, int64_t ptsUs, bool key);
    bool handOut(Unit& out);

    Buffer m_collecting;
    Buffer m_pending;  // parameter sets or SEI after a slice of m_collecting
    Buffer m_ready;
    H264SliceStart m_lastSlice;
    bool m_lastSliceKnown = false;
    bool m_hevc = false;
    bool m_skipping = false;  // inside an access unit that grew too long
    uint64_t m_dropped = 0;
};

}  // namespace kx::play
