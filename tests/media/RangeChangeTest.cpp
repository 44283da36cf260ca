// Packets around a PLAY of a new range (a seek), and packets over an in-order transport (RTP
// interleaved in the RTSP TCP connection): no packet of the old range after the new range's
// first, no wait for a gap that can never be filled.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "CollectingSink.h"
#include "H264RTPSource.h"
#include "LoopHarness.h"
#include "ReorderBuffer.h"

using namespace kx::media;
using namespace kx::media::test;

namespace {

// ---- ReorderBuffer: one script per case, run with a UDP-like and a TCP-like threshold ----

struct Recorder : ReorderBuffer::Consumer {
    std::vector<int> seqs;
    void onOrderedPacket(const uint8_t* packet, size_t, bool) override {
        seqs.push_back((packet[0] << 8) | packet[1]);
    }
};

// "p N": packet N arrives; "b": a PLAY of a new range is sent; "e N": its reply names N as the
// first sequence number; "ok" / "refused": the reply; "t N": N microseconds have passed.
struct Script {
    const char* name;
    std::vector<std::string> steps;
    std::vector<int> delivered;
};

const Script kScripts[] = {
    // The new range's first packets come before the reply (a GStreamer server does this).
    {"NewRangeBeforeTheReply",
     {"p 10", "p 11", "b", "p 12", "p 13", "p 40", "p 41", "e 40", "ok", "p 42"},
     {10, 11, 40, 41, 42}},
    // The old range's last packets come after the reply.
    {"OldRangeAfterTheReply",
     {"p 10", "b", "e 40", "ok", "p 11", "p 12", "p 40", "p 41"},
     {10, 40, 41}},
    // The new range restarts its numbering behind the old one; stragglers of the old range
    // after the reply are ahead of the new numbers.
    {"NumberingRestartsBehind",
     {"p 1100", "b", "p 1101", "e 1000", "ok", "p 1102", "p 1103", "p 1000", "p 1001", "p 1002"},
     {1100, 1000, 1001, 1002}},
    // The new range goes on with the very next number.
    {"NumberingGoesOn", {"p 10", "b", "p 11", "p 12", "e 11", "ok", "p 13"}, {10, 11, 12, 13}},
    // Without RTP-Info the reply's place decides: what came before it is the old range.
    {"ReplyWithoutRtpInfo", {"p 10", "b", "p 11", "p 12", "ok", "p 13", "p 14"}, {10, 13, 14}},
    // A refused PLAY: the old range goes on, nothing lost.
    {"RefusedReply", {"p 10", "b", "p 11", "p 12", "refused", "p 13"}, {10, 11, 12, 13}},
    // A reply that never comes holds the packets for a bounded time only.
    {"UnansweredChangeIsGivenUp", {"p 10", "b", "p 11", "t 3000000", "p 12"}, {10, 11, 12}},
    // The first PLAY: no packet came yet, so there is no old range to tell apart.
    {"NothingReceivedYet", {"b", "p 5", "p 6", "e 5", "ok", "p 7"}, {5, 6, 7}},
    // A second seek before the first reply: only the last reply ends the wait.
    {"OverlappingChanges",
     {"p 10", "b", "b", "p 20", "e 20", "ok", "p 21", "p 60", "e 60", "ok", "p 61"},
     {10, 60, 61}},
};

void PrintTo(const Script& script, std::ostream* os) {
    *os << script.name;
}

class RangeChangeScriptTest
    : public ::testing::TestWithParam<std::tuple<Script, int64_t /* threshold */>> {};

TEST_P(RangeChangeScriptTest, DeliversOnlyTheNewRange) {
    const auto& [script, threshold] = GetParam();
    Recorder r;
    ReorderBuffer b(r);
    b.setThresholdTime(threshold);
    int64_t now = 0;
    for (const std::string& step : script.steps) {
        const std::string verb = step.substr(0, step.find(' '));
        const long value = step.size() > verb.size() ? std::stol(step.substr(verb.size() + 1)) : 0;
        now += 1000;
        if (verb == "p") {
            const uint8_t p[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
            b.insert(static_cast<uint16_t>(value), p, 2, now);
        } else if (verb == "b") {
            b.beginRangeChange(now);
        } else if (verb == "e") {
            b.expect(static_cast<uint16_t>(value));
        } else if (verb == "ok" || verb == "refused") {
            b.endRangeChange(verb == "ok", now);
        } else if (verb == "t") {
            now += value;
            b.flushExpired(now);
        }
    }
    b.flushExpired(now + threshold);  // gaps a UDP-like threshold still waits for
    EXPECT_EQ(r.seqs, script.delivered);
    EXPECT_FALSE(b.changingRange());
}

INSTANTIATE_TEST_SUITE_P(Scripts, RangeChangeScriptTest,
                         ::testing::Combine(::testing::ValuesIn(kScripts),
                                            ::testing::Values(int64_t{0}, int64_t{100000})),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == 0 ? "_InOrder" : "_Reordering");
                         });

