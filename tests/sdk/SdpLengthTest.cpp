// Stream length from the session description.
#include <gtest/gtest.h>

#include "CLiveClient.h"
#include "SdpLength.h"

namespace kx::sdk {
namespace {

constexpr uint64_t kUnknown = CLiveClient::kUnknownLength;

uint64_t scan(const char* sdp) {
    uint64_t length = kUnknown;
    ScanSdpVideoLength(sdp, length);
    return length;
}

TEST(SdpLengthTest, ZeroTimeLineThenOpenRangeIsLive) {
    EXPECT_EQ(scan("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=x\r\nt=0 0\r\na=range:npt=0-\r\n"
                   "m=video 0 RTP/AVP 96\r\n"),
              0u);
}

TEST(SdpLengthTest, ZeroTimeLineThenClosedRangeGivesTheRange) {
    EXPECT_EQ(scan("v=0\r\ns=x\r\nt=0 0\r\na=range:npt=0-125.5\r\nm=video 0 RTP/AVP 96\r\n"),
              125500u);
}

TEST(SdpLengthTest, RangeIsEndMinusStart) {
    EXPECT_EQ(scan("v=0\r\na=range:npt=10-70\r\n"), 60000u);
}

TEST(SdpLengthTest, NoTimeOrRangeLineKeepsTheLengthUnknown) {
    const uint64_t length =
        scan("v=0\r\ns=x\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n");
    EXPECT_EQ(length, kUnknown);
    EXPECT_EQ(static_cast<int32_t>(length), -3);
}

TEST(SdpLengthTest, NowRangeGivesItsEnd) {
    EXPECT_EQ(scan("v=0\r\nt=0 0\r\na=range:npt=now-10.2\r\n"), 10200u);
    EXPECT_EQ(scan("v=0\r\nt=0 0\r\na=range:npt=now-\r\n"), 0u);
}

TEST(SdpLengthTest, ClockTimesAndOmittedStart) {
    EXPECT_EQ(scan("v=0\na=range:npt=00:01:02.5-00:02:03\n"), 60500u);
    EXPECT_EQ(scan("v=0\na=range:npt=1:00:00-\n"), 0u);
    EXPECT_EQ(scan("v=0\na=range:npt=-42.25\n"), 42250u);
}

TEST(SdpLengthTest, FirstPositiveLengthWins) {
    EXPECT_EQ(scan("v=0\r\nt=0 0\r\na=range:npt=0-30\r\na=range:npt=0-99\r\n"), 30000u);
    EXPECT_EQ(scan("v=0\r\nt=5 25\r\na=range:npt=0-99\r\n"), 20000u);
}

TEST(SdpLengthTest, MalformedLineStopsTheScan) {
    EXPECT_EQ(scan("v=0\r\ns=x\r\nX=bad\r\na=range:npt=0-10\r\n"), kUnknown);
    EXPECT_EQ(scan("v=0\r\nt=0 0\r\nnoequals\r\na=range:npt=0-10\r\n"), 0u);
    EXPECT_EQ(scan("V=0\r\na=range:npt=0-10\r\n"), kUnknown);  // first line malformed
    EXPECT_EQ(scan(""), kUnknown);
    EXPECT_EQ(scan(nullptr), kUnknown);
}

TEST(SdpLengthTest, FirstLineIsNotExamined) {
    EXPECT_EQ(scan("t=0 10\r\nm=video 0 RTP/AVP 96\r\n"), kUnknown);
}

TEST(SdpLengthTest, LineEndsAreRunsOfCrAndLf) {
    EXPECT_EQ(scan("v=0\r\n\r\n\n\ra=range:npt=3-4.5\r\n"), 1500u);
    EXPECT_EQ(scan("v=0\ra=range:npt=0-2"), 2000u);  // no final line end
}

TEST(SdpLengthTest, ParseRangeLineForms) {
    EXPECT_EQ(ParseRangeLine("t=0 0"), std::optional<uint64_t>(0));
    EXPECT_EQ(ParseRangeLine("a=range:npt=0-"), std::optional<uint64_t>(0));
    EXPECT_EQ(ParseRangeLine("a=range: npt = 1.5 - 3"), std::optional<uint64_t>(1500000));
    EXPECT_EQ(ParseRangeLine("a=range:npt=0.0005-0.001"), std::optional<uint64_t>(500));
    EXPECT_EQ(ParseRangeLine("a=range:npt=70-10"), std::nullopt);  // ends before it starts
    EXPECT_EQ(ParseRangeLine("a=range:clock=19961108T142300Z-"), std::nullopt);
    EXPECT_EQ(ParseRangeLine("a=control:*"), std::nullopt);
    EXPECT_EQ(ParseRangeLine("a=range:npt=nan-inf"), std::nullopt);
    EXPECT_EQ(ParseRangeLine("t=3034423619 3042462419"), std::optional<uint64_t>(8038800000000));
    EXPECT_EQ(ParseRangeLine("a=range:npt=99999999999999-"), std::nullopt);  // too many digits
}

}  // namespace
}  // namespace kx::sdk
