// Playing ".qf" recordings: pace, speed, pause, seek, time range, end callback.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "KXPlaySdk.h"
#include "PlayMedia.h"
#include "PortTable.h"
#include "TestTarget.h"

namespace {

using namespace playtest;

struct FilePort {
    int port = -1;
    TestTarget target{96, 72};
    DecodeRecorder dec;
    EndRecorder end;
    explicit FilePort(const std::string& path, bool avi = false) {
        port = avi ? KX_PLAY_OpenAviFile(path.c_str()) : KX_PLAY_OpenFile(path.c_str());
        if (port < 0) return;
        KX_PLAY_SetPlayWnd(port, target.handle());
        KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec);
        KX_PLAY_SetFileEndCallBack(port, &EndRecorder::callback, &end);
    }
    ~FilePort() {
        if (port < 0) return;
        KX_PLAY_Stop(port);
        KX_PLAY_CloseFile(port);
    }
};

TEST(QfPlayback, FileTimeIsTheRangeOfPresentationTimes) {
    int64_t start = 0, end = 0;
    ASSERT_GE(KX_PLAY_GetFileTime(standardQf().c_str(), &start, &end), 0);
    EXPECT_EQ(start, 1000);
    EXPECT_EQ(end, 1003);  // last picture at 1003.96 s
    EXPECT_LT(KX_PLAY_GetFileTime("/nonexistent/file.qf", &start, &end), 0);
    EXPECT_LT(KX_PLAY_GetFileTime(standardQf().c_str(), nullptr, &end), 0);
}

TEST(QfPlayback, PlaysEveryPictureOnceAndEndsOnce) {
    FilePort f(standardQf());
    ASSERT_GE(f.port, 0);
    KX_PLAY_SetSpeed(f.port, 3);
    ASSERT_GE(KX_PLAY_Play(f.port), 0);
    ASSERT_TRUE(f.end.waitEnd());
    const auto video = f.dec.video();
    EXPECT_EQ(video.size(), static_cast<size_t>(standardH264().videoFrames));
    for (size_t i = 1; i < video.size(); ++i) {
        EXPECT_EQ(video[i].info.nStamp - video[i - 1].info.nStamp, 40);
    }
    EXPECT_EQ(video[0].info.nFrameRate, 25);
    EXPECT_EQ(f.target.presented(), standardH264().videoFrames);
    EXPECT_EQ(f.end.port(), f.port);
    int64_t t = 0;
    ASSERT_GE(KX_PLAY_GetPlayTime(f.port, &t), 0);
    EXPECT_EQ(t, 1003);
    // The end is told once, however long the port stays open afterwards.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(f.end.count(), 1);
}

// At every speed each picture is shown, none twice, none skipped: the pictures presented
// match the media time that has passed.
class QfSpeed : public ::testing::TestWithParam<int> {};

TEST_P(QfSpeed, PresentsOnePicturePerFrameInterval) {
    const int level = GetParam();
    FilePort f(standardQf());
    ASSERT_GE(KX_PLAY_SetSpeed(f.port, level), 0);
    int32_t got = 99;
    ASSERT_GE(KX_PLAY_GetSpeed(f.port, &got), 0);
    EXPECT_EQ(got, level);
    KX_PLAY_Play(f.port);
    const size_t want = level < 0 ? 4 : 60;
    ASSERT_TRUE(f.dec.waitVideo(want));
    KX_PLAY_Pause(f.port, 1);
    const auto video = f.dec.video();
    const int64_t media = video.back().info.nStamp - video.front().info.nStamp;
    EXPECT_EQ(media, static_cast<int64_t>(video.size() - 1) * 40);
}

INSTANTIATE_TEST_SUITE_P(Levels, QfSpeed, ::testing::Values(-3, 0, 3));

TEST(QfPlayback, PauseHoldsThePictureAndResumeGoesOn) {
    FilePort f(standardQf());
    KX_PLAY_Play(f.port);
    ASSERT_TRUE(f.dec.waitVideo(3));
    ASSERT_GE(KX_PLAY_Pause(f.port, 1), 0);
    const size_t held = f.dec.video().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LE(f.dec.video().size(), held + 1);  // at most the picture already on its way
    const size_t paused = f.dec.video().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(f.dec.video().size(), paused);
    ASSERT_GE(KX_PLAY_Pause(f.port, 0), 0);
    KX_PLAY_SetSpeed(f.port, 3);
    ASSERT_TRUE(f.end.waitEnd());
    EXPECT_EQ(f.dec.video().size(), static_cast<size_t>(standardH264().videoFrames));
}

