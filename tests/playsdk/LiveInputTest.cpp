// Live input: deliveries as the stream library's data callback hands them over.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "AudioDecoder.h"
#include "InputLimits.h"
#include "KXPlaySdk.h"
#include "PackagedFrame.h"
#include "PlayMedia.h"
#include "PortTable.h"
#include "TestTarget.h"

namespace {

using namespace playtest;

struct LivePort {
    int port = -1;
    LivePort() { port = KX_PLAY_OpenStream(); }
    ~LivePort() {
        KX_PLAY_Stop(port);
        KX_PLAY_CloseStream(port);
    }
    // Fed as a camera would: never more than a fraction of a second ahead of decoding, so
    // nothing is dropped for falling behind.
    void feed(const Clip& clip) const {
        auto p = kx::play::PortTable::instance().get(port);
        int sinceWait = 0;
        for (const auto& d : clip.frames) {
            ASSERT_GE(KX_PLAY_InputData(port, d.inner(), d.innerSize()), 0);
            if (++sinceWait == 8) {
                sinceWait = 0;
                ASSERT_TRUE(waitFor([&] { return p->queued() == 0; }));
            }
        }
    }
    kx::play::PortStats stats() const { return kx::play::PortTable::instance().get(port)->stats(); }
};

TEST(LiveInput, H264NalUnitsDecodeToEveryPicture) {
    const Clip& clip = standardH264();
    TestTarget target(160, 120);
    DecodeRecorder dec;
    LivePort live;
    ASSERT_GE(live.port, 0);
    ASSERT_GE(KX_PLAY_SetPlayWnd(live.port, target.handle()), 0);
    ASSERT_GE(KX_PLAY_SetDecCallBack(live.port, &DecodeRecorder::callback, &dec), 0);
    ASSERT_GE(KX_PLAY_Play(live.port), 0);
    live.feed(clip);
    ASSERT_TRUE(dec.waitVideo(static_cast<size_t>(clip.videoFrames) - 1));
    const auto video = dec.video();
    ASSERT_GE(video.size(), static_cast<size_t>(clip.videoFrames) - 1);
    EXPECT_EQ(video[0].info.nWidth, 320);
    EXPECT_EQ(video[0].info.nHeight, 240);
    EXPECT_EQ(video[0].size, 320 * 240 * 3 / 2);
    EXPECT_EQ(video[0].info.nStamp, static_cast<int32_t>(1000 * 1000));
    for (size_t i = 1; i < video.size(); ++i) {
        EXPECT_EQ(video[i].info.nStamp - video[i - 1].info.nStamp, 40) << "picture " << i;
    }
    ASSERT_TRUE(target.waitPresented(1));
    int w = 0, h = 0;
    target.lastPicture(w, h);
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 120);
    EXPECT_EQ(live.stats().undecodable, 0u);
}

TEST(LiveInput, PicturesOfSeveralSlicesAreDecodedOnce) {
    // Four slices per picture, each its own delivery.
    const Clip clip = makeVideo("slices", "h264", "testsrc=size=320x240:rate=25", 2.0, 25, 25, 300,
                                "-x264-params slices=4");
    ASSERT_GT(clip.frames.size(), static_cast<size_t>(clip.videoFrames) * 4);
    DecodeRecorder dec;
    LivePort live;
    KX_PLAY_SetDecCallBack(live.port, &DecodeRecorder::callback, &dec);
    KX_PLAY_Play(live.port);
    live.feed(clip);
    ASSERT_TRUE(dec.waitVideo(static_cast<size_t>(clip.videoFrames)));
    const auto video = dec.video();
    EXPECT_EQ(video.size(), static_cast<size_t>(clip.videoFrames));
    for (size_t i = 1; i < video.size(); ++i) {
        EXPECT_EQ(video[i].info.nStamp - video[i - 1].info.nStamp, 40) << "picture " << i;
    }
    EXPECT_EQ(live.stats().decodeErrors, 0u);
}

