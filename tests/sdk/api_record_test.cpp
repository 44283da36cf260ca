// Recording through the public API: the ".qf" file holds exactly the packaged frames the data
// callback received, from the first key frame after KX_NET_SaveRealData on, and no audio while
// the sound is switched off.
#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "H264Stream.h"
#include "RecordingDecode.h"
#include "ScriptedRtspServer.h"
#include "SdpText.h"
#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::PackagedFrame;
using Testing::ScriptedRtspServer;
using Testing::TestRtspServer;

std::vector<PackagedFrame> readRecording(const std::string& path) {
    std::vector<PackagedFrame> frames;
    std::string error;
    EXPECT_TRUE(Testing::parsePackagedFrames(Testing::readFile(path), frames, &error)) << error;
    return frames;
}

// Inner part of a recorded frame, as the data callback would have received it.
Bytes innerBytes(const Bytes& file, size_t offset, uint32_t length) {
    return Bytes(file.begin() + static_cast<long>(offset + KX_PKT_OFF_INNER),
                 file.begin() + static_cast<long>(offset + KX_PKT_OFF_INNER + length));
}

class Recording : public ApiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Recording, FileHoldsTheDeliveredFramesFromAKeyFrameOn) {
    const bool soundOn = GetParam();
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    // Over TCP: the file is checked for decoding without a single error, which a UDP packet
    // lost on a loaded machine would break.
    const int32_t handle = play(server.port(), TestRtspServer::kH264Pcmu, true);
    ASSERT_GE(handle, 1000000);
    if (!soundOn) {
        ASSERT_EQ(KX_NET_CloseSound(handle), 1);
    }
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H264, 5, 20s));

    const std::string path = m_dir.file("stream.qf");
    ASSERT_EQ(KX_NET_SaveRealData(handle, path.c_str()), 1);
    // Two key pictures later (the mount has one a second) the recording has started for sure.
    // A picture may come in several IDR slices: pictures are counted by presentation time.
    auto keyPictures = [](const std::vector<Delivered>& frames) {
        std::set<uint64_t> times;
        for (const auto& f : frames) {
            if (f.dataType != KX_DATA_H264 || f.bytes.size() <= KX_INNER_OFF_PAYLOAD) continue;
            if (Testing::readLe16(f.bytes.data() + KX_INNER_OFF_FRAME_TYPE) != KX_FRAME_IDR)
                continue;
            times.insert(uint64_t{Testing::readLe32(f.bytes.data())} << 32 |
                         Testing::readLe32(f.bytes.data() + 4));
        }
        return times.size();
    };
    const size_t keyPicturesBefore = keyPictures(collector.frames());
    ASSERT_TRUE(collector.waitFor(
        [&](const std::vector<Delivered>& frames) {
            return keyPictures(frames) >= keyPicturesBefore + 2;
        },
        20s));
    ASSERT_EQ(KX_NET_StopSaveRealData(handle), 1);
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);

    const Bytes file = Testing::readFile(path);
    const auto recorded = readRecording(path);
    ASSERT_GT(recorded.size(), 10u);
    // The file begins with the stream's latest parameter sets, stamped with the key frame's
    // presentation time, then that key frame: it decodes from its first picture.
    const uint16_t firstTypes[] = {KX_FRAME_SPS, KX_FRAME_PPS, KX_FRAME_IDR};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(recorded[i].inner.dataType, KX_DATA_H264) << "frame " << i;
        EXPECT_EQ(recorded[i].inner.frameType, firstTypes[i]) << "frame " << i;
        EXPECT_EQ(recorded[i].inner.ptsSeconds, recorded[2].inner.ptsSeconds) << "frame " << i;
        EXPECT_EQ(recorded[i].inner.ptsMicroseconds, recorded[2].inner.ptsMicroseconds);
    }
    const auto decode =
        Testing::decodeRecordedVideo(recorded, KX_DATA_H264, m_dir.file("stream.h264"));
    ASSERT_TRUE(decode.ran) << decode.output;
    EXPECT_EQ(decode.firstPicture, "I") << decode.output;
    EXPECT_EQ(decode.errors, 0u) << decode.output;
    // The server repeats the parameter sets between the slices of a key picture, where the
    // decoder begins a new picture: more may be counted, none may be missing.
    EXPECT_GE(decode.decoded, decode.pictures) << decode.output;
    size_t audio = 0;
    for (const auto& frame : recorded) {
        EXPECT_EQ(frame.reserved, 0u);
        if (frame.inner.frameType == KX_FRAME_IDR) {
            EXPECT_GT(frame.wallClockSeconds, 1500000000u);  // the recording's wall-clock time
        } else {
            EXPECT_EQ(frame.wallClockSeconds, 0u);
        }
        if (frame.inner.audio) ++audio;
    }
    if (soundOn) {
        EXPECT_GT(audio, 0u);
    } else {
        EXPECT_EQ(audio, 0u);
        EXPECT_EQ(collector.count(KX_DATA_PCMU), 0u);
    }

    // Frame by frame the file equals what the callback got, starting at the recorded key frame.
    const auto delivered = collector.frames();
    const size_t keyOffset = recorded[0].length + recorded[1].length + 2 * KX_PKT_OVERHEAD;
    const Bytes first = innerBytes(file, keyOffset, recorded[2].length);
    size_t start = delivered.size();
    for (size_t i = 0; i < delivered.size(); ++i) {
        if (delivered[i].bytes == first) {
            start = i;
            break;
        }
    }
    ASSERT_LT(start, delivered.size()) << "the first recorded frame was never delivered";
    size_t offset = keyOffset;
    for (size_t i = 2; i < recorded.size(); ++i) {
        ASSERT_LT(start + i - 2, delivered.size());
        EXPECT_EQ(innerBytes(file, offset, recorded[i].length), delivered[start + i - 2].bytes)
            << "recorded frame " << i;
        offset += recorded[i].length + KX_PKT_OVERHEAD;
    }
}

