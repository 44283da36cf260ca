// ReorderBuffer: order restored, duplicates and late packets dropped, gaps given up after the
// threshold, sequence numbers wrapping.
#include <gtest/gtest.h>

#include <vector>

#include "ReorderBuffer.h"

using namespace kx::media;

namespace {

struct Recorder : ReorderBuffer::Consumer {
    std::vector<int> seqs;
    std::vector<bool> losses;
    void onOrderedPacket(const uint8_t* packet, size_t size, bool lossBefore) override {
        ASSERT_EQ(size, 2u);
        seqs.push_back((packet[0] << 8) | packet[1]);
        losses.push_back(lossBefore);
    }
};

void put(ReorderBuffer& b, int seq, int64_t now) {
    const uint8_t p[2] = {static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
    b.insert(static_cast<uint16_t>(seq), p, 2, now);
}

// Each case feeds a fresh buffer and records what it hands on.
class ReorderBufferTest : public ::testing::Test {
protected:
    Recorder r;
    ReorderBuffer b{r};
};

TEST_F(ReorderBufferTest, RestoresOrder) {
    b.setThresholdTime(100000);
    for (int s : {10, 12, 11, 14, 13, 15}) put(b, s, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(b.waitingCount(), 0u);
    for (bool l : r.losses) EXPECT_FALSE(l);
}

TEST_F(ReorderBufferTest, DropsDuplicatesAndLatePackets) {
    for (int s : {1, 2, 2, 4, 4, 3, 1, 2}) put(b, s, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(ReorderBufferTest, GivesUpAGapAfterTheThreshold) {
    b.setThresholdTime(100000);
    put(b, 1, 0);
    put(b, 3, 1000);
    put(b, 4, 2000);
    EXPECT_EQ(r.seqs, (std::vector<int>{1}));
    EXPECT_EQ(b.nextDeadline(), 101000);
    b.flushExpired(100999);
    EXPECT_EQ(r.seqs, (std::vector<int>{1}));
    b.flushExpired(101000);
    EXPECT_EQ(r.seqs, (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(r.losses, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(b.nextDeadline(), -1);
    put(b, 2, 200000);  // too late now
    EXPECT_EQ(r.seqs.size(), 3u);
}

TEST_F(ReorderBufferTest, ZeroThresholdGivesUpAtOnce) {
    b.setThresholdTime(0);
    put(b, 1, 0);
    put(b, 3, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{1, 3}));
    EXPECT_EQ(r.losses, (std::vector<bool>{false, true}));
}

TEST_F(ReorderBufferTest, FollowsTheWrapOfSequenceNumbers) {
    for (int s : {65533, 65535, 65534, 1, 0, 2}) put(b, s, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{65533, 65534, 65535, 0, 1, 2}));
}

TEST_F(ReorderBufferTest, JumpFarAheadResynchronises) {
    put(b, 100, 0);
    put(b, 5000, 0);  // a seek: far beyond what could wait
    put(b, 5001, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{100, 5000, 5001}));
    EXPECT_TRUE(r.losses[1]);
}

TEST_F(ReorderBufferTest, RestartedNumberingIsFollowed) {
    put(b, 30000, 0);
    put(b, 30001, 0);
    put(b, 10, 0);  // far behind: the sender started over
    put(b, 11, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{30000, 30001, 10, 11}));
}

TEST_F(ReorderBufferTest, ExpectedNumberFixesTheStart) {
    b.setThresholdTime(100000);
    ASSERT_TRUE(b.expect(500));
    put(b, 501, 0);  // arrived before 500: waits instead of starting the sequence
    put(b, 500, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{500, 501}));
}

TEST_F(ReorderBufferTest, ExpectedNumberOfANewRangeDropsTheOldOne) {
    b.setThresholdTime(100000);
    put(b, 10, 0);
    put(b, 12, 0);  // waits for 11, which never comes: the range ended
    ASSERT_TRUE(b.expect(300));
    EXPECT_EQ(b.waitingCount(), 0u);
    put(b, 13, 0);  // a straggler of the old range
    put(b, 300, 0);
    put(b, 301, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{10, 300, 301}));
    for (bool l : r.losses) EXPECT_FALSE(l);
}

TEST_F(ReorderBufferTest, ExpectationAlreadyPassedIsIgnored) {
    put(b, 700, 0);
    put(b, 701, 0);
    EXPECT_FALSE(b.expect(700));  // the reply came after its first packets
    put(b, 702, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{700, 701, 702}));
}

TEST_F(ReorderBufferTest, ResetForgetsWaitingPackets) {
    put(b, 1, 0);
    put(b, 3, 0);
    b.reset();
    EXPECT_EQ(b.waitingCount(), 0u);
    put(b, 50, 0);
    EXPECT_EQ(r.seqs, (std::vector<int>{1, 50}));
}

}  // namespace
