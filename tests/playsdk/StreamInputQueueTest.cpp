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

namespace {

using kx::play::StreamInputQueue;

// A stream whose parameter sets came once, at its start (a camera that sends them only in its
// session description): SPS, PPS, then 25 fps with a key frame each second.
struct Pushed {
    StreamInputQueue::Meta meta;
    uint8_t tag = 0;
};

std::vector<Pushed> popAll(StreamInputQueue& q) {
    std::vector<Pushed> out;
    std::vector<uint8_t> bytes;
    StreamInputQueue::Meta m;
    while (q.pop(bytes, m)) out.push_back({m, bytes.empty() ? uint8_t{0} : bytes[0]});
    return out;
}

TEST(StreamInputQueueBehind, KeepsTheParameterSetsWithTheKeyFrameItDropsTo) {
    StreamInputQueue q;
    const std::vector<uint8_t> sps(20, 7), pps(8, 8), idr(3000, 5), p(800, 1);
    q.push(sps.data(), sps.size(), {0, true, true, 7});
    q.push(pps.data(), pps.size(), {0, true, false, 8});
    for (int i = 0; i < 75; ++i) {
        const auto& f = i % 25 == 0 ? idr : p;
        ASSERT_TRUE(q.push(f.data(), f.size(), {i * 40000, true, i % 25 == 0, 0})) << i;
    }
    const auto out = popAll(q);
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[0].tag, 7) << "the SPS went";
    EXPECT_EQ(out[1].tag, 8) << "the PPS went";
    EXPECT_EQ(out[2].tag, 5);
    EXPECT_EQ(out[2].meta.ptsUs, 50 * 40000);
    for (size_t i = 3; i < out.size(); ++i) EXPECT_EQ(out[i].tag, 1);
}

TEST(StreamInputQueueBehind, NeverDropsTheKeyFrameItStartsWith) {
    StreamInputQueue::Limits limits;
    limits.maxLagUs = 1'000'000;
    StreamInputQueue q(limits);
    const std::vector<uint8_t> idr(3000, 5), p(800, 1);
    ASSERT_TRUE(q.push(idr.data(), idr.size(), {0, true, true, 0}));
    // Two seconds of pictures after it and no other key frame.
    for (int i = 1; i < 50; ++i) q.push(p.data(), p.size(), {i * 40000, true, false, 0});
    const auto out = popAll(q);
    ASSERT_GE(out.size(), 26u);
    EXPECT_EQ(out[0].tag, 5);
    EXPECT_EQ(out[0].meta.ptsUs, 0);
    for (size_t i = 1; i < out.size(); ++i) EXPECT_EQ(out[i].meta.ptsUs, int64_t(i) * 40000);
}

TEST(StreamInputQueueBehind, WithoutRoomBehindItsKeyFrameWaitsForTheNextOne) {
    StreamInputQueue::Limits limits;
    limits.initialBytes = 4096;
    limits.maxBytes = 16384;
    StreamInputQueue q(limits);
    const std::vector<uint8_t> idr(4000, 5), p(2000, 1);
    ASSERT_TRUE(q.push(idr.data(), idr.size(), {0, true, true, 0}));
    int accepted = 0;
    for (int i = 1; i < 10; ++i)
        accepted += q.push(p.data(), p.size(), {i * 40000, true, false, 0});
    EXPECT_LT(accepted, 9);
    // The key frame and the pictures that fitted behind it stay.
    const auto out = popAll(q);
    ASSERT_EQ(out.size(), 1u + static_cast<size_t>(accepted));
    EXPECT_EQ(out[0].tag, 5);
    EXPECT_EQ(out[0].meta.ptsUs, 0);
    // Video then waits for the next key frame.
    EXPECT_FALSE(q.push(p.data(), p.size(), {400000, true, false, 0}));
    EXPECT_TRUE(q.push(idr.data(), idr.size(), {440000, true, true, 0}));
    EXPECT_TRUE(q.push(p.data(), p.size(), {480000, true, false, 0}));
}

}  // namespace