TEST(QfPlayback, SeekLandsOnTheKeyFrameAtOrBeforeTheTime) {
    FilePort f(standardQf());
    KX_PLAY_Pause(f.port, 1);
    KX_PLAY_Play(f.port);
    ASSERT_GE(KX_PLAY_SetPlayTime(f.port, 1002), 0);
    // Paused: the picture at the key frame is shown, then nothing more.
    ASSERT_TRUE(f.dec.waitVideo(1));
    auto video = f.dec.video();
    EXPECT_EQ(video[0].info.nStamp, 1002 * 1000);
    int64_t t = 0;
    ASSERT_GE(KX_PLAY_GetPlayTime(f.port, &t), 0);
    EXPECT_EQ(t, 1002);
    f.dec.clear();
    KX_PLAY_SetSpeed(f.port, 3);
    KX_PLAY_Pause(f.port, 0);
    ASSERT_TRUE(f.end.waitEnd());
    video = f.dec.video();
    ASSERT_FALSE(video.empty());
    EXPECT_EQ(video.front().info.nStamp, 1002 * 1000 + 40);
    EXPECT_EQ(video.size(), 49u);  // the rest of the clip after the shown picture
    // Seeking after the end plays again and ends again.
    f.dec.clear();
    ASSERT_GE(KX_PLAY_SetPlayTime(f.port, 1001), 0);
    ASSERT_TRUE(waitFor([&] { return f.end.count() == 2; }));
    EXPECT_EQ(f.dec.video().front().info.nStamp, 1001 * 1000);
}

TEST(QfPlayback, SeekBetweenKeyFramesGoesBackToTheEarlierOne) {
    // Key frames every 50 frames (two seconds): 1000 s and 1002 s.
    const Clip clip = makeVideo("gop50", "h264", "testsrc=size=160x120:rate=25", 4.0, 25, 50, 1000);
    const std::string path = writeQf("gop50.qf", clip);
    FilePort f(path);
    KX_PLAY_Play(f.port);
    KX_PLAY_Pause(f.port, 1);
    ASSERT_GE(KX_PLAY_SetPlayTime(f.port, 1001), 0);
    ASSERT_TRUE(waitFor([&] {
        const auto v = f.dec.video();
        return !v.empty() && v.back().info.nStamp == 1000 * 1000;
    }));
}

TEST(QfPlayback, StopAndPlayStartsFromTheBeginning) {
    FilePort f(standardQf());
    KX_PLAY_Play(f.port);
    ASSERT_TRUE(f.dec.waitVideo(5));
    ASSERT_GE(KX_PLAY_Stop(f.port), 0);
    const size_t stopped = f.dec.video().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(f.dec.video().size(), stopped);
    f.dec.clear();
    KX_PLAY_Play(f.port);
    ASSERT_TRUE(f.dec.waitVideo(1));
    EXPECT_EQ(f.dec.video()[0].info.nStamp, 1000 * 1000);
}

TEST(QfPlayback, AudioOnlyRecordingPlaysToItsEnd) {
    const Clip audio = makeAudio("audio_only", "mulaw", 8000, 1, 0.5, 20);
    const std::string path = writeQf("audio_only.qf", audio);
    FilePort f(path);
    KX_PLAY_OpenSound(f.port);
    KX_PLAY_Play(f.port);
    ASSERT_TRUE(f.end.waitEnd());
    EXPECT_EQ(f.dec.audio().size(), audio.frames.size());
    EXPECT_EQ(f.target.presented(), 0);
}

TEST(QfPlayback, MissingOrEmptyFilesDoNotOpen) {
    EXPECT_LT(KX_PLAY_OpenFile("/nonexistent/x.qf"), 0);
    EXPECT_LT(KX_PLAY_OpenFile(""), 0);
    EXPECT_LT(KX_PLAY_OpenFile(nullptr), 0);
    const std::string empty = workDir() + "/empty.qf";
    writeFile(empty, {});
    EXPECT_LT(KX_PLAY_OpenFile(empty.c_str()), 0);
    const std::string junk = workDir() + "/junk.qf";
    writeFile(junk, std::vector<uint8_t>(5000, 0x51));
    EXPECT_LT(KX_PLAY_OpenFile(junk.c_str()), 0);
}

}  // namespace
