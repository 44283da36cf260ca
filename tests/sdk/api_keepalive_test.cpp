// How a session keeps itself alive: GET_PARAMETER heartbeats when the server offers them,
// reconnection when frames stop, and what an RTCP BYE or a closed sound switch does not do.
#include <algorithm>
#include <thread>

#include "H264Stream.h"
#include "ScriptedRtspServer.h"
#include "SdpText.h"
#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::ScriptedRtspServer;

class KeepAlive : public ApiTest {
protected:
    void startVideoServer() {
        m_server.setSdp(
            Testing::sdpSession({Testing::sdpH264(0, Testing::spropParameterSets(smallGop()))}));
        m_server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
        ASSERT_TRUE(m_server.start());
    }
    int32_t playAndCollect(bool tcp) {
        const int32_t handle = play(m_server.port(), "/stream", tcp);
        EXPECT_GE(handle, 1000000);
        EXPECT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
        return handle;
    }
    ScriptedRtspServer m_server;
    FrameCollector m_frames;
};

// Session timeout 4 s: a GET_PARAMETER about every 2 s, each in the session, in CSeq order.
TEST_F(KeepAlive, HeartbeatFollowsTheSessionTimeout) {
    m_server.setSessionTimeout(4);
    startVideoServer();
    const int32_t handle = playAndCollect(false);
    ASSERT_TRUE(m_server.waitForRequests("GET_PARAMETER", 3, 30s));
    const auto playedAt = m_server.requests();
    std::this_thread::sleep_for(8s);
    const size_t heartbeats = m_server.count("GET_PARAMETER");
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
    // Loose bounds: 8 s at one per 2 s is 4; a 30 s period (timeout ignored) would give 0-1,
    // a missing pause between heartbeats hundreds.
    const size_t before = std::count_if(playedAt.begin(), playedAt.end(),
                                        [](const auto& r) { return r.method == "GET_PARAMETER"; });
    EXPECT_GE(heartbeats - before, 2u);
    EXPECT_LE(heartbeats - before, 8u);
    int lastCseq = -1;
    for (const auto& request : m_server.requests()) {
        EXPECT_GT(request.cseq(), lastCseq) << request.method;
        lastCseq = request.cseq();
        if (request.method == "GET_PARAMETER") {
            EXPECT_TRUE(request.hasHeader("Session"));
        }
    }
    EXPECT_GE(logLines("Send Heartbeat!"), 3u);
}

