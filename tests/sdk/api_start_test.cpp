// How KX_NET_RealPlay's start ends: an error reply fails it, silence lets it return a handle
// after its wait, and the session description decides which subsessions play.
#include <algorithm>

#include "H264Stream.h"
#include "ScriptedRtspServer.h"
#include "SdpText.h"
#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::ScriptedRtspServer;

std::vector<std::string> methods(const ScriptedRtspServer& server) {
    std::vector<std::string> result;
    for (const auto& request : server.requests()) result.push_back(request.method);
    return result;
}

class ErrorReply : public ApiTest, public ::testing::WithParamInterface<const char*> {};

// An error reply ends the start: RealPlay fails and the conversation stops at that request.
TEST_P(ErrorReply, FailsThePlay) {
    ScriptedRtspServer server;
    server.setSdp(
        Testing::sdpSession({Testing::sdpH264(0, Testing::spropParameterSets(smallGop()))}));
    server.setStatus(GetParam(), GetParam() == std::string("DESCRIBE") ? 404 : 500);
    ASSERT_TRUE(server.start());
    EXPECT_EQ(play(server.port(), "/stream", false), -1);
    const auto sent = methods(server);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), "OPTIONS");
    // Nothing but a TEARDOWN may follow the refused request.
    auto refused = std::find(sent.begin(), sent.end(), GetParam());
    ASSERT_NE(refused, sent.end());
    for (auto it = refused + 1; it != sent.end(); ++it) EXPECT_EQ(*it, "TEARDOWN");
    EXPECT_EQ(server.count("PLAY"), GetParam() == std::string("PLAY") ? 1u : 0u);
    EXPECT_GE(logLines("RealPlay failed!"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Request, ErrorReply,
                         ::testing::Values("OPTIONS", "DESCRIBE", "SETUP", "PLAY"));

// A server that accepts the connection and never answers: the start wait ends without an
// answer, which counts as started.
TEST_F(ApiTest, SilentServerStillGivesAHandle) {
    ScriptedRtspServer server;
    server.setSilent("*", true);
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), "/stream", false);
    EXPECT_GE(handle, 1000000);
    EXPECT_EQ(server.count("OPTIONS"), 1u);
    EXPECT_EQ(server.count("DESCRIBE"), 0u);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 0);
}

// A server answering only after the start wait: the handle comes first, then the sequence
// goes on in the background and frames flow.
TEST_F(ApiTest, LateAnswerContinuesInTheBackground) {
    ScriptedRtspServer server;
    server.setSdp(
        Testing::sdpSession({Testing::sdpH264(0, Testing::spropParameterSets(smallGop()))}));
    server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
    server.setReplyDelay("OPTIONS", 6500);
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), "/stream", true);
    ASSERT_GE(handle, 1000000);
    EXPECT_EQ(server.count("PLAY"), 0u);  // returned before the server answered
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    EXPECT_TRUE(server.waitForRequests("PLAY", 1, 20s));
    EXPECT_TRUE(collector.waitForCount(KX_DATA_H264, 10, 20s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

// H.264 video and an audio codec the library has no sink for: both are set up, only the
// video is delivered.
TEST_F(ApiTest, UnsupportedAudioBesideH264IsSkipped) {
    ScriptedRtspServer server;
    server.setSdp(Testing::sdpSession({Testing::sdpH264(0, Testing::spropParameterSets(smallGop())),
                                       Testing::sdpMedia(1, "audio", 97, "OPUS/48000/2")}));
    server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
    server.setTrackPlan(1, Testing::singlePacketPlan(97, {Bytes(60, 0x11)}, 20, 960, true));
    ASSERT_TRUE(server.start());
    FrameCollector collector;
    const int32_t handle = playInto(collector, server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H264, 20, 20s));
    EXPECT_TRUE(server.waitForRtpPackets(1, 20, 10s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
    EXPECT_EQ(server.count("SETUP"), 2u);
    EXPECT_EQ(server.count("PLAY"), 1u);
    EXPECT_EQ(collector.count(), collector.count(KX_DATA_H264));
}

// Nothing the library can play: every subsession is set up, no PLAY is sent, the play fails.
TEST_F(ApiTest, AllUnsupportedCodecsFailWithoutPlay) {
    ScriptedRtspServer server;
    server.setSdp(Testing::sdpSession({Testing::sdpMedia(0, "video", 96, "VP8/90000"),
                                       Testing::sdpMedia(1, "audio", 97, "OPUS/48000/2")}));
    ASSERT_TRUE(server.start());
    EXPECT_EQ(play(server.port(), "/stream", true), -1);
    EXPECT_EQ(server.count("SETUP"), 2u);
    EXPECT_EQ(server.count("PLAY"), 0u);
}

// A server offering RTP only inside the RTSP connection refuses every UDP SETUP: nothing can
// play over UDP, while TCP plays.
TEST_F(ApiTest, UdpRefusedByATcpOnlyServer) {
    Testing::TestRtspServer server;
    server.addLiveMounts(Tools::kTransportTcp);
    ASSERT_TRUE(server.start());
    EXPECT_EQ(play(server.port(), Testing::TestRtspServer::kH264Pcmu, false), -1);
    FrameCollector collector;
    const int32_t handle =
        playInto(collector, server.port(), Testing::TestRtspServer::kH264Pcmu, true);
    ASSERT_GE(handle, 1000000);
    EXPECT_TRUE(collector.waitForCount(KX_DATA_H264, 10, 20s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

class UnusableSdp : public ApiTest, public ::testing::WithParamInterface<const char*> {};

// A description that is no SDP, or one without any media: the play fails, nothing is set up.
TEST_P(UnusableSdp, FailsWithoutSetup) {
    ScriptedRtspServer server;
    server.setSdp(GetParam());
    ASSERT_TRUE(server.start());
    EXPECT_EQ(play(server.port(), "/stream", false), -1);
    EXPECT_EQ(server.count("DESCRIBE"), 1u);
    EXPECT_EQ(server.count("SETUP"), 0u);
    EXPECT_EQ(server.count("PLAY"), 0u);
    EXPECT_GE(logLines("[error][CLiveClient::ContinueAfterDESCRIBE] RealHandle:0, "), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Description, UnusableSdp,
    ::testing::Values("garbage\r\n\x01\x02 not a description\r\n",
                      "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=none\r\nt=0 0\r\n"),
    [](const auto& info) { return info.index == 0 ? "Garbage" : "NoMedia"; });

// Until RealPlay has returned, the session's log lines carry the play handle 0; afterwards
// its own handle.
TEST_F(ApiTest, StartLinesCarryHandleZero) {
    ScriptedRtspServer server;
    server.setSdp(
        Testing::sdpSession({Testing::sdpH264(0, Testing::spropParameterSets(smallGop()))}));
    server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
    server.setSessionTimeout(2);
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    EXPECT_EQ(logLines("[detail][CLiveClient::ContinueAfterOPTIONS] RealHandle:0, resultCode:0"),
              1u);
    EXPECT_EQ(logLines("[detail][CLiveClient::ContinueAfterPLAY] RealHandle:0, resultCode:0"), 1u);
    EXPECT_TRUE(waitForLog("Send Heartbeat! RealHandle : " + std::to_string(handle), 10s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

}  // namespace
}  // namespace Brelso::ApiTests
