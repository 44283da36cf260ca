// Every codec the server offers arrives through the RTSP client, over UDP and TCP, and
// receiver reports keep a UDP session alive on a server with a short session timeout.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BasicRTCPInstance.h"
#include "RtspConversation.h"
#include "TestRtspServer.h"

using namespace kx::media;
using namespace kx::media::test;
using Brelso::Testing::RtspServerConfig;
using Brelso::Testing::TestRtspServer;

namespace {

struct Mount {
    const char* path;
    std::vector<std::pair<const char*, const char*>> media;  // medium, codec
};

class RtspClientCodecsTest : public ::testing::TestWithParam<bool> {};

void receiveMount(const Mount& mount, bool tcp) {
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start()) << server.lastError();
    LoopHarness h;
    RtspConversation::Options o;
    o.useTcp = tcp;
    const size_t want = mount.media.size();
    o.done = [want](RtspConversation& c) {
        if (c.sinks.size() != want) return false;
        for (CollectingSink* s : c.sinks) {
            if (s->frames.size() < 10) return false;
        }
        return true;
    };
    RtspConversation c(h, server.url(mount.path), o);
    c.start();
    ASSERT_TRUE(h.run()) << mount.path;
    EXPECT_EQ(c.playCode, 0) << c.playError;
    EXPECT_EQ(c.teardownCode, 0);
    ASSERT_NE(c.session, nullptr);
    ASSERT_EQ(c.session->subsessions().size(), want);
    for (size_t i = 0; i < want; ++i) {
        MediaSubsession& sub = *c.session->subsessions()[i];
        EXPECT_STREQ(sub.mediumName(), mount.media[i].first);
        EXPECT_STREQ(sub.codecName(), mount.media[i].second);
        ASSERT_LT(i, c.sinks.size());
        for (auto& f : c.sinks[i]->frames) {
            EXPECT_GT(f.bytes.size(), 0u);
            EXPECT_EQ(f.truncated, 0u);
        }
    }
}

TEST_P(RtspClientCodecsTest, H264AndPcmu) {
    receiveMount({TestRtspServer::kH264Pcmu, {{"video", "H264"}, {"audio", "PCMU"}}}, GetParam());
}

TEST_P(RtspClientCodecsTest, H264AndAac) {
    receiveMount({TestRtspServer::kH264Aac, {{"video", "H264"}, {"audio", "MPEG4-GENERIC"}}},
                 GetParam());
}

TEST_P(RtspClientCodecsTest, Pcma) {
    receiveMount({TestRtspServer::kPcma, {{"audio", "PCMA"}}}, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Transports, RtspClientCodecsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

// Frames of the last seconds of a UDP session on a server whose sessions time out after
// 2 seconds without a sign of life from the client.
size_t framesAtTheEnd(bool reports) {
    RtspServerConfig config;
    config.sessionTimeoutSeconds = 2;
    config.cleanupIntervalMs = 200;
    TestRtspServer server(config);
    server.addLiveMounts();
    if (!server.start()) return 0;
    LoopHarness h;
    RtspConversation::Options o;
    o.done = [](RtspConversation&) { return false; };  // ended by the timer below
    RtspConversation c(h, server.url(TestRtspServer::kH264), o);
    c.start();
    size_t before = 0;
    h.after(1500000, [&] {
        if (!reports && c.session != nullptr) {
            for (auto& sub : c.session->subsessions()) {
                if (auto* rtcp = dynamic_cast<BasicRTCPInstance*>(sub->rtcpInstance())) {
                    rtcp->setReportInterval(3600000000LL);
                }
            }
        }
    });
    h.after(9000000, [&] {
        CollectingSink* s = c.sinkFor("video");
        before = s ? s->frames.size() : 0;
    });
    h.after(10000000, [&] { h.stop(); });
    EXPECT_TRUE(h.run(30000000));
    EXPECT_EQ(c.playCode, 0);
    CollectingSink* s = c.sinkFor("video");
    return s ? s->frames.size() - before : 0;
}

TEST(RtspClientRtcpTest, ReceiverReportsKeepAUdpSessionAlive) {
    EXPECT_EQ(framesAtTheEnd(false), 0u);  // without reports the server gives the session up
    EXPECT_GT(framesAtTheEnd(true), 0u);
}

}  // namespace

namespace {

class RtspClientReportsTest : public ::testing::TestWithParam<bool> {};

// Receiver reports leave over UDP and through the interleaved channel alike.
TEST_P(RtspClientReportsTest, ReceiverReportsAreSent) {
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start()) << server.lastError();
    LoopHarness h;
    RtspConversation::Options o;
    o.useTcp = GetParam();
    o.teardown = false;
    o.done = [](RtspConversation& c) {
        if (c.playCode != 0 || c.session == nullptr) return false;
        auto* rtcp = dynamic_cast<BasicRTCPInstance*>(c.session->subsessions()[0]->rtcpInstance());
        return rtcp != nullptr && rtcp->reportsSent() >= 2;
    };
    RtspConversation c(h, server.url(TestRtspServer::kH264), o);
    c.start();
    // Reports are due without frames too: look from time to time, not only per frame.
    std::function<void()> poll = [&] {
        c.checkDone();
        if (c.finished) return;
        h.after(100000, poll);
    };
    h.after(100000, poll);
    ASSERT_TRUE(h.run());
    EXPECT_TRUE(c.finished);
}

INSTANTIATE_TEST_SUITE_P(Transports, RtspClientReportsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

}  // namespace
