// A mount that needs a user name and password, with Basic and with Digest authentication.
#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::TestRtspServer;

constexpr const char* kUser = "viewer";
constexpr const char* kPassword = "Pa55-w0rd";
// Every character that means something in an address.
constexpr const char* kOddPassword = "p@ss/w:rd%40@";

class Auth : public ApiTest, public ::testing::WithParamInterface<unsigned> {
protected:
    void SetUp() override {
        ApiTest::SetUp();
        Testing::RtspServerConfig config;
        config.userName = kUser;
        config.password = password();
        config.authMethods = GetParam();
        m_server = std::make_unique<TestRtspServer>(config);
        m_server->addLiveMounts();
        ASSERT_TRUE(m_server->start());
    }
    void TearDown() override {
        ApiTest::TearDown();
        m_server.reset();
    }
    virtual const char* password() const { return kPassword; }
    std::unique_ptr<TestRtspServer> m_server;
};

class AuthOddPassword : public Auth {
protected:
    const char* password() const override { return kOddPassword; }
};

TEST_P(Auth, RightPasswordPlays) {
    FrameCollector collector;
    const int32_t handle =
        playInto(collector, m_server->port(), TestRtspServer::kPcma, false, kUser, kPassword);
    ASSERT_GE(handle, 1000000);
    EXPECT_TRUE(collector.waitForCount(KX_DATA_PCMA, 5, 20s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
    // The password never reaches the log, though the address carrying it is logged.
    EXPECT_NE(logText().find("Open rtsp url:"), std::string::npos);
    EXPECT_EQ(logText().find(kPassword), std::string::npos);
}

TEST_P(Auth, WrongPasswordFails) {
    EXPECT_EQ(play(m_server->port(), TestRtspServer::kPcma, false, kUser, "Wr0ng-Pa55"), -1);
    EXPECT_GE(m_server->connectionCount(), 1u);  // it did ask the server
    EXPECT_EQ(logText().find("Wr0ng-Pa55"), std::string::npos);
}

TEST_P(Auth, NoPasswordFails) {
    EXPECT_EQ(play(m_server->port(), TestRtspServer::kPcma, true), -1);
    EXPECT_GE(m_server->connectionCount(), 1u);
}

TEST_P(AuthOddPassword, PasswordWithAtSlashColonAndPercentPlays) {
    const int32_t handle =
        play(m_server->port(), TestRtspServer::kPcma, false, kUser, kOddPassword);
    ASSERT_GE(handle, 1000000);
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    EXPECT_TRUE(collector.waitForCount(KX_DATA_PCMA, 5, 20s));
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
    EXPECT_EQ(logText().find(kOddPassword), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Method, AuthOddPassword,
                         ::testing::Values(unsigned{Tools::kAuthBasic},
                                           unsigned{Tools::kAuthDigest}),
                         [](const auto& info) {
                             return info.param == Tools::kAuthBasic ? "Basic" : "Digest";
                         });

INSTANTIATE_TEST_SUITE_P(
    Method, Auth, ::testing::Values(unsigned{Tools::kAuthBasic}, unsigned{Tools::kAuthDigest}),
    [](const auto& info) { return info.param == Tools::kAuthBasic ? "Basic" : "Digest"; });

}  // namespace
}  // namespace Brelso::ApiTests
