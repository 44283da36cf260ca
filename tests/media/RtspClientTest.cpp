// RTSPClient against a real GStreamer RTSP server on 127.0.0.1: the whole conversation over
// UDP and TCP, frames compared byte for byte with the served file, authentication, failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "H264RTPSource.h"
#include "H264Stream.h"
#include "RtspConversation.h"
#include "TestMedia.h"
#include "TestRtspServer.h"

using namespace kx::media;
using namespace kx::media::test;
using Brelso::Testing::Bytes;
using Brelso::Testing::TempDir;
using Brelso::Testing::TestRtspServer;

namespace {

constexpr int kFileFrames = 45;

// NAL units of the served file, from the file itself (Annex B through ffmpeg).
std::vector<Bytes> referenceNals(const std::string& mp4, const TempDir& dir) {
    const std::string annexB = dir.file("ref.h264");
    if (!Brelso::Testing::runProgram({"ffmpeg", "-loglevel", "error", "-y", "-i", mp4, "-c:v",
                                      "copy", "-bsf:v", "h264_mp4toannexb", "-f", "h264",
                                      annexB})) {
        return {};
    }
    return Brelso::Testing::splitAnnexB(Brelso::Testing::readFile(annexB));
}

std::vector<Bytes> withoutParameterSets(const std::vector<Bytes>& nals) {
    std::vector<Bytes> out;
    for (const Bytes& n : nals) {
        const int t = Brelso::Testing::nalType(n);
        if (t != 7 && t != 8 && t != 9) out.push_back(n);
    }
    return out;
}

class RtspClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<TempDir>();
        s_mp4 = s_dir->file("video.mp4");
        ASSERT_TRUE(Brelso::Testing::generateMp4Video(s_mp4, kFileFrames));
        s_reference = withoutParameterSets(referenceNals(s_mp4, *s_dir));
        ASSERT_GE(s_reference.size(), static_cast<size_t>(kFileFrames));
        s_allReference = referenceNals(s_mp4, *s_dir);
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override {
        server = std::make_unique<TestRtspServer>();
        server->addLiveMounts();
        server->addH264FileMount("/file", s_mp4);
        ASSERT_TRUE(server->start()) << server->lastError();
    }

