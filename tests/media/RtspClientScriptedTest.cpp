// RTSPClient against the scripted server: the exact requests it sends, replies a real server
// does not give on demand (errors, silence, a dropped connection, short session timeouts,
// play ranges), RTCP BYE, and MPEG-4 video served from payloader output.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CollectingSink.h"
#include "H264RTPSource.h"
#include "LoopHarness.h"
#include "MediaSession.h"
#include "PayloaderPipeline.h"
#include "RTCPInstance.h"
#include "RTSPClient.h"
#include "RtpHeader.h"
#include "ScriptedRtspServer.h"
#include "SdpText.h"

using namespace kx::media;
using namespace kx::media::test;
using Brelso::Testing::RtpPayload;
using Brelso::Testing::RtpPlan;
using Brelso::Testing::ScriptedRtspServer;

namespace {

struct Reply {
    int code;
    std::string text;
    bool hadText;
};

// A client whose replies land in a list; onReply runs after each one.
class RecordingClient : public RTSPClient {
public:
    RecordingClient(UsageEnvironment& env, const std::string& url) : RTSPClient(env, url.c_str()) {}
    std::vector<Reply> replies;
    std::function<void(RecordingClient&)> onReply;

    static void handler(RTSPClient* c, int code, char* text) {
        auto* self = static_cast<RecordingClient*>(c);
        self->replies.push_back({code, text ? text : "", text != nullptr});
        delete[] text;
        if (self->onReply) self->onReply(*self);
    }
};

struct ClientHolder {
    RecordingClient* client;
    ~ClientHolder() { Medium::close(client); }
};

class RtspClientScriptedTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.setSdp(Brelso::Testing::sdpSession(
            {Brelso::Testing::sdpH264(0, "Z0IAKeKQFAe2AtwEBAaQeJEV,aM48gA=="),
             Brelso::Testing::sdpMedia(1, "audio", 0, "PCMU/8000")}));
        ASSERT_TRUE(server.start());
    }

    // OPTIONS, DESCRIBE, SETUP of both tracks, PLAY; stops after PLAY's reply.
    void setUpAndPlay(bool tcp, double start = 0.0, double end = -1.0, float scale = 1.0f) {
        client = new RecordingClient(h.env, server.url());
        holder.client = client;
        client->onReply = [this, tcp, start, end, scale](RecordingClient& c) {
            const size_t n = c.replies.size();
            if (c.replies.back().code != 0) return h.stop();
            if (n == 1) {
                c.sendDescribeCommand(&RecordingClient::handler);
            } else if (n == 2) {
                session = MediaSession::createNew(h.env, c.replies.back().text.c_str());
                ASSERT_NE(session, nullptr);
                for (auto& sub : session->subsessions()) ASSERT_TRUE(sub->initiate());
                c.sendSetupCommand(*session->subsessions()[0], &RecordingClient::handler, false,
                                   tcp);
            } else if (n == 3) {
                c.sendSetupCommand(*session->subsessions()[1], &RecordingClient::handler, false,
                                   tcp);
            } else if (n == 4) {
                c.sendPlayCommand(*session, &RecordingClient::handler, start, end, scale);
            } else {
                h.stop();
            }
        };
        client->sendOptionsCommand(&RecordingClient::handler);
        ASSERT_TRUE(h.run());
    }

    void TearDown() override {
        Medium::close(session);
        session = nullptr;
    }

    ScriptedRtspServer server;
    LoopHarness h;
    RecordingClient* client = nullptr;
    ClientHolder holder{nullptr};
    MediaSession* session = nullptr;
};