TEST(LiveInput, Mpeg4FramesDecode) {
    const Clip clip =
        makeVideo("live_mpeg4", "mpeg4", "testsrc=size=352x288:rate=25", 2.0, 25, 12, 50);
    ASSERT_EQ(clip.frames.size(), static_cast<size_t>(clip.videoFrames));
    DecodeRecorder dec;
    LivePort live;
    KX_PLAY_SetDecCallBack(live.port, &DecodeRecorder::callback, &dec);
    KX_PLAY_Play(live.port);
    live.feed(clip);
    const auto st = live.stats();
    ASSERT_TRUE(dec.waitVideo(static_cast<size_t>(clip.videoFrames)))
        << "decoded " << dec.video().size() << " of " << clip.videoFrames << ", received "
        << st.received << ", dropped " << st.dropped << ", errors " << st.decodeErrors
        << ", undecodable " << st.undecodable;
    const auto video = dec.video();
    EXPECT_EQ(video[0].info.nWidth, 352);
    EXPECT_EQ(video[0].info.nHeight, 288);
    EXPECT_EQ(video.back().info.nStamp - video.front().info.nStamp, (clip.videoFrames - 1) * 40);
}

class LiveAudio : public ::testing::TestWithParam<std::tuple<std::string, int, int>> {};

TEST_P(LiveAudio, DecodesToPcm) {
    const auto& [codec, rate, channels] = GetParam();
    const Clip clip =
        makeAudio("live_" + codec + std::to_string(rate), codec, rate, channels, 1.0, 7);
    DecodeRecorder dec;
    LivePort live;
    KX_PLAY_SetDecCallBack(live.port, &DecodeRecorder::callback, &dec);
    KX_PLAY_Play(live.port);
    ASSERT_GE(KX_PLAY_OpenSound(live.port), 0);
    ASSERT_GE(KX_PLAY_SetVolume(live.port, 50), 0);
    live.feed(clip);
    // AAC decoders hold back the first access unit.
    const size_t expected = clip.frames.size() - (codec == "aac" ? 1 : 0);
    ASSERT_TRUE(dec.waitAudio(expected));
    const auto audio = dec.audio();
    size_t samples = 0;
    for (const auto& a : audio) {
        EXPECT_EQ(a.info.nType, KX_PLAY_FRAME_AUDIO);
        samples += static_cast<size_t>(a.size) / 2 / static_cast<size_t>(channels);
    }
    if (codec != "aac") {
        // G.711: one byte per sample in, two bytes out.
        EXPECT_EQ(audio[0].size, static_cast<int32_t>(clip.frames[0].innerSize() - 20) * 2);
    }
    EXPECT_GE(samples, static_cast<size_t>(rate) * 9 / 10);
    EXPECT_EQ(live.stats().undecodable, 0u);
    EXPECT_GE(KX_PLAY_CloseSound(live.port), 0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, LiveAudio,
                         ::testing::Values(std::make_tuple("aac", 48000, 2),
                                           std::make_tuple("aac", 16000, 1),
                                           std::make_tuple("mulaw", 8000, 1),
                                           std::make_tuple("alaw", 8000, 1)));

TEST(LiveInput, PrivatePayloadAndG7221AreCountedAndDropped) {
    const Clip& clip = standardH264();
    DecodeRecorder dec;
    LivePort live;
    KX_PLAY_SetDecCallBack(live.port, &DecodeRecorder::callback, &dec);
    KX_PLAY_Play(live.port);
    // A raw private payload (data type 16 is not packaged) and a packaged G.722.1 frame.
    std::vector<uint8_t> raw(1200);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 7 + 3);
    Clip g7221;
    {
        std::vector<uint8_t> frame(kx::frame::packagedAudioSize(60));
        kx::frame::AudioFrameInfo info;
        info.dataType = KX_DATA_G7221;
        info.channels = 1;
        info.sampleRate = 16000;
        std::vector<uint8_t> payload(60, 0x55);
        kx::frame::writeAudio(frame.data(), info, payload.data(), payload.size());
        Delivery d;
        d.packaged = frame;
        g7221.frames.push_back(d);
    }
    for (int i = 0; i < 5; ++i) {
        ASSERT_GE(KX_PLAY_InputData(live.port, raw.data(), static_cast<uint32_t>(raw.size())), 0);
        ASSERT_GE(
            KX_PLAY_InputData(live.port, g7221.frames[0].inner(), g7221.frames[0].innerSize()), 0);
    }
    live.feed(clip);
    ASSERT_TRUE(dec.waitVideo(static_cast<size_t>(clip.videoFrames) - 1));
    EXPECT_EQ(live.stats().undecodable, 10u);
    EXPECT_TRUE(dec.audio().empty());
}

