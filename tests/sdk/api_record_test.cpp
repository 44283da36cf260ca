// Recording through the public API: the ".qf" file holds exactly the packaged frames the data
// callback received, from the first key frame after KX_NET_SaveRealData on, and no audio while
// the sound is switched off.
#include <filesystem>
#include <set>
#include <thread>

#include "TestRtspServer.h"
#include "api_fixture.h"

namespace Brelso::ApiTests {
namespace {

using Testing::PackagedFrame;
using Testing::TestRtspServer;

std::vector<PackagedFrame> readRecording(const std::string& path) {
    std::vector<PackagedFrame> frames;
    std::string error;
    EXPECT_TRUE(Testing::parsePackagedFrames(Testing::readFile(path), frames, &error)) << error;
    return frames;
}

// Inner part of a recorded frame, as the data callback would have received it.
Bytes innerBytes(const Bytes& file, size_t offset, uint32_t length) {
    return Bytes(file.begin() + static_cast<long>(offset + KX_PKT_OFF_INNER),
                 file.begin() + static_cast<long>(offset + KX_PKT_OFF_INNER + length));
}

class Recording : public ApiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Recording, FileHoldsTheDeliveredFramesFromAKeyFrameOn) {
    const bool soundOn = GetParam();
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), TestRtspServer::kH264Pcmu, false);
    ASSERT_GE(handle, 1000000);
    if (!soundOn) {
        ASSERT_EQ(KX_NET_CloseSound(handle), 1);
    }
    FrameCollector collector;
    ASSERT_EQ(KX_NET_SetRealDataCallBack(handle, FrameCollector::onData, &collector), 1);
    ASSERT_TRUE(collector.waitForCount(KX_DATA_H264, 5, 20s));

    const std::string path = m_dir.file("stream.qf");
    ASSERT_EQ(KX_NET_SaveRealData(handle, path.c_str()), 1);
    // Two key pictures later (the mount has one a second) the recording has started for sure.
    // A picture may come in several IDR slices: pictures are counted by presentation time.
    auto keyPictures = [](const std::vector<Delivered>& frames) {
        std::set<uint64_t> times;
        for (const auto& f : frames) {
            if (f.dataType != KX_DATA_H264 || f.bytes.size() <= KX_INNER_OFF_PAYLOAD) continue;
            if (Testing::readLe16(f.bytes.data() + KX_INNER_OFF_FRAME_TYPE) != KX_FRAME_IDR)
                continue;
            times.insert(uint64_t{Testing::readLe32(f.bytes.data())} << 32 |
                         Testing::readLe32(f.bytes.data() + 4));
        }
        return times.size();
    };
    const size_t keyPicturesBefore = keyPictures(collector.frames());
    ASSERT_TRUE(collector.waitFor(
        [&](const std::vector<Delivered>& frames) {
            return keyPictures(frames) >= keyPicturesBefore + 2;
        },
        20s));
    ASSERT_EQ(KX_NET_StopSaveRealData(handle), 1);
    ASSERT_EQ(KX_NET_StopRealPlay(handle), 1);

    const Bytes file = Testing::readFile(path);
    const auto recorded = readRecording(path);
    ASSERT_GT(recorded.size(), 10u);
    EXPECT_EQ(recorded.front().inner.dataType, KX_DATA_H264);
    EXPECT_EQ(recorded.front().inner.frameType, KX_FRAME_IDR);
    size_t audio = 0;
    for (const auto& frame : recorded) {
        EXPECT_EQ(frame.reserved, 0u);
        if (frame.inner.frameType == KX_FRAME_IDR) {
            EXPECT_GT(frame.wallClockSeconds, 1500000000u);  // the recording's wall-clock time
        } else {
            EXPECT_EQ(frame.wallClockSeconds, 0u);
        }
        if (frame.inner.audio) ++audio;
    }
    if (soundOn) {
        EXPECT_GT(audio, 0u);
    } else {
        EXPECT_EQ(audio, 0u);
        EXPECT_EQ(collector.count(KX_DATA_PCMU), 0u);
    }

    // Frame by frame the file equals what the callback got, starting at the recorded key frame.
    const auto delivered = collector.frames();
    const Bytes first = innerBytes(file, 0, recorded.front().length);
    size_t start = delivered.size();
    for (size_t i = 0; i < delivered.size(); ++i) {
        if (delivered[i].bytes == first) {
            start = i;
            break;
        }
    }
    ASSERT_LT(start, delivered.size()) << "the first recorded frame was never delivered";
    size_t offset = 0;
    for (size_t i = 0; i < recorded.size(); ++i) {
        ASSERT_LT(start + i, delivered.size());
        EXPECT_EQ(innerBytes(file, offset, recorded[i].length), delivered[start + i].bytes)
            << "recorded frame " << i;
        offset += recorded[i].length + KX_PKT_OVERHEAD;
    }
}

INSTANTIATE_TEST_SUITE_P(Sound, Recording, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST_F(ApiTest, RecordingRefusesAFileThatCannotBeCreated) {
    TestRtspServer server;
    server.addLiveMounts();
    ASSERT_TRUE(server.start());
    const int32_t handle = play(server.port(), TestRtspServer::kPcma, false);
    ASSERT_GE(handle, 1000000);
    const std::string path = m_dir.file("no/such/folder/x.qf");
    EXPECT_EQ(KX_NET_SaveRealData(handle, path.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(KX_NET_StopSaveRealData(handle), 1);
    EXPECT_GE(logLines("File open failed"), 1u);
    EXPECT_EQ(KX_NET_StopRealPlay(handle), 1);
}

}  // namespace
}  // namespace Brelso::ApiTests
