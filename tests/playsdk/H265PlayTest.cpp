// H.265 in the decode library: live NAL units into pictures, a live port that falls behind,
// ".qf" recordings with seeking, file time and snapshots.
#include <gtest/gtest.h>

#include "BitstreamInfo.h"
#include "KXPlaySdk.h"
#include "PackagedFrame.h"
#include "PlayMedia.h"
#include "PortTable.h"
#include "StreamInputQueue.h"
#include "TestTarget.h"

namespace {

using namespace playtest;

// 320x240, 25 fps, an IRAP picture with its parameter sets every 25 frames, four seconds.
const Clip& standardH265() {
    static const Clip clip =
        makeVideo("standard265", "h265", "testsrc=size=320x240:rate=25", 4.0, 25, 25, 1000);
    return clip;
}

kx::play::PortStats statsOf(int port) {
    return kx::play::PortTable::instance().get(port)->stats();
}

// Fed as a camera would: never far ahead of decoding.
void feedPaced(int port, const Clip& clip) {
    auto p = kx::play::PortTable::instance().get(port);
    int sinceWait = 0;
    for (const auto& d : clip.frames) {
        ASSERT_GE(KX_PLAY_InputData(port, d.inner(), d.innerSize()), 0);
        if (++sinceWait == 8) {
            sinceWait = 0;
            ASSERT_TRUE(waitFor([&] { return p->queued() == 0; }));
        }
    }
}

// (name, x265 parameters): one slice per picture, and pictures of four slices each
// delivered as four NAL units.
class H265Live : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(H265Live, NalUnitsDecodeToEveryPicture) {
    const auto& [name, params] = GetParam();
    const Clip clip =
        std::string(params).empty()
            ? standardH265()
            : makeVideo(std::string("live265_") + name, "h265", "testsrc=size=320x240:rate=25", 2.0,
                        25, 25, 1000, std::string("-x265-params ") + params);
    TestTarget target(160, 120);
    DecodeRecorder dec;
    const int port = KX_PLAY_OpenStream();
    ASSERT_GE(port, 0);
    KX_PLAY_SetPlayWnd(port, target.handle());
    KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec);
    ASSERT_GE(KX_PLAY_Play(port), 0);
    feedPaced(port, clip);
    // A picture goes to the decoder when the next one begins: all but the last.
    const size_t expected = static_cast<size_t>(clip.videoFrames) - 1;
    ASSERT_TRUE(dec.waitVideo(expected));
    const auto video = dec.video();
    EXPECT_EQ(video.size(), expected);
    EXPECT_EQ(video[0].info.nWidth, 320);
    EXPECT_EQ(video[0].info.nHeight, 240);
    EXPECT_EQ(video[0].info.nStamp, 1000 * 1000);
    for (size_t i = 1; i < video.size(); ++i) {
        EXPECT_EQ(video[i].info.nStamp - video[i - 1].info.nStamp, 40) << "picture " << i;
    }
    ASSERT_TRUE(target.waitPresented(1));
    const auto st = statsOf(port);
    EXPECT_EQ(st.undecodable, 0u);
    EXPECT_EQ(st.decodeErrors, 0u);
    KX_PLAY_Stop(port);
    KX_PLAY_CloseStream(port);
}

INSTANTIATE_TEST_SUITE_P(Slices, H265Live,
                         ::testing::Values(std::make_pair("OneSlice", ""),
                                           std::make_pair("FourSlices",
                                                          "log-level=error:bframes=0:scenecut=0:"
                                                          "keyint=25:min-keyint=25:slices=4")),
                         [](const auto& info) { return std::string(info.param.first); });

