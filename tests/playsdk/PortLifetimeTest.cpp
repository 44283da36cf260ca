// Opening and closing ports from several threads, and closing while input arrives.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "KXPlaySdk.h"
#include "PlayMedia.h"
#include "PortTable.h"
#include "TestTarget.h"

namespace {

using namespace playtest;

TEST(PortLifetime, TableHandsOutEveryPortOnceAndThenRefuses) {
    std::vector<int> ports;
    for (int i = 0; i < kx::play::PortTable::kPorts; ++i) {
        const int p = KX_PLAY_OpenStream();
        ASSERT_GE(p, 0);
        ports.push_back(p);
    }
    EXPECT_LT(KX_PLAY_OpenStream(), 0);
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(std::unique(ports.begin(), ports.end()), ports.end());
    for (int p : ports) EXPECT_GE(KX_PLAY_CloseStream(p), 0);
    EXPECT_LT(KX_PLAY_CloseStream(ports[0]), 0);  // already closed
    EXPECT_LT(KX_PLAY_Play(ports[0]), 0);
}

TEST(PortLifetime, ManyPortsFromSeveralThreads) {
    const Clip& clip = standardH264();
    std::atomic<int> failures{0};
    std::atomic<int> pictures{0};
    auto worker = [&](int seed) {
        for (int round = 0; round < 12; ++round) {
            const bool file = (round + seed) % 2 == 0;
            const int port = file ? KX_PLAY_OpenFile(standardQf().c_str()) : KX_PLAY_OpenStream();
            if (port < 0) {
                ++failures;
                continue;
            }
            DecodeRecorder dec;
            KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec);
            KX_PLAY_Play(port);
            if (file) {
                KX_PLAY_SetSpeed(port, 3);
                dec.waitVideo(2);
            } else {
                for (size_t i = 0; i < 30; ++i) {
                    KX_PLAY_InputData(port, clip.frames[i].inner(), clip.frames[i].innerSize());
                }
            }
            pictures += static_cast<int>(dec.video().size());
            KX_PLAY_Stop(port);
            const int rc = file ? KX_PLAY_CloseFile(port) : KX_PLAY_CloseStream(port);
            if (rc < 0) ++failures;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(worker, t);
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(pictures.load(), 0);
    // Every port is free again.
    std::vector<int> ports;
    for (int i = 0; i < kx::play::PortTable::kPorts; ++i) ports.push_back(KX_PLAY_OpenStream());
    for (int p : ports) {
        EXPECT_GE(p, 0);
        KX_PLAY_CloseStream(p);
    }
}

TEST(PortLifetime, ClosingWhileInputStillArrives) {
    const Clip& clip = standardH264();
    for (int round = 0; round < 5; ++round) {
        const int port = KX_PLAY_OpenStream();
        ASSERT_GE(port, 0);
        TestTarget target(64, 48);
        KX_PLAY_SetPlayWnd(port, target.handle());
        KX_PLAY_Play(port);
        std::atomic<bool> closing{false};
        std::atomic<bool> closed{false};
        std::atomic<int> refusedAfterClose{0};
        std::thread feeder([&] {
            // Goes on until well after the close.
            for (size_t i = 0; refusedAfterClose.load() < 100; ++i) {
                const auto& d = clip.frames[i % clip.frames.size()];
                const bool wasClosed = closed.load();
                const int rc = KX_PLAY_InputData(port, d.inner(), d.innerSize());
                if (wasClosed && rc < 0) ++refusedAfterClose;
                // Refused only once the close has begun.
                ASSERT_TRUE(rc >= 0 || closing.load()) << "at " << i;
            }
        });
        target.waitPresented(1);
        KX_PLAY_Stop(port);
        closing = true;
        ASSERT_GE(KX_PLAY_CloseStream(port), 0);
        closed = true;
        const int after = target.presented();
        feeder.join();
        EXPECT_EQ(target.presented(), after);
    }
}

TEST(PortLifetime, CleanupClosesEverything) {
    const int a = KX_PLAY_OpenStream();
    const int b = KX_PLAY_OpenFile(standardQf().c_str());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    KX_PLAY_Play(b);
    KX_PLAY_Cleanup();
    EXPECT_LT(KX_PLAY_Play(a), 0);
    EXPECT_LT(KX_PLAY_Play(b), 0);
    EXPECT_NE(KX_PLAY_Init(0), 0);
}

// A callback may not close its own port: the call is refused instead of waiting forever.
TEST(PortLifetime, CloseFromItsOwnCallbackIsRefused) {
    struct Ctx {
        std::atomic<int> rc{1};
        std::atomic<bool> done{false};
    } ctx;
    const int port = KX_PLAY_OpenFile(standardQf().c_str());
    KX_PLAY_SetDecCallBack(
        port,
        [](int32_t p, const uint8_t*, int32_t, const FRAME_INFO*, void* user) {
            auto* c = static_cast<Ctx*>(user);
            if (!c->done.exchange(true)) c->rc = KX_PLAY_CloseFile(p) + KX_PLAY_Stop(p) * 0;
        },
        &ctx);
    KX_PLAY_Play(port);
    ASSERT_TRUE(waitFor([&] { return ctx.done.load(); }));
    EXPECT_LT(ctx.rc.load(), 0);
    KX_PLAY_Stop(port);
    EXPECT_GE(KX_PLAY_CloseFile(port), 0);
}

}  // namespace

// A callback may change its own port's settings and take a snapshot without waiting for itself.
TEST(PortLifetime, CallbackMayChangeItsOwnPort) {
    struct Ctx {
        std::atomic<int> calls{0};
        std::atomic<int> snapshot{1};
        std::string path;
    } ctx;
    ctx.path = workDir() + "/from_callback.jpg";
    const int port = KX_PLAY_OpenFile(standardQf().c_str());
    TestTarget target(32, 24);
    KX_PLAY_SetPlayWnd(port, target.handle());
    KX_PLAY_SetDecCallBack(
        port,
        [](int32_t p, const uint8_t*, int32_t, const FRAME_INFO* info, void* user) {
            auto* c = static_cast<Ctx*>(user);
            if (info->nType == KX_PLAY_FRAME_VIDEO && ++c->calls == 3) {
                KX_PLAY_SetRotate(p, 2);
                KX_PLAY_SetFillMode(p, 1);
                KX_PLAY_Play(p);
                c->snapshot = KX_PLAY_CapturePicture(p, c->path.c_str(), 0);
                KX_PLAY_SetDecCallBack(p, nullptr, nullptr);  // no call after this one
            }
        },
        &ctx);
    KX_PLAY_SetSpeed(port, 3);
    KX_PLAY_Play(port);
    ASSERT_TRUE(target.waitPresented(10));
    EXPECT_EQ(ctx.calls.load(), 3);
    EXPECT_EQ(ctx.snapshot.load(), 0);
    int w = 0, h = 0;
    EXPECT_TRUE(decodeJpeg(ctx.path, w, h));
    EXPECT_EQ(w, 320);  // turned by 180 degrees: the same shape
    KX_PLAY_Stop(port);
    KX_PLAY_CloseFile(port);
}
