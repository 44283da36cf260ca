// Play position from the presentation times of H.264 frames.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "CLiveClient.h"

namespace kx::sdk {
namespace {

// One H.264 frame's presentation time, and the position expected after it (if checked).
struct Step {
    int64_t seconds;
    int64_t microseconds;
    std::optional<int32_t> position;
};

struct PositionCase {
    const char* name;
    std::vector<Step> steps;
};

class PositionTest : public ::testing::TestWithParam<PositionCase> {};

TEST_P(PositionTest, FollowsTheFrames) {
    CLiveClient client(1000);
    EXPECT_EQ(client.GetCurrentTime(), 0);
    for (size_t i = 0; i < GetParam().steps.size(); ++i) {
        const Step& step = GetParam().steps[i];
        client.UpdateCurrentTime(step.seconds, step.microseconds);
        if (step.position) {
            EXPECT_EQ(client.GetCurrentTime(), *step.position) << "step " << i;
        }
    }
}

constexpr int64_t kHours3 = 3 * 3600;

INSTANTIATE_TEST_SUITE_P(
    CurrentTimeTest, PositionTest,
    ::testing::Values(PositionCase{"FollowsPresentationTimesFromTheFirstFrame",
                                   {{10, 0, 0}, {10, 40000, 40}, {10, 80000, 80}}},
                      PositionCase{"JumpOfHoursKeepsThePositionAndGoesOnFromThere",
                                   {{10, 0, {}},
                                    {10, 80000, {}},
                                    {10 + kHours3, 80000, 80},
                                    {10 + kHours3, 120000, 120},
                                    {10, 160000, 120},  // back below the new time base: ignored
                                    {10 + kHours3, 160000, 160}}},
                      PositionCase{
                          "FrameBeforeTheTimeBaseIsIgnored",
                          {{100, 0, {}}, {101, 0, {}}, {99, 0, 1000}, {102, 500000, 2500}}},
                      // B-frame order: less than 2 s back.
                      PositionCase{"SmallStepsBackwardAreFollowed",
                                   {{50, 0, {}}, {51, 0, {}}, {50, 500000, 500}}}),
    [](const ::testing::TestParamInfo<PositionCase>& info) { return info.param.name; });

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