INSTANTIATE_TEST_SUITE_P(Sound, Recording, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST_F(ApiTest, RecordingRefusesAFileThatCannotBeCreated) {
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), TestRtspServer::kPcma, false);
    ASSERT_GE(handle, 1000000);
    const std::string path = m_dir.file("no/such/folder/x.qf");
    EXPECT_EQ(KX_NET_SaveRealData(handle, path.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(KX_NET_StopSaveRealData(handle), 1);
    EXPECT_GE(logLines("File open failed"), 1u);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

// Records a playing stream while `frames` more frames of the data type are delivered; returns
// the recording.
std::vector<PackagedFrame> recordWhile(int32_t handle, uint16_t dataType, size_t frames,
                                       const std::string& path) {
    FrameCollector collector;
    EXPECT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    EXPECT_TRUE(collector.waitForCount(dataType, 3, 20s));
    EXPECT_EQ(KX_NET_SaveRealData(handle, path.c_str()), 1);
    const size_t from = collector.count(dataType);
    EXPECT_TRUE(collector.waitForCount(dataType, from + frames, 30s));
    EXPECT_EQ(KX_NET_StopSaveRealData(handle), 1);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
    return readRecording(path);
}

// The elementary stream of `path`: an H.264 or MPEG-4 part 2 test pattern written by ffmpeg.
bool encode(const std::string& path, const std::string& codec, const std::string& format) {
    return Testing::runProgram({"ffmpeg",    "-nostdin", "-v",
                                "error",     "-y",       "-f",
                                "lavfi",     "-i",       "testsrc=size=160x120:rate=15",
                                "-frames:v", "45",       "-c:v",
                                codec,       "-g",       "15",
                                "-bf",       "0",        "-pix_fmt",
                                "yuv420p",   "-f",       format,
                                path});
}

// A camera that sends its H.264 parameter sets only in the session description: the file
// still begins with SPS, PPS and the key frame, and decodes from its first picture.
TEST_F(ApiTest, RecordingOfSdpOnlyParameterSetsDecodesFromItsFirstFrame) {
    ASSERT_TRUE(encode(m_dir.file("in.h264"), "libx264", "h264"));
    const auto nals = Testing::splitAnnexB(Testing::readFile(m_dir.file("in.h264")));
    std::vector<Bytes> slices;
    for (const auto& nal : nals) {
        if (Testing::nalType(nal) != 7 && Testing::nalType(nal) != 8) slices.push_back(nal);
    }
    ScriptedRtspServer server;
    server.setSdp(Testing::sdpSession({Testing::sdpH264(0, Testing::spropParameterSets(nals))}));
    server.setTrackPlan(0, Testing::h264Plan(slices, 30, true, 1000));
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    const auto recorded = recordWhile(handle, KX_DATA_H264, 60, m_dir.file("sdp.qf"));
    ASSERT_GT(recorded.size(), 3u);
    EXPECT_EQ(recorded[0].inner.frameType, KX_FRAME_SPS);
    EXPECT_EQ(recorded[1].inner.frameType, KX_FRAME_PPS);
    EXPECT_EQ(recorded[2].inner.frameType, KX_FRAME_IDR);
    const Bytes sps(recorded[0].inner.payload.begin() + 4, recorded[0].inner.payload.end());
    EXPECT_EQ(sps, nals[0]);
    const auto decode = Testing::decodeRecordedVideo(recorded, KX_DATA_H264, m_dir.file("o.h264"));
    ASSERT_TRUE(decode.ran) << decode.output;
    EXPECT_GT(decode.pictures, 15u);
    EXPECT_EQ(decode.firstPicture, "I") << decode.output;
    EXPECT_EQ(decode.errors, 0u) << decode.output;
    EXPECT_EQ(decode.decoded, decode.pictures) << decode.output;
}

// MPEG-4 part 2: the recording starts at an intra-coded picture (frame type stays 0) with the
// stream's configuration in front, from the stream (a real server repeating it) or only from
// the session description's "config" (the scripted camera); either way it decodes from its
// first picture once the 00 00 00 01 of each packaged frame is taken off.
class Mpeg4Recording : public ApiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Mpeg4Recording, StartsAtAnIntraPictureWithTheConfigurationInFront) {
    const bool sdpOnly = GetParam();
    TestRtspServer real;
    ScriptedRtspServer scripted;
    Bytes config;
    uint16_t port = 0;
    if (sdpOnly) {
        ASSERT_TRUE(encode(m_dir.file("in.m4v"), "mpeg4", "m4v"));
        const Bytes stream = Testing::readFile(m_dir.file("in.m4v"));
        // Split at the start codes: the headers before the first picture are the
        // configuration, each picture (VOP) is sent alone; later headers are left out.
        std::vector<size_t> starts;
        for (size_t i = 0; i + 3 < stream.size(); ++i) {
            if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) starts.push_back(i);
        }
        starts.push_back(stream.size());
        std::vector<Bytes> pictures;
        for (size_t k = 0; k + 1 < starts.size(); ++k) {
            const Bytes part(stream.begin() + static_cast<long>(starts[k]),
                             stream.begin() + static_cast<long>(starts[k + 1]));
            if (part[3] == 0xB6) {
                pictures.push_back(part);
            } else if (pictures.empty()) {
                config.insert(config.end(), part.begin(), part.end());
            }
        }
        ASSERT_GT(pictures.size(), 30u);
        std::string hex;
        for (uint8_t b : config) {
            static const char* digits = "0123456789ABCDEF";
            hex += digits[b >> 4];
            hex += digits[b & 15];
        }
        scripted.setSdp(Testing::sdpSession({Testing::sdpMedia(
            0, "video", 96, "MP4V-ES/90000", "profile-level-id=1;config=" + hex)}));
        // Starting with P pictures: the recording waits for an intra one.
        std::rotate(pictures.begin(), pictures.begin() + 3, pictures.end());
        scripted.setTrackPlan(0, Testing::singlePacketPlan(96, pictures, 66, 6000, true));
        ASSERT_TRUE(scripted.start());
        port = scripted.port();
    } else {
        ASSERT_TRUE(Testing::generateMpeg4Video(m_dir.file("v.mp4"), 150));
        real.addMpeg4FileMount("/stream", m_dir.file("v.mp4"));
        ASSERT_TRUE(real.start());
        port = real.port();
    }
    const int32_t handle = play(port, "/stream", false);
    ASSERT_GE(handle, 1000000);
    const auto recorded = recordWhile(handle, KX_DATA_MPEG4, 40, m_dir.file("m4v.qf"));
    ASSERT_GT(recorded.size(), 2u);
    for (const auto& frame : recorded) {
        EXPECT_EQ(frame.inner.dataType, KX_DATA_MPEG4);
        EXPECT_EQ(frame.inner.frameType, KX_FRAME_OTHER);
        ASSERT_GT(frame.inner.payload.size(), 8u);
        EXPECT_EQ(Bytes(frame.inner.payload.begin(), frame.inner.payload.begin() + 7),
                  (Bytes{0, 0, 0, 1, 0, 0, 1}));
    }
    // First the configuration (VOS/VOL headers, no picture), then the intra picture, both
    // with its presentation time.
    const Bytes& first = recorded[0].inner.payload;
    EXPECT_EQ(first[7], 0xB0) << "the configuration begins with its VOS header";
    if (sdpOnly) {
        EXPECT_EQ(Bytes(first.begin() + 4, first.end()), config);
    }
    EXPECT_EQ(recorded[0].inner.ptsSeconds, recorded[1].inner.ptsSeconds);
    EXPECT_EQ(recorded[0].inner.ptsMicroseconds, recorded[1].inner.ptsMicroseconds);
    const auto decode = Testing::decodeRecordedVideo(recorded, KX_DATA_MPEG4, m_dir.file("o.m4v"));
    ASSERT_TRUE(decode.ran) << decode.output;
    EXPECT_GT(decode.pictures, 20u);
    EXPECT_EQ(decode.firstPicture, "I") << decode.output;
    EXPECT_EQ(decode.errors, 0u) << decode.output;
    EXPECT_EQ(decode.decoded, decode.pictures) << decode.output;
}

INSTANTIATE_TEST_SUITE_P(Configuration, Mpeg4Recording, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "SdpOnly" : "InStream"; });

}  // namespace
}  // namespace Brelso::ApiTests