    // Receives the whole file mount and compares every NAL unit with the file's.
    void receiveFile(bool tcp) {
        LoopHarness h;
        RtspConversation::Options o;
        o.useTcp = tcp;
        o.done = [](RtspConversation& c) {
            CollectingSink* s = c.sinkFor("video");
            return s != nullptr && withoutParameterSets([&] {
                                       std::vector<Bytes> v;
                                       for (auto& f : s->frames) v.push_back(f.bytes);
                                       return v;
                                   }())
                                           .size() >= s_reference.size();
        };
        RtspConversation c(h, server->url("/file"), o);
        c.start();
        ASSERT_TRUE(h.run());
        EXPECT_EQ(c.optionsCode, 0);
        EXPECT_EQ(c.describeCode, 0);
        EXPECT_EQ(c.playCode, 0) << c.playError;
        EXPECT_EQ(c.teardownCode, 0);
        ASSERT_NE(c.session, nullptr);
        ASSERT_EQ(c.session->subsessions().size(), 1u);
        MediaSubsession& sub = *c.session->subsessions()[0];
        EXPECT_STREQ(sub.mediumName(), "video");
        EXPECT_STREQ(sub.codecName(), "H264");
        EXPECT_EQ(sub.rtpTimestampFrequency(), 90000u);

        // The parameter sets of the session description are the file's.
        unsigned count = 0;
        std::unique_ptr<SPropRecord[]> records(
            parseSPropParameterSets(sub.fmtp_spropparametersets(), count));
        ASSERT_GE(count, 2u);
        Bytes sps(records[0].sPropBytes, records[0].sPropBytes + records[0].sPropLength);
        Bytes pps(records[1].sPropBytes, records[1].sPropBytes + records[1].sPropLength);
        EXPECT_NE(std::find(s_allReference.begin(), s_allReference.end(), sps),
                  s_allReference.end());
        EXPECT_NE(std::find(s_allReference.begin(), s_allReference.end(), pps),
                  s_allReference.end());

        CollectingSink* sink = c.sinkFor("video");
        ASSERT_NE(sink, nullptr);
        std::vector<Bytes> got;
        for (auto& f : sink->frames) {
            EXPECT_EQ(f.truncated, 0u);
            got.push_back(f.bytes);
        }
        got = withoutParameterSets(got);
        ASSERT_EQ(got.size(), s_reference.size());
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i], s_reference[i]) << "NAL unit " << i;
        }
        // Presentation times are wall-clock times that step by the file's 1/15 s per picture
        // (an RTCP sender report may move the anchor once).
        const auto& frames = sink->frames;
        ASSERT_GE(frames.size(), 2u);
        EXPECT_GT(frames.front().pts.tv_sec, 1600000000);
        size_t steps = 0, regular = 0;
        for (size_t i = 1; i < frames.size(); ++i) {
            const double a = frames[i - 1].pts.tv_sec + frames[i - 1].pts.tv_usec / 1e6;
            const double b = frames[i].pts.tv_sec + frames[i].pts.tv_usec / 1e6;
            if (b == a) continue;  // NAL units of one picture
            ++steps;
            if (std::abs((b - a) - 1.0 / 15) < 0.001) ++regular;
        }
        EXPECT_GE(steps, static_cast<size_t>(kFileFrames - 2));
        EXPECT_GE(regular + 1, steps);
    }

    static std::unique_ptr<TempDir> s_dir;
    static std::string s_mp4;
    static std::vector<Bytes> s_reference;
    static std::vector<Bytes> s_allReference;
    std::unique_ptr<TestRtspServer> server;
};

std::unique_ptr<TempDir> RtspClientTest::s_dir;
std::string RtspClientTest::s_mp4;
std::vector<Bytes> RtspClientTest::s_reference;
std::vector<Bytes> RtspClientTest::s_allReference;