// A live port held up while a stream with parameter sets in front of every key frame comes
// in: the queue drops to its newest key, which must be the parameter sets of that key frame,
// not the key frame without them.
TEST(H265LiveQueue, DropToTheNewestKeyFrameKeepsItsParameterSets) {
    const Clip& clip = standardH265();
    kx::play::StreamInputQueue::Limits limits;
    limits.maxLagUs = 1500000;  // falls behind in the middle of a group of pictures
    kx::play::StreamInputQueue queue(limits);
    for (const auto& d : clip.frames) {
        const auto f = kx::frame::parseInner(d.inner(), d.innerSize());
        ASSERT_TRUE(f);
        // As the port marks them.
        kx::play::StreamInputQueue::Meta meta;
        meta.ptsUs = d.ptsUs;
        meta.video = true;
        meta.key = kx::play::isKeyFrame(f->dataType, f->frameType, f->payload, f->payloadSize);
        meta.parameterSet =
            kx::play::parameterSetKind(f->dataType, f->frameType, f->payload, f->payloadSize);
        queue.push(d.inner(), d.innerSize(), meta);
    }
    ASSERT_GT(queue.dropped(), 0u);
    std::vector<uint16_t> types;
    std::vector<uint8_t> out;
    kx::play::StreamInputQueue::Meta meta;
    while (queue.pop(out, meta)) {
        types.push_back(kx::frame::parseInner(out.data(), out.size())->frameType);
        if (types.back() == KX_FRAME_IDR) break;
    }
    // The parameter sets, maybe SEI, then the key frame.
    ASSERT_GE(types.size(), 4u);
    EXPECT_EQ(std::vector<uint16_t>(types.begin(), types.begin() + 3),
              (std::vector<uint16_t>{KX_FRAME_VPS, KX_FRAME_SPS, KX_FRAME_PPS}));
    EXPECT_EQ(types.back(), KX_FRAME_IDR);
    EXPECT_EQ(meta.ptsUs % 1000000, 0);
}

const std::string& h265Qf() {
    static const std::string path = [] {
        const Clip audio = makeAudio("h265_aac", "aac", 48000, 2, 4.0, 1000);
        return writeQf("h265.qf", interleave(standardH265(), audio));
    }();
    return path;
}

TEST(H265File, PlaysEveryPictureAndKnowsItsTime) {
    int64_t start = 0, end = 0;
    ASSERT_GE(KX_PLAY_GetFileTime(h265Qf().c_str(), &start, &end), 0);
    EXPECT_EQ(start, 1000);
    EXPECT_EQ(end, 1003);
    TestTarget target(96, 72);
    DecodeRecorder dec;
    EndRecorder ended;
    const int port = KX_PLAY_OpenFile(h265Qf().c_str());
    ASSERT_GE(port, 0);
    KX_PLAY_SetPlayWnd(port, target.handle());
    KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec);
    KX_PLAY_SetFileEndCallBack(port, &EndRecorder::callback, &ended);
    KX_PLAY_SetSpeed(port, 3);
    ASSERT_GE(KX_PLAY_Play(port), 0);
    ASSERT_TRUE(ended.waitEnd());
    const auto video = dec.video();
    EXPECT_EQ(video.size(), static_cast<size_t>(standardH265().videoFrames));
    for (size_t i = 1; i < video.size(); ++i) {
        EXPECT_EQ(video[i].info.nStamp - video[i - 1].info.nStamp, 40) << i;
    }
    EXPECT_EQ(video[0].info.nWidth, 320);
    KX_PLAY_Stop(port);
    KX_PLAY_CloseFile(port);
}

TEST(H265File, SeekLandsOnTheIrapPictureAndSnapshots) {
    DecodeRecorder dec;
    const int port = KX_PLAY_OpenFile(h265Qf().c_str());
    ASSERT_GE(port, 0);
    KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec);
    KX_PLAY_SetRotate(port, 1);
    KX_PLAY_Pause(port, 1);
    KX_PLAY_Play(port);
    ASSERT_GE(KX_PLAY_SetPlayTime(port, 1002), 0);
    ASSERT_TRUE(dec.waitVideo(1));
    EXPECT_EQ(dec.video()[0].info.nStamp, 1002 * 1000);
    const std::string path = workDir() + "/h265.jpg";
    ASSERT_GE(KX_PLAY_CapturePicture(port, path.c_str(), 0), 0);
    int w = 0, h = 0;
    ASSERT_TRUE(decodeJpeg(path, w, h));
    EXPECT_EQ(w, 240);  // turned a quarter
    EXPECT_EQ(h, 320);
    KX_PLAY_Stop(port);
    KX_PLAY_CloseFile(port);
}

}  // namespace
