// A recorded stream whose session description gives its length: the length is reported, the
// end callback comes once at the end of the range, and the session then stops itself.
#include <atomic>
#include <thread>

#include "H264Stream.h"
#include "ScriptedRtspServer.h"
#include "SdpText.h"
#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::ScriptedRtspServer;
using Testing::TestRtspServer;

struct EndObserver {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    int32_t handle = 0;

    static void onEnd(int32_t handle, void* user) {
        auto* self = static_cast<EndObserver*>(user);
        {
            std::lock_guard lock(self->mutex);
            ++self->calls;
            self->handle = handle;
        }
        self->changed.notify_all();
    }
    bool waitForCall(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return calls > 0; });
    }
};

// A scripted server sending a small H.264 stream whose description carries the range line.
void startH264WithRange(ScriptedRtspServer& server, const std::string& rangeLine) {
    const Bytes sps = {0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0, 0x47, 0xFE, 0xC8};
    const Bytes pps = {0x68, 0xCB, 0x83, 0xCB, 0x20};
    Bytes idr(800, 0x65);
    idr[1] = 0x88;  // the first slice of its picture
    const std::vector<Bytes> nals = {sps, pps, idr, Bytes(100, 0x41)};
    server.setSdp(
        Testing::sdpSession({Testing::sdpH264(0, Testing::spropParameterSets(nals))}, rangeLine));
    server.setTrackPlan(0, Testing::h264Plan(nals, 25, true));
    ASSERT_TRUE(server.start());
}

TEST_F(ApiTest, RecordingFromARealServerEnds) {
    Testing::TempDir media;
    ASSERT_TRUE(Testing::generateMp4Recording(media.file("rec.mp4"), 4));
    TestRtspServer server;
    server.addRecordedMount("/rec", media.file("rec.mp4"));
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), "/rec", false);
    ASSERT_GE(handle, 1000000);
    // a=range:npt=0-4.0xx: about 4000 ms (the exact end depends on the audio framing).
    const int32_t length = KX_NET_GetVideoLength(handle);
    EXPECT_GE(length, 3900);
    EXPECT_LE(length, 4500);
    EndObserver end;
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealPlayEndCallBack(handle, EndObserver::onEnd, &end), 1);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    ASSERT_TRUE(end.waitForCall(30s));
    EXPECT_EQ(end.handle, handle);
    EXPECT_GT(collector.count(KX_DATA_H264), 10u);
    EXPECT_GT(collector.count(KX_DATA_AAC), 10u);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(end.calls, 1);
    // Stopped by itself: StopRealPlay refuses, the handle still answers until logout.
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 0);
    EXPECT_EQ(KX_NET_GetVideoLength(handle), length);
    EXPECT_EQ(KX_NET_Logout(m_login), 1);
    EXPECT_EQ(KX_NET_GetVideoLength(handle), -3);
}

TEST_F(ApiTest, RangeEndTearsTheSessionDown) {
    ScriptedRtspServer server;
    ASSERT_NO_FATAL_FAILURE(startH264WithRange(server, "a=range:npt=0-3\r\n"));
    const int32_t handle = play(server.port(), "/stream", true);
    ASSERT_GE(handle, 1000000);
    EXPECT_EQ(KX_NET_GetVideoLength(handle), 3000);
    EndObserver end;
    ASSERT_EQ(KX_NET_SetRealPlayEndCallBack(handle, EndObserver::onEnd, &end), 1);
    ASSERT_TRUE(end.waitForCall(20s));
    ASSERT_TRUE(server.waitForRequests("TEARDOWN", 2, 10s));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(end.calls, 1);
    EXPECT_EQ(server.count("TEARDOWN"), 2u);
    EXPECT_EQ(server.count("OPTIONS"), 1u);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 0);
}

// A live description (t=0 0, no positive range) arms no end: no callback.
TEST_F(ApiTest, LiveStreamNeverEnds) {
    ScriptedRtspServer server;
    ASSERT_NO_FATAL_FAILURE(startH264WithRange(server, "a=range:npt=now-\r\n"));
    const int32_t handle = play(server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    EXPECT_EQ(KX_NET_GetVideoLength(handle), 0);
    EndObserver end;
    ASSERT_EQ(KX_NET_SetRealPlayEndCallBack(handle, EndObserver::onEnd, &end), 1);
    EXPECT_FALSE(end.waitForCall(5s));
    EXPECT_EQ(server.count("TEARDOWN"), 0u);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
    EXPECT_TRUE(server.waitForRequests("TEARDOWN", 1, 5s));
}

}  // namespace
}  // namespace Brelso::ApiTests