TEST(LiveInput, BadArgumentsAreRefused) {
    LivePort live;
    uint8_t byte = 0;
    EXPECT_LT(KX_PLAY_InputData(live.port, nullptr, 10), 0);
    EXPECT_LT(KX_PLAY_InputData(live.port, &byte, 0), 0);
    EXPECT_LT(KX_PLAY_InputData(-1, &byte, 1), 0);
    EXPECT_LT(KX_PLAY_InputData(kx::play::PortTable::kPorts, &byte, 1), 0);
    // One delivery beyond the stated bound for a single frame.
    const std::vector<uint8_t> huge(kx::play::kMaxFrameBytes + 1, 0);
    EXPECT_LT(KX_PLAY_InputData(live.port, huge.data(), static_cast<uint32_t>(huge.size())), 0);
    EXPECT_LT(KX_PLAY_SetPlayTime(live.port, 5), 0);
    EXPECT_LT(KX_PLAY_SetSpeed(live.port, 4), 0);
    EXPECT_LT(KX_PLAY_SetRotate(live.port, 4), 0);
    EXPECT_EQ(KX_PLAY_SetFillMode(live.port, 2), 0);
    EXPECT_NE(KX_PLAY_SetFillMode(live.port, 1), 0);
    EXPECT_LT(KX_PLAY_CloseFile(live.port), 0);  // a stream port is not closed as a file
}

TEST(LiveInput, ResetBufferStartsOverAtTheNextKeyFrame) {
    const Clip& clip = standardH264();
    DecodeRecorder dec;
    LivePort live;
    KX_PLAY_SetDecCallBack(live.port, &DecodeRecorder::callback, &dec);
    KX_PLAY_Play(live.port);
    // First half, reset, then the stream again from the start (as after a seek).
    const size_t half = clip.frames.size() / 2;
    for (size_t i = 0; i < half; ++i) {
        KX_PLAY_InputData(live.port, clip.frames[i].inner(), clip.frames[i].innerSize());
    }
    ASSERT_GE(KX_PLAY_ResetBuffer(live.port), 0);
    // Non-key pictures right after the reset are not decoded: they have no reference.
    for (size_t i = half; i < half + 5; ++i) {
        KX_PLAY_InputData(live.port, clip.frames[i].inner(), clip.frames[i].innerSize());
    }
    const size_t mark = dec.video().size();
    live.feed(clip);
    ASSERT_TRUE(dec.waitVideo(mark + static_cast<size_t>(clip.videoFrames) - 1));
    const auto video = dec.video();
    // After the reset the pictures resume at the start of the clip.
    bool restarted = false;
    for (size_t i = 1; i < video.size(); ++i) {
        if (video[i].info.nStamp == 1000 * 1000 && video[i - 1].info.nStamp > 1000 * 1000) {
            restarted = true;
        }
    }
    EXPECT_TRUE(restarted);
}

TEST(LiveInput, NothingIsPresentedAfterStop) {
    const Clip& clip = standardH264();
    TestTarget target(64, 48);
    LivePort live;
    KX_PLAY_SetPlayWnd(live.port, target.handle());
    KX_PLAY_Play(live.port);
    live.feed(clip);
    ASSERT_TRUE(target.waitPresented(1));
    ASSERT_GE(KX_PLAY_Stop(live.port), 0);
    const int after = target.presented();
    live.feed(clip);  // dropped: the port is stopped
    EXPECT_GT(live.stats().dropped, 0u);
    EXPECT_EQ(target.presented(), after);
}

}  // namespace

namespace {

// Holds the port's thread inside its first decode callback until released.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool entered = false;
    bool open = false;
    std::vector<int32_t> stamps;
    static void callback(int32_t, const uint8_t*, int32_t, const FRAME_INFO* info, void* user) {
        auto* g = static_cast<Gate*>(user);
        std::unique_lock lock(g->m);
        g->stamps.push_back(info->nStamp);
        g->entered = true;
        g->cv.notify_all();
        g->cv.wait(lock, [&] { return g->open; });
    }
};

