// What the client reads from an RTSP connection (replies in the forms servers send, "$"
// frames, partial reads, limits), the Transport header in any order, and the request bytes
// it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RtspRequest.h"
#include "RtspTransport.h"
#include "RtspWireReader.h"

using namespace kx::media;

namespace {

struct Collected : RtspWireReader::Handler {
    std::vector<RtspMessage> messages;
    std::vector<std::pair<int, std::string>> frames;
    bool onInterleaved(uint8_t channel, const uint8_t* data, size_t size) override {
        frames.emplace_back(channel, std::string(reinterpret_cast<const char*>(data), size));
        return true;
    }
    bool onMessage(RtspMessage& message) override {
        messages.push_back(message);
        return true;
    }
};

struct ReadCase {
    const char* name;
    std::string bytes;
    int status;           // of the first message
    long cseq;            // of the first message
    const char* session;  // value of its Session header (null: none)
    std::string body;     // of the first message
    unsigned deviations;  // exactly these
};

class WireReaderCase : public ::testing::TestWithParam<ReadCase> {};

// Every case gives one message, whole or split at any byte.
TEST_P(WireReaderCase, ReadsTheReply) {
    const ReadCase& c = GetParam();
    for (size_t split = 0; split <= c.bytes.size(); ++split) {
        RtspWireReader reader;
        Collected got;
        const auto* data = reinterpret_cast<const uint8_t*>(c.bytes.data());
        ASSERT_TRUE(reader.feed(data, split, got)) << reader.error();
        ASSERT_TRUE(reader.feed(data + split, c.bytes.size() - split, got)) << reader.error();
        ASSERT_EQ(got.messages.size(), 1u) << "split at " << split;
        const RtspMessage& m = got.messages[0];
        EXPECT_TRUE(m.isReply);
        EXPECT_EQ(m.status, c.status);
        EXPECT_EQ(m.cseq(), c.cseq);
        const std::string* session = m.header("Session");
        if (c.session == nullptr) {
            EXPECT_EQ(session, nullptr);
        } else {
            ASSERT_NE(session, nullptr);
            EXPECT_EQ(*session, c.session);
        }
        EXPECT_EQ(m.body, c.body);
        EXPECT_EQ(reader.deviations(), c.deviations) << "split at " << split;
        EXPECT_EQ(reader.pending(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, WireReaderCase,
    ::testing::Values(
        ReadCase{"usual", "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 12AB;timeout=30\r\n\r\n", 200, 3,
                 "12AB;timeout=30", "", 0},
        ReadCase{"body", "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: 5\r\n\r\nv=0\r\n", 200, 2,
                 nullptr, "v=0\r\n", 0},
        ReadCase{"noCSeq",
                 "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\n", 401,
                 -1, nullptr, "", 0},
        ReadCase{"lowerCase", "RTSP/1.0 200 OK\r\ncseq: 4\r\nsession: 77\r\n\r\n", 200, 4, "77", "",
                 kDeviationHeaderCase},
        ReadCase{"extraSpaces", "RTSP/1.0  200  OK\r\nCSeq :   5  \r\nSession:   9  \r\n\r\n", 200,
                 5, "9", "", kDeviationExtraSpaces | kDeviationStatusLine},
        ReadCase{"bareLineFeeds", "RTSP/1.0 200 OK\nCSeq: 6\n\n", 200, 6, nullptr, "",
                 kDeviationBareLineFeed},
        ReadCase{"noReason", "RTSP/1.0 200\r\nCSeq: 7\r\n\r\n", 200, 7, nullptr, "",
                 kDeviationStatusLine},
        ReadCase{"folded", "RTSP/1.0 200 OK\r\nCSeq: 8\r\nSession: 5;\r\n timeout=9\r\n\r\n", 200,
                 8, "5; timeout=9", "", kDeviationFoldedHeader},
        ReadCase{"doubledCSeq", "RTSP/1.0 200 OK\r\nCSeq: 9, 9\r\nCSeq: 9\r\n\r\n", 200, 9, nullptr,
                 "", kDeviationDuplicateHeader},
        ReadCase{"blankLinesBefore", "\r\n\r\nRTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", 200, 1, nullptr,
                 "", kDeviationBlankLines}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WireReaderTest, FramesAndRepliesInOneRead) {
    const std::string bytes = std::string(
                                  "$\x00\x00\x03"
                                  "abc",
                                  7) +
                              "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n" +
                              std::string("$\x01\x00\x00", 4) + std::string("$\xff\x00\x01z", 5) +
                              "OPTIONS * RTSP/1.0\r\nCSeq: 5\r\n\r\n";
    RtspWireReader reader;
    Collected got;
    ASSERT_TRUE(reader.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), got));
    ASSERT_EQ(got.frames.size(), 3u);
    EXPECT_EQ(got.frames[0], std::make_pair(0, std::string("abc")));
    EXPECT_EQ(got.frames[1], std::make_pair(1, std::string()));
    EXPECT_EQ(got.frames[2], std::make_pair(255, std::string("z")));
    ASSERT_EQ(got.messages.size(), 2u);
    EXPECT_FALSE(got.messages[1].isReply);
    EXPECT_EQ(got.messages[1].method, "OPTIONS");
    EXPECT_EQ(got.messages[1].cseq(), 5);
}

struct BadCase {
    const char* name;
    std::string bytes;
};
class WireReaderRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(WireReaderRefuses, WhatCannotBeRtsp) {
    RtspWireReader reader;
    Collected got;
    const std::string& bytes = GetParam().bytes;
    EXPECT_FALSE(reader.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), got));
    EXPECT_FALSE(reader.error().empty());
    EXPECT_TRUE(got.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, WireReaderRefuses,
    ::testing::Values(BadCase{"notRtsp", "this is not RTSP at all\r\n\r\n"},
                      BadCase{"badStatus", "RTSP/1.0 2x0 OK\r\n\r\n"},
                      BadCase{"badLength", "RTSP/1.0 200 OK\r\nContent-Length: -4\r\n\r\n"},
                      BadCase{
                          "lengthsDisagree",
                          "RTSP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab"},
                      BadCase{"hugeBody", "RTSP/1.0 200 OK\r\nContent-Length: 4194305\r\n\r\n"},
                      BadCase{"endlessHead", "RTSP/1.0 200 OK\r\nX: " + std::string(70000, 'a')}),
    [](const auto& info) { return std::string(info.param.name); });

struct TransportCase {
    const char* name;
    const char* text;
    bool tcp;
    int interleavedMin, interleavedMax, serverPortMin, serverPortMax;
    bool hasSsrc;
    uint32_t ssrc;
    bool reordered;
};
class TransportHeader : public ::testing::TestWithParam<TransportCase> {};

TEST_P(TransportHeader, ParametersInAnyOrder) {
    const TransportCase& c = GetParam();
    RtspTransport t;
    unsigned deviations = 0;
    ASSERT_TRUE(parseTransport(c.text, t, &deviations));
    EXPECT_EQ(t.tcp, c.tcp);
    EXPECT_EQ(t.interleavedMin, c.interleavedMin);
    EXPECT_EQ(t.interleavedMax, c.interleavedMax);
    EXPECT_EQ(t.serverPortMin, c.serverPortMin);
    EXPECT_EQ(t.serverPortMax, c.serverPortMax);
    EXPECT_EQ(t.hasSsrc, c.hasSsrc);
    if (c.hasSsrc) {
        EXPECT_EQ(t.ssrc, c.ssrc);
    }
    EXPECT_EQ((deviations & kDeviationTransportOrder) != 0, c.reordered);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TransportHeader,
    ::testing::Values(
        TransportCase{"udp",
                      "RTP/AVP;unicast;client_port=5000-5001;server_port=6000-6001;ssrc=1A2B3C4D",
                      false, -1, -1, 6000, 6001, true, 0x1A2B3C4Du, false},
        TransportCase{"udpLast", "unicast;SSRC=00000007;Server_Port=6000-6001;RTP/AVP/UDP", false,
                      -1, -1, 6000, 6001, true, 7u, true},
        TransportCase{"tcp", "RTP/AVP/TCP;unicast;interleaved=2-3", true, 2, 3, 0, 0, false, 0,
                      false},
        TransportCase{"tcpLast", "interleaved=4-5 ; unicast ; RTP/AVP/TCP", true, 4, 5, 0, 0, false,
                      0, true},
        TransportCase{"badValues",
                      "RTP/AVP;server_port=70000-1;ssrc=XYZ;interleaved=300-301,RTP/AVP/TCP", false,
                      -1, -1, 0, 0, false, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TransportHeaderTest, WithoutProtocolIsRefused) {
    RtspTransport t;
    EXPECT_FALSE(parseTransport("unicast;client_port=1-2", t));
    EXPECT_FALSE(parseTransport("", t));
}

TEST(RequestTextTest, OneLinePerHeaderAndNoInjectedLines) {
    RtspRequest r;
    r.method = "SETUP";
    r.uri = "rtsp://127.0.0.1/s/track0";
    r.cseq = 4;
    r.set("Transport", "RTP/AVP;unicast;client_port=1-2");
    r.set("Session", "A");
    r.set("session", "B");  // replaces, whatever the case
    EXPECT_EQ(r.serialize("Basic dTpw"),
              "SETUP rtsp://127.0.0.1/s/track0 RTSP/1.0\r\nCSeq: 4\r\n"
              "Transport: RTP/AVP;unicast;client_port=1-2\r\nSession: B\r\n"
              "Authorization: Basic dTpw\r\n\r\n");
    r.set("Session", "B\r\nCSeq: 9");  // from a server's reply: refused whole
    EXPECT_EQ(r.serialize(), "");
}

TEST(RequestTextTest, DigestAnswerNamesTheRequest) {
    RtspAuthenticator auth;
    ASSERT_TRUE(auth.takeChallenge({"Digest realm=\"cam\", nonce=\"abc\""}, "u", "p"));
    const std::string value = auth.authorization("DESCRIBE", "rtsp://h/s");
    EXPECT_EQ(
        value.rfind("Digest username=\"u\", realm=\"cam\", nonce=\"abc\", uri=\"rtsp://h/s\", "
                    "response=\"",
                    0),
        0u)
        << value;
    // A challenge whose values would break out of the quotes is not answered.
    RtspAuthenticator other;
    EXPECT_FALSE(other.takeChallenge({"Digest realm=\"a\\\"b\", nonce=\"n\""}, "u", "p"));
}

}  // namespace
