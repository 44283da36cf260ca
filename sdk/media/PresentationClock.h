// PresentationClock: turns RTP timestamps into wall-clock presentation times. The first
// packet is anchored to the local clock; every later time follows from the timestamp
// difference to the previous one (so 32-bit wrap-around is harmless); an RTCP sender report
// re-anchors the clock to the sender's NTP time.
#pragma once

#include <sys/time.h>

#include <cstdint>

namespace kx::media {

class PresentationClock {
public:
    void setRate(unsigned hz) { m_rate = hz == 0 ? 90000 : hz; }
    unsigned rate() const { return m_rate; }

    struct timeval toWallClock(uint32_t rtpTimestamp);
    // An RTCP sender report: NTP time (seconds since 1900 and fraction) for an RTP timestamp.
    void onSenderReport(uint32_t ntpSeconds, uint32_t ntpFraction, uint32_t rtpTimestamp);
    bool synchronizedByRtcp() const { return m_synced; }
    void reset() {
        m_anchored = false;
        m_synced = false;
    }

private:
    unsigned m_rate = 90000;
    bool m_anchored = false;
    bool m_synced = false;
    uint32_t m_anchorRtp = 0;
    int64_t m_anchorUs = 0;  // wall clock in microseconds since 1970
};

}  // namespace kx::media
