// Control URLs, Session headers and npt ranges.
#include <gtest/gtest.h>

#include "NptRange.h"
#include "RtspUrlUtil.h"

using namespace kx::media;

namespace {

TEST(ControlUrlTest, ResolvesAgainstTheBase) {
    const std::string base = "rtsp://10.0.0.1:554/live/ch1";
    EXPECT_EQ(resolveControlUrl(base, ""), base);
    EXPECT_EQ(resolveControlUrl(base, "*"), base);
    EXPECT_EQ(resolveControlUrl(base, "trackID=1"), base + "/trackID=1");
    EXPECT_EQ(resolveControlUrl(base + "/", "trackID=1"), base + "/trackID=1");
    EXPECT_EQ(resolveControlUrl(base, "rtsp://10.0.0.2/other/track"),
              "rtsp://10.0.0.2/other/track");
    EXPECT_EQ(resolveControlUrl(base, "RTSP://10.0.0.2/x"), "RTSP://10.0.0.2/x");
    EXPECT_EQ(resolveControlUrl(base, "/abs/track2"), "rtsp://10.0.0.1:554/abs/track2");
    EXPECT_EQ(resolveControlUrl(base, "  stream=0 "), base + "/stream=0");
}

TEST(UrlUserInfoTest, AUserWithoutPasswordGetsAnEmptyPasswordField) {
    EXPECT_EQ(parsableUrl("rtsp://viewer@10.1.2.3:554/h264"), "rtsp://viewer:@10.1.2.3:554/h264");
    EXPECT_EQ(parsableUrl("rtsp://viewer@host"), "rtsp://viewer:@host");
    // Unchanged: with a password, without user information, an '@' only in the path.
    EXPECT_EQ(parsableUrl("rtsp://u:p@host/a"), "rtsp://u:p@host/a");
    EXPECT_EQ(parsableUrl("rtsp://host:554/a@b"), "rtsp://host:554/a@b");
    EXPECT_EQ(parsableUrl("rtsp://host/a"), "rtsp://host/a");
    EXPECT_EQ(parsableUrl("not a url"), "not a url");
}

TEST(UrlUserInfoTest, AnAtInsideThePasswordReachesTheParserEncoded) {
    EXPECT_EQ(parsableUrl("rtsp://u:p@ss@h:554/a"), "rtsp://u:p%40ss@h:554/a");
    EXPECT_EQ(parsableUrl("rtsp://u@x@h/a"), "rtsp://u%40x:@h/a");
    EXPECT_EQ(parsableUrl("rtsp://u:p@h/a@b"), "rtsp://u:p@h/a@b");
    // Already encoded (as the stream library builds its addresses): unchanged.
    EXPECT_EQ(parsableUrl("rtsp://u:p%40ss%2F@h/a"), "rtsp://u:p%40ss%2F@h/a");
}

TEST(SessionHeaderTest, IdAndTimeout) {
    std::string id;
    unsigned timeout = 0;
    ASSERT_TRUE(parseSessionHeader("12345678;timeout=20", id, timeout));
    EXPECT_EQ(id, "12345678");
    EXPECT_EQ(timeout, 20u);
    timeout = 0;
    ASSERT_TRUE(parseSessionHeader(" ABCdef ", id, timeout));
    EXPECT_EQ(id, "ABCdef");
    EXPECT_EQ(timeout, 0u);
    ASSERT_TRUE(parseSessionHeader("x; timeout = 45 ;foo=1", id, timeout));
    EXPECT_EQ(timeout, 45u);
    timeout = 7;
    ASSERT_TRUE(parseSessionHeader("x;timeout=abc", id, timeout));
    EXPECT_EQ(timeout, 7u);
    EXPECT_FALSE(parseSessionHeader(";timeout=3", id, timeout));
    EXPECT_FALSE(parseSessionHeader(nullptr, id, timeout));
}

TEST(NptRangeTest, Forms) {
    NptRange r;
    ASSERT_TRUE(r.parse("npt=5.0214-10.2214"));
    EXPECT_DOUBLE_EQ(r.start, 5.0214);
    EXPECT_DOUBLE_EQ(r.end, 10.2214);
    ASSERT_TRUE(r.parse("npt=now-"));
    EXPECT_TRUE(r.startIsNow);
    EXPECT_DOUBLE_EQ(r.start, 0);
    EXPECT_DOUBLE_EQ(r.end, -1);
    ASSERT_TRUE(r.parse("npt=0:01:02.5-"));
    EXPECT_DOUBLE_EQ(r.start, 62.5);
    ASSERT_TRUE(r.parse("npt = 1-2;time=20000101T000000Z"));
    EXPECT_DOUBLE_EQ(r.end, 2);
    ASSERT_TRUE(r.parse("npt:3-"));
    EXPECT_DOUBLE_EQ(r.start, 3);
    ASSERT_TRUE(r.parse("npt=-7"));
    EXPECT_DOUBLE_EQ(r.end, 7);
    EXPECT_FALSE(r.parse("clock=19961108T142300Z-"));
    EXPECT_FALSE(r.parse("npt=abc-"));
    EXPECT_FALSE(r.parse("npt=1"));
    EXPECT_FALSE(r.parse("npt=1e999-"));
    EXPECT_FALSE(r.parse(nullptr));
}

}  // namespace
