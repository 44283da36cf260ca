// CLiveClient against the GStreamer RTSP server: a live mount with credentials, and a
// recording of known length that is recorded, sought and played to its end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "CLiveClient.h"
#include "KXPackagedFrame.h"
#include "NetSdkApi.h"
#include "PackagedFrame.h"
#include "TestMedia.h"
#include "TestRtspServer.h"
#include "WaitForState.h"

namespace kx::sdk {
namespace {

using namespace std::chrono_literals;
using Brelso::Testing::TestRtspServer;

struct Frames {
    std::mutex mutex;
    std::condition_variable changed;
    int video = 0;
    int audio = 0;
    int keyFrames = 0;
    int ends = 0;
    bool malformed = false;

    static void onData(int32_t, uint32_t type, uint8_t* buffer, uint32_t size, void* user) {
        auto* self = static_cast<Frames*>(user);
        const auto inner = kx::frame::parseInner(buffer, size);
        std::lock_guard<std::mutex> lock(self->mutex);
        if (!inner || inner->dataType != type) {
            self->malformed = true;
        } else if (kx::frame::isAudioDataType(inner->dataType)) {
            ++self->audio;
        } else {
            ++self->video;
            if (inner->frameType == KX_FRAME_IDR) ++self->keyFrames;
        }
        self->changed.notify_all();
    }
    static void onEnd(int32_t, void* user) {
        auto* self = static_cast<Frames*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        ++self->ends;
        self->changed.notify_all();
    }
    template <class Pred>
    bool waitFor(Pred pred, std::chrono::seconds limit = 60s) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return pred(*this); });
    }
};

TEST(RealServerTest, LiveMountWithCredentialsOverTcpAndUdp) {
    Brelso::Testing::RtspServerConfig config;
    config.userName = "viewer";
    config.password = "pa55word";
    TestRtspServer server(config);
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    for (int tcp : {1, 0}) {
        Frames frames;
        CLiveClient client(1000);
        client.SetRealDataCallBack(&Frames::onData, &frames);
        const std::string url = server.url(TestRtspServer::kH264Aac, true);
        ASSERT_EQ(client.RealPlay(url.c_str(), tcp, 0), 0) << url;
        EXPECT_EQ(client.GetVideoLength(), 0);
        EXPECT_TRUE(frames.waitFor([](Frames& f) { return f.keyFrames >= 1 && f.audio >= 10; }));
        EXPECT_FALSE(frames.malformed);
        EXPECT_TRUE(client.Stop());
    }
    CLiveClient refused(1000);
    EXPECT_EQ(refused.RealPlay(server.url(TestRtspServer::kH264Aac, false).c_str(), 1, 0), 1);
}

TEST(RealServerTest, RecordingIsRecordedSoughtAndEnds) {
    Brelso::Testing::TempDir dir;
    const std::string mp4 = dir.file("rec.mp4");
    ASSERT_TRUE(Brelso::Testing::generateMp4Recording(mp4, 6));
    TestRtspServer server;
    server.addRecordedMount("/rec", mp4);
    ASSERT_TRUE(server.start());

    Frames frames;
    CLiveClient client(1000);
    client.SetRealDataCallBack(&Frames::onData, &frames);
    client.SetPlayEndCallBack(&Frames::onEnd, &frames);
    ASSERT_EQ(client.RealPlay(server.url("/rec").c_str(), 1, 0), 0);
    const int32_t length = client.GetVideoLength();
    EXPECT_GE(length, 5000);
    EXPECT_LE(length, 7000);

    const std::string qf = dir.file("rec.qf");
    ASSERT_EQ(client.StartSave(qf.c_str()), 1);
    ASSERT_TRUE(frames.waitFor([](Frames& f) { return f.keyFrames >= 2; }));
    EXPECT_EQ(client.SeekAndPlay(length + 1), 0);
    EXPECT_EQ(client.SeekAndPlay(3000), 1);
    EXPECT_EQ(client.GetCurrentTime(), 3000);
    ASSERT_TRUE(frames.waitFor([](Frames& f) { return f.ends >= 1; }));
    EXPECT_TRUE(testing::waitForState(client, CLiveClient::Stopped));
    EXPECT_EQ(client.StopSave(), 1);
    EXPECT_FALSE(frames.malformed);

    const auto bytes = Brelso::Testing::readFile(qf);
    size_t pos = 0;
    int whole = 0;
    while (pos < bytes.size()) {
        const auto next = kx::frame::scanNext(bytes.data(), bytes.size(), pos);
        ASSERT_TRUE(next.has_value());
        ASSERT_EQ(next->offset, pos);
        // The parameter sets, then the key frame they were written for.
        const uint16_t firstTypes[] = {KX_FRAME_SPS, KX_FRAME_PPS, KX_FRAME_IDR};
        if (whole < 3) {
            EXPECT_EQ(next->frame.frameType, firstTypes[whole]);
        }
        ++whole;
        pos += next->size;
    }
    EXPECT_GT(whole, 10);
}

TEST(RealServerTest, PlayHandlesLogoutAndCleanup) {
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    ASSERT_EQ(api::Init(0, 0, 0), 1);
    const int32_t login = api::Login("127.0.0.1", server.port(), "", "");
    ASSERT_EQ(login, 1000);
    EXPECT_EQ(api::RealPlay(login, 0, 0, 1, TestRtspServer::kH264, 0), 1000000);
    EXPECT_EQ(api::RealPlay(login, 0, 0, 0, TestRtspServer::kH264, 0), 1000001);
    EXPECT_EQ(api::RealPlay(login, 0, 0, 1, "/no-such-mount", 0), -1);
    EXPECT_EQ(api::StopRealPlay(1000000), 1);
    EXPECT_EQ(api::StopRealPlay(1000000), 0);

    const int32_t other = api::Login("127.0.0.1", server.port(), "", "");
    ASSERT_EQ(other, 1001);
    EXPECT_EQ(api::RealPlay(other, 0, 0, 1, TestRtspServer::kH264, 0), 1000002);
    EXPECT_EQ(api::GetVideoLength(1000001), 0);
    EXPECT_EQ(api::SetRealDataCallBack(1000001, nullptr, nullptr), 1);
    EXPECT_EQ(api::Logout(login), 1);  // destroys its remaining session
    EXPECT_EQ(api::StopRealPlay(1000001), 0);
    EXPECT_EQ(api::GetVideoLength(1000001), -3);
    EXPECT_EQ(api::GetVideoLength(1000002), 0);  // another login's session is untouched
    EXPECT_EQ(api::OpenSound(1000002), 1);

    api::Cleanup();  // releases the rest
    EXPECT_EQ(api::GetVideoLength(1000002), 0);
    ASSERT_EQ(api::Init(0, 0, 0), 1);
    const int32_t again = api::Login("127.0.0.1", server.port(), "", "");
    EXPECT_EQ(again, 1000);
    EXPECT_EQ(api::RealPlay(again, 0, 0, 1, TestRtspServer::kH264, 0), 1000000);
    api::Cleanup();
}

}  // namespace
}  // namespace kx::sdk
