// The pacing clock on made-up times: which wall time each presentation time is due at.
#include <gtest/gtest.h>

#include "PacingClock.h"

namespace {

using kx::play::PacingClock;

TEST(PacingClock, NormalSpeedFollowsMediaTime) {
    PacingClock c;
    c.start(5'000'000, 100);
    EXPECT_EQ(c.dueAt(5'000'000), 100);
    EXPECT_EQ(c.dueAt(5'040'000), 40'100);
    EXPECT_EQ(c.mediaAt(1'000'100), 6'000'000);
}

TEST(PacingClock, LevelsScaleByPowersOfTwo) {
    for (int level = -3; level <= 3; ++level) {
        PacingClock c;
        c.setLevel(level, 0);
        c.start(0, 0);
        const int64_t wall = level >= 0 ? 800'000 >> level : 800'000 << -level;
        EXPECT_EQ(c.dueAt(800'000), wall) << "level " << level;
        EXPECT_EQ(c.mediaAt(wall), 800'000) << "level " << level;
    }
}

TEST(PacingClock, SpeedChangeKeepsTheMediaTimeReached) {
    PacingClock c;
    c.start(0, 0);
    c.setLevel(3, 1'000'000);  // one second of media played at normal speed
    EXPECT_EQ(c.mediaAt(1'000'000), 1'000'000);
    EXPECT_EQ(c.dueAt(2'000'000), 1'125'000);  // the next second takes an eighth
    c.setLevel(-3, 1'125'000);
    EXPECT_EQ(c.dueAt(2'100'000), 1'125'000 + 800'000);
}

TEST(PacingClock, PausedTimeDoesNotCount) {
    PacingClock c;
    c.start(0, 0);
    c.pause(400'000);
    EXPECT_EQ(c.mediaAt(10'000'000), 400'000);
    c.resume(10'000'000);
    EXPECT_EQ(c.dueAt(440'000), 10'040'000);
    c.setLevel(9, 10'000'000);  // out of range: clamped to 3
    EXPECT_EQ(c.level(), 3);
}

}  // namespace
