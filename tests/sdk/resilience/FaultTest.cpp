// Network faults through the public API: a server that goes away and comes back, loss and
// reordering on UDP, frames above the 4 MiB receive buffer, session descriptions with garbage
// lines and replies of a megabyte.
#include <algorithm>
#include <atomic>
#include <thread>

#include "H264Stream.h"
#include "LossyRtpSender.h"
#include "ResilienceHelpers.h"
#include "ScriptedRtspServer.h"

namespace Brelso::Resilience {
namespace {

using ApiTests::Delivered;
using ApiTests::FrameCollector;
using Testing::ScriptedRtspServer;

std::atomic<int> g_reconnectCalls{0};
void onReconnect(int32_t, void*) {
    ++g_reconnectCalls;
}
std::atomic<int> g_endCalls{0};
void onEnd(int32_t, void*) {
    ++g_endCalls;
}

class FaultTest : public ApiTests::ApiTest {
protected:
    void startServer(bool withPlan = true) {
        ASSERT_TRUE(m_server.start());
        m_server.setSdp(h264Sdp(false));
        if (withPlan) m_server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
    }
    ScriptedRtspServer m_server;
    FrameCollector m_frames;
};

class SlowFaultTest : public FaultTest {};

// The server stops answering and sending for 20 seconds and drops its connections, then
// serves again: the session reconnects by itself, frames resume, and no callback announces it.
TEST_F(SlowFaultTest, ServerAwayForTwentySecondsIsReconnectedSilently) {
    startServer();
    const int32_t handle = play(m_server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    g_reconnectCalls = 0;
    g_endCalls = 0;
    ASSERT_EQ(KX_NET_SetRealPlayAutoReconnect(handle, &onReconnect, nullptr, 0), 1);
    ASSERT_EQ(KX_NET_SetRealPlayEndCallBack(handle, &onEnd, nullptr), 1);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    ASSERT_TRUE(m_frames.waitForCount(KX_DATA_H264, 10, 20s));

    m_server.setSilent("*", true);
    m_server.stopRtp();
    m_server.dropConnections();
    std::this_thread::sleep_for(20s);
    const size_t framesWhileAway = m_frames.count();
    const size_t optionsWhileAway = m_server.count("OPTIONS");
    m_server.setSilent("*", false);

    ASSERT_TRUE(m_frames.waitForCount(KX_DATA_H264, framesWhileAway + 20, 60s))
        << "frames did not resume";
    EXPECT_GT(m_server.count("PLAY"), 1u);
    EXPECT_GE(m_server.count("OPTIONS"), optionsWhileAway + 1) << "no new connection";
    EXPECT_EQ(g_reconnectCalls.load(), 0);
    EXPECT_EQ(g_endCalls.load(), 0);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

uint16_t clientRtpPort(const ScriptedRtspServer& server) {
    for (const auto& r : server.requests()) {
        if (r.method != "SETUP") continue;
        const std::string transport = r.header("Transport");
        const size_t at = transport.find("client_port=");
        if (at == std::string::npos) continue;
        return static_cast<uint16_t>(std::stoi(transport.substr(at + 12)));
    }
    return 0;
}

// Five in a hundred packets lost and one in ten pairs swapped: frames keep arriving, every
// delivered NAL unit is one that was sent (no half or mixed units), and the clean stream
// after the bad stretch comes through.
TEST_F(FaultTest, LossAndReorderingOnUdpKeepFramesFlowing) {
    // The stream comes from the test's own sender on 127.0.0.1.
    m_server.setNameUdpSender(false);
    startServer(false);
    const int32_t handle = play(m_server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    const uint16_t port = clientRtpPort(m_server);
    ASSERT_NE(port, 0);

    std::vector<Bytes> lossy;
    for (int g = 0; g < 12; ++g) {
        const auto gop = smallGop(static_cast<uint8_t>(0x30 + g));
        lossy.insert(lossy.end(), gop.begin(), gop.end());
    }
    std::vector<Bytes> clean;
    for (int g = 0; g < 3; ++g) {
        const auto gop = smallGop(static_cast<uint8_t>(0x60 + g));
        clean.insert(clean.end(), gop.begin(), gop.end());
    }
    LossyRtpSender sender(port, 0x51C0FFEE, 1000, 10000);
    ASSERT_TRUE(sender.ok());
    sender.send(Testing::h264Plan(lossy, 25, false, 500), 5, 10, 10, 20261208);
    sender.send(Testing::h264Plan(clean, 25, false, 500), 0, 0, 10, 1);
    const Bytes lastClean = clean.back();
    auto nalOfFrame = [](const Delivered& d) { return ApiTests::nalOf(ApiTests::inner(d)); };
    ASSERT_TRUE(m_frames.waitFor(
        [&](const std::vector<Delivered>& frames) {
            return std::any_of(frames.begin(), frames.end(), [&](const Delivered& d) {
                return d.dataType == KX_DATA_H264 && d.bytes.size() > KX_INNER_OFF_PAYLOAD + 4 &&
                       Bytes(d.bytes.begin() + KX_INNER_OFF_PAYLOAD + 4, d.bytes.end()) ==
                           lastClean;
            });
        },
        20s))
        << "the clean stream after the bad stretch did not come through";
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);

    size_t lossyDelivered = 0;
    size_t cleanDelivered = 0;
    for (const auto& d : m_frames.frames()) {
        ASSERT_EQ(d.dataType, uint32_t{KX_DATA_H264});
        const Bytes nal = nalOfFrame(d);
        const bool inLossy = std::find(lossy.begin(), lossy.end(), nal) != lossy.end();
        const bool inClean = std::find(clean.begin(), clean.end(), nal) != clean.end();
        EXPECT_TRUE(inLossy || inClean)
            << "a NAL unit of " << nal.size() << " bytes that was never sent";
        lossyDelivered += inLossy ? 1 : 0;
        cleanDelivered += inClean ? 1 : 0;
    }
    EXPECT_GE(lossyDelivered * 2, lossy.size()) << "most frames of the bad stretch were lost";
    EXPECT_GE(cleanDelivered * 2, clean.size());
}

// A 5 MiB key frame over TCP: it arrives cut to the 4 MiB receive buffer and is packaged as it
// is; the frames after it arrive normally.
TEST_F(FaultTest, FrameAboveFourMebibytesArrivesCutAndTheStreamGoesOn) {
    ASSERT_TRUE(m_server.start());
    m_server.setSdp(h264Sdp(false));
    Bytes big(5u << 20);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 % 251 + 1);
    big[0] = 0x65;
    big[1] = 0x88;  // the first slice of its picture
    std::vector<Bytes> nals = smallGop(0x70);
    nals.push_back(big);
    const auto after = smallGop(0x71);
    nals.insert(nals.end(), after.begin(), after.end());
    m_server.setTrackPlan(0, Testing::h264Plan(nals, 25, false, 1400));
    const int32_t handle = play(m_server.port(), "/stream", true);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    const Bytes lastNal = after.back();
    ASSERT_TRUE(m_frames.waitFor(
        [&](const std::vector<Delivered>& frames) {
            return !frames.empty() && ApiTests::nalOf(ApiTests::inner(frames.back())) == lastNal;
        },
        60s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);
    const auto frames = m_frames.frames();
    const auto cut = std::find_if(frames.begin(), frames.end(),
                                  [](const Delivered& d) { return d.bytes.size() > 1000000; });
    ASSERT_NE(cut, frames.end()) << "the large frame was not delivered";
    const Testing::InnerFrame inner = ApiTests::inner(*cut);
    EXPECT_EQ(inner.frameType, KX_FRAME_IDR);
    EXPECT_EQ(cut->bytes.size(), KX_INNER_OFF_PAYLOAD + 4u + (4u << 20));
    EXPECT_TRUE(ApiTests::nalOf(inner) == Bytes(big.begin(), big.begin() + (4 << 20)))
        << "the cut frame is not the first 4 MiB of the sent one";
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                            [](const Delivered& d) { return d.bytes.size() > 1000000; }),
              1);
}

// Garbage between the session lines: the session still plays; the length scan stops at the
// first malformed line, so the range after it is not read.
TEST_F(FaultTest, SdpWithGarbageLinesStillPlays) {
    ASSERT_TRUE(m_server.start());
    std::string garbage = "this is no session line\r\n";
    garbage += "a=range:npt=0-30\r\n";
    garbage += std::string("\x01\x02\xff\xfe=\r\n", 6);
    garbage += "=\r\n\r\n\n\r";
    garbage += "a=" + std::string(20000, 'x') + "\r\n";
    garbage += "z=\r\nb=AS:notanumber\r\nc=IN IP4\r\n";
    m_server.setSdp(h264Sdp(false, garbage));
    m_server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
    const int32_t handle = play(m_server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    EXPECT_TRUE(m_frames.waitForCount(KX_DATA_H264, 10, 20s));
    // "t=0 0" gives 0; the garbage line after it ends the scan before the 30-second range.
    EXPECT_EQ(KX_NET_GetVideoLength(handle), 0);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

// A reply of a megabyte (in its body or in one header): handled without a crash, refused or
// parsed; the library then plays a normal stream as before.
class HugeReply : public FaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HugeReply, IsHandledAndTheLibraryPlaysOn) {
    const bool inBody = GetParam();
    startServer();
    if (inBody) {
        std::string padding;
        while (padding.size() < (1u << 20)) padding += "a=x-pad:" + std::string(1000, 'p') + "\r\n";
        m_server.setSdp(h264Sdp(false, padding));
    } else {
        m_server.setPublicMethods("OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, " +
                                  std::string(1u << 20, 'X'));
    }
    const int32_t first = play(m_server.port(), "/stream", false);
    if (first >= 1000000) {
        FrameCollector frames;
        ASSERT_EQ(KX_NET_SetRealDataCallBack(first, FrameCollector::onData, &frames), 1);
        EXPECT_TRUE(frames.waitForCount(KX_DATA_H264, 5, 20s));
        EXPECT_EQ(KX_NET_StopRealPlay(first), 1);
    } else {
        EXPECT_EQ(first, -1);
    }
    m_server.setSdp(h264Sdp(false));
    m_server.setPublicMethods("OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER");
    const int32_t second = KX_NET_RealPlay(m_login, 0, 0, 0, "/stream", 0);
    ASSERT_GE(second, 1000000);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(second, FrameCollector::onData, &m_frames), 1);
    EXPECT_TRUE(m_frames.waitForCount(KX_DATA_H264, 5, 20s));
    EXPECT_EQ(KX_NET_StopRealPlay(second), 1);
}

// A session description of 24 MiB is more than the client reads into memory: the start is
// refused (not buffered without bound), and the library plays a normal stream afterwards.
TEST_F(FaultTest, ReplyBodyAboveTheLimitIsRefused) {
    startServer();
    std::string padding;
    const std::string line = "a=x-pad:" + std::string(4000, 'q') + "\r\n";
    while (padding.size() < (24u << 20)) padding += line;
    m_server.setSdp(h264Sdp(false, padding));
    EXPECT_EQ(play(m_server.port(), "/stream", false), -1);
    EXPECT_EQ(m_server.count("SETUP"), 0u);
    m_server.setSdp(h264Sdp(false));
    const int32_t handle = KX_NET_RealPlay(m_login, 0, 0, 0, "/stream", 0);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    EXPECT_TRUE(m_frames.waitForCount(KX_DATA_H264, 5, 20s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

INSTANTIATE_TEST_SUITE_P(Where, HugeReply, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Body" : "Header"; });

}  // namespace
}  // namespace Brelso::Resilience
