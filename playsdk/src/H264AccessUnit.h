// Collects the NAL units of a ".qf" file or a live stream (one per packaged frame) into whole
// access units, so that a decoder gets one picture per packet. H.264 by default; H.265 after
// setHevc(true) (its decoder takes nothing less than a whole picture). An access unit that
// would grow past kMaxAccessUnitBytes is damage: what was collected is dropped, and so is what
// follows up to the start of the next access unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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
    void restart();

    Buffer m_collecting;
    Buffer m_ready;
    bool m_hevc = false;
    bool m_skipping = false;  // inside an access unit that grew too long
    uint64_t m_dropped = 0;
};

}  // namespace kx::play
