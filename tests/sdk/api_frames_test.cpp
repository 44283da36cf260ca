// Packaged frames through the public API: what a real server sends arrives as packaged frames
// whose fields follow the documented layout, and prepared H.264 NAL units arrive byte for byte.
#include <fstream>

#include "H264Stream.h"
#include "ScriptedRtspServer.h"
#include "SdpText.h"
#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::InnerFrame;
using Testing::ScriptedRtspServer;
using Testing::TestRtspServer;

// Frame type the library must give an H.264 NAL unit that came without a start code.
uint16_t expectedFrameType(int nalType) {
    switch (nalType) {
        case 5:
            return KX_FRAME_IDR;
        case 7:
            return KX_FRAME_SPS;
        case 8:
            return KX_FRAME_PPS;
        default:
            return KX_FRAME_NOSTART;
    }
}

// Layout of one H.264 packaged frame: 00 00 00 01 in front of the NAL unit, the frame type
// derived from the NAL unit type, a plausible presentation time.
void checkH264Frame(const InnerFrame& frame) {
    EXPECT_EQ(frame.dataType, KX_DATA_H264);
    ASSERT_GT(frame.payload.size(), 4u);
    EXPECT_EQ(Bytes(frame.payload.begin(), frame.payload.begin() + 4), (Bytes{0, 0, 0, 1}));
    const Bytes nal = nalOf(frame);
    EXPECT_EQ(frame.frameType, expectedFrameType(Testing::nalType(nal)));
    EXPECT_LT(frame.ptsMicroseconds, 1000000u);
    EXPECT_GT(frame.ptsSeconds, 0u);
}

void checkAudioFrame(const InnerFrame& frame, uint16_t dataType, uint32_t channels,
                     uint32_t sampleRate) {
    EXPECT_EQ(frame.dataType, dataType);
    EXPECT_EQ(frame.frameType, KX_FRAME_OTHER);
    EXPECT_EQ(frame.channels, channels);
    EXPECT_EQ(frame.sampleRate, sampleRate);
    EXPECT_FALSE(frame.payload.empty());
    EXPECT_LT(frame.ptsMicroseconds, 1000000u);
}

class LiveH264Pcmu : public ApiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LiveH264Pcmu, PackagedFramesFollowTheLayoutAndDecode) {
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), TestRtspServer::kH264Pcmu, GetParam());
    ASSERT_GE(handle, 1000000);
    EXPECT_EQ(KX_NET_GetVideoLength(handle), 0);  // live: a=range:npt=now-
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    // A live stream is joined anywhere in a group of pictures: collect until twenty NAL units
    // have followed the first key frame, so that there is something to decode.
    ASSERT_TRUE(collector.waitFor(
        [](const std::vector<Delivered>& so_far) {
            size_t afterKey = 0;
            bool key = false;
            for (const auto& d : so_far) {
                if (d.dataType != KX_DATA_H264) continue;
                key = key || inner(d).frameType == KX_FRAME_IDR;
                if (key) ++afterKey;
            }
            return afterKey >= 20;
        },
        20s));
    ASSERT_TRUE(collector.waitForCount(KX_DATA_PCMU, 10, 20s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);

    const auto frames = collector.frames();
    std::vector<InnerFrame> video;
    for (const auto& delivered : frames) {
        EXPECT_EQ(delivered.handle, handle);
        const InnerFrame frame = inner(delivered);
        if (delivered.dataType == KX_DATA_H264) {
            checkH264Frame(frame);
            video.push_back(frame);
        } else {
            ASSERT_EQ(delivered.dataType, KX_DATA_PCMU);
            checkAudioFrame(frame, KX_DATA_PCMU, 1, 8000);
        }
    }
    // The parameter sets of the session description come first, with the presentation time
    // of the frame they precede.
    ASSERT_GE(video.size(), 3u);
    EXPECT_EQ(video[0].frameType, KX_FRAME_SPS);
    EXPECT_EQ(video[1].frameType, KX_FRAME_PPS);
    EXPECT_EQ(video[0].ptsSeconds, video[2].ptsSeconds);
    EXPECT_EQ(video[0].ptsMicroseconds, video[2].ptsMicroseconds);

    // Decoding the delivered NAL units gives pictures of the served size.
    std::ofstream out(m_dir.file("received.h264"), std::ios::binary);
    for (const auto& frame : video) {
        out.write(reinterpret_cast<const char*>(frame.payload.data()),
                  static_cast<std::streamsize>(frame.payload.size()));
    }
    out.close();
    std::string output;
    ASSERT_TRUE(Testing::runProgram(
        {"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v", "-show_entries",
         "stream=width,height,nb_read_frames", "-of", "csv=p=0", m_dir.file("received.h264")},
        &output))
        << output;
    int width = 0, height = 0, decoded = 0;
    ASSERT_EQ(std::sscanf(output.c_str(), "%d,%d,%d", &width, &height, &decoded), 3) << output;
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);
    EXPECT_GE(decoded, 5);
}

