#include "H264AccessUnit.h"

#include <utility>

#include "InputLimits.h"

namespace kx::play {
namespace {

// NAL units that begin the next access unit when they follow a slice, whatever comes next.
bool alwaysStartsAccessUnit(int type) {
    return type == 9 || (type >= 14 && type <= 18);
}

// NAL units that may stand between the slices of one picture or in front of the next one.
bool mayStandBetweenSlices(int type) {
    return type == 6 || type == 7 || type == 8;
}

}  // namespace

void H264AccessUnit::restart() {
    m_collecting.bytes.clear();
    m_collecting.hasVcl = false;
    m_collecting.key = false;
    m_pending.bytes.clear();
    m_pending.key = false;
    m_lastSliceKnown = false;
}

void H264AccessUnit::append(Buffer& to, const uint8_t* data, size_t size, int64_t ptsUs, bool key) {
    if (to.bytes.empty()) to.ptsUs = ptsUs;
    to.key = to.key || key;
    to.bytes.insert(to.bytes.end(), data, data + size);
}

bool H264AccessUnit::handOut(Unit& out) {
    // The collected unit becomes the ready one, what was held back begins the next; the
    // buffers only change hands, so that no allocation happens in steady state.
    std::swap(m_collecting, m_ready);
    std::swap(m_collecting, m_pending);
    m_pending.bytes.clear();
    m_pending.key = false;
    m_collecting.hasVcl = false;
    m_lastSliceKnown = false;
    out = Unit{m_ready.bytes.data(), m_ready.bytes.size(), m_ready.ptsUs, m_ready.key};
    return true;
}

bool H264AccessUnit::push(const uint8_t* data, size_t size, int64_t ptsUs, bool key, Unit& out) {
    if (m_skipping) {
        // Up to the start of the next access unit, after the slices of the one dropped.
        if (!h264StartsAccessUnit(data, size, true)) return false;
        m_skipping = false;
    }
    const int type = h264FirstNalType(data, size);
    H264SliceStart slice;
    const bool isSlice = h264ReadSliceStart(data, size, slice);
    bool handedOut = false;
    bool holdBack = false;
    if (m_collecting.hasVcl) {
        if (h264IsVcl(data, size)) {
            // A slice whose start cannot be read stays with the picture collected.
            const bool newPicture =
                isSlice &&
                (m_lastSliceKnown ? h264NewPicture(m_lastSlice, slice) : slice.firstMb == 0);
            if (newPicture) {
                handedOut = handOut(out);
            } else {
                append(m_collecting, m_pending.bytes.data(), m_pending.bytes.size(),
                       m_pending.ptsUs, m_pending.key);
                m_pending.bytes.clear();
                m_pending.key = false;
            }
        } else if (alwaysStartsAccessUnit(type)) {
            handedOut = handOut(out);
        } else if (mayStandBetweenSlices(type) || !m_pending.bytes.empty()) {
            holdBack = true;
        }
    }
    const size_t held = m_collecting.bytes.size() + m_pending.bytes.size();
    if (held > kMaxAccessUnitBytes || size > kMaxAccessUnitBytes - held) {
        restart();
        if (m_collecting.bytes.capacity() > kMaxAccessUnitBytes / 4) {
            std::vector<uint8_t>().swap(m_collecting.bytes);  // gives the memory back
        }
        if (m_pending.bytes.capacity() > kMaxAccessUnitBytes / 4) {
            std::vector<uint8_t>().swap(m_pending.bytes);
        }
        ++m_dropped;
        m_skipping = true;
        return handedOut;
    }
    if (holdBack) {
        append(m_pending, data, size, ptsUs, key);
        return handedOut;
    }
    append(m_collecting, data, size, ptsUs, key);
    if (isSlice) {
        m_collecting.hasVcl = true;
        m_lastSlice = slice;
        m_lastSliceKnown = true;
    } else if (h264IsVcl(data, size)) {
        m_collecting.hasVcl = true;
    }
    return handedOut;
}

bool H264AccessUnit::flush(Unit& out) {
    if (m_collecting.bytes.empty() && m_pending.bytes.empty()) return false;
    // Parameter sets at the very end are no use without a slice; they go with the last unit.
    append(m_collecting, m_pending.bytes.data(), m_pending.bytes.size(), m_pending.ptsUs,
           m_pending.key);
    std::swap(m_collecting, m_ready);
    restart();
    out = Unit{m_ready.bytes.data(), m_ready.bytes.size(), m_ready.ptsUs, m_ready.key};
    return true;
}

void H264AccessUnit::clear() {
    restart();
    m_skipping = false;
}

}  // namespace kx::play
