// JPEG snapshots of the picture shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "KXPlaySdk.h"
#include "PlayMedia.h"
#include "TestTarget.h"

namespace {

using namespace playtest;

int openShowing(DecodeRecorder& dec, int rotate) {
    const int port = KX_PLAY_OpenFile(standardQf().c_str());
    KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec);
    KX_PLAY_SetRotate(port, rotate);
    KX_PLAY_Pause(port, 1);
    KX_PLAY_Play(port);
    KX_PLAY_SetPlayTime(port, 1001);
    return port;
}

// The shown picture of the 320x240 recording, as rotated, written as a JPEG file.
struct Shot {
    const char* name;
    int rotate;
    const char* file;
    int width, height;
};

class SnapshotOfShownPicture : public ::testing::TestWithParam<Shot> {};

TEST_P(SnapshotOfShownPicture, IsAJpegOfItsSize) {
    const Shot& shot = GetParam();
    DecodeRecorder dec;
    const int port = openShowing(dec, shot.rotate);
    ASSERT_TRUE(dec.waitVideo(1));
    const std::string path = workDir() + "/" + shot.file;
    ASSERT_GE(KX_PLAY_CapturePicture(port, path.c_str(), 0), 0);
    int w = 0, h = 0;
    ASSERT_TRUE(decodeJpeg(path, w, h));
    EXPECT_EQ(w, shot.width);
    EXPECT_EQ(h, shot.height);
    KX_PLAY_Stop(port);
    KX_PLAY_CloseFile(port);
}

INSTANTIATE_TEST_SUITE_P(
    Snapshot, SnapshotOfShownPicture,
    ::testing::Values(Shot{"WritesTheShownPictureAsJpeg", 0, "shot.jpg", 320, 240},
                      Shot{"FollowsTheRotation", 1, "shot_rotated.jpg", 240, 320}),
    [](const ::testing::TestParamInfo<Shot>& info) { return std::string(info.param.name); });

TEST(Snapshot, FailsWithoutPictureAndLeavesNoFile) {
    const int port = KX_PLAY_OpenStream();
    const std::string dir = workDir() + "/shots_none";
    std::filesystem::create_directory(dir);
    const std::string path = dir + "/none.jpg";
    EXPECT_LT(KX_PLAY_CapturePicture(port, path.c_str(), 0), 0);
    EXPECT_TRUE(listDir(dir).empty());
    EXPECT_LT(KX_PLAY_CapturePicture(port, nullptr, 0), 0);
    KX_PLAY_CloseStream(port);
}

TEST(Snapshot, FailsForAnUnwritablePathAndLeavesNoPartialFile) {
    DecodeRecorder dec;
    const int port = openShowing(dec, 0);
    ASSERT_TRUE(dec.waitVideo(1));
    EXPECT_LT(KX_PLAY_CapturePicture(port, "/nonexistent-dir/x/shot.jpg", 0), 0);
    // A folder in place of the file name: the rename fails, the temporary file is removed.
    const std::string dir = workDir() + "/shots_blocked";
    std::filesystem::create_directories(dir + "/target.jpg/inner");
    EXPECT_LT(KX_PLAY_CapturePicture(port, (dir + "/target.jpg").c_str(), 0), 0);
    const auto names = listDir(dir);
    EXPECT_EQ(names, std::vector<std::string>{"target.jpg"});
    KX_PLAY_Stop(port);
    KX_PLAY_CloseFile(port);
}

}  // namespace