INSTANTIATE_TEST_SUITE_P(Transport, LiveH264Pcmu, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

class PreparedH264 : public ApiTest, public ::testing::WithParamInterface<bool> {};

// The scripted server sends a generated stream (key frames fragmented as FU-A) in a loop; the
// NAL units delivered must be exactly those sent, in order.
TEST_P(PreparedH264, NalUnitsArriveByteForByte) {
    Testing::TempDir media;
    ASSERT_TRUE(Testing::generateH264Stream(media.file("in.h264"), 30));
    const auto nals = Testing::splitAnnexB(Testing::readFile(media.file("in.h264")));
    ASSERT_GT(nals.size(), 30u);
    ScriptedRtspServer server;
    server.setSdp(Testing::sdpSession({Testing::sdpH264(0, Testing::spropParameterSets(nals))}));
    server.setTrackPlan(0, Testing::h264Plan(nals, 30, true, 1000));
    ASSERT_TRUE(server.start());

    FrameCollector collector;
    const int32_t handle = playInto(collector, server.port(), "/stream", GetParam());
    ASSERT_GE(handle, 1000000);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H264, 2 * nals.size() + 2, 30s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);

    std::vector<InnerFrame> video;
    for (const auto& delivered : collector.frames()) {
        ASSERT_EQ(delivered.dataType, KX_DATA_H264);
        video.push_back(inner(delivered));
        checkH264Frame(video.back());
    }
    // First the two parameter sets of the session description.
    EXPECT_EQ(nalOf(video[0]), nals[0]);
    EXPECT_EQ(nalOf(video[1]), nals[1]);
    // Then the stream, from wherever the callback came in, cyclically.
    const Bytes first = nalOf(video[2]);
    size_t start = nals.size();
    for (size_t k = 0; k < nals.size(); ++k) {
        if (nals[k] == first) {
            start = k;
            break;
        }
    }
    ASSERT_LT(start, nals.size()) << "first delivered NAL unit was never sent";
    for (size_t i = 2; i < video.size(); ++i) {
        ASSERT_EQ(nalOf(video[i]), nals[(start + i - 2) % nals.size()]) << "frame " << i;
    }
    // Presentation times never go back.
    for (size_t i = 3; i < video.size(); ++i) {
        const uint64_t before =
            uint64_t{video[i - 1].ptsSeconds} * 1000000 + video[i - 1].ptsMicroseconds;
        const uint64_t now = uint64_t{video[i].ptsSeconds} * 1000000 + video[i].ptsMicroseconds;
        EXPECT_LE(before, now) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Transport, PreparedH264, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Udp"; });

// A real server playing an H.264 file: the slices delivered are those of the file, in order.
TEST_F(ApiTest, FileSlicesFromARealServerArriveByteForByte) {
    Testing::TempDir media;
    ASSERT_TRUE(Testing::generateH264Stream(media.file("in.h264"), 90));
    ASSERT_TRUE(Testing::remuxH264ToMp4(media.file("in.h264"), media.file("in.mp4")));
    std::vector<Bytes> sent;
    for (const auto& nal : Testing::splitAnnexB(Testing::readFile(media.file("in.h264")))) {
        if (Testing::isSlice(nal)) sent.push_back(nal);
    }
    ASSERT_EQ(sent.size(), 90u);
    TestRtspServer server;
    server.addH264FileMount("/file", media.file("in.mp4"));
    ASSERT_TRUE(server.start());
    FrameCollector collector;
    const int32_t handle = playInto(collector, server.port(), "/file", false);
    ASSERT_GE(handle, 1000000);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H264, 40, 20s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);
    std::vector<Bytes> received;
    for (const auto& delivered : collector.frames()) {
        const InnerFrame frame = inner(delivered);
        checkH264Frame(frame);
        if (Testing::isSlice(nalOf(frame))) received.push_back(nalOf(frame));
    }
    ASSERT_GE(received.size(), 20u);
    size_t start = sent.size();
    for (size_t k = 0; k < sent.size(); ++k) {
        if (sent[k] == received[0]) {
            start = k;
            break;
        }
    }
    ASSERT_LT(start, sent.size()) << "first delivered slice is not in the file";
    for (size_t i = 0; i < received.size() && start + i < sent.size(); ++i) {
        ASSERT_EQ(received[i], sent[start + i]) << "slice " << i;
    }
}

// Plays a live mount of the real server until ten frames of the data type came, then stops.
class LiveFrames : public ApiTest {
protected:
    void collect(const char* mount, bool tcp, uint32_t dataType) {
        TestRtspServer server;
        server.addLiveMounts();
        ASSERT_TRUE(server.start());
        const int32_t handle = playInto(collector, server.port(), mount, tcp);
        ASSERT_GE(handle, 1000000);
        ASSERT_TRUE(collector.waitForCount(dataType, 10, 20s));
        ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);
    }
    FrameCollector collector;
};

