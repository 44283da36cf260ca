// Payloads the library passes on as they came: the raw "PRIVATE" video payload (unpackaged)
// and G.722.1 audio (packaged, one RTP payload per frame).
#include "ScriptedRtspServer.h"
#include "SdpText.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::ScriptedRtspServer;

std::vector<Bytes> distinctPayloads(size_t count, size_t size) {
    std::vector<Bytes> payloads;
    for (size_t i = 0; i < count; ++i) {
        Bytes payload(size + i);
        for (size_t j = 0; j < payload.size(); ++j) payload[j] = static_cast<uint8_t>(i * 31 + j);
        payloads.push_back(payload);
    }
    return payloads;
}

// Index of the payload equal to bytes, or -1.
int indexOf(const std::vector<Bytes>& payloads, const Bytes& bytes) {
    for (size_t i = 0; i < payloads.size(); ++i) {
        if (payloads[i] == bytes) return static_cast<int>(i);
    }
    return -1;
}

class Payload : public ApiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Payload, PrivatePayloadArrivesRawAndInOrder) {
    const auto payloads = distinctPayloads(5, 400);
    ScriptedRtspServer server;
    server.setSdp(Testing::sdpSession({Testing::sdpMedia(0, "video", 96, "PRIVATE/90000")}));
    server.setTrackPlan(0, Testing::singlePacketPlan(96, payloads, 20, 1800, true));
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), "/stream", GetParam());
    ASSERT_GE(handle, 1000000);
    // The sound switch does not apply to this payload.
    ASSERT_EQ(KX_NET_CloseSound(handle), 1);
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_PRIVATE, 20, 20s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);
    const auto frames = collector.frames();
    int expected = indexOf(payloads, frames.front().bytes);
    ASSERT_GE(expected, 0) << "first payload was never sent";
    for (const auto& delivered : frames) {
        ASSERT_EQ(delivered.dataType, KX_DATA_PRIVATE);
        EXPECT_EQ(delivered.bytes, payloads[static_cast<size_t>(expected)]);
        expected = (expected + 1) % static_cast<int>(payloads.size());
    }
}

TEST_P(Payload, G7221PayloadIsPackagedUnchanged) {
    const auto payloads = distinctPayloads(4, 60);
    ScriptedRtspServer server;
    server.setSdp(
        Testing::sdpSession({Testing::sdpMedia(0, "audio", 98, "G7221/16000", "bitrate=24000")}));
    server.setTrackPlan(0, Testing::singlePacketPlan(98, payloads, 20, 320, true));
    ASSERT_TRUE(server.start());
    FrameCollector collector;
    const int32_t handle = playInto(collector, server.port(), "/stream", GetParam());
    ASSERT_GE(handle, 1000000);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_G7221, 20, 20s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);
    const auto frames = collector.frames();
    int expected = -1;
    for (const auto& delivered : frames) {
        ASSERT_EQ(delivered.dataType, KX_DATA_G7221);
        const Testing::InnerFrame frame = inner(delivered);
        EXPECT_EQ(frame.frameType, KX_FRAME_OTHER);
        EXPECT_EQ(frame.channels, 1u);
        EXPECT_EQ(frame.sampleRate, 16000u);
        EXPECT_EQ(delivered.bytes.size(), frame.payload.size() + KX_INNER_OFF_AUDIO_PAYLOAD);
        if (expected < 0) expected = indexOf(payloads, frame.payload);
        ASSERT_GE(expected, 0) << "payload was never sent";
        EXPECT_EQ(frame.payload, payloads[static_cast<size_t>(expected)]);
        expected = (expected + 1) % static_cast<int>(payloads.size());
    }
    EXPECT_NE(logText().find("[CLiveClient::ContinueAfterSETUP] RealHandle:0, create g7221 audio "
                             "data sink, fmtp_mode(), channel(1), sampleRate(16000).\n"),
              std::string::npos)
        << logText();
}

INSTANTIATE_TEST_SUITE_P(Transport, Payload, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

}  // namespace
}  // namespace Brelso::ApiTests