TEST_F(RtspClientScriptedTest, SendsTheExpectedRequestsOverUdp) {
    server.setSessionTimeout(20);
    setUpAndPlay(false);
    ASSERT_EQ(client->replies.size(), 5u);
    for (const Reply& r : client->replies) EXPECT_EQ(r.code, 0) << r.text;
    EXPECT_EQ(client->sessionTimeoutParameter(), 20u);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].method, "OPTIONS");
    EXPECT_EQ(requests[0].uri, server.url());
    EXPECT_EQ(requests[1].method, "DESCRIBE");
    EXPECT_EQ(requests[1].header("Accept"), "application/sdp");
    EXPECT_EQ(requests[2].method, "SETUP");
    EXPECT_NE(requests[2].uri.find("track0"), std::string::npos) << requests[2].uri;
    EXPECT_EQ(requests[3].uri.substr(requests[3].uri.size() - 6), "track1");
    const unsigned port0 = session->subsessions()[0]->clientPortNum();
    const unsigned port1 = session->subsessions()[1]->clientPortNum();
    EXPECT_EQ(
        requests[2].header("Transport"),
        "RTP/AVP;unicast;client_port=" + std::to_string(port0) + "-" + std::to_string(port0 + 1));
    EXPECT_EQ(
        requests[3].header("Transport"),
        "RTP/AVP;unicast;client_port=" + std::to_string(port1) + "-" + std::to_string(port1 + 1));
    EXPECT_FALSE(requests[2].hasHeader("Session"));
    EXPECT_TRUE(requests[3].hasHeader("Session"));
    EXPECT_EQ(requests[4].method, "PLAY");
    EXPECT_EQ(requests[4].header("Session"), requests[3].header("Session"));
    EXPECT_EQ(requests[4].header("Range"), "npt=0.000-");
    EXPECT_FALSE(requests[4].hasHeader("Scale"));
    // CSeq counts up from 1, one per request.
    for (size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].cseq(), static_cast<int>(i + 1));
}

TEST_F(RtspClientScriptedTest, AsksForInterleavedChannelsOverTcp) {
    setUpAndPlay(true);
    ASSERT_EQ(client->replies.size(), 5u);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[2].header("Transport"), "RTP/AVP/TCP;unicast;interleaved=0-1");
    EXPECT_EQ(requests[3].header("Transport"), "RTP/AVP/TCP;unicast;interleaved=2-3");
    EXPECT_EQ(client->sessionTimeoutParameter(), 0u);  // none given
}

TEST_F(RtspClientScriptedTest, ForcedMulticastAsksForMulticast) {
    client = new RecordingClient(h.env, server.url());
    holder.client = client;
    client->onReply = [this](RecordingClient& c) {
        if (c.replies.size() == 1) {
            session = MediaSession::createNew(h.env, c.replies.back().text.c_str());
            ASSERT_NE(session, nullptr);
            ASSERT_TRUE(session->subsessions()[0]->initiate());
            c.sendSetupCommand(*session->subsessions()[0], &RecordingClient::handler, false, false,
                               true);
        } else {
            h.stop();
        }
    };
    client->sendDescribeCommand(&RecordingClient::handler);
    ASSERT_TRUE(h.run());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].header("Transport").rfind("RTP/AVP;multicast", 0), 0u)
        << requests[1].header("Transport");
}

TEST_F(RtspClientScriptedTest, PlayRangeScaleAndTheRepliedRange) {
    server.setPlayRange("npt=5.5-20.25");
    setUpAndPlay(false, 3.0, 10.0, 2.0f);
    ASSERT_EQ(client->replies.size(), 5u);
    EXPECT_EQ(client->replies[4].code, 0);
    const auto requests = server.requests();
    EXPECT_EQ(requests[4].header("Range"), "npt=3.000-10.000");
    EXPECT_EQ(requests[4].header("Scale"), "2");
    EXPECT_DOUBLE_EQ(session->playStartTime(), 5.5);
    EXPECT_DOUBLE_EQ(session->playEndTime(), 20.25);
    EXPECT_DOUBLE_EQ(session->subsessions()[0]->playStartTime(), 5.5);
    EXPECT_DOUBLE_EQ(session->subsessions()[1]->playEndTime(), 20.25);
}

TEST_F(RtspClientScriptedTest, GetParameterAndTeardownCarryTheSession) {
    setUpAndPlay(false);
    ASSERT_EQ(client->replies.size(), 5u);
    client->onReply = [this](RecordingClient& c) {
        if (c.replies.size() == 6) {
            c.sendGetParameterCommand(*session, &RecordingClient::handler, "position");
        } else if (c.replies.size() == 7) {
            c.sendTeardownCommand(*session, &RecordingClient::handler);
        } else {
            h.stop();
        }
    };
    client->sendGetParameterCommand(*session, &RecordingClient::handler, "");
    ASSERT_TRUE(h.run());
    ASSERT_EQ(client->replies.size(), 8u);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 8u);
    EXPECT_EQ(requests[5].method, "GET_PARAMETER");
    EXPECT_EQ(requests[5].body, "");
    EXPECT_EQ(requests[5].header("Session"), requests[4].header("Session"));
    EXPECT_EQ(requests[6].body, "position\r\n");
    EXPECT_EQ(requests[7].method, "TEARDOWN");
    EXPECT_EQ(requests[7].header("Session"), requests[4].header("Session"));
}

