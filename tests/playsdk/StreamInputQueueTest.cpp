// The live queue: bounded, no growth of latency, drops to the newest key frame.
#include <gtest/gtest.h>

#include <vector>

#include "StreamInputQueue.h"

namespace {

using kx::play::StreamInputQueue;

StreamInputQueue::Meta video(int64_t ptsUs, bool key) {
    return {ptsUs, true, key};
}

std::vector<uint8_t> bytes(size_t n, uint8_t v) {
    return std::vector<uint8_t>(n, v);
}

TEST(StreamInputQueue, KeepsOrderAndContent) {
    StreamInputQueue q;
    const auto a = bytes(100, 1), b = bytes(200, 2), c = bytes(300, 3);
    EXPECT_TRUE(q.push(a.data(), a.size(), video(0, true)));
    EXPECT_TRUE(q.push(b.data(), b.size(), video(40000, false)));
    EXPECT_TRUE(q.push(c.data(), c.size(), {40000, false, false}));
    std::vector<uint8_t> out;
    StreamInputQueue::Meta m;
    ASSERT_TRUE(q.pop(out, m));
    EXPECT_EQ(out, a);
    EXPECT_TRUE(m.key);
    ASSERT_TRUE(q.pop(out, m));
    EXPECT_EQ(out, b);
    ASSERT_TRUE(q.pop(out, m));
    EXPECT_EQ(out, c);
    EXPECT_FALSE(m.video);
    EXPECT_FALSE(q.pop(out, m));
}

TEST(StreamInputQueue, VideoWaitsForAKeyFrameAtFirst) {
    StreamInputQueue q;
    const auto a = bytes(10, 1);
    EXPECT_FALSE(q.push(a.data(), a.size(), video(0, false)));
    EXPECT_TRUE(q.push(a.data(), a.size(), video(40000, true)));
    EXPECT_EQ(q.dropped(), 1u);
}

TEST(StreamInputQueue, FallingBehindDropsToTheNewestKeyFrame) {
    StreamInputQueue::Limits limits;
    limits.maxLagUs = 1'000'000;
    StreamInputQueue q(limits);
    const auto f = bytes(1000, 9);
    // Three seconds of 25 fps video with a key frame each second, never taken out.
    for (int i = 0; i < 75; ++i) q.push(f.data(), f.size(), video(i * 40000, i % 25 == 0));
    // Never more than the allowed lag queued.
    EXPECT_LE(q.size(), 26u);
    std::vector<uint8_t> out;
    StreamInputQueue::Meta m;
    ASSERT_TRUE(q.pop(out, m));
    EXPECT_TRUE(m.key);
    EXPECT_EQ(m.ptsUs, 50 * 40000);
    EXPECT_GT(q.dropped(), 0u);
}

TEST(StreamInputQueue, AJumpOfThePresentationTimesIsNotALag) {
    StreamInputQueue q;
    const auto f = bytes(1000, 9);
    EXPECT_TRUE(q.push(f.data(), f.size(), video(0, true)));
    EXPECT_TRUE(q.push(f.data(), f.size(), video(40000, false)));
    // The clock of the stream jumps by an hour: nothing is dropped.
    EXPECT_TRUE(q.push(f.data(), f.size(), video(3600000000LL, false)));
    EXPECT_TRUE(q.push(f.data(), f.size(), video(3600040000LL, false)));
    EXPECT_EQ(q.size(), 4u);
    EXPECT_EQ(q.dropped(), 0u);
}

TEST(StreamInputQueue, WrapsAroundAndGrowsWithinItsLimit) {
    StreamInputQueue::Limits limits;
    limits.initialBytes = 4096;
    limits.maxBytes = 65536;
    StreamInputQueue q(limits);
    std::vector<uint8_t> out;
    StreamInputQueue::Meta m;
    for (int i = 0; i < 200; ++i) {
        const auto f = bytes(1500 + static_cast<size_t>(i % 7) * 100, static_cast<uint8_t>(i));
        ASSERT_TRUE(q.push(f.data(), f.size(), video(i * 1000, true)));
        if (i % 3 != 0) {
            ASSERT_TRUE(q.pop(out, m));
            EXPECT_EQ(out.front(), out.back());
        }
    }
    // A frame larger than half the limit is refused rather than overflowing.
    const auto huge = bytes(40000, 1);
    EXPECT_FALSE(q.push(huge.data(), huge.size(), video(999999, true)));
    while (q.pop(out, m)) EXPECT_EQ(out.front(), out.back());
}

TEST(StreamInputQueue, ClearDropsEverythingAndWaitsForKey) {
    StreamInputQueue q;
    const auto f = bytes(10, 1);
    q.push(f.data(), f.size(), video(0, true));
    q.clear();
    EXPECT_TRUE(q.empty());
    EXPECT_FALSE(q.push(f.data(), f.size(), video(40000, false)));
    EXPECT_TRUE(q.push(f.data(), f.size(), {40000, false, false}));  // audio goes on
}

}  // namespace
