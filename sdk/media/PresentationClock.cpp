#include "PresentationClock.h"

namespace kx::media {

namespace {
constexpr int64_t kNtpToUnixSeconds = 2208988800LL;

int64_t nowMicroseconds() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return int64_t(tv.tv_sec) * 1000000 + tv.tv_usec;
}
}  // namespace

struct timeval PresentationClock::toWallClock(uint32_t rtpTimestamp) {
    if (!m_anchored) {
        m_anchored = true;
        m_anchorRtp = rtpTimestamp;
        m_anchorUs = nowMicroseconds();
    } else {
        const int32_t delta = static_cast<int32_t>(rtpTimestamp - m_anchorRtp);
        m_anchorUs += int64_t(delta) * 1000000 / int64_t(m_rate);
        m_anchorRtp = rtpTimestamp;
    }
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(m_anchorUs / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(m_anchorUs % 1000000);
    if (tv.tv_usec < 0) {
        tv.tv_usec += 1000000;
        tv.tv_sec -= 1;
    }
    return tv;
}

void PresentationClock::onSenderReport(uint32_t ntpSeconds, uint32_t ntpFraction,
                                       uint32_t rtpTimestamp) {
    if (ntpSeconds == 0 && ntpFraction == 0) return;  // a sender without a clock
    const int64_t unixSeconds = int64_t(ntpSeconds) - kNtpToUnixSeconds;
    const int64_t micros = (int64_t(ntpFraction) * 1000000) >> 32;
    m_anchorUs = unixSeconds * 1000000 + micros;
    m_anchorRtp = rtpTimestamp;
    m_anchored = true;
    m_synced = true;
}

}  // namespace kx::media
