// Recording through the public API against the scripted server: the file is exactly the whole
// packaged frames the data callback saw from the first key frame after the start on (video and
// audio), also when recording is started twice and across a reconnection.
#include <thread>

#include "H264Stream.h"
#include "ResilienceHelpers.h"
#include "ScriptedRtspServer.h"

namespace Brelso::Resilience {
namespace {

using ApiTests::Delivered;
using ApiTests::FrameCollector;
using Testing::ScriptedRtspServer;

size_t keyFramesIn(const std::vector<Delivered>& frames, size_t from) {
    size_t n = 0;
    for (size_t i = from; i < frames.size(); ++i) n += isKeyFrame(frames[i]) ? 1 : 0;
    return n;
}

class RecordingTest : public ApiTests::ApiTest {
protected:
    void SetUp() override {
        ApiTest::SetUp();
        ASSERT_TRUE(m_server.start());
        m_server.setSdp(h264Sdp(true));
        m_server.setTrackPlan(0, Testing::h264Plan(smallGop(), 25, true));
        m_server.setTrackPlan(1, Testing::singlePacketPlan(0, {Bytes(160, 0xD5)}, 20, 160, true));
        m_handle = play(m_server.port(), "/stream", true);
        ASSERT_GE(m_handle, 1000000);
        ASSERT_EQ(KX_NET_SetRealDataCallBack(m_handle, FrameCollector::onData, &m_frames), 1);
        ASSERT_TRUE(m_frames.waitForCount(KX_DATA_H264, 5, 20s));
        ASSERT_TRUE(m_frames.waitForCount(KX_DATA_PCMU, 5, 20s));
    }

    // Starts a recording; returns the delivered counts before and after the call.
    std::pair<size_t, size_t> startSave(const std::string& path) {
        const size_t before = m_frames.count();
        EXPECT_EQ(KX_NET_SaveRealData(m_handle, path.c_str()), 1);
        return {before, m_frames.count()};
    }

    bool waitForKeyFrames(size_t from, size_t n) {
        return m_frames.waitFor(
            [&](const std::vector<Delivered>& frames) { return keyFramesIn(frames, from) >= n; },
            30s);
    }

    ScriptedRtspServer m_server;
    FrameCollector m_frames;
    int32_t m_handle = -1;
};

TEST_F(RecordingTest, FileIsTheWholeDeliveredFramesFromTheFirstKeyFrameOn) {
    const uint32_t wallFrom = wallClockNow();
    const std::string path = m_dir.file("whole.qf");
    const auto [before, after] = startSave(path);
    ASSERT_TRUE(waitForKeyFrames(after, 3));
    ASSERT_EQ(KX_NET_StopSaveRealData(m_handle), 1);
    const size_t stopped = m_frames.count();
    // Frames after the stop are not written.
    ASSERT_TRUE(m_frames.waitForCount(KX_DATA_H264, stopped + 20, 20s));
    const auto delivered = m_frames.frames();
    const RecordedSpan span =
        checkRecording(path, delivered, before, after, wallFrom, wallClockNow());
    EXPECT_LE(span.end, m_frames.count());
    EXPECT_EQ(span.resumed, 0u);
    size_t audio = 0;
    for (size_t i = span.first; i < span.end && i < delivered.size(); ++i) {
        audio += delivered[i].dataType == KX_DATA_PCMU ? 1 : 0;
    }
    EXPECT_GT(audio, 0u) << "audio with the sound on belongs in the recording";
    EXPECT_LE(span.end, stopped + 1) << "frames after the stop were written";
    EXPECT_EQ(KX_NET_StopRealPlay(m_handle), 1);
}

TEST_F(RecordingTest, SecondStartClosesTheFirstFileWholeAndWaitsForTheNextKeyFrame) {
    const uint32_t wallFrom = wallClockNow();
    const std::string first = m_dir.file("first.qf");
    const std::string second = m_dir.file("second.qf");
    const auto [before1, after1] = startSave(first);
    ASSERT_TRUE(waitForKeyFrames(after1, 2));
    const auto [before2, after2] = startSave(second);
    ASSERT_TRUE(waitForKeyFrames(after2, 2));
    ASSERT_EQ(KX_NET_StopSaveRealData(m_handle), 1);
    ASSERT_EQ(KX_NET_StopRealPlay(m_handle), 1);
    const auto delivered = m_frames.frames();
    const uint32_t wallTo = wallClockNow();
    const RecordedSpan a = checkRecording(first, delivered, before1, after1, wallFrom, wallTo);
    const RecordedSpan b = checkRecording(second, delivered, before2, after2, wallFrom, wallTo);
    // The first file ends no later than the second start; the second begins after it.
    EXPECT_LE(a.end, after2);
    EXPECT_GE(b.first, a.end);
}

// The server goes quiet (no RTP, requests unanswered, connection dropped): the session
// reconnects after its 15-second check and the recording goes on in the same file, whole,
// starting again at the first key frame after the reconnection.
class SlowRecordingTest : public RecordingTest {};

TEST_F(SlowRecordingTest, RecordingAcrossAReconnectionStaysWhole) {
    const uint32_t wallFrom = wallClockNow();
    const std::string path = m_dir.file("across.qf");
    const auto [before, after] = startSave(path);
    ASSERT_TRUE(waitForKeyFrames(after, 2));
    m_server.stopRtp();
    m_server.dropConnections();
    ASSERT_TRUE(m_server.waitForRequests("PLAY", 2, 60s)) << "no reconnection";
    const size_t resumedFrom = m_frames.count();
    ASSERT_TRUE(waitForKeyFrames(resumedFrom, 2));
    ASSERT_EQ(KX_NET_StopSaveRealData(m_handle), 1);
    ASSERT_EQ(KX_NET_StopRealPlay(m_handle), 1);
    const auto delivered = m_frames.frames();
    const RecordedSpan span =
        checkRecording(path, delivered, before, after, wallFrom, wallClockNow());
    EXPECT_GT(span.end, resumedFrom) << "nothing recorded after the reconnection";
    // What follows the gap may refer to pictures before it: the file starts again at the
    // first key frame after the reconnection, with the parameter sets in front.
    EXPECT_EQ(span.resumed, 1u);
}

}  // namespace
}  // namespace Brelso::Resilience