// ---- H264RTPSource fed directly, as the RTSP connection feeds it ----

using Bytes = std::vector<uint8_t>;

// One single-NAL-unit packet: a non-IDR slice whose body names the packet.
Bytes packet(uint16_t seq, uint8_t tag) {
    return {0x80,
            96,
            uint8_t(seq >> 8),
            uint8_t(seq),
            0,
            0,
            uint8_t(seq >> 8),
            uint8_t(seq),
            0,
            0,
            0x12,
            0x34,
            0x41,
            0x9A,
            tag,
            tag};
}

struct Feed {
    LoopHarness h;
    H264RTPSource* source = H264RTPSource::createNew(h.env, 96);
    CollectingSink* sink = CollectingSink::createNew(h.env);
    Feed() { sink->startPlaying(*source, nullptr, nullptr); }
    ~Feed() {
        Medium::close(sink);
        Medium::close(source);
    }
    void push(uint16_t seq, uint8_t tag) {
        const Bytes p = packet(seq, tag);
        source->handlePacket(p.data(), p.size());
    }
    std::vector<int> tags() const {
        std::vector<int> out;
        for (const auto& f : sink->frames) out.push_back(f.bytes.size() == 4 ? f.bytes[3] : -1);
        return out;
    }
};

// Over TCP a packet behind a gap is handed on at once: the gap can never be filled, so the
// frame does not wait for the reordering threshold (here a minute) or for a later packet.
TEST(InOrderTransportTest, PacketBehindAGapIsDeliveredAtOnce) {
    for (const bool inOrder : {false, true}) {
        Feed feed;
        feed.source->setPacketReorderingThresholdTime(60000000);
        if (inOrder) feed.source->setInOrderTransport();
        feed.source->setPacketReorderingThresholdTime(60000000);  // asked again: ignored
        feed.push(100, 1);
        feed.push(102, 3);  // 101 lost at the server
        const std::vector<int> want = inOrder ? std::vector<int>{1, 3} : std::vector<int>{1};
        EXPECT_EQ(feed.tags(), want) << (inOrder ? "in order" : "reordering");
    }
}

// A seek over TCP as the RTSP client drives the source: the new range's packets before the
// reply wait for it, the old range's after it are dropped, and what the first range had
// assembled but not handed on is gone.
TEST(InOrderTransportTest, SeekDeliversNoPacketOfTheOldRange) {
    Feed feed;
    feed.source->setInOrderTransport();
    feed.push(500, 1);
    feed.push(501, 2);
    feed.source->beginRangeChange();
    feed.push(502, 3);   // old range, before the reply
    feed.push(900, 10);  // new range, before the reply
    EXPECT_EQ(feed.tags(), (std::vector<int>{1, 2}));
    feed.source->expectSequenceNumber(900);
    feed.source->endRangeChange(true);
    feed.push(503, 4);  // old range, after the reply
    feed.push(901, 11);
    EXPECT_EQ(feed.tags(), (std::vector<int>{1, 2, 10, 11}));
}

}  // namespace