TEST_F(RtspClientTest, OptionsListsTheServersMethods) {
    LoopHarness h;
    RtspConversation::Options o;
    o.done = [](RtspConversation&) { return true; };
    RtspConversation c(h, server->url(TestRtspServer::kH264), o);
    c.start();
    ASSERT_TRUE(h.run());
    EXPECT_EQ(c.optionsCode, 0);
    for (const char* m : {"OPTIONS", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN", "GET_PARAMETER"}) {
        EXPECT_NE(c.publicMethods.find(m), std::string::npos) << m << " in " << c.publicMethods;
    }
}

TEST_F(RtspClientTest, ReceivesTheFileOverUdp) {
    receiveFile(false);
}

// After a seek (PLAY with a start while playing) the NAL units continue with a key frame of
// the new range and run to the end of the file without a gap or a stray unit.
class RtspClientSeekTest : public RtspClientTest, public ::testing::WithParamInterface<bool> {};

struct SeekState {
    bool sent = false;
    size_t framesAtSend = 0;
    int replyCode = 1;
    CollectingSink* sink = nullptr;
};
SeekState* g_seek = nullptr;

TEST_P(RtspClientSeekTest, ContinuesFromAKeyFrameOfTheNewRange) {
    SeekState state;
    g_seek = &state;
    LoopHarness h;
    RtspConversation::Options o;
    o.useTcp = GetParam();
    o.teardown = false;
    o.done = [&state](RtspConversation& c) {
        CollectingSink* s = c.sinkFor("video");
        if (s == nullptr) return false;
        state.sink = s;
        if (!state.sent && c.playCode == 0 && s->frames.size() >= 8) {
            state.sent = true;
            state.framesAtSend = s->frames.size();
            c.client()->sendPlayCommand(
                *c.session,
                [](RTSPClient*, int code, char* text) {
                    delete[] text;
                    g_seek->replyCode = code;
                },
                1.5);
        }
        return state.replyCode == 0 && !s->frames.empty() &&
               s->frames.back().bytes == s_reference.back();
    };
    RtspConversation c(h, server->url("/file"), o);
    c.start();
    ASSERT_TRUE(h.run());
    ASSERT_EQ(state.replyCode, 0);
    EXPECT_GT(c.session->playStartTime(), 0.5);  // the server's key-frame-aligned start
    EXPECT_LE(c.session->playStartTime(), 1.5);
    // What came after the request: the rest of the old range still on its way, then the new
    // range. The reply does not separate the two: the server sends the new range's first
    // packets before its reply, with sequence numbers that go on without a gap, so over UDP
    // they may be read (and their frames handed on) before the reply is.
    std::vector<Bytes> after;
    for (size_t i = state.framesAtSend; i < state.sink->frames.size(); ++i) {
        after.push_back(state.sink->frames[i].bytes);
    }
    after = withoutParameterSets(after);
    ASSERT_FALSE(after.empty());
    const auto indexOf = [](const Bytes& nal) {
        return std::find(s_reference.begin(), s_reference.end(), nal) - s_reference.begin();
    };
    // The old range: units in the file's order from the first one on.
    size_t oldEnd = 0;
    for (auto i = indexOf(after.front());
         oldEnd < after.size() && i < static_cast<ptrdiff_t>(s_reference.size()) &&
         after[oldEnd] == s_reference[i];
         ++oldEnd, ++i) {
    }
    ASSERT_GT(oldEnd, 0u) << "a unit that is not in the file";
    // The new range begins where that order breaks, at a key frame, and runs to the end. When
    // the old range had just reached that key frame the order does not break; then the new
    // range is not told apart, and the units run on to the end without a gap all the same.
    size_t newStart = oldEnd;
    if (oldEnd == after.size()) {
        newStart = 0;
        while (newStart < after.size() && Brelso::Testing::nalType(after[newStart]) != 5) {
            ++newStart;
        }
        ASSERT_LT(newStart, after.size()) << "no key frame after the seek";
    }
    EXPECT_EQ(Brelso::Testing::nalType(after[newStart]), 5);
    const auto start = indexOf(after[newStart]);
    ASSERT_LT(start, static_cast<ptrdiff_t>(s_reference.size()))
        << "a unit that is not in the file";
    const std::vector<Bytes> tail(s_reference.begin() + start, s_reference.end());
    ASSERT_EQ(after.size() - newStart, tail.size());
    for (size_t i = 0; i < tail.size(); ++i) ASSERT_EQ(after[newStart + i], tail[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(Transports, RtspClientSeekTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

TEST_F(RtspClientTest, ReceivesTheFileOverTcp) {
    receiveFile(true);
}

// Over TCP interleaving packets cannot overtake each other: a gap is lost for good, so no
// packet waits for one (the first frame comes without a reordering wait). Over UDP the
// reordering window stays.
class RtspClientReorderTest : public RtspClientTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RtspClientReorderTest, WaitsForGapsOnlyOverUdp) {
    const bool tcp = GetParam();
    LoopHarness h;
    RtspConversation::Options o;
    o.useTcp = tcp;
    o.teardown = false;
    o.done = [](RtspConversation& c) {
        CollectingSink* s = c.sinkFor("video");
        return s != nullptr && !s->frames.empty();
    };
    RtspConversation c(h, server->url("/file"), o);
    c.start();
    ASSERT_TRUE(h.run());
    ASSERT_NE(c.session, nullptr);
    ASSERT_EQ(c.session->subsessions().size(), 1u);
    auto* source = dynamic_cast<MultiFramedRTPSource*>(c.session->subsessions()[0]->rtpSource());
    ASSERT_NE(source, nullptr);
    // What the session layer asks for before SETUP, and again afterwards.
    source->setPacketReorderingThresholdTime(100000);
    EXPECT_EQ(source->reorderingThresholdTime(), tcp ? 0 : 100000);
}

INSTANTIATE_TEST_SUITE_P(Transports, RtspClientReorderTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

}  // namespace
