#include "H264AccessUnit.h"

#include <utility>

#include "InputLimits.h"
#include "NalUnit.h"

namespace kx::play {

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
        const bool next = m_hevc ? h265StartsAccessUnit(data, size, true)
                                 : h264StartsAccessUnit(data, size, true);
        if (!next) return false;
        m_skipping = false;
    }
    const bool vcl = m_hevc ? h265IsVcl(data, size) : h264IsVcl(data, size);
    H264SliceStart slice;
    const bool isSlice = !m_hevc && h264ReadSliceStart(data, size, slice);
    bool handedOut = false;
    bool holdBack = false;
    if (m_collecting.hasVcl) {
        if (vcl) {
            if (startsPicture(data, size, isSlice, slice)) {
                handedOut = handOut(out);
            } else {
                append(m_collecting, m_pending.bytes.data(), m_pending.bytes.size(),
                       m_pending.ptsUs, m_pending.key);
                m_pending.bytes.clear();
                m_pending.key = false;
            }
        } else {
            switch (placeAfterSlice(data, size)) {
                case Place::NextUnit:
                    handedOut = handOut(out);
                    break;
                case Place::Undecided:
                    holdBack = true;  // parameter sets and SEI wait for the next slice
                    break;
                case Place::ThisUnit:
                    holdBack = !m_pending.bytes.empty();  // keeps the order of what was held
                    break;
            }
        }
    }
    const size_t held = m_collecting.bytes.size() + m_pending.bytes.size();
    if (held > kMaxAccessUnitBytes || size > kMaxAccessUnitBytes - held) {
        restart();
        if (m_collecting.bytes.capacity() > kMaxAccessUnitBytes / 4) {
            std::vector<uint8_t>().swap(m_collecting.bytes);  // gives the memory back
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
    if (vcl) m_collecting.hasVcl = true;
    if (isSlice) {
        m_lastSlice = slice;
        m_lastSliceKnown = true;
    }
    return handedOut;
}

bool H264AccessUnit::startsPicture(const uint8_t* data, size_t size, bool isSlice,
                                   const H264SliceStart& slice) const {
    // H.265 says so in every slice (first_slice_segment_in_pic_flag); an H.264 slice whose
    // start cannot be read stays with the picture collected.
    if (m_hevc) return h265StartsAccessUnit(data, size, true);
    return isSlice && (m_lastSliceKnown ? h264NewPicture(m_lastSlice, slice) : slice.firstMb == 0);
}

H264AccessUnit::Place H264AccessUnit::placeAfterSlice(const uint8_t* data, size_t size) const {
    if (m_hevc) {
        namespace h265 = kx::frame::h265;
        const int type = kx::frame::h265FirstNalType(data, size);
        // Access unit delimiter and the reserved types 41 to 44 and 48 to 55.
        if (type == h265::kAud || (type >= 41 && type <= 44) || (type >= 48 && type <= 55)) {
            return Place::NextUnit;
        }
        if (h265::isParameterSet(type) || type == h265::kPrefixSei) return Place::Undecided;
        return Place::ThisUnit;  // suffix SEI, filler, end of sequence or bitstream
    }
    const int type = h264FirstNalType(data, size);
    if (type == 9 || (type >= 14 && type <= 18)) return Place::NextUnit;
    if (type == 6 || type == 7 || type == 8) return Place::Undecided;
    return Place::ThisUnit;
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