TEST_F(LiveFrames, AacFramesCarryChannelsAndSampleRate) {
    ASSERT_NO_FATAL_FAILURE(collect(TestRtspServer::kH264Aac, true, KX_DATA_AAC));
    for (const auto& delivered : collector.frames()) {
        if (delivered.dataType != KX_DATA_AAC) continue;
        checkAudioFrame(inner(delivered), KX_DATA_AAC, TestRtspServer::kAacChannels,
                        TestRtspServer::kAacSampleRate);
    }
    EXPECT_NE(logText().find("[CLiveClient::ContinueAfterSETUP] RealHandle:0, create aac audio "
                             "data sink, fmtp_mode(AAC-hbr), channel(2), sampleRate(16000).\n"),
              std::string::npos)
        << logText();
}

TEST_F(LiveFrames, PcmaFramesAreAlaw) {
    ASSERT_NO_FATAL_FAILURE(collect(TestRtspServer::kPcma, false, KX_DATA_PCMA));
    size_t bytes = 0;
    for (const auto& delivered : collector.frames()) {
        ASSERT_EQ(delivered.dataType, KX_DATA_PCMA);
        const InnerFrame frame = inner(delivered);
        checkAudioFrame(frame, KX_DATA_PCMA, 1, 8000);
        bytes += frame.payload.size();
    }
    EXPECT_GE(bytes, 10u * 80u);  // at least 10 ms of 8 kHz A-law per frame
}

TEST_F(ApiTest, Mpeg4FramesGetAStartCodeAndFrameTypeZero) {
    Testing::TempDir media;
    ASSERT_TRUE(Testing::generateMpeg4Video(media.file("v.mp4"), 150));
    TestRtspServer server;
    server.addMpeg4FileMount("/m4v", media.file("v.mp4"));
    ASSERT_TRUE(server.start());
    FrameCollector collector;
    const int32_t handle = playInto(collector, server.port(), "/m4v", false);
    ASSERT_GE(handle, 1000000);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_MPEG4, 10, 20s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);
    for (const auto& delivered : collector.frames()) {
        ASSERT_EQ(delivered.dataType, KX_DATA_MPEG4);
        const InnerFrame frame = inner(delivered);
        EXPECT_EQ(frame.frameType, KX_FRAME_OTHER);
        ASSERT_GT(frame.payload.size(), 8u);
        // 00 00 00 01 put in front, then the frame with its own MPEG-4 start code.
        EXPECT_EQ(Bytes(frame.payload.begin(), frame.payload.begin() + 7),
                  (Bytes{0, 0, 0, 1, 0, 0, 1}));
    }
}

}  // namespace
}  // namespace Brelso::ApiTests
