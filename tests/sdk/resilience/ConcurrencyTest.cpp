// Concurrent use of the public API: sessions started and stopped from several threads at
// once, callbacks replaced while frames flow, and KX_NET_Cleanup with sessions playing and
// recording.
#include <atomic>
#include <barrier>
#include <memory>
#include <set>
#include <thread>

#include "H264Stream.h"
#include "ResilienceHelpers.h"
#include "ScriptedRtspServer.h"

namespace Brelso::Resilience {
namespace {

using ApiTests::Delivered;
using ApiTests::FrameCollector;
using Testing::ScriptedRtspServer;

class ConcurrencyTest : public ApiTests::ApiTest {
protected:
    void SetUp() override {
        ApiTest::SetUp();
        ASSERT_TRUE(m_server.start());
        m_server.setSdp(h264Sdp(true));
        m_server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
        m_server.setTrackPlan(1, Testing::singlePacketPlan(0, {Bytes(160, 0xD5)}, 20, 160, true));
    }
    ScriptedRtspServer m_server;
};

// Four threads each log in and start two sessions at the same moment (UDP and TCP), wait for
// frames, stop them and log out. Every session plays; after its stop its callback is silent.
TEST_F(ConcurrencyTest, EightSessionsStartedAndStoppedFromFourThreads) {
    constexpr int kThreads = 4;
    struct Session {
        int32_t handle = -1;
        FrameCollector frames;
        size_t atStop = 0;
        int32_t stopResult = -1;
        bool gotFrames = false;
    };
    std::vector<std::unique_ptr<Session>> sessions;
    for (int i = 0; i < 2 * kThreads; ++i) sessions.push_back(std::make_unique<Session>());
    std::barrier start(kThreads);
    std::vector<int32_t> logouts(kThreads, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            const int32_t login = KX_NET_Login("127.0.0.1", m_server.port(), "", "");
            for (int k = 0; k < 2; ++k) {
                Session& s = *sessions[static_cast<size_t>(2 * t + k)];
                s.handle = KX_NET_RealPlay(login, 0, 0, k, "/stream", 0);
                KX_NET_SetRealDataCallBack(s.handle, FrameCollector::onData, &s.frames);
            }
            for (int k = 0; k < 2; ++k) {
                Session& s = *sessions[static_cast<size_t>(2 * t + k)];
                s.gotFrames = s.frames.waitForCount(KX_DATA_H264, 5, 60s);
            }
            start.arrive_and_wait();  // all play at the same time, then all stop together
            for (int k = 0; k < 2; ++k) {
                Session& s = *sessions[static_cast<size_t>(2 * t + k)];
                s.stopResult = KX_NET_StopRealPlay(s.handle);
                s.atStop = s.frames.count();
            }
            logouts[static_cast<size_t>(t)] = KX_NET_Logout(login);
        });
    }
    for (auto& thread : threads) thread.join();
    std::set<int32_t> handles;
    for (const auto& s : sessions) {
        EXPECT_GE(s->handle, 1000000);
        handles.insert(s->handle);
        EXPECT_TRUE(s->gotFrames) << "session " << s->handle << " got no frames";
        EXPECT_EQ(s->stopResult, 1);
    }
    EXPECT_EQ(handles.size(), sessions.size()) << "a handle was issued twice";
    for (int32_t r : logouts) EXPECT_EQ(r, 1);
    // The server reads the last TEARDOWNs on its own thread: give it a moment to count them.
    EXPECT_TRUE(m_server.waitForRequests("TEARDOWN", sessions.size(), 5s));
    EXPECT_EQ(m_server.count("TEARDOWN"), sessions.size());
    // Still silent after a while of server traffic.
    m_server.waitForRtpPackets(0, m_server.rtpPacketsSent(0) + 25, 5s);
    for (const auto& s : sessions) {
        EXPECT_EQ(s->frames.count(), s->atStop) << "frames after the stop of " << s->handle;
    }
}

// One callback target per setting; a target whose setter call returned is retired, and a
// call on a retired target is a fault.
struct Target {
    std::atomic<bool> retired{false};
    std::atomic<size_t> calls{0};
    std::atomic<size_t> lateCalls{0};
    static void onData(int32_t, uint32_t, uint8_t*, uint32_t, void* user) {
        auto* self = static_cast<Target*>(user);
        ++self->calls;
        if (self->retired.load()) ++self->lateCalls;
    }
};

