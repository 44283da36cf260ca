#include "RtpReceptionStats.h"

#include <algorithm>
#include <cmath>

namespace kx::media {

void RtpReceptionStats::onPacket(uint32_t ssrc, uint16_t seq, uint32_t rtpTimestamp,
                                 int64_t arrivalUs, unsigned clockRate) {
    if (!m_haveSender || ssrc != m_ssrc) {
        *this = RtpReceptionStats();
        m_haveSender = true;
        m_ssrc = ssrc;
        m_maxSeq = seq;
        m_baseSeq = seq;
    }
    ++m_received;
    const uint16_t delta = static_cast<uint16_t>(seq - m_maxSeq);
    if (delta < 0x8000) {
        if (seq < m_maxSeq) m_cycles += 0x10000;
        m_maxSeq = seq;
    }
    if (clockRate != 0) {
        const int64_t arrivalUnits = arrivalUs * int64_t(clockRate) / 1000000;
        const int64_t transit = arrivalUnits - int64_t(rtpTimestamp);
        if (m_haveTransit) {
            int64_t d = transit - m_lastTransit;
            if (d < 0) d = -d;
            if (d < (int64_t(1) << 31)) m_jitter += (double(d) - m_jitter) / 16.0;
        }
        m_haveTransit = true;
        m_lastTransit = transit;
    }
}

void RtpReceptionStats::onSenderReport(uint32_t ntpSeconds, uint32_t ntpFraction,
                                       int64_t arrivalUs) {
    m_lastSr = (ntpSeconds << 16) | (ntpFraction >> 16);
    m_lastSrArrival = arrivalUs;
}

RtpReceptionStats::Block RtpReceptionStats::makeReportBlock(int64_t nowUs) {
    Block b{};
    b.ssrc = m_ssrc;
    const uint64_t extMax = uint64_t(m_cycles) + m_maxSeq;
    b.extendedHighestSeq = static_cast<uint32_t>(extMax);
    const uint64_t expected = extMax - m_baseSeq + 1;
    const int64_t lost = int64_t(expected) - int64_t(m_received);
    b.cumulativeLost = static_cast<int32_t>(std::clamp<int64_t>(lost, -0x800000, 0x7FFFFF));
    const int64_t expectedInterval = int64_t(expected - m_expectedPrior);
    const int64_t receivedInterval = int64_t(m_received - m_receivedPrior);
    m_expectedPrior = expected;
    m_receivedPrior = m_received;
    const int64_t lostInterval = expectedInterval - receivedInterval;
    if (expectedInterval > 0 && lostInterval > 0) {
        b.fractionLost =
            static_cast<uint8_t>(std::min<int64_t>(255, (lostInterval << 8) / expectedInterval));
    }
    b.jitter = static_cast<uint32_t>(m_jitter);
    if (m_lastSrArrival >= 0) {
        b.lastSr = m_lastSr;
        b.delaySinceLastSr = static_cast<uint32_t>((nowUs - m_lastSrArrival) * 65536 / 1000000);
    }
    return b;
}

}  // namespace kx::media