// Without a timeout in the Session header the heartbeat comes every 30 s: none within 8 s.
TEST_F(KeepAlive, DefaultTimeoutSendsNoEarlyHeartbeat) {
    startVideoServer();
    const int32_t handle = playAndCollect(true);
    ASSERT_TRUE(m_frames.waitForCount(KX_DATA_H264, 10, 20s));
    std::this_thread::sleep_for(8s);
    EXPECT_EQ(m_server.count("GET_PARAMETER"), 0u);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

// A server that does not name GET_PARAMETER gets none, even with a short session timeout.
TEST_F(KeepAlive, NoHeartbeatWithoutGetParameterInPublic) {
    m_server.setPublicMethods("OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN");
    m_server.setSessionTimeout(2);
    startVideoServer();
    const int32_t handle = playAndCollect(false);
    ASSERT_TRUE(m_frames.waitForCount(KX_DATA_H264, 10, 20s));
    std::this_thread::sleep_for(6s);
    EXPECT_EQ(m_server.count("GET_PARAMETER"), 0u);
    EXPECT_EQ(logLines("Send Heartbeat!"), 0u);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

// The camera stops sending: a "Disconnect!" warning, the old session torn down, a new
// OPTIONS and then frames again, without any callback announcing it.
TEST_F(KeepAlive, SilentCameraIsReconnected) {
    startVideoServer();
    const int32_t handle = playAndCollect(false);
    ASSERT_TRUE(m_frames.waitForCount(KX_DATA_H264, 10, 20s));
    m_server.stopRtp();
    const size_t framesBefore = m_frames.count();
    ASSERT_TRUE(m_server.waitForRequests("OPTIONS", 2, 45s));
    EXPECT_TRUE(waitForLog(
        "[CLiveClient::CheckDisconnect] Disconnect! RealHandle : " + std::to_string(handle), 5s));
    EXPECT_GE(logLines("reconnect to server"), 1u);
    EXPECT_TRUE(m_server.waitForRequests("PLAY", 2, 20s));
    EXPECT_TRUE(m_frames.waitForCount(KX_DATA_H264, framesBefore + 10, 20s));
    // The first connection's session was torn down before the new one started.
    const auto requests = m_server.requests();
    const auto teardown = std::find_if(requests.begin(), requests.end(),
                                       [](const auto& r) { return r.method == "TEARDOWN"; });
    ASSERT_NE(teardown, requests.end());
    EXPECT_EQ(teardown->connection, requests.front().connection);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

// An RTCP BYE is logged twice at warning level and changes nothing else.
TEST_F(KeepAlive, RtcpByeIsOnlyLogged) {
    startVideoServer();
    const int32_t handle = playAndCollect(false);
    ASSERT_TRUE(m_frames.waitForCount(KX_DATA_H264, 10, 20s));
    ASSERT_EQ(m_server.sendRtcpBye(0), 1);
    ASSERT_TRUE(waitForLog("receive rtcp bye", 10s));
    EXPECT_TRUE(waitForLog("[CLiveClient::SubsessionAfterPlaying]", 5s));
    EXPECT_EQ(logLines("[warning][CLiveClient::SubsessionByeHandler] RealHandle:" +
                       std::to_string(handle) + ", receive rtcp bye."),
              1u);
    EXPECT_EQ(
        logLines(
            "[warning][CLiveClient::SubsessionAfterPlaying] RealHandle:" + std::to_string(handle) +
            ", all subsession' streams have now been closed, wait for disconnect check."),
        1u);
    const size_t framesAfterBye = m_frames.count();
    EXPECT_TRUE(m_frames.waitForCount(KX_DATA_H264, framesAfterBye + 10, 20s));
    EXPECT_EQ(m_server.count("OPTIONS"), 1u);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

// Only audio arrives and the sound is switched off: nothing is delivered, but the audio keeps
// the session alive (no reconnection past the 15 s check); switched on, audio is delivered.
TEST_F(KeepAlive, ClosedSoundDeliversNothingButKeepsTheSession) {
    m_server.setSdp(Testing::sdpSession({Testing::sdpMedia(0, "audio", 0, "PCMU/8000")}));
    m_server.setTrackPlan(
        0, Testing::singlePacketPlan(0, {Bytes(160, 0x7F), Bytes(160, 0xFF)}, 20, 160, true));
    ASSERT_TRUE(m_server.start());
    const int32_t handle = play(m_server.port(), "/stream", true);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_CloseSound(handle), 1);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    const size_t sentBefore = m_server.rtpPacketsSent(0);
    std::this_thread::sleep_for(20s);
    EXPECT_GT(m_server.rtpPacketsSent(0), sentBefore + 100);  // audio kept flowing
    EXPECT_EQ(m_frames.count(), 0u);
    EXPECT_EQ(m_server.count("OPTIONS"), 1u);
    EXPECT_EQ(logLines("Disconnect!"), 0u);
    ASSERT_EQ(KX_NET_OpenSound(handle), 1);
    EXPECT_TRUE(m_frames.waitForCount(KX_DATA_PCMU, 10, 10s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

// A real server that goes away: the session keeps trying every 15 s and plays again once the
// server is back on the same port.
TEST_F(ApiTest, ServerBackOnTheSamePortIsReconnected) {
    Testing::TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    FrameCollector collector;
    const int32_t handle = playInto(collector, server.port(), Testing::TestRtspServer::kH264, true);
    ASSERT_GE(handle, 1000000);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H264, 10, 20s));
    server.stop();
    // Two attempts while the server is away: both fail, neither gives up.
    ASSERT_TRUE(waitForLog("reconnect to server", 45s));
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (logLines("reconnect to server") < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(200ms);
    }
    ASSERT_GE(logLines("reconnect to server"), 2u);
    const size_t framesWhileAway = collector.count();
    ASSERT_TRUE(server.restart()) << server.lastError();
    EXPECT_TRUE(collector.waitForCount(KX_DATA_H264, framesWhileAway + 10, 30s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

// Sound off on a stream with video: the video goes on, the audio stops; on again, it returns.
TEST_F(ApiTest, SoundSwitchLeavesVideoAlone) {
    Testing::TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), Testing::TestRtspServer::kH264Pcmu, false);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_CloseSound(handle), 1);
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H264, 50, 20s));
    EXPECT_EQ(collector.count(KX_DATA_PCMU), 0u);
    ASSERT_EQ(KX_NET_OpenSound(handle), 1);
    EXPECT_TRUE(collector.waitForCount(KX_DATA_PCMU, 10, 10s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
    EXPECT_EQ(KX_NET_CloseSound(handle), 0);  // handle released
}

}  // namespace
}  // namespace Brelso::ApiTests
