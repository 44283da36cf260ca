// The decode library fed by the stream library as the player does it: a real RTSP server on
// 127.0.0.1, each delivery of the data callback handed to KX_PLAY_InputData, and a ".qf"
// recording of the same stream played back afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "KXPlaySdk.h"
#include "KXRtspSdk.h"
#include "PlayMedia.h"
#include "TestRtspServer.h"
#include "TestTarget.h"

namespace {

using namespace playtest;

void onRealData(int32_t, uint32_t, uint8_t* buffer, uint32_t size, void* user) {
    KX_PLAY_InputData(static_cast<int32_t>(reinterpret_cast<intptr_t>(user)), buffer, size);
}

class StreamLibrary : public ::testing::TestWithParam<std::tuple<const char*, bool>> {
protected:
    void SetUp() override {
        ASSERT_EQ(KX_NET_Init(0, 0, 0), 1);
        server.addLiveMounts();
        ASSERT_TRUE(server.start(0)) << server.lastError();
    }
    void TearDown() override {
        server.stop();
        KX_NET_Cleanup();
    }
    Brelso::Testing::TestRtspServer server;
};

TEST_P(StreamLibrary, LiveStreamDecodesAndItsRecordingPlaysBack) {
    const auto& [path, tcp] = GetParam();
    const int port = KX_PLAY_OpenStream();
    ASSERT_GE(port, 0);
    TestTarget target(160, 120);
    DecodeRecorder dec;
    ASSERT_GE(KX_PLAY_SetPlayWnd(port, target.handle()), 0);
    ASSERT_GE(KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec), 0);
    ASSERT_GE(KX_PLAY_Play(port), 0);

    const int32_t login = KX_NET_Login("127.0.0.1", server.port(), "", "");
    ASSERT_GE(login, 0);
    const int32_t real = KX_NET_RealPlay(login, 0, 0, tcp ? 1 : 0, path, 0);
    ASSERT_GE(real, 0);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(real, &onRealData,
                                         reinterpret_cast<void*>(static_cast<intptr_t>(port))),
              1);
    const std::string qf = workDir() + "/live" + std::string(path).substr(1) + ".qf";
    ASSERT_EQ(KX_NET_SaveRealData(real, qf.c_str()), 1);

    ASSERT_TRUE(dec.waitVideo(40));
    ASSERT_TRUE(dec.waitAudio(10));
    ASSERT_TRUE(target.waitPresented(20));
    KX_NET_StopSaveRealData(real);
    // The player's order: the stream first, then the port.
    KX_NET_StopRealPlay(real);
    KX_NET_Logout(login);
    KX_PLAY_Stop(port);
    KX_PLAY_CloseStream(port);

    const auto live = dec.video();
    EXPECT_GT(live[0].info.nWidth, 0);
    for (size_t i = 1; i < live.size(); ++i) {
        EXPECT_GT(live[i].info.nStamp, live[i - 1].info.nStamp) << "picture " << i;
    }

    // The recording starts at a key frame and plays to its end.
    int64_t start = 0, end = 0;
    ASSERT_GE(KX_PLAY_GetFileTime(qf.c_str(), &start, &end), 0);
    EXPECT_LE(start, end);
    const int file = KX_PLAY_OpenFile(qf.c_str());
    ASSERT_GE(file, 0);
    DecodeRecorder played;
    EndRecorder ended;
    KX_PLAY_SetDecCallBack(file, &DecodeRecorder::callback, &played);
    KX_PLAY_SetFileEndCallBack(file, &EndRecorder::callback, &ended);
    KX_PLAY_SetSpeed(file, 3);
    KX_PLAY_Play(file);
    ASSERT_TRUE(ended.waitEnd());
    EXPECT_EQ(ended.count(), 1);
    const auto video = played.video();
    ASSERT_FALSE(video.empty());
    EXPECT_EQ(video[0].info.nWidth, live[0].info.nWidth);
    EXPECT_FALSE(played.audio().empty());
    KX_PLAY_Stop(file);
    KX_PLAY_CloseFile(file);
}

// A camera sending four slices per picture, with its parameter sets in front of every key
// slice: the recording plays back picture by picture, each whole, from its first picture on.
TEST(StreamLibraryRecording, MultiSliceRecordingPlaysBackWholePictures) {
    ASSERT_EQ(KX_NET_Init(0, 0, 0), 1);
    Brelso::Testing::TestRtspServer server;
    server.addMount({"/slices",
                     "( videotestsrc is-live=true pattern=ball ! "
                     "video/x-raw,width=320,height=240,framerate=25/1 ! clockoverlay ! "
                     "x264enc tune=zerolatency sliced-threads=true threads=4 "
                     "speed-preset=ultrafast key-int-max=10 ! video/x-h264,profile=baseline ! "
                     "rtph264pay name=pay0 pt=96 config-interval=-1 )"});
    ASSERT_TRUE(server.start(0)) << server.lastError();
    const int32_t login = KX_NET_Login("127.0.0.1", server.port(), "", "");
    ASSERT_GE(login, 0);
    const int32_t real = KX_NET_RealPlay(login, 0, 0, 1, "/slices", 0);
    ASSERT_GE(real, 0);
    std::atomic<int> videoFrames{0};
    ASSERT_EQ(KX_NET_SetRealDataCallBack(
                  real,
                  [](int32_t, uint32_t type, uint8_t*, uint32_t, void* user) {
                      if (type == KX_DATA_H264) ++*static_cast<std::atomic<int>*>(user);
                  },
                  &videoFrames),
              1);
    const std::string qf = workDir() + "/slices.qf";
    ASSERT_EQ(KX_NET_SaveRealData(real, qf.c_str()), 1);
    // About three key pictures of four slices each, plus the pictures between.
    for (int i = 0; i < 600 && videoFrames.load() < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GE(videoFrames.load(), 200);
    KX_NET_StopSaveRealData(real);
    KX_NET_StopRealPlay(real);
    KX_NET_Logout(login);
    server.stop();
    KX_NET_Cleanup();

    const QfDecode decoded = decodeQfVideo(qf);
    ASSERT_TRUE(decoded.opened);
    ASSERT_GT(decoded.slicePictures, 10);
    EXPECT_GT(decoded.slices, decoded.slicePictures) << "the camera sent one slice per picture";
    EXPECT_EQ(decoded.units, decoded.slicePictures);
    EXPECT_EQ(decoded.pictures, decoded.slicePictures);
    EXPECT_EQ(decoded.damaged, 0);
}

INSTANTIATE_TEST_SUITE_P(Mounts, StreamLibrary,
                         ::testing::Values(std::make_tuple("/h264aac", true),
                                           std::make_tuple("/h264pcmu", false),
                                           std::make_tuple("/h265pcmu", true),
                                           std::make_tuple("/h265pcmu", false)));

}  // namespace
