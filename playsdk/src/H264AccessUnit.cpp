#include "H264AccessUnit.h"

#include <utility>

#include "BitstreamInfo.h"

namespace kx::play {

bool H264AccessUnit::push(const uint8_t* data, size_t size, int64_t ptsUs, bool key, Unit& out) {
    bool handedOut = false;
    const bool starts = m_hevc ? h265StartsAccessUnit(data, size, m_collecting.hasVcl)
                               : h264StartsAccessUnit(data, size, m_collecting.hasVcl);
    if (!m_collecting.bytes.empty() && starts) {
        std::swap(m_collecting, m_ready);
        m_collecting.bytes.clear();  // keeps its capacity: no allocation in steady state
        m_collecting.hasVcl = false;
        m_collecting.key = false;
        out = Unit{m_ready.bytes.data(), m_ready.bytes.size(), m_ready.ptsUs, m_ready.key};
        handedOut = true;
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
    m_collecting.bytes.clear();
    m_collecting.hasVcl = false;
    m_collecting.key = false;
}

}  // namespace kx::play
