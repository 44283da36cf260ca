// Recording: whole packaged frames from the first key frame on, into files that are complete
// whenever a recording stops.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "AACDataSink.h"
#include "H264DataSink.h"
#include "KXPackagedFrame.h"
#include "Mpeg4DataSink.h"
#include "PackagedFrame.h"
#include "PrivateDataSink.h"
#include "SinkHarness.h"

namespace kx::sdk::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes nal(uint8_t header, size_t size) {
    Bytes b(size, static_cast<uint8_t>(header ^ 0x5A));
    b[0] = header;
    return b;
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The whole packaged frames of a file, in order; fails when bytes are left over.
std::vector<kx::frame::ScanResult> framesOf(const Bytes& file) {
    std::vector<kx::frame::ScanResult> frames;
    size_t pos = 0;
    while (pos < file.size()) {
        auto next = kx::frame::scanNext(file.data(), file.size(), pos);
        EXPECT_TRUE(next.has_value());
        if (!next) break;
        EXPECT_EQ(next->offset, pos) << "bytes between frames";
        frames.push_back(*next);
        pos = next->offset + next->size;
    }
    return frames;
}

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kx_sdk_rec_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        video = H264DataSink::createNew(h.env(), &h.client(), sprop);
        audio = AACDataSink::createNew(h.env(), &h.client());
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        audio->SetAudioFormat(16000, 2);
        h.setCallback();
    }
    void TearDown() override {
        closeMedium(video);
        closeMedium(audio);
        fs::remove_all(dir);
    }
    std::string file(const char* name) const { return (dir / name).string(); }

    SinkHarness h;
    fs::path dir;
    const char* sprop = "Z0LAHtkAoEf+yA==,aMuDyyA=";
    H264DataSink* video = nullptr;
    AACDataSink* audio = nullptr;
};

TEST_F(RecordingTest, StartsAtTheFirstKeyFrameWithWholeFrames) {
    ASSERT_EQ(h.client().StartSave(file("a.qf").c_str()), 1);
    h.play(audio, {makeFrame(Bytes(50, 1), 1, 0)});
    h.play(video, {makeFrame(nal(0x41, 100), 1, 0)});  // parameter sets + P: not recorded
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    h.play(video, {makeFrame(nal(0x65, 500), 1, 40000)});
    const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
    h.play(audio, {makeFrame(Bytes(60, 2), 1, 50000)});
    h.play(video, {makeFrame(nal(0x41, 120), 1, 80000)});
    ASSERT_EQ(h.client().StopSave(), 1);

    const Bytes bytes = readFile(file("a.qf"));
    const auto frames = framesOf(bytes);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].frame.frameType, KX_FRAME_IDR);
    EXPECT_EQ(frames[0].size, 500u + 50u);
    EXPECT_EQ(frames[1].frame.dataType, KX_DATA_AAC);
    EXPECT_EQ(frames[1].size, 60u + 54u);
    EXPECT_EQ(frames[2].frame.frameType, KX_FRAME_NOSTART);
    EXPECT_EQ(bytes.size(), frames[0].size + frames[1].size + frames[2].size);

    // The key frame carries the wall clock at offset 11, other frames 0.
    const uint32_t wallClock = getLe32(bytes.data() + KX_PKT_OFF_WALLCLOCK);
    EXPECT_GE(wallClock, before);
    EXPECT_LE(wallClock, after);
    EXPECT_EQ(getLe32(bytes.data() + frames[1].offset + KX_PKT_OFF_WALLCLOCK), 0u);
    EXPECT_EQ(getLe32(bytes.data() + frames[2].offset + KX_PKT_OFF_WALLCLOCK), 0u);
    // What the callback saw of the key frame is the file's inner part.
    ASSERT_GE(h.delivered.size(), 5u);
    const Bytes& idrInner = h.delivered[4].bytes;
    EXPECT_TRUE(std::equal(idrInner.begin(), idrInner.end(), bytes.begin() + KX_PKT_OFF_INNER));
}

