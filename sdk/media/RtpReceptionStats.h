// RtpReceptionStats: what a receiver report says about one sender (RFC 3550 appendix A).
#pragma once

#include <cstdint>

namespace kx::media {

class RtpReceptionStats {
public:
    // One RTP packet as it arrived (before reordering). arrivalUs: monotonic microseconds.
    void onPacket(uint32_t ssrc, uint16_t seq, uint32_t rtpTimestamp, int64_t arrivalUs,
                  unsigned clockRate);
    // A sender report from this sender: remembered for LSR/DLSR.
    void onSenderReport(uint32_t ntpSeconds, uint32_t ntpFraction, int64_t arrivalUs);

    bool haveSender() const { return m_haveSender; }
    uint32_t senderSsrc() const { return m_ssrc; }

    struct Block {
        uint32_t ssrc;
        uint8_t fractionLost;
        int32_t cumulativeLost;  // 24 bits on the wire
        uint32_t extendedHighestSeq;
        uint32_t jitter;
        uint32_t lastSr;
        uint32_t delaySinceLastSr;  // units of 1/65536 s
    };
    // Fills the report block and starts a new reporting interval.
    Block makeReportBlock(int64_t nowUs);

    uint64_t packetsReceived() const { return m_received; }

private:
    bool m_haveSender = false;
    uint32_t m_ssrc = 0;
    uint16_t m_maxSeq = 0;
    uint32_t m_cycles = 0;
    uint32_t m_baseSeq = 0;
    uint64_t m_received = 0;
    uint64_t m_expectedPrior = 0;
    uint64_t m_receivedPrior = 0;
    double m_jitter = 0;
    bool m_haveTransit = false;
    int64_t m_lastTransit = 0;
    uint32_t m_lastSr = 0;
    int64_t m_lastSrArrival = -1;
};

}  // namespace kx::media
