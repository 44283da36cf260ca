// MediaSession from session descriptions: what each subsession reports, and garbage input.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "H264RTPSource.h"
#include "LoopHarness.h"
#include "MediaSession.h"

using namespace kx::media;
using namespace kx::media::test;

namespace {

struct Parsed {
    LoopHarness h;
    MediaSession* session = nullptr;
    explicit Parsed(const char* sdp) { session = MediaSession::createNew(h.env, sdp); }
    ~Parsed() { Medium::close(session); }
    MediaSubsession& sub(size_t i) { return *session->subsessions().at(i); }
};

const char* kCameraSdp =
    "v=0\r\n"
    "o=- 1 1 IN IP4 192.168.1.64\r\n"
    "s=Media Presentation\r\n"
    "t=0 0\r\n"
    "a=control:*\r\n"
    "a=range:npt=0-125.5\r\n"
    "m=video 0 RTP/AVP 96\r\n"
    "a=rtpmap:96 h264/90000\r\n"
    "a=fmtp:96 profile-level-id=420029; packetization-mode=1; "
    "sprop-parameter-sets=Z0IAKeKQFAe2AtwEBAaQeJEV,aM48gA==\r\n"
    "a=control:trackID=1\r\n"
    "m=audio 0 RTP/AVP 97\r\n"
    "a=rtpmap:97 MPEG4-GENERIC/16000/2\r\n"
    "a=fmtp:97 streamtype=5;profile-level-id=15;mode=AAC-hbr;config=1410;SizeLength=13;"
    "IndexLength=3;IndexDeltaLength=3\r\n"
    "a=control:trackID=2\r\n"
    "m=audio 0 RTP/AVP 0\r\n"
    "a=control:trackID=3\r\n"
    "m=audio 0 RTP/AVP 8\r\n"
    "m=video 0 RTP/AVP 98\r\n"
    "a=rtpmap:98 PRIVATE/90000\r\n"
    "a=range:npt=10-70\r\n"
    "m=audio 0 RTP/AVP 99\r\n"
    "a=rtpmap:99 G7221/16000\r\n"
    "a=fmtp:99 bitrate=24000\r\n";

TEST(MediaSessionTest, DescribesEverySubsession) {
    Parsed p(kCameraSdp);
    ASSERT_NE(p.session, nullptr);
    ASSERT_EQ(p.session->subsessions().size(), 6u);
    EXPECT_STREQ(p.session->controlPath(), "*");
    EXPECT_DOUBLE_EQ(p.session->playStartTime(), 0.0);
    EXPECT_DOUBLE_EQ(p.session->playEndTime(), 125.5);

    MediaSubsession& v = p.sub(0);
    EXPECT_STREQ(v.mediumName(), "video");
    EXPECT_STREQ(v.codecName(), "H264");  // upper case whatever the SDP wrote
    EXPECT_STREQ(v.protocolName(), "RTP");
    EXPECT_STREQ(v.controlPath(), "trackID=1");
    EXPECT_EQ(v.rtpPayloadFormat(), 96);
    EXPECT_EQ(v.rtpTimestampFrequency(), 90000u);
    EXPECT_EQ(v.numChannels(), 1u);
    EXPECT_STREQ(v.fmtp_spropparametersets(), "Z0IAKeKQFAe2AtwEBAaQeJEV,aM48gA==");
    EXPECT_STREQ(v.attrVal_str("packetization-mode"), "1");
    EXPECT_STREQ(v.fmtp_mode(), "");
    EXPECT_DOUBLE_EQ(v.playEndTime(), 125.5);  // the session's

    MediaSubsession& a = p.sub(1);
    EXPECT_STREQ(a.mediumName(), "audio");
    EXPECT_STREQ(a.codecName(), "MPEG4-GENERIC");
    EXPECT_EQ(a.rtpTimestampFrequency(), 16000u);
    EXPECT_EQ(a.numChannels(), 2u);
    EXPECT_STREQ(a.fmtp_mode(), "AAC-hbr");
    EXPECT_STREQ(a.fmtp_config(), "1410");
    EXPECT_STREQ(a.attrVal_str("sizelength"), "13");  // names are case-insensitive

    EXPECT_STREQ(p.sub(2).codecName(), "PCMU");
    EXPECT_EQ(p.sub(2).rtpTimestampFrequency(), 8000u);
    EXPECT_EQ(p.sub(2).numChannels(), 1u);
    EXPECT_STREQ(p.sub(3).codecName(), "PCMA");
    EXPECT_EQ(p.sub(3).rtpTimestampFrequency(), 8000u);
    EXPECT_STREQ(p.sub(3).controlPath(), "");

    EXPECT_STREQ(p.sub(4).codecName(), "PRIVATE");
    EXPECT_DOUBLE_EQ(p.sub(4).playStartTime(), 10.0);  // its own range
    EXPECT_DOUBLE_EQ(p.sub(4).playEndTime(), 70.0);
    EXPECT_STREQ(p.sub(5).codecName(), "G7221");
    EXPECT_EQ(p.sub(5).rtpTimestampFrequency(), 16000u);
}

TEST(MediaSessionTest, IteratorWalksAllSubsessions) {
    Parsed p(kCameraSdp);
    ASSERT_NE(p.session, nullptr);
    MediaSubsessionIterator it(*p.session);
    size_t n = 0;
    while (MediaSubsession* s = it.next()) {
        EXPECT_EQ(&s->parentSession(), p.session);
        ++n;
    }
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(it.next(), nullptr);
    it.reset();
    EXPECT_EQ(it.next(), p.session->subsessions()[0].get());
}

TEST(MediaSessionTest, EverySupportedCodecInitiates) {
    Parsed p(kCameraSdp);
    ASSERT_NE(p.session, nullptr);
    for (auto& sub : p.session->subsessions()) {
        ASSERT_TRUE(sub->initiate()) << sub->codecName() << ": " << p.h.env.getResultMsg();
        EXPECT_NE(sub->readSource(), nullptr);
        EXPECT_EQ(sub->readSource(), sub->rtpSource());
        EXPECT_NE(sub->rtcpInstance(), nullptr);
        EXPECT_EQ(sub->clientPortNum() % 2, 0);
        EXPECT_GT(sub->rtpSource()->getReceiveBufferSize(), 0u);
        const unsigned granted = sub->rtpSource()->setReceiveBufferTo(4194304);
        EXPECT_EQ(granted, sub->rtpSource()->getReceiveBufferSize());
        EXPECT_TRUE(sub->initiate());  // a second call changes nothing
    }
    p.sub(0).deInitiate();
    EXPECT_EQ(p.sub(0).readSource(), nullptr);
    EXPECT_EQ(p.sub(0).clientPortNum(), 0);
}

TEST(MediaSessionTest, OpenRangeAndNow) {
    Parsed live(
        "v=0\r\no=- 0 0 IN IP4 0.0.0.0\r\ns=x\r\nt=0 0\r\na=range:npt=now-\r\n"
        "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n");
    ASSERT_NE(live.session, nullptr);
    EXPECT_DOUBLE_EQ(live.session->playStartTime(), 0.0);
    EXPECT_DOUBLE_EQ(live.session->playEndTime(), 0.0);
    Parsed hms(
        "v=0\r\no=- 0 0 IN IP4 0.0.0.0\r\ns=x\r\nt=0 0\r\na=range:npt=0:01:02.5-1:00:00\r\n");
    ASSERT_NE(hms.session, nullptr);
    EXPECT_DOUBLE_EQ(hms.session->playStartTime(), 62.5);
    EXPECT_DOUBLE_EQ(hms.session->playEndTime(), 3600.0);
}

TEST(MediaSessionTest, NoMediaLinesGivesNoSubsessions) {
    Parsed p("v=0\r\no=- 0 0 IN IP4 0.0.0.0\r\ns=x\r\nt=0 0\r\n");
    ASSERT_NE(p.session, nullptr);
    EXPECT_FALSE(p.session->hasSubsessions());
}

TEST(MediaSessionTest, NullOrEmptyTextFailsWithAMessage) {
    LoopHarness h;
    EXPECT_EQ(MediaSession::createNew(h.env, nullptr), nullptr);
    EXPECT_STRNE(h.env.getResultMsg(), "");
    h.env.setResultMsg("");
    EXPECT_EQ(MediaSession::createNew(h.env, ""), nullptr);
    EXPECT_STRNE(h.env.getResultMsg(), "");
}

TEST(MediaSessionTest, OddLinesDoNotCrash) {
    const char* odd[] = {
        "",
        "garbage",
        "m=\r\n",
        "m=video\r\n",
        "m=video 0 RTP/AVP\r\n",
        "m=video 0 RTP/AVP 300\r\na=rtpmap:300 H264/90000\r\n",
        "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 MPEG4-GENERIC/abc/-3\r\na=fmtp:97 "
        "sizelength=99999999999;indexlength=\r\n",
        "m=audio 0 RTP/AVP 97\r\na=rtpmap:97\r\na=fmtp:97\r\na=fmtp:\r\na=rtpmap:\r\n",
        "m=audio 0 UDP 97\r\na=range:npt=x-y\r\na=range:\r\n",
        "a=range:npt=-\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 /\r\n",
    };
    for (const char* text : odd) {
        LoopHarness h;
        MediaSession* s = MediaSession::createNew(h.env, text);
        if (s != nullptr) {
            for (auto& sub : s->subsessions()) {
                (void)sub->codecName();
                (void)sub->numChannels();
                if (sub->initiate()) sub->deInitiate();
            }
        }
        Medium::close(s);
    }
    // Random bytes.
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 400);
        for (int i = 0; i < n; ++i) {
            const char alphabet[] = "vmoscta=:/ 0123456789RTP/AVPH264\r\n;-,.*";
            text += alphabet[rng() % (sizeof alphabet - 1)];
        }
        LoopHarness h;
        MediaSession* s = MediaSession::createNew(h.env, text.c_str());
        if (s) {
            for (auto& sub : s->subsessions()) (void)sub->attrVal_str("x");
        }
        Medium::close(s);
    }
}

