// Presentation times from RTP timestamps (wrap-around, sender reports) and the numbers a
// receiver report carries.
#include <gtest/gtest.h>

#include "PresentationClock.h"
#include "RtpReceptionStats.h"

using namespace kx::media;

namespace {

int64_t micros(const timeval& tv) {
    return int64_t(tv.tv_sec) * 1000000 + tv.tv_usec;
}

TEST(PresentationClockTest, FollowsTimestampsAcrossTheWrap) {
    PresentationClock clock;
    clock.setRate(90000);
    uint32_t ts = 0xFFFF0000u;
    const int64_t first = micros(clock.toWallClock(ts));
    for (int i = 1; i <= 100; ++i) {
        ts += 3600;  // 40 ms per step, crossing 2^32 on the way
        EXPECT_EQ(micros(clock.toWallClock(ts)) - first, int64_t(i) * 40000) << i;
    }
}

TEST(PresentationClockTest, TimestampsGoingBackGiveEarlierTimes) {
    PresentationClock clock;
    clock.setRate(90000);
    const int64_t a = micros(clock.toWallClock(900000));
    const int64_t b = micros(clock.toWallClock(900000 - 9000));  // a B-frame 100 ms earlier
    EXPECT_EQ(a - b, 100000);
}

TEST(PresentationClockTest, SenderReportAnchorsToTheSendersClock) {
    PresentationClock clock;
    clock.setRate(8000);
    clock.toWallClock(1234);
    EXPECT_FALSE(clock.synchronizedByRtcp());
    // 2020-01-01 00:00:00.5 UTC in NTP form for timestamp 50000.
    const uint32_t ntpSeconds = static_cast<uint32_t>(1577836800LL + 2208988800LL);
    clock.onSenderReport(ntpSeconds, 0x80000000u, 50000);
    EXPECT_TRUE(clock.synchronizedByRtcp());
    const timeval tv = clock.toWallClock(50000 + 8000 * 2);  // two seconds later
    EXPECT_EQ(tv.tv_sec, 1577836802);
    EXPECT_EQ(tv.tv_usec, 500000);
}

TEST(RtpReceptionStatsTest, CountsLossAndTheHighestSequence) {
    RtpReceptionStats stats;
    EXPECT_FALSE(stats.haveSender());
    // 65530 .. 65535, 0 .. 9 with 3 and 4 missing: 16 expected, 14 received.
    for (int s = 65530; s < 65536 + 10; ++s) {
        const int seq = s & 0xFFFF;
        if (seq == 3 || seq == 4) continue;
        stats.onPacket(0x1234, static_cast<uint16_t>(seq), static_cast<uint32_t>(s * 160),
                       s * 20000LL, 8000);
    }
    ASSERT_TRUE(stats.haveSender());
    EXPECT_EQ(stats.senderSsrc(), 0x1234u);
    RtpReceptionStats::Block b = stats.makeReportBlock(0);
    EXPECT_EQ(b.ssrc, 0x1234u);
    EXPECT_EQ(b.extendedHighestSeq, 0x10000u + 9);
    EXPECT_EQ(b.cumulativeLost, 2);
    EXPECT_EQ(b.fractionLost, (2 << 8) / 16);
    EXPECT_EQ(b.jitter, 0u);  // packets arrived exactly on their timestamps
    EXPECT_EQ(b.lastSr, 0u);
    // A later interval without loss reports no fraction lost.
    for (int seq = 10; seq < 20; ++seq)
        stats.onPacket(0x1234, static_cast<uint16_t>(seq), 0, 0, 8000);
    b = stats.makeReportBlock(0);
    EXPECT_EQ(b.fractionLost, 0);
    EXPECT_EQ(b.cumulativeLost, 2);
}

TEST(RtpReceptionStatsTest, SenderReportGivesLsrAndDlsr) {
    RtpReceptionStats stats;
    stats.onPacket(7, 1, 0, 0, 90000);
    stats.onSenderReport(0x11223344u, 0x55667788u, 1000000);
    const RtpReceptionStats::Block b = stats.makeReportBlock(1500000);
    EXPECT_EQ(b.lastSr, 0x33445566u);
    EXPECT_EQ(b.delaySinceLastSr, 32768u);  // half a second in 1/65536 s
}

TEST(RtpReceptionStatsTest, NewSenderStartsOver) {
    RtpReceptionStats stats;
    for (int s = 0; s < 5; ++s) stats.onPacket(1, static_cast<uint16_t>(s), 0, 0, 90000);
    stats.onPacket(2, 100, 0, 0, 90000);
    EXPECT_EQ(stats.senderSsrc(), 2u);
    EXPECT_EQ(stats.packetsReceived(), 1u);
}

}  // namespace
