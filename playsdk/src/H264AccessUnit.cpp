#include "H264AccessUnit.h"

#include <utility>

#include "BitstreamInfo.h"
#include "InputLimits.h"

namespace kx::play {

void H264AccessUnit::restart() {
    m_collecting.bytes.clear();
    m_collecting.hasVcl = false;
    m_collecting.key = false;
}

bool H264AccessUnit::push(const uint8_t* data, size_t size, int64_t ptsUs, bool key, Unit& out) {
    if (m_skipping) {
        // Up to the start of the next access unit, after the slices of the one dropped.
        const bool next = m_hevc ? h265StartsAccessUnit(data, size, true)
                                 : h264StartsAccessUnit(data, size, true);
        if (!next) return false;
        m_skipping = false;
    }
    bool handedOut = false;
    const bool starts = m_hevc ? h265StartsAccessUnit(data, size, m_collecting.hasVcl)
                               : h264StartsAccessUnit(data, size, m_collecting.hasVcl);
    if (!m_collecting.bytes.empty() && starts) {
        std::swap(m_collecting, m_ready);
        restart();  // keeps its capacity: no allocation in steady state
        out = Unit{m_ready.bytes.data(), m_ready.bytes.size(), m_ready.ptsUs, m_ready.key};
        handedOut = true;
    }
    if (size > kMaxAccessUnitBytes - m_collecting.bytes.size()) {
        restart();
        if (m_collecting.bytes.capacity() > kMaxAccessUnitBytes / 4) {
            std::vector<uint8_t>().swap(m_collecting.bytes);  // gives the memory back
        }
        ++m_dropped;
        m_skipping = true;
        return handedOut;
    }
    if (m_collecting.bytes.empty()) m_collecting.ptsUs = ptsUs;
    m_collecting.key = m_collecting.key || key;
    m_collecting.hasVcl =
        m_collecting.hasVcl || (m_hevc ? h265IsVcl(data, size) : h264IsVcl(data, size));
    m_collecting.bytes.insert(m_collecting.bytes.end(), data, data + size);
    return handedOut;
}

bool H264AccessUnit::flush(Unit& out) {
    if (m_collecting.bytes.empty()) return false;
    std::swap(m_collecting, m_ready);
    m_collecting.bytes.clear();
    m_collecting.hasVcl = false;
    m_collecting.key = false;
    out = Unit{m_ready.bytes.data(), m_ready.bytes.size(), m_ready.ptsUs, m_ready.key};
    return true;
}

void H264AccessUnit::clear() {
    restart();
    m_skipping = false;
}

}  // namespace kx::play