TEST(MediaSessionTest, SubsessionWithoutRtpCannotInitiate) {
    Parsed p("v=0\r\no=- 0 0 IN IP4 0.0.0.0\r\ns=x\r\nt=0 0\r\nm=video 0 UDP 33\r\n");
    ASSERT_NE(p.session, nullptr);
    ASSERT_EQ(p.session->subsessions().size(), 1u);
    EXPECT_FALSE(p.sub(0).initiate());
    EXPECT_STRNE(p.h.env.getResultMsg(), "");
}

TEST(SPropParameterSetsTest, DecodesEachRecord) {
    unsigned n = 0;
    SPropRecord* r = parseSPropParameterSets("Z0IAKeKQFAe2AtwEBAaQeJEV,aM48gA==", n);
    ASSERT_EQ(n, 2u);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[0].sPropLength, 18u);
    EXPECT_EQ(r[0].sPropBytes[0], 0x67);
    EXPECT_EQ(r[1].sPropLength, 4u);
    EXPECT_EQ(r[1].sPropBytes[0], 0x68);
    delete[] r;
    r = parseSPropParameterSets("", n);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(n, 0u);
    r = parseSPropParameterSets("Z0IA", n);
    EXPECT_EQ(n, 1u);
    delete[] r;
    r = parseSPropParameterSets("!!!,aM48gA==", n);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(r[0].sPropLength, 0u);
    EXPECT_EQ(r[1].sPropLength, 4u);
    delete[] r;
}

}  // namespace
