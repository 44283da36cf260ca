// Play position from the presentation times of H.264 frames.
#include <gtest/gtest.h>

#include "CLiveClient.h"

namespace kx::sdk {
namespace {

TEST(CurrentTimeTest, FollowsPresentationTimesFromTheFirstFrame) {
    CLiveClient client(1000);
    EXPECT_EQ(client.GetCurrentTime(), 0);
    client.UpdateCurrentTime(10, 0);
    EXPECT_EQ(client.GetCurrentTime(), 0);
    client.UpdateCurrentTime(10, 40000);
    EXPECT_EQ(client.GetCurrentTime(), 40);
    client.UpdateCurrentTime(10, 80000);
    EXPECT_EQ(client.GetCurrentTime(), 80);
}

TEST(CurrentTimeTest, JumpOfHoursKeepsThePositionAndGoesOnFromThere) {
    CLiveClient client(1000);
    client.UpdateCurrentTime(10, 0);
    client.UpdateCurrentTime(10, 80000);
    client.UpdateCurrentTime(10 + 3 * 3600, 80000);
    EXPECT_EQ(client.GetCurrentTime(), 80);
    client.UpdateCurrentTime(10 + 3 * 3600, 120000);
    EXPECT_EQ(client.GetCurrentTime(), 120);
    client.UpdateCurrentTime(10, 160000);  // back below the new time base: ignored
    EXPECT_EQ(client.GetCurrentTime(), 120);
    client.UpdateCurrentTime(10 + 3 * 3600, 160000);
    EXPECT_EQ(client.GetCurrentTime(), 160);
}

TEST(CurrentTimeTest, FrameBeforeTheTimeBaseIsIgnored) {
    CLiveClient client(1000);
    client.UpdateCurrentTime(100, 0);
    client.UpdateCurrentTime(101, 0);
    client.UpdateCurrentTime(99, 0);
    EXPECT_EQ(client.GetCurrentTime(), 1000);
    client.UpdateCurrentTime(102, 500000);
    EXPECT_EQ(client.GetCurrentTime(), 2500);
}

TEST(CurrentTimeTest, SmallStepsBackwardAreFollowed) {
    CLiveClient client(1000);
    client.UpdateCurrentTime(50, 0);
    client.UpdateCurrentTime(51, 0);
    client.UpdateCurrentTime(50, 500000);  // B-frame order: less than 2 s back
    EXPECT_EQ(client.GetCurrentTime(), 500);
}

TEST(CurrentTimeTest, NewSessionKnowsNoLength) {
    CLiveClient client(1000);
    EXPECT_EQ(client.GetVideoLength(), -3);
    EXPECT_EQ(client.VideoLength(), CLiveClient::kUnknownLength);
    EXPECT_EQ(client.GetState(), CLiveClient::Idle);
    EXPECT_TRUE(client.SoundOn());
    EXPECT_FALSE(client.Stop());          // nothing to stop
    EXPECT_EQ(client.SeekAndPlay(0), 0);  // not playing
}

}  // namespace
}  // namespace kx::sdk