TEST_F(RtspClientScriptedTest, ErrorReplyGivesTheStatusCode) {
    server.setStatus("DESCRIBE", 404);
    client = new RecordingClient(h.env, server.url());
    holder.client = client;
    client->onReply = [this](RecordingClient& c) {
        if (c.replies.size() == 1) {
            c.sendDescribeCommand(&RecordingClient::handler);
        } else {
            h.stop();
        }
    };
    client->sendOptionsCommand(&RecordingClient::handler);
    ASSERT_TRUE(h.run());
    ASSERT_EQ(client->replies.size(), 2u);
    EXPECT_EQ(client->replies[0].code, 0);
    EXPECT_NE(client->replies[0].text.find("GET_PARAMETER"), std::string::npos);
    EXPECT_EQ(client->replies[1].code, 404);
    EXPECT_EQ(client->replies[1].text.rfind("404", 0), 0u) << client->replies[1].text;
}

TEST_F(RtspClientScriptedTest, PublicMethodsWithoutGetParameter) {
    server.setPublicMethods("OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN");
    client = new RecordingClient(h.env, server.url());
    holder.client = client;
    client->onReply = [this](RecordingClient&) { h.stop(); };
    client->sendOptionsCommand(&RecordingClient::handler);
    ASSERT_TRUE(h.run());
    ASSERT_EQ(client->replies.size(), 1u);
    EXPECT_EQ(client->replies[0].text.find("GET_PARAMETER"), std::string::npos);
    for (const char* m : {"OPTIONS", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"}) {
        EXPECT_NE(client->replies[0].text.find(m), std::string::npos);
    }
}

TEST_F(RtspClientScriptedTest, SilentServerGetsNoCallbackUntilItDrops) {
    server.setSilent("OPTIONS", true);
    client = new RecordingClient(h.env, server.url());
    holder.client = client;
    client->onReply = [this](RecordingClient&) { h.stop(); };
    const unsigned cseq = client->sendOptionsCommand(&RecordingClient::handler);
    EXPECT_NE(cseq, 0u);
    // While the server keeps silent nothing is reported.
    h.after(1000000, [this] {
        EXPECT_TRUE(client->replies.empty());
        server.dropConnections();
    });
    ASSERT_TRUE(h.run());
    ASSERT_EQ(client->replies.size(), 1u);
    EXPECT_EQ(client->replies[0].code, RTSPClient::kErrorClosed);
    // Later requests fail at once (asynchronously) too.
    client->sendDescribeCommand(&RecordingClient::handler);
    EXPECT_EQ(client->replies.size(), 1u);  // never from inside the send call
    ASSERT_TRUE(h.run());
    ASSERT_EQ(client->replies.size(), 2u);
    EXPECT_LT(client->replies[1].code, 0);
}

TEST_F(RtspClientScriptedTest, DestroyedWhileConnectingOrWaiting) {
    static int calls;
    calls = 0;
    auto count = [](RTSPClient*, int, char* text) {
        delete[] text;
        ++calls;
    };
    // Destroyed right after the asynchronous connect began.
    RTSPClient* first = new RecordingClient(h.env, server.url());
    first->sendOptionsCommand(count);
    Medium::close(first);
    // Destroyed while its request waits for a silent server.
    server.setSilent("*", true);
    RTSPClient* second = new RecordingClient(h.env, server.url());
    second->sendOptionsCommand(count);
    h.after(300000, [&] { Medium::close(second); });
    h.after(800000, [&] { h.stop(); });
    ASSERT_TRUE(h.run());
    EXPECT_EQ(calls, 0);
}

TEST_F(RtspClientScriptedTest, ClientClosedInsideItsOwnHandler) {
    // The reply handler closes the client while the connection's watch is dispatching.
    struct Ctx {
        LoopHarness* h;
        int calls = 0;
    } ctx{&h};
    static Ctx* current;
    current = &ctx;
    RTSPClient* c = new RecordingClient(h.env, server.url());
    c->sendOptionsCommand([](RTSPClient* self, int, char* text) {
        delete[] text;
        ++current->calls;
        Medium::close(self);
        current->h->after(200000, [] { current->h->stop(); });
    });
    c->sendDescribeCommand([](RTSPClient*, int, char* text) {  // never called: client gone
        delete[] text;
        current->calls += 100;
    });
    ASSERT_TRUE(h.run());
    EXPECT_EQ(ctx.calls, 1);
}

TEST_F(RtspClientScriptedTest, SessionClosedInsideTheFrameCallback) {
    const std::vector<std::vector<uint8_t>> payloads = {{0x65, 1, 2, 3}, {0x41, 4, 5, 6}};
    server.setTrackPlan(0, Brelso::Testing::singlePacketPlan(96, payloads, 10, 900, true));
    setUpAndPlay(false);
    ASSERT_EQ(client->replies.size(), 5u);
    CollectingSink* sink = CollectingSink::createNew(h.env);
    MediaSubsession& sub = *session->subsessions()[0];
    sink->startPlaying(*sub.readSource(), nullptr, nullptr);
    sink->onFrame = [&](CollectingSink& s) {
        if (s.frames.size() == 3) {
            // Tear the whole session down from inside the source's delivery.
            s.stopPlaying();
            Medium::close(session);
            session = nullptr;
            h.after(100000, [&] { h.stop(); });
        }
    };
    ASSERT_TRUE(h.run());
    EXPECT_EQ(sink->frames.size(), 3u);
    Medium::close(sink);
}

TEST(RtspClientConnectTest, RefusedConnectionIsReportedNegative) {
    // A port that was free a moment ago and has no listener.
    GSocket* s =
        g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr);
    GInetAddress* lo = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* addr = g_inet_socket_address_new(lo, 0);
    ASSERT_TRUE(g_socket_bind(s, addr, TRUE, nullptr));
    GSocketAddress* local = g_socket_get_local_address(s, nullptr);
    const unsigned port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local));
    g_object_unref(local);
    g_object_unref(addr);
    g_object_unref(lo);
    g_socket_close(s, nullptr);
    g_object_unref(s);

    LoopHarness h;
    auto* client = new RecordingClient(h.env, "rtsp://127.0.0.1:" + std::to_string(port) + "/x");
    ClientHolder holder{client};
    client->onReply = [&](RecordingClient&) { h.stop(); };
    EXPECT_NE(client->sendOptionsCommand(&RecordingClient::handler), 0u);
    ASSERT_TRUE(h.run());
    ASSERT_EQ(client->replies.size(), 1u);
    EXPECT_EQ(client->replies[0].code, RTSPClient::kErrorConnect);
    EXPECT_FALSE(client->replies[0].text.empty());
}