TEST_F(ConcurrencyTest, CallbackReplacedWhileFramesFlowIsNeverCalledAfterTheSetter) {
    const int32_t handle = play(m_server.port(), "/stream", true);
    ASSERT_GE(handle, 1000000);
    std::vector<std::unique_ptr<Target>> targets;
    targets.push_back(std::make_unique<Target>());
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, &Target::onData, targets.back().get()), 1);
    size_t total = 0;
    for (int round = 0; round < 400 && total < 2000; ++round) {
        auto next = std::make_unique<Target>();
        // Every fourth round clears the callback instead of replacing it.
        const bool clear = round % 4 == 3;
        ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, clear ? nullptr : &Target::onData,
                                             clear ? nullptr : next.get()),
                  1);
        targets.back()->retired = true;
        if (!clear) targets.push_back(std::move(next));
        if (clear) {
            targets.push_back(std::make_unique<Target>());
            ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, &Target::onData, targets.back().get()), 1);
        }
        std::this_thread::sleep_for(5ms);
        total = 0;
        for (const auto& t : targets) total += t->calls;
    }
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);
    size_t late = 0;
    size_t used = 0;
    for (const auto& t : targets) {
        late += t->lateCalls;
        used += t->calls > 0 ? 1 : 0;
    }
    EXPECT_EQ(late, 0u) << "a replaced callback was called after its setter returned";
    EXPECT_GT(total, 100u) << "frames did not flow during the replacements";
    EXPECT_GT(used, 10u) << "too few of the callbacks saw frames to prove anything";
}

// Cleanup while sessions play, one of them recording and all of them in callbacks that take
// a while: no deadlock, nothing delivered afterwards, and the recording is a whole file.
TEST_F(ConcurrencyTest, CleanupWithSessionsPlayingAndRecording) {
    struct Slow {
        std::atomic<size_t> calls{0};
        static void onData(int32_t, uint32_t, uint8_t*, uint32_t, void* user) {
            ++static_cast<Slow*>(user)->calls;
            std::this_thread::sleep_for(2ms);
        }
    };
    std::vector<int32_t> handles;
    std::vector<std::unique_ptr<Slow>> slow;
    const int32_t login = KX_NET_Login("127.0.0.1", m_server.port(), "", "");
    for (int i = 0; i < 4; ++i) {
        handles.push_back(KX_NET_RealPlay(login, 0, 0, i % 2, "/stream", 0));
        ASSERT_GE(handles.back(), 1000000);
        slow.push_back(std::make_unique<Slow>());
        ASSERT_EQ(KX_NET_SetRealDataCallBack(handles.back(), &Slow::onData, slow.back().get()), 1);
    }
    const std::string path = m_dir.file("cleanup.qf");
    ASSERT_EQ(KX_NET_SaveRealData(handles[0], path.c_str()), 1);
    for (const auto& s : slow) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (s->calls < 60 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_GE(s->calls.load(), 60u);
    }
    KX_NET_Cleanup();
    std::vector<size_t> atCleanup;
    for (const auto& s : slow) atCleanup.push_back(s->calls);
    m_server.waitForRtpPackets(0, m_server.rtpPacketsSent(0) + 25, 5s);
    for (size_t i = 0; i < slow.size(); ++i) EXPECT_EQ(slow[i]->calls.load(), atCleanup[i]);
    std::vector<Testing::PackagedFrame> recorded;
    std::string error;
    EXPECT_TRUE(Testing::parsePackagedFrames(Testing::readFile(path), recorded, &error)) << error;
    ASSERT_GE(recorded.size(), 3u);
    EXPECT_EQ(recorded[0].inner.frameType, KX_FRAME_SPS);
    EXPECT_EQ(recorded[1].inner.frameType, KX_FRAME_PPS);
    EXPECT_EQ(recorded[2].inner.frameType, KX_FRAME_IDR);
    ASSERT_EQ(KX_NET_Init(0, 0, 0), 1);  // the fixture's TearDown cleans up again
}

}  // namespace
}  // namespace Brelso::Resilience
