// Stopping and cleaning up while frames flow: after the call returns no callback comes, the
// server is told (TEARDOWN), and the library behaves as uninitialised after KX_NET_Cleanup.
#include <thread>

#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::TestRtspServer;

TEST_F(ApiTest, StopEndsDeliveryAtOnce) {
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    FrameCollector collector;
    const int32_t handle = playInto(collector, server.port(), TestRtspServer::kH264Pcmu, false);
    ASSERT_GE(handle, 1000000);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H264, 10, 20s));
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);
    const size_t frames = collector.count();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(collector.count(), frames);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 0);
    EXPECT_EQ(KX_NET_Logout(m_login), 1);
}

TEST_F(ApiTest, ClearedCallbackIsNotCalledAgain) {
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    FrameCollector collector;
    const int32_t handle = playInto(collector, server.port(), TestRtspServer::kPcma, true);
    ASSERT_GE(handle, 1000000);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_PCMA, 5, 20s));
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, nullptr, nullptr), 1);
    const size_t frames = collector.count();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(collector.count(), frames);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

TEST_F(ApiTest, CleanupWithLiveSessions) {
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    FrameCollector first;
    FrameCollector second;
    const int32_t handleA = play(server.port(), TestRtspServer::kH264Pcmu, false);
    const int32_t loginA = m_login;
    const int32_t handleB = play(server.port(), TestRtspServer::kPcma, true);
    ASSERT_GE(handleA, 1000000);
    ASSERT_EQ(handleB, handleA + 1);
    ASSERT_EQ(m_login, loginA + 1);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handleA, FrameCollector::onData, &first), 1);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handleB, FrameCollector::onData, &second), 1);
    ASSERT_TRUE(first.waitForCount(KX_DATA_H264, 5, 20s));
    ASSERT_TRUE(second.waitForCount(KX_DATA_PCMA, 5, 20s));

    KX_NET_Cleanup();
    const size_t framesA = first.count();
    const size_t framesB = second.count();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(first.count(), framesA);
    EXPECT_EQ(second.count(), framesB);
    // Uninitialised again: every export gives its failure value.
    EXPECT_EQ(KX_NET_StopRealPlay(handleA), 0);
    EXPECT_EQ(KX_NET_Login("127.0.0.1", server.port(), "", ""), -1);
    EXPECT_EQ(KX_NET_RealPlay(loginA, 0, 0, 0, TestRtspServer::kPcma, 0), -1);
    EXPECT_EQ(KX_NET_GetVideoLength(handleA), 0);

    // A new instance numbers its handles from the start again.
    ASSERT_EQ(KX_NET_Init(0, 0, 0), 1);
    EXPECT_EQ(play(server.port(), TestRtspServer::kPcma, false), 1000000);
    EXPECT_EQ(m_login, 1000);
}

}  // namespace
}  // namespace Brelso::ApiTests
