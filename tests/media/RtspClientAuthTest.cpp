// Authentication against a real GStreamer RTSP server: Basic, Digest, wrong and missing
// credentials.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "RtspConversation.h"
#include "TestRtspServer.h"

using namespace kx::media;
using namespace kx::media::test;
using Brelso::Testing::RtspServerConfig;
using Brelso::Testing::TestRtspServer;
namespace Tools = Brelso::Tools;

namespace {

std::unique_ptr<TestRtspServer> startServer(unsigned methods) {
    RtspServerConfig config;
    config.userName = "admin";
    config.password = "s3cret:pw";
    config.authMethods = methods;
    auto server = std::make_unique<TestRtspServer>(config);
    server->addMount({TestRtspServer::kH264, Tools::mediaLaunch({Tools::h264Branch(0)})});
    if (!server->start()) return nullptr;
    return server;
}

// Runs OPTIONS, DESCRIBE, SETUP, PLAY until 5 frames came; returns the conversation's codes.
struct Outcome {
    int options, describe, play;
    size_t frames;
};

Outcome converse(const std::string& url) {
    LoopHarness h;
    RtspConversation::Options o;
    o.done = [](RtspConversation& c) {
        CollectingSink* s = c.sinkFor("video");
        return s != nullptr && s->frames.size() >= 5;
    };
    RtspConversation c(h, url, o);
    c.start();
    EXPECT_TRUE(h.run());
    CollectingSink* s = c.sinkFor("video");
    return {c.optionsCode, c.describeCode, c.playCode, s ? s->frames.size() : 0};
}

std::string withUser(const TestRtspServer& server, const std::string& user,
                     const std::string& password) {
    return "rtsp://" + user + ":" + password + "@127.0.0.1:" + std::to_string(server.port()) +
           TestRtspServer::kH264;
}

struct Challenge {
    const char* name;
    unsigned method;
};

class AnswersChallenge : public ::testing::TestWithParam<Challenge> {};

TEST_P(AnswersChallenge, AndPlays) {
    auto server = startServer(GetParam().method);
    ASSERT_TRUE(server);
    const Outcome r = converse(server->url(TestRtspServer::kH264, true));
    EXPECT_EQ(r.describe, 0);
    EXPECT_EQ(r.play, 0);
    EXPECT_GE(r.frames, 5u);
}

INSTANTIATE_TEST_SUITE_P(RtspClientAuthTest, AnswersChallenge,
                         ::testing::Values(Challenge{"Digest", Tools::kAuthDigest},
                                           Challenge{"Basic", Tools::kAuthBasic}),
                         [](const ::testing::TestParamInfo<Challenge>& info) {
                             return std::string(info.param.name);
                         });

TEST(RtspClientAuthTest, WrongPasswordGets401) {
    auto server = startServer(Tools::kAuthBasic | Tools::kAuthDigest);
    ASSERT_TRUE(server);
    const Outcome r = converse(withUser(*server, "admin", "wrong"));
    // OPTIONS may or may not need authorisation; DESCRIBE does.
    const int firstFailure = r.options != 0 ? r.options : r.describe;
    EXPECT_EQ(firstFailure, 401);
    EXPECT_EQ(r.frames, 0u);
}

TEST(RtspClientAuthTest, MissingCredentialsGet401) {
    auto server = startServer(Tools::kAuthDigest);
    ASSERT_TRUE(server);
    const Outcome r = converse(server->url(TestRtspServer::kH264, false));
    const int firstFailure = r.options != 0 ? r.options : r.describe;
    EXPECT_EQ(firstFailure, 401);
}

}  // namespace
