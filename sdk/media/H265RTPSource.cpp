#include "H265RTPSource.h"

#include <algorithm>

namespace kx::media {

namespace {
constexpr uint8_t kAp = 48;
constexpr uint8_t kFu = 49;
constexpr size_t kHeader = 2;  // the NAL unit header and the payload header have this size
constexpr size_t kMaxPendingBytes = 16u << 20;

uint8_t typeOf(const uint8_t* header) {
    return (header[0] >> 1) & 0x3F;
}
uint16_t u16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
}  // namespace

H265RTPSource* H265RTPSource::createNew(UsageEnvironment& env, unsigned char payloadFormat,
                                        unsigned clockRate, unsigned maxDonDiff) {
    return new H265RTPSource(env, payloadFormat, clockRate, maxDonDiff);
}

H265RTPSource::H265RTPSource(UsageEnvironment& env, unsigned char payloadFormat, unsigned clockRate,
                             unsigned maxDonDiff)
    : MultiFramedRTPSource(env, payloadFormat, clockRate),
      m_withDon(maxDonDiff > 0),
      m_maxDonDiff(std::min(maxDonDiff, 32767u)) {}

void H265RTPSource::damaged(const char* why) {
    ++m_damaged;
    m_lastDamage = why;
}

void H265RTPSource::dropFragment() {
    m_inFragment = false;
    m_fragment.clear();
    frames().abort();
}

void H265RTPSource::resetDepacketizer() {
    dropFragment();
    m_skipFragments = false;
    // NAL units already whole go on in the order they have; numbering starts over.
    releaseInOrder(true);
    m_haveDon = false;
}

void H265RTPSource::processPayload(const RtpHeader& header, bool lossBefore) {
    const uint8_t* p = header.payload;
    const size_t size = header.payloadSize;
    if (lossBefore && m_inFragment) {
        dropFragment();
        damaged("fragments of a NAL unit were lost");
    }
    if (lossBefore) m_skipFragments = false;  // whatever follows is judged on its own
    if (size < kHeader) {
        damaged("a payload shorter than its header");
        return;
    }
    const uint8_t type = typeOf(p);
    if (type != kFu && m_inFragment) {
        dropFragment();
        damaged("a fragmented NAL unit without its end");
    }
    if (type != kFu) m_skipFragments = false;
    const struct timeval pts = presentationTimeOf(header.timestamp);
    if (type < kAp) {
        // A single NAL unit: its header is the payload header.
        if (!m_withDon) {
            emitFrame(p, size, pts);
            return;
        }
        if (size < kHeader + 2) {
            damaged("a single NAL unit packet without its DONL");
            return;
        }
        deliver(p, p + 4, size - 4, u16(p + 2), pts);
        return;
    }
    if (type == kAp) {
        handleAggregation(p, size, pts);
        return;
    }
    if (type == kFu) {
        handleFragment(p, size, header);
        return;
    }
    // PACI (50) and the unspecified types 51 to 63 carry nothing this receiver uses.
}

void H265RTPSource::handleAggregation(const uint8_t* p, size_t size, struct timeval pts) {
    // Check the whole packet before handing on any of it: a length that runs past the end
    // makes every unit of the packet suspect.
    struct Unit {
        size_t offset;
        size_t size;
        uint16_t don;
    };
    Unit units[64];
    size_t count = 0;
    size_t offset = kHeader;
    uint16_t don = 0;
    while (offset < size) {
        if (m_withDon) {
            if (count == 0) {
                if (size - offset < 2) break;
                don = u16(p + offset);
                offset += 2;
            } else {
                if (size - offset < 1) break;
                don = static_cast<uint16_t>(don + p[offset] + 1);
                offset += 1;
            }
        }
        if (size - offset < 2) {
            damaged("an aggregation packet cut inside a length field");
            return;
        }
        const size_t nalSize = u16(p + offset);
        offset += 2;
        if (nalSize < kHeader || nalSize > size - offset) {
            damaged("an aggregation packet whose NAL unit lengths run past its end");
            return;
        }
        if (count == sizeof units / sizeof units[0]) {
            damaged("an aggregation packet with too many NAL units");
            return;
        }
        units[count++] = Unit{offset, nalSize, don};
        offset += nalSize;
    }
    if (offset != size || count == 0) {
        damaged("an aggregation packet whose NAL unit lengths do not fill it");
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* nal = p + units[i].offset;
        if (m_withDon) {
            deliver(nal, nal + kHeader, units[i].size - kHeader, units[i].don, pts);
        } else {
            emitFrame(nal, units[i].size, pts);
        }
    }
}

void H265RTPSource::handleFragment(const uint8_t* p, size_t size, const RtpHeader& header) {
    if (size < kHeader + 1) {
        damaged("a fragmentation unit shorter than its header");
        return;
    }
    const uint8_t fuHeader = p[2];
    const bool start = (fuHeader & 0x80) != 0;
    const bool end = (fuHeader & 0x40) != 0;
    size_t offset = kHeader + 1;
    if (start) {
        if (m_inFragment) {
            dropFragment();
            damaged("a fragmented NAL unit without its end");
        }
        m_skipFragments = false;
        uint16_t don = 0;
        if (m_withDon) {
            if (size - offset < 2) {
                damaged("a fragmentation unit without its DONL");
                return;
            }
            don = u16(p + offset);
            offset += 2;
        }
        // The NAL unit header: F, layer and temporal id of the payload header, the type of
        // the FU header.
        const uint8_t nalHeader[2] = {
            static_cast<uint8_t>((p[0] & 0x81) | ((fuHeader & 0x3F) << 1)), p[1]};
        if (m_withDon) {
            m_fragment.assign(nalHeader, nalHeader + 2);
            m_fragment.insert(m_fragment.end(), p + offset, p + size);
        } else {
            FrameQueue& q = frames();
            q.begin();
            if (!q.append(nalHeader, 2) || !q.append(p + offset, size - offset)) {
                damaged("a fragmented NAL unit larger than any frame");
                m_skipFragments = true;
                return;
            }
        }
        m_inFragment = true;
        m_fragmentTimestamp = header.timestamp;
        m_fragmentDon = don;
    } else {
        if (!m_inFragment) {
            // The start was lost (or never sent): skip to the next NAL unit, counted once.
            if (!m_skipFragments) damaged("a fragmentation unit without its start");
            m_skipFragments = !end;
            return;
        }
        if (header.timestamp != m_fragmentTimestamp) {
            dropFragment();
            damaged("fragments of one NAL unit with different timestamps");
            m_skipFragments = !end;
            return;
        }
        if (m_withDon) {
            if (m_fragment.size() + (size - offset) > FrameQueue::kMaxFrameSize) {
                dropFragment();
                damaged("a fragmented NAL unit larger than any frame");
                m_skipFragments = !end;
                return;
            }
            m_fragment.insert(m_fragment.end(), p + offset, p + size);
        } else if (!frames().append(p + offset, size - offset)) {
            m_inFragment = false;
            damaged("a fragmented NAL unit larger than any frame");
            m_skipFragments = !end;
            return;
        }
    }
    if (!end) return;
    m_inFragment = false;
    const struct timeval pts = presentationTimeOf(header.timestamp);
    if (m_withDon) {
        deliver(m_fragment.data(), m_fragment.data() + kHeader, m_fragment.size() - kHeader,
                m_fragmentDon, pts);
        m_fragment.clear();
    } else {
        frames().commit(pts);
    }
}

void H265RTPSource::deliver(const uint8_t* header, const uint8_t* body, size_t bodySize,
                            uint16_t don, struct timeval pts) {
    // The decoding order number, unwrapped against the previous NAL unit received.
    int64_t absDon = don;
    if (m_haveDon)
        absDon = m_lastAbsDon + static_cast<int16_t>(static_cast<uint16_t>(don - m_lastDon));
    if (!m_haveDon || absDon > m_maxAbsDon) m_maxAbsDon = absDon;
    m_haveDon = true;
    m_lastDon = don;
    m_lastAbsDon = absDon;

    Pending item;
    item.absDon = absDon;
    item.pts = pts;
    item.nal.reserve(kHeader + bodySize);
    item.nal.assign(header, header + kHeader);
    item.nal.insert(item.nal.end(), body, body + bodySize);
    auto at = std::upper_bound(m_pending.begin(), m_pending.end(), absDon,
                               [](int64_t d, const Pending& e) { return d < e.absDon; });
    m_pending.insert(at, std::move(item));
    releaseInOrder(false);
}

void H265RTPSource::releaseInOrder(bool all) {
    // A NAL unit still to come is at most sprop-max-don-diff before the highest number seen,
    // so everything below that can go. Past the bounds the oldest goes regardless.
    size_t bytes = 0;
    for (const Pending& e : m_pending) bytes += e.nal.size();
    size_t n = 0;
    while (n < m_pending.size()) {
        const Pending& e = m_pending[n];
        const bool settled = e.absDon < m_maxAbsDon - static_cast<int64_t>(m_maxDonDiff);
        const bool over = m_pending.size() - n > kMaxPendingNalUnits || bytes > kMaxPendingBytes;
        if (!all && !settled && !over) break;
        emitFrame(e.nal.data(), e.nal.size(), e.pts);
        bytes -= e.nal.size();
        ++n;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace kx::media