TEST(RtspClientConnectTest, UnusableUrlIsReportedNegative) {
    for (const char* url : {"", "http://127.0.0.1/x", "rtsp://", "not a url"}) {
        LoopHarness h;
        auto* client = new RecordingClient(h.env, url);
        ClientHolder holder{client};
        client->onReply = [&](RecordingClient&) { h.stop(); };
        EXPECT_EQ(client->sendOptionsCommand(&RecordingClient::handler), 0u) << url;
        ASSERT_TRUE(h.run());
        ASSERT_EQ(client->replies.size(), 1u);
        EXPECT_EQ(client->replies[0].code, RTSPClient::kErrorBadUrl) << url;
    }
}

// ---- streams of the scripted server ----

// RTP packets regrouped into a plan: one tick per timestamp, payloads and markers kept.
RtpPlan planFromPackets(const std::vector<Bytes>& packets, uint8_t pt) {
    RtpPlan plan;
    plan.payloadType = pt;
    plan.intervalMs = 20;
    plan.timestampStep = 3600;
    plan.loop = false;
    uint32_t lastTs = 0;
    for (const Bytes& p : packets) {
        RtpHeader h;
        if (!h.parse(p.data(), p.size())) continue;
        if (plan.ticks.empty() || h.timestamp != lastTs) plan.ticks.emplace_back();
        lastTs = h.timestamp;
        RtpPayload payload;
        payload.bytes.assign(h.payload, h.payload + h.payloadSize);
        payload.marker = h.marker;
        plan.ticks.back().push_back(payload);
    }
    return plan;
}

class ScriptedStreamTest : public ::testing::TestWithParam<bool> {};

struct ByeFlag {
    bool received = false;
    static void handler(void* p) { static_cast<ByeFlag*>(p)->received = true; }
};

