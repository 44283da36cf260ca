// AVI files through libavformat, also when named with an upper-case extension.
#include <gtest/gtest.h>

#include <filesystem>

#include "KXPlaySdk.h"
#include "PlayMedia.h"
#include "TestTarget.h"

namespace {

using namespace playtest;

const std::string& aviFile() {
    static const std::string path = [] {
        const std::string p = workDir() + "/clip.avi";
        const bool ok = runFfmpeg(
            "-f lavfi -i testsrc=size=176x144:rate=25 -f lavfi -i sine=frequency=300:"
            "sample_rate=8000 -t 3 -c:v mpeg4 -g 25 -bf 0 -c:a pcm_s16le -ac 1 " +
            p);
        EXPECT_TRUE(ok);
        return p;
    }();
    return path;
}

TEST(AviFile, TimeRange) {
    int64_t start = -1, end = -1;
    ASSERT_GE(KX_PLAY_GetAviFileTime(aviFile().c_str(), &start, &end), 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 3);
    // By content: the ".qf" function answers for an AVI file too.
    ASSERT_GE(KX_PLAY_GetFileTime(aviFile().c_str(), &start, &end), 0);
    EXPECT_EQ(end, 3);
    EXPECT_LT(KX_PLAY_GetAviFileTime(standardQf().c_str(), &start, &end), 0);
}

TEST(AviFile, PlaysPicturesAndSoundToTheEnd) {
    const int port = KX_PLAY_OpenAviFile(aviFile().c_str());
    ASSERT_GE(port, 0);
    DecodeRecorder dec;
    EndRecorder end;
    TestTarget target(88, 72);
    KX_PLAY_SetPlayWnd(port, target.handle());
    KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec);
    KX_PLAY_SetFileEndCallBack(port, &EndRecorder::callback, &end);
    KX_PLAY_OpenSound(port);
    KX_PLAY_SetSpeed(port, 3);
    KX_PLAY_Play(port);
    ASSERT_TRUE(end.waitEnd());
    const auto video = dec.video();
    EXPECT_EQ(video.size(), 75u);
    EXPECT_EQ(video[0].info.nWidth, 176);
    EXPECT_EQ(video[0].info.nFrameRate, 25);
    EXPECT_EQ(video.back().info.nStamp - video.front().info.nStamp, 74 * 40);
    EXPECT_FALSE(dec.audio().empty());
    EXPECT_EQ(target.presented(), 75);
    KX_PLAY_Stop(port);
    EXPECT_GE(KX_PLAY_CloseAviFile(port), 0);
}

// Files that only claim to be AVI: FFmpeg would open each by its content (an MP4, a playlist
// naming another file, a network address), the library refuses them.
class NotAvi : public ::testing::TestWithParam<const char*> {};

TEST_P(NotAvi, IsRefused) {
    const std::string kind = GetParam();
    const std::string mp4 = workDir() + "/real.mp4";
    ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc=size=176x144:rate=25 -t 1 -c:v mpeg4 " + mp4));
    std::string path = workDir() + "/" + kind + ".avi";
    if (kind == "mp4") {
        std::filesystem::copy_file(mp4, path, std::filesystem::copy_options::overwrite_existing);
    } else if (kind == "playlist") {
        writeFile(path, [&] {
            const std::string text = "ffconcat version 1.0\nfile 'real.mp4'\n";
            return std::vector<uint8_t>(text.begin(), text.end());
        }());
    } else {
        path = "concat:" + aviFile() + "|" + aviFile();  // a protocol, not a plain file
    }
    EXPECT_LT(KX_PLAY_OpenAviFile(path.c_str()), 0);
    int64_t start = 0, end = 0;
    EXPECT_LT(KX_PLAY_GetAviFileTime(path.c_str(), &start, &end), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotAvi, ::testing::Values("mp4", "playlist", "protocol"));

TEST(AviFile, UpperCaseExtensionOpensThroughOpenFile) {
    const std::string upper = workDir() + "/CLIP.AVI";
    std::filesystem::copy_file(aviFile(), upper, std::filesystem::copy_options::overwrite_existing);
    const int port = KX_PLAY_OpenFile(upper.c_str());
    ASSERT_GE(port, 0);
    DecodeRecorder dec;
    KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec);
    KX_PLAY_Pause(port, 1);
    KX_PLAY_Play(port);
    ASSERT_GE(KX_PLAY_SetPlayTime(port, 2), 0);
    ASSERT_TRUE(dec.waitVideo(1));
    EXPECT_EQ(dec.video()[0].info.nStamp, 2000);
    int64_t t = 0;
    ASSERT_GE(KX_PLAY_GetPlayTime(port, &t), 0);
    EXPECT_EQ(t, 2);
    KX_PLAY_Stop(port);
    KX_PLAY_CloseFile(port);
}

}  // namespace
