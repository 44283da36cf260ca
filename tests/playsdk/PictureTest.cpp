// Pictures handed to the render target: size, rotation, fill and letterbox.
#include <gtest/gtest.h>

#include "KXPlaySdk.h"
#include "PictureConverter.h"
#include "PlayMedia.h"
#include "TestTarget.h"

namespace {

using namespace playtest;

// 160x120, left half blue, right half red.
const std::string& halvesQf() {
    static const std::string path = [] {
        const Clip clip =
            makeVideo("halves", "h264",
                      "color=c=red:s=160x120:r=25,drawbox=x=0:y=0:w=80:h=120:color=blue:t=fill",
                      1.0, 25, 25, 10);
        return writeQf("halves.qf", clip);
    }();
    return path;
}

enum class Colour { Blue, Red, Black, Other };

Colour colourAt(const TestTarget& t, int x, int y) {
    int b = 0, g = 0, r = 0;
    t.pixel(x, y, b, g, r);
    if (b > 150 && r < 80 && g < 80) return Colour::Blue;
    if (r > 150 && b < 80 && g < 80) return Colour::Red;
    if (r < 16 && g < 16 && b < 16) return Colour::Black;
    return Colour::Other;
}

// Plays the clip paused at its first picture with the given settings.
void showFirstPicture(TestTarget& target, int rotate, int fillMode) {
    const int port = KX_PLAY_OpenFile(halvesQf().c_str());
    ASSERT_GE(port, 0);
    ASSERT_GE(KX_PLAY_SetPlayWnd(port, target.handle()), 0);
    ASSERT_GE(KX_PLAY_SetRotate(port, rotate), 0);
    ASSERT_NE(KX_PLAY_SetFillMode(port, fillMode), 0);
    KX_PLAY_Pause(port, 1);
    KX_PLAY_Play(port);
    KX_PLAY_SetPlayTime(port, 10);
    EXPECT_TRUE(target.waitPresented(1));
    KX_PLAY_Stop(port);
    KX_PLAY_CloseFile(port);
}

TEST(Picture, TakesTheTargetSize) {
    TestTarget target(333, 77);
    showFirstPicture(target, 0, 0);
    int w = 0, h = 0;
    const auto pixels = target.lastPicture(w, h);
    EXPECT_EQ(w, 333);
    EXPECT_EQ(h, 77);
    EXPECT_EQ(pixels.size(), 333u * 77u * 4u);
    EXPECT_EQ(colourAt(target, 10, 40), Colour::Blue);
    EXPECT_EQ(colourAt(target, 320, 40), Colour::Red);
}

TEST(Picture, RotatesClockwise) {
    // 90 degrees: the left half ends on top. 180: on the right. 270: at the bottom.
    struct Case {
        int rotate;
        Colour top, bottom, left, right;
    };
    const Case cases[] = {{1, Colour::Blue, Colour::Red, Colour::Other, Colour::Other},
                          {2, Colour::Other, Colour::Other, Colour::Red, Colour::Blue},
                          {3, Colour::Red, Colour::Blue, Colour::Other, Colour::Other}};
    for (const auto& c : cases) {
        TestTarget target(120, 160);
        showFirstPicture(target, c.rotate, 0);
        if (c.top != Colour::Other) {
            EXPECT_EQ(colourAt(target, 60, 10), c.top) << "rotation " << c.rotate;
            EXPECT_EQ(colourAt(target, 60, 150), c.bottom) << "rotation " << c.rotate;
        } else {
            EXPECT_EQ(colourAt(target, 10, 80), c.left) << "rotation " << c.rotate;
            EXPECT_EQ(colourAt(target, 110, 80), c.right) << "rotation " << c.rotate;
        }
    }
}

TEST(Picture, LetterboxKeepsTheShape) {
    // A 4:3 picture in a 400x100 target: 133 pixels wide, centred, black bars beside it.
    TestTarget target(400, 100);
    showFirstPicture(target, 0, 1);
    EXPECT_EQ(colourAt(target, 5, 50), Colour::Black);
    EXPECT_EQ(colourAt(target, 395, 50), Colour::Black);
    EXPECT_EQ(colourAt(target, 150, 50), Colour::Blue);
    EXPECT_EQ(colourAt(target, 250, 50), Colour::Red);
    // Filling: no bars.
    TestTarget filled(400, 100);
    showFirstPicture(filled, 0, 0);
    EXPECT_EQ(colourAt(filled, 5, 50), Colour::Blue);
    EXPECT_EQ(colourAt(filled, 395, 50), Colour::Red);
}

TEST(Picture, PlacementArithmetic) {
    using kx::play::PictureConverter;
    auto r = PictureConverter::placement(640, 480, 1, 1, 400, 100, true);
    EXPECT_EQ(r.w, 133);
    EXPECT_EQ(r.h, 100);
    EXPECT_EQ(r.x, 133);
    r = PictureConverter::placement(640, 480, 1, 1, 100, 400, true);
    EXPECT_EQ(r.w, 100);
    EXPECT_EQ(r.h, 75);
    EXPECT_EQ(r.y, 162);
    // A non-square sample aspect (704x576 shown as 4:3).
    r = PictureConverter::placement(704, 576, 12, 11, 800, 600, true);
    EXPECT_EQ(r.w, 800);
    EXPECT_EQ(r.h, 600);
    r = PictureConverter::placement(640, 480, 1, 1, 400, 100, false);
    EXPECT_EQ(r.w, 400);
    EXPECT_EQ(r.h, 100);
}

TEST(Picture, FollowsTheTargetWhenItIsResized) {
    const int port = KX_PLAY_OpenFile(standardQf().c_str());
    TestTarget target(64, 48);
    KX_PLAY_SetPlayWnd(port, target.handle());
    KX_PLAY_SetSpeed(port, 3);
    KX_PLAY_Play(port);
    ASSERT_TRUE(target.waitPresented(2));
    target.resize(200, 50);
    const int seen = target.presented();
    ASSERT_TRUE(target.waitPresented(seen + 2));
    int w = 0, h = 0;
    target.lastPicture(w, h);
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 50);
    // Without a target the port goes on decoding; after SetPlayWnd(NULL) nothing is drawn.
    ASSERT_GE(KX_PLAY_SetPlayWnd(port, nullptr), 0);
    const int after = target.presented();
    KX_PLAY_Stop(port);
    EXPECT_EQ(target.presented(), after);
    KX_PLAY_CloseFile(port);
}

}  // namespace