// SETUP and PLAY of track 0 with a sink; `until` ends the loop.
void streamTrack0(ScriptedRtspServer& server, LoopHarness& h, bool tcp, MediaSession*& session,
                  CollectingSink*& sink, RecordingClient*& client,
                  std::function<void()> afterPlay) {
    client = new RecordingClient(h.env, server.url());
    sink = CollectingSink::createNew(h.env);
    client->onReply = [&, tcp, afterPlay](RecordingClient& c) {
        const size_t n = c.replies.size();
        if (c.replies.back().code != 0) return h.stop();
        if (n == 1) {
            session = MediaSession::createNew(h.env, c.replies.back().text.c_str());
            ASSERT_NE(session, nullptr);
            MediaSubsession& sub = *session->subsessions()[0];
            ASSERT_TRUE(sub.initiate());
            sink->startPlaying(*sub.readSource(), nullptr, nullptr);
            c.sendSetupCommand(sub, &RecordingClient::handler, false, tcp);
        } else if (n == 2) {
            c.sendPlayCommand(*session, &RecordingClient::handler);
        } else if (n == 3) {
            afterPlay();
        }
    };
    client->sendDescribeCommand(&RecordingClient::handler);
}

TEST_P(ScriptedStreamTest, Mpeg4VideoFramesArriveWhole) {
    if (!hasElements({"avenc_mpeg4", "rtpmp4vpay"})) GTEST_SKIP() << "no MPEG-4 encoder";
    PipelineResult r = runPipeline(
        "videotestsrc num-buffers=20 ! video/x-raw,width=320,height=240,framerate=25/1 "
        "! avenc_mpeg4 bitrate=800000 ! tee name=t t. ! queue ! appsink name=ref "
        "t. ! queue ! rtpmp4vpay mtu=500 pt=96 config-interval=-1 ! appsink name=rtp",
        {"ref", "rtp"});
    ASSERT_TRUE(r.ok) << r.error;
    const std::vector<Bytes>& ref = r.buffers["ref"];
    ScriptedRtspServer server;
    server.setSdp(Brelso::Testing::sdpSession(
        {Brelso::Testing::sdpMedia(0, "video", 96, "MP4V-ES/90000", "profile-level-id=1")}));
    server.setTrackPlan(0, planFromPackets(r.buffers["rtp"], 96));
    ASSERT_TRUE(server.start());
    LoopHarness h;
    MediaSession* session = nullptr;
    CollectingSink* sink = nullptr;
    RecordingClient* client = nullptr;
    streamTrack0(server, h, GetParam(), session, sink, client, [] {});
    sink->onFrame = [&](CollectingSink& s) {
        if (s.frames.size() == ref.size()) h.stop();
    };
    ASSERT_TRUE(h.run());
    ASSERT_EQ(sink->frames.size(), ref.size());
    for (size_t i = 0; i < ref.size(); ++i) {
        const Bytes& got = sink->frames[i].bytes;
        ASSERT_GE(got.size(), ref[i].size()) << i;
        EXPECT_TRUE(std::equal(ref[i].begin(), ref[i].end(),
                               got.end() - static_cast<std::ptrdiff_t>(ref[i].size())))
            << i;
    }
    Medium::close(sink);
    Medium::close(session);
    Medium::close(client);
}

TEST_P(ScriptedStreamTest, RtcpByeFromTheSenderIsReported) {
    const std::vector<std::vector<uint8_t>> payloads = {{0x65, 1, 2, 3}, {0x41, 4, 5, 6}};
    ScriptedRtspServer server;
    server.setSdp(Brelso::Testing::sdpSession({Brelso::Testing::sdpH264(0, "Z0IA,aM48")}));
    server.setTrackPlan(0, Brelso::Testing::singlePacketPlan(96, payloads, 20, 1800, true));
    ASSERT_TRUE(server.start());
    LoopHarness h;
    MediaSession* session = nullptr;
    CollectingSink* sink = nullptr;
    RecordingClient* client = nullptr;
    ByeFlag bye;
    streamTrack0(server, h, GetParam(), session, sink, client, [&] {
        session->subsessions()[0]->rtcpInstance()->setByeHandler(&ByeFlag::handler, &bye);
    });
    bool byeSent = false;
    sink->onFrame = [&](CollectingSink& s) {
        if (s.frames.size() == 5 && !byeSent) {
            byeSent = true;
            EXPECT_EQ(server.sendRtcpBye(0), 1);
        }
        if (bye.received) h.stop();
    };
    // The BYE may arrive while no frame follows: look again from time to time.
    std::function<void()> poll = [&] {
        if (bye.received) return h.stop();
        h.after(20000, poll);
    };
    h.after(20000, poll);
    ASSERT_TRUE(h.run());
    EXPECT_TRUE(bye.received);
    EXPECT_EQ(sink->frames[0].bytes, Bytes(payloads[0]));
    Medium::close(sink);
    Medium::close(session);
    Medium::close(client);
}

INSTANTIATE_TEST_SUITE_P(Transports, ScriptedStreamTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

}  // namespace
