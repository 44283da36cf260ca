#include "MPEG4GenericRTPSource.h"

#include <array>

namespace kx::media {

namespace {

class BitReader {
public:
    BitReader(const uint8_t* data, size_t sizeBits) : m_data(data), m_size(sizeBits) {}
    // False when fewer than n bits are left (n <= 32).
    bool read(unsigned n, uint32_t& value) {
        if (n > 32 || n > m_size - m_pos) return false;
        value = 0;
        for (unsigned i = 0; i < n; ++i, ++m_pos) {
            value = (value << 1) | ((m_data[m_pos >> 3] >> (7 - (m_pos & 7))) & 1u);
        }
        return true;
    }
    bool skip(size_t n) {
        if (n > m_size - m_pos) return false;
        m_pos += n;
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

constexpr size_t kMaxAusPerPacket = 256;

}  // namespace

MPEG4GenericRTPSource* MPEG4GenericRTPSource::createNew(UsageEnvironment& env,
                                                        unsigned char payloadFormat,
                                                        unsigned clockRate,
                                                        const AuHeaderLayout& layout) {
    return new MPEG4GenericRTPSource(env, payloadFormat, clockRate, layout);
}

void MPEG4GenericRTPSource::resetDepacketizer() {
    m_inFragment = false;
    frames().abort();
}

void MPEG4GenericRTPSource::processPayload(const RtpHeader& header, bool lossBefore) {
    const uint8_t* p = header.payload;
    const size_t size = header.payloadSize;
    if (lossBefore && m_inFragment) resetDepacketizer();
    if (m_inFragment && header.timestamp != m_fragmentTimestamp) resetDepacketizer();

    const AuHeaderLayout& L = m_layout;
    std::array<uint32_t, kMaxAusPerPacket> auSizes;
    size_t auCount = 0;
    size_t offset = 0;
    const bool haveHeaders = L.sizeLength > 0 || L.indexLength > 0 || L.indexDeltaLength > 0 ||
                             L.ctsDeltaLength > 0 || L.dtsDeltaLength > 0 ||
                             L.randomAccessIndication || L.streamStateIndication > 0;
    if (haveHeaders) {
        if (size < 2) return;
        const size_t headersBits = (size_t(p[0]) << 8) | p[1];
        const size_t headersBytes = (headersBits + 7) / 8;
        if (headersBytes > size - 2) return;
        BitReader bits(p + 2, headersBits);
        size_t used = 0;
        while (used < headersBits) {
            if (auCount == kMaxAusPerPacket) return;
            uint32_t auSize = L.constantSize;
            uint32_t v = 0;
            if (L.sizeLength > 0 && !bits.read(L.sizeLength, auSize)) return;
            const unsigned idx = auCount == 0 ? L.indexLength : L.indexDeltaLength;
            if (!bits.read(idx, v)) return;
            size_t n = L.sizeLength + idx;
            if (L.ctsDeltaLength > 0) {
                if (!bits.read(1, v)) return;
                ++n;
                if (v != 0) {
                    if (!bits.skip(L.ctsDeltaLength)) return;
                    n += L.ctsDeltaLength;
                }
            }
            if (L.dtsDeltaLength > 0) {
                if (!bits.read(1, v)) return;
                ++n;
                if (v != 0) {
                    if (!bits.skip(L.dtsDeltaLength)) return;
                    n += L.dtsDeltaLength;
                }
            }
            if (L.randomAccessIndication) {
                if (!bits.skip(1)) return;
                ++n;
            }
            if (L.streamStateIndication > 0) {
                if (!bits.skip(L.streamStateIndication)) return;
                n += L.streamStateIndication;
            }
            if (n == 0) return;
            used += n;
            auSizes[auCount++] = auSize;
        }
        offset = 2 + headersBytes;
    } else {
        auSizes[auCount++] = L.constantSize;  // 0: the whole rest is one AU
    }
    if (L.auxiliaryDataSizeLength > 0) {
        BitReader aux(p + offset, (size - offset) * 8);
        uint32_t auxBits = 0;
        if (!aux.read(L.auxiliaryDataSizeLength, auxBits)) return;
        const size_t auxBytes = (L.auxiliaryDataSizeLength + size_t(auxBits) + 7) / 8;
        if (auxBytes > size - offset) return;
        offset += auxBytes;
    }

    FrameQueue& q = frames();
    const size_t remaining = size - offset;
    const uint8_t* data = p + offset;

    if (m_inFragment) {
        // A continuation: one AU header naming the whole AU, then the next piece.
        if (!q.append(data, remaining)) {
            m_inFragment = false;
            return;
        }
        if (q.openSize() >= m_fragmentTotal || header.marker) {
            m_inFragment = false;
            if (q.openSize() == m_fragmentTotal) {
                q.commit(presentationTimeOf(m_fragmentTimestamp));
            } else {
                q.abort();
            }
        }
        return;
    }
    if (auCount == 1 && auSizes[0] > remaining) {
        // The first piece of a fragmented AU.
        if (lossBefore && header.marker) return;  // a lone last piece
        q.begin();
        if (!q.append(data, remaining)) return;
        m_inFragment = true;
        m_fragmentTimestamp = header.timestamp;
        m_fragmentTotal = auSizes[0];
        if (header.marker) resetDepacketizer();  // last piece but incomplete
        return;
    }

    const unsigned duration = L.constantDuration != 0 ? L.constantDuration : 1024;
    size_t pos = 0;
    for (size_t i = 0; i < auCount; ++i) {
        size_t auSize = auSizes[i];
        if (auSize == 0) auSize = remaining - pos;  // no size given: the rest
        if (auSize > remaining - pos) return;       // malformed: the rest is dropped
        const uint32_t ts = header.timestamp + static_cast<uint32_t>(i * duration);
        if (auSize > 0) emitFrame(data + pos, auSize, presentationTimeOf(ts));
        pos += auSize;
    }
}

}  // namespace kx::media