TEST_F(RecordingTest, SecondStartSaveClosesTheFirstFileAndWaitsForTheNextKeyFrame) {
    ASSERT_EQ(h.client().StartSave(file("first.qf").c_str()), 1);
    h.play(video, {makeFrame(nal(0x65, 200), 1, 0), makeFrame(nal(0x41, 80), 1, 40000)});
    ASSERT_EQ(h.client().StartSave(file("second.qf").c_str()), 1);
    const auto first = framesOf(readFile(file("first.qf")));  // complete before any more data
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].frame.frameType, KX_FRAME_IDR);

    h.play(video, {makeFrame(nal(0x41, 81), 1, 80000), makeFrame(nal(0x65, 210), 1, 120000),
                   makeFrame(nal(0x41, 82), 1, 160000)});
    h.client().StopSave();
    const auto second = framesOf(readFile(file("second.qf")));
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].frame.frameType, KX_FRAME_IDR);
    EXPECT_EQ(second[0].frame.payloadSize, 4u + 210u);
    EXPECT_EQ(second[1].frame.payloadSize, 4u + 82u);
    EXPECT_EQ(framesOf(readFile(file("first.qf"))).size(), 2u);
}

TEST_F(RecordingTest, StopWithoutRecordingReturnsOne) {
    EXPECT_EQ(h.client().StopSave(), 1);
    EXPECT_EQ(h.client().StopSave(), 1);
}

TEST_F(RecordingTest, NameLongerThan255IsRefusedAndChangesNothing) {
    ASSERT_EQ(h.client().StartSave(file("keep.qf").c_str()), 1);
    // A name the file system would take (its folders exist), but too long for the session.
    const fs::path longDir = dir / std::string(100, 'a') / std::string(100, 'b');
    fs::create_directories(longDir);
    const std::string longName = (longDir / (std::string(60, 'c') + ".qf")).string();
    ASSERT_GT(longName.size(), 255u);
    EXPECT_EQ(h.client().StartSave(longName.c_str()), 0);
    EXPECT_EQ(h.client().StartSave(nullptr), 0);
    h.play(video, {makeFrame(nal(0x65, 64), 1, 0)});
    h.client().StopSave();
    EXPECT_EQ(framesOf(readFile(file("keep.qf"))).size(), 1u);
    EXPECT_FALSE(fs::exists(longName));
}

TEST_F(RecordingTest, FileThatCannotBeCreatedGivesZero) {
    EXPECT_EQ(h.client().StartSave(file("missing/dir/x.qf").c_str()), 0);
    h.play(video, {makeFrame(nal(0x65, 64), 1, 0)});  // nothing to write to
    EXPECT_FALSE(fs::exists(file("missing")));
}

TEST_F(RecordingTest, Mpeg4OnlyStreamLeavesTheFileEmpty) {
    Mpeg4DataSink* mpeg4 = Mpeg4DataSink::createNew(h.env(), &h.client());
    ASSERT_NE(mpeg4, nullptr);
    ASSERT_EQ(h.client().StartSave(file("m4.qf").c_str()), 1);
    h.play(mpeg4, {makeFrame({0, 0, 1, 0xB6, 1}, 1, 0), makeFrame({0, 0, 1, 0xB6, 2}, 1, 1)});
    closeMedium(mpeg4);
    h.client().StopSave();
    EXPECT_TRUE(fs::exists(file("m4.qf")));
    EXPECT_EQ(fs::file_size(file("m4.qf")), 0u);
}

TEST_F(RecordingTest, SoundOffAndPrivatePayloadAreNotRecorded) {
    PrivateDataSink* priv = PrivateDataSink::createNew(h.env(), &h.client());
    ASSERT_NE(priv, nullptr);
    ASSERT_EQ(h.client().StartSave(file("s.qf").c_str()), 1);
    h.play(video, {makeFrame(nal(0x65, 64), 1, 0)});
    h.client().SetSoundOn(false);
    h.play(audio, {makeFrame(Bytes(30, 3), 1, 1)});
    h.play(priv, {makeFrame({'Q', 'S', 'M'}, 1, 2)});
    closeMedium(priv);
    h.client().StopSave();
    const auto frames = framesOf(readFile(file("s.qf")));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].frame.frameType, KX_FRAME_IDR);
}

TEST(RecordingLifetimeTest, DestroyingTheSessionLeavesACompleteFile) {
    const fs::path path =
        fs::temp_directory_path() / ("kx_sdk_rec_destroy_" + std::to_string(::getpid()) + ".qf");
    {
        SinkHarness h;
        H264DataSink* video = H264DataSink::createNew(h.env(), &h.client(), "");
        ASSERT_NE(video, nullptr);
        ASSERT_EQ(h.client().StartSave(path.string().c_str()), 1);
        h.play(video, {makeFrame(nal(0x65, 4000), 1, 0), makeFrame(nal(0x41, 3000), 1, 1)});
        closeMedium(video);
    }
    const auto frames = framesOf(readFile(path));
    EXPECT_EQ(frames.size(), 2u);
    fs::remove(path);
}

}  // namespace
}  // namespace kx::sdk::testing