// More than a second of stream at once, as after a stall of the network: the port drops to
// the newest key frame and keeps the parameter sets delivered before it, so pictures come.
TEST(LiveInput, ABurstStillDecodes) {
    const Clip& clip = standardH264();
    ASSERT_GT(clip.frames.size(), 37u);
    DecodeRecorder dec;
    LivePort live;
    KX_PLAY_SetDecCallBack(live.port, &DecodeRecorder::callback, &dec);
    KX_PLAY_Play(live.port);
    for (size_t i = 0; i < 37; ++i) {
        ASSERT_GE(KX_PLAY_InputData(live.port, clip.frames[i].inner(), clip.frames[i].innerSize()),
                  0);
    }
    EXPECT_TRUE(dec.waitVideo(1));
}

TEST(LiveInput, FallingBehindDropsToTheNewestKeyFrame) {
    const Clip& clip = standardH264();
    Gate gate;
    LivePort live;
    KX_PLAY_SetDecCallBack(live.port, &Gate::callback, &gate);
    KX_PLAY_Play(live.port);
    // The first picture reaches the callback, which keeps the port's thread waiting.
    size_t i = 0;
    {
        std::unique_lock lock(gate.m);
        while (!gate.entered && i < clip.frames.size()) {
            lock.unlock();
            KX_PLAY_InputData(live.port, clip.frames[i].inner(), clip.frames[i].innerSize());
            ++i;
            lock.lock();
            gate.cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return gate.entered; });
        }
        ASSERT_TRUE(gate.entered);
    }
    // Meanwhile the rest of the clip (almost four seconds) arrives.
    for (; i < clip.frames.size(); ++i) {
        KX_PLAY_InputData(live.port, clip.frames[i].inner(), clip.frames[i].innerSize());
    }
    EXPECT_GT(live.stats().dropped, 0u);
    {
        std::lock_guard lock(gate.m);
        gate.open = true;
    }
    gate.cv.notify_all();
    const int32_t last = 1000 * 1000 + (clip.videoFrames - 1) * 40;
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(gate.m);
        return !gate.stamps.empty() && gate.stamps.back() == last;
    }));
    std::lock_guard lock(gate.m);
    // Less than a second of pictures after the first one: the rest was dropped, and decoding
    // went on at a key frame (a whole second), never at a picture without its references.
    ASSERT_GE(gate.stamps.size(), 2u);
    EXPECT_LE(gate.stamps.size(), 1u + 25u);
    EXPECT_EQ((gate.stamps[1] - 1000 * 1000) % 1000, 0);
    for (size_t k = 2; k < gate.stamps.size(); ++k) {
        EXPECT_EQ(gate.stamps[k] - gate.stamps[k - 1], 40);
    }
}

}  // namespace

namespace {

TEST(AacConfig, BuiltFromRateAndChannels) {
    using kx::play::AudioDecoder;
    EXPECT_EQ(AudioDecoder::aacConfig(48000, 2), (std::vector<uint8_t>{0x11, 0x90}));
    EXPECT_EQ(AudioDecoder::aacConfig(16000, 1), (std::vector<uint8_t>{0x14, 0x08}));
    EXPECT_EQ(AudioDecoder::aacConfig(8000, 1), (std::vector<uint8_t>{0x15, 0x88}));
    // A rate without an index is written out: 5 bits type, index 15, 24 bits rate.
    const auto odd = AudioDecoder::aacConfig(12345, 2);
    ASSERT_EQ(odd.size(), 5u);
    uint64_t bits = 0;
    for (uint8_t b : odd) bits = (bits << 8) | b;
    EXPECT_EQ(bits >> 35, 2u);
    EXPECT_EQ((bits >> 31) & 0xF, 15u);
    EXPECT_EQ((bits >> 7) & 0xFFFFFF, 12345u);
    EXPECT_EQ((bits >> 3) & 0xF, 2u);
    EXPECT_TRUE(AudioDecoder::aacConfig(48000, 0).empty());
    EXPECT_TRUE(AudioDecoder::aacConfig(0, 2).empty());
}

}  // namespace
