// The play position, seeking and the end of a recorded stream through the public API against
// the scripted server, which records every request.
#include <algorithm>
#include <atomic>
#include <thread>

#include "H264Stream.h"
#include "LossyRtpSender.h"
#include "ResilienceHelpers.h"
#include "ScriptedRtspServer.h"

namespace Brelso::Resilience {
namespace {

using ApiTests::Delivered;
using ApiTests::FrameCollector;
using Testing::ScriptedRtspServer;

class PositionTest : public ApiTests::ApiTest {
protected:
    std::string lastPlayRange() const {
        std::string range;
        for (const auto& r : m_server.requests()) {
            if (r.method == "PLAY") range = r.header("Range");
        }
        return range;
    }

    ScriptedRtspServer m_server;
    FrameCollector m_frames;
};

// 50 pictures 40 ms apart (RTP time stamps 3600 apart at 90 kHz), sent once: when the last has
// arrived the position is 49 x 40 ms, and on the way it never goes back or beyond.
TEST_F(PositionTest, CurrentTimeFollowsFortyMillisecondFrames) {
    ASSERT_TRUE(m_server.start());
    m_server.setSdp(h264Sdp(false, "a=range:npt=0-125.5\r\n"));
    std::vector<Bytes> nals;
    for (int i = 0; i < 5; ++i) {
        const auto gop = smallGop(static_cast<uint8_t>(0x20 + i));
        nals.insert(nals.end(), gop.begin(), gop.end());
    }
    m_server.setTrackPlan(0, Testing::h264Plan(nals, 25, false));
    const int32_t handle = play(m_server.port(), "/stream", true);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_GetVideoLength(handle), 125500);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    int32_t previous = 0;
    const auto lastSlice = [](const std::vector<Delivered>& frames) {
        for (const auto& f : frames) {
            if (f.dataType == KX_DATA_H264 && f.bytes.size() > KX_INNER_OFF_PAYLOAD + 5 &&
                f.bytes[KX_INNER_OFF_PAYLOAD + 4] == 0x41 &&
                f.bytes[KX_INNER_OFF_PAYLOAD + 5] == 8 && f.bytes.back() == 0x24) {
                return true;
            }
        }
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!m_frames.waitFor(lastSlice, 50ms)) {
        const int32_t now = KX_NET_GetCurrentTime(handle);
        EXPECT_GE(now, previous);
        EXPECT_LE(now, 1961);
        previous = now;
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the last picture never arrived";
    }
    // The last picture's time stamp is 49 x 3600 after the first: 1960 ms (the millisecond
    // conversion may round the microseconds of the first either way). The position is updated
    // right after the frame was handed over.
    int32_t final = KX_NET_GetCurrentTime(handle);
    while (final < 1959 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        final = KX_NET_GetCurrentTime(handle);
    }
    EXPECT_GE(final, 1959);
    EXPECT_LE(final, 1961);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

uint16_t clientRtpPort(const ScriptedRtspServer& server) {
    for (const auto& r : server.requests()) {
        const std::string transport = r.header("Transport");
        const size_t at = transport.find("client_port=");
        if (r.method == "SETUP" && at != std::string::npos) {
            return static_cast<uint16_t>(std::stoi(transport.substr(at + 12)));
        }
    }
    return 0;
}

// 25 pictures 40 ms apart, then the sender's clock jumps by three hours, then 25 more: the
// position stays where it was at the jump (960 ms) and goes on from there (to 1920 ms).
TEST_F(PositionTest, ThreeHourJumpKeepsThePosition) {
    m_server.setNameUdpSender(false);  // the stream comes from the test's own sender
    ASSERT_TRUE(m_server.start());
    m_server.setSdp(h264Sdp(false));
    const int32_t handle = play(m_server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    std::vector<Bytes> before;
    std::vector<Bytes> after;
    for (int g = 0; g < 3; ++g) {
        const auto gopA = smallGop(static_cast<uint8_t>(0x40 + g));
        const auto gopB = smallGop(static_cast<uint8_t>(0x50 + g));
        before.insert(before.end(), gopA.begin(), gopA.end());
        after.insert(after.end(), gopB.begin(), gopB.end());
    }
    // 3 GOPs of 10 pictures each side; keep 25 pictures (SPS, PPS travel with the key frames).
    auto firstPictures = [](const std::vector<Bytes>& nals, int pictures) {
        std::vector<Bytes> out;
        for (const Bytes& nal : nals) {
            if (pictures == 0) break;
            out.push_back(nal);
            if (Testing::isSlice(nal)) --pictures;
        }
        return out;
    };
    const auto first = firstPictures(before, 25);
    const auto second = firstPictures(after, 25);
    LossyRtpSender sender(clientRtpPort(m_server), 0x3A3A3A3A, 2000, 50000);
    ASSERT_TRUE(sender.ok());
    sender.send(Testing::h264Plan(first, 25, false, 1400), 0, 0, 10, 1);
    const Bytes lastBefore = first.back();
    auto arrived = [&](const Bytes& nal) {
        return m_frames.waitFor(
            [&](const std::vector<Delivered>& frames) {
                return std::any_of(frames.begin(), frames.end(), [&](const Delivered& d) {
                    return ApiTests::nalOf(ApiTests::inner(d)) == nal;
                });
            },
            20s);
    };
    ASSERT_TRUE(arrived(lastBefore));
    const auto settle = [&](int32_t expected) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        int32_t now = KX_NET_GetCurrentTime(handle);
        while (now < expected - 1 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
            now = KX_NET_GetCurrentTime(handle);
        }
        return now;
    };
    const int32_t atJump = settle(960);
    EXPECT_GE(atJump, 959);
    EXPECT_LE(atJump, 961);

    sender.jumpTimestamp(3u * 3600u * 90000u);
    sender.send(Testing::h264Plan(second, 25, false, 1400), 0, 0, 10, 2);
    ASSERT_TRUE(arrived(second.back()));
    const int32_t final = settle(atJump + 960);
    EXPECT_GE(final, atJump + 959);
    EXPECT_LE(final, atJump + 961);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

TEST_F(PositionTest, SeekSendsPlayFromThePositionAndOutOfRangeSendsNothing) {
    ASSERT_TRUE(m_server.start());
    m_server.setSdp(h264Sdp(false, "a=range:npt=0-125.5\r\n"));
    m_server.setPlayRange("npt=0.000-125.500");
    m_server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
    const int32_t handle = play(m_server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_GetVideoLength(handle), 125500);

    m_server.setPlayRange("npt=30.000-125.500");
    ASSERT_EQ(KX_NET_SeekAndPlay(handle, 30000), 1);
    EXPECT_EQ(m_server.count("PLAY"), 2u);
    EXPECT_EQ(lastPlayRange().rfind("npt=30.000-", 0), 0u) << lastPlayRange();
    // Frames keep arriving after the seek; the position goes on from 30 s, not from 0.
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    EXPECT_GE(KX_NET_GetCurrentTime(handle), 30000);
    ASSERT_TRUE(m_frames.waitForCount(KX_DATA_H264, 30, 20s));
    EXPECT_GE(KX_NET_GetCurrentTime(handle), 30000);

    EXPECT_EQ(KX_NET_SeekAndPlay(handle, -1), 0);
    EXPECT_EQ(KX_NET_SeekAndPlay(handle, 125501), 0);
    EXPECT_EQ(KX_NET_SeekAndPlay(handle, INT32_MIN), 0);
    EXPECT_EQ(m_server.count("PLAY"), 2u) << "an out-of-range seek sent a request";
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

struct EndRecord {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    int32_t handle = 0;
    void* user = nullptr;
    size_t framesBefore = 0;
    FrameCollector* frames = nullptr;

    static void onEnd(int32_t handle, void* user) {
        auto* self = static_cast<EndRecord*>(user);
        std::lock_guard lock(self->mutex);
        ++self->calls;
        self->handle = handle;
        self->user = user;
        self->framesBefore = self->frames->count();
        self->changed.notify_all();
    }
};

// A two-second recording: the end callback comes once, with the play handle and the user
// value, after the stream's frames; then the session tears itself down and delivers nothing.
TEST_F(PositionTest, EndCallbackOnceAtTheEndOfTheRange) {
    ASSERT_TRUE(m_server.start());
    m_server.setSdp(h264Sdp(false, "a=range:npt=0-2\r\n"));
    m_server.setPlayRange("npt=0.000-2.000");
    m_server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
    const int32_t handle = play(m_server.port(), "/stream", false);
    ASSERT_GE(handle, 1000000);
    ASSERT_EQ(KX_NET_GetVideoLength(handle), 2000);
    EndRecord end;
    end.frames = &m_frames;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &m_frames), 1);
    ASSERT_EQ(KX_NET_SetRealPlayEndCallBack(handle, &EndRecord::onEnd, &end), 1);
    ASSERT_TRUE(m_server.waitForRequests("TEARDOWN", 1, 60s));
    {
        std::unique_lock lock(end.mutex);
        ASSERT_TRUE(end.changed.wait_for(lock, 10s, [&] { return end.calls > 0; }));
    }
    const size_t framesAtEnd = m_frames.count();
    // The server keeps sending until the teardown reaches it; another round of the stream
    // time passes: still one call.
    std::this_thread::sleep_for(2500ms);
    std::lock_guard lock(end.mutex);
    EXPECT_EQ(end.calls, 1);
    EXPECT_EQ(end.handle, handle);
    EXPECT_EQ(end.user, &end);
    EXPECT_GT(end.framesBefore, 0u) << "the stream ended before any frame";
    EXPECT_EQ(m_frames.count(), framesAtEnd) << "frames after the end";
    // The end timer's TEARDOWN and the one of the session's exit path (its sinks are still
    // open then); nothing else is sent after the end.
    EXPECT_EQ(m_server.count("TEARDOWN"), 2u);
    EXPECT_EQ(m_server.count("PLAY"), 1u);
    EXPECT_EQ(m_server.requests().back().method, "TEARDOWN");
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 0);  // it stopped itself
}

}  // namespace
}  // namespace Brelso::Resilience
