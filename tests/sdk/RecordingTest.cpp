// Recording: whole packaged frames from the first key frame on, into files that are complete
// whenever a recording stops.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
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
    ASSERT_EQ(frames.size(), 5u);
    // The session description's parameter sets in front of the key frame, with its time.
    const Bytes sps = {0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0, 0x47, 0xFE, 0xC8};
    const Bytes pps = {0x68, 0xCB, 0x83, 0xCB, 0x20};
    EXPECT_EQ(frames[0].frame.frameType, KX_FRAME_SPS);
    EXPECT_EQ(frames[1].frame.frameType, KX_FRAME_PPS);
    EXPECT_EQ(Bytes(frames[0].frame.payload + 4, frames[0].frame.payload + 4 + sps.size()), sps);
    EXPECT_EQ(Bytes(frames[1].frame.payload + 4, frames[1].frame.payload + 4 + pps.size()), pps);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(frames[i].frame.payloadSize, 4u + (i == 0 ? sps.size() : pps.size()));
        EXPECT_EQ(frames[i].frame.ptsSec, 1u);
        EXPECT_EQ(frames[i].frame.ptsUsec, 40000u);
    }
    EXPECT_EQ(frames[2].frame.frameType, KX_FRAME_IDR);
    EXPECT_EQ(frames[2].size, 500u + 50u);
    EXPECT_EQ(frames[3].frame.dataType, KX_DATA_AAC);
    EXPECT_EQ(frames[3].size, 60u + 54u);
    EXPECT_EQ(frames[4].frame.frameType, KX_FRAME_NOSTART);
    size_t total = 0;
    for (const auto& f : frames) total += f.size;
    EXPECT_EQ(bytes.size(), total);

    // The key frame carries the wall clock at offset 11, other frames 0.
    const uint32_t wallClock = getLe32(bytes.data() + frames[2].offset + KX_PKT_OFF_WALLCLOCK);
    EXPECT_GE(wallClock, before);
    EXPECT_LE(wallClock, after);
    for (size_t i : {0, 1, 3, 4}) {
        EXPECT_EQ(getLe32(bytes.data() + frames[i].offset + KX_PKT_OFF_WALLCLOCK), 0u);
    }
    // What the callback saw of the key frame is the file's inner part; the parameter sets
    // written for the recording were not delivered again.
    ASSERT_EQ(h.delivered.size(), 7u);
    const Bytes& idrInner = h.delivered[4].bytes;
    EXPECT_TRUE(std::equal(idrInner.begin(), idrInner.end(),
                           bytes.begin() + static_cast<long>(frames[2].offset) + KX_PKT_OFF_INNER));
}

// The parameter sets the stream repeats replace those of the session description: the
// recording starts with the latest ones.
TEST_F(RecordingTest, StartsWithTheLatestParameterSetsOfTheStream) {
    ASSERT_EQ(h.client().StartSave(file("b.qf").c_str()), 1);
    const Bytes sps = nal(0x67, 12), pps = nal(0x68, 6);
    // The PPS arrives with its own start code and a filler NAL unit behind it.
    Bytes ppsWithStartCode = {0, 0, 0, 1};
    ppsWithStartCode.insert(ppsWithStartCode.end(), pps.begin(), pps.end());
    ppsWithStartCode.insert(ppsWithStartCode.end(), {0, 0, 0, 1, 0x0C, 0xFF});
    h.play(video, {makeFrame(nal(0x41, 100), 1, 0), makeFrame(sps, 2, 0),
                   makeFrame(ppsWithStartCode, 2, 0), makeFrame(nal(0x65, 300), 2, 0),
                   makeFrame(nal(0x41, 100), 2, 40000)});
    ASSERT_EQ(h.client().StopSave(), 1);
    const Bytes bytes = readFile(file("b.qf"));
    const auto frames = framesOf(bytes);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].frame.frameType, KX_FRAME_SPS);
    EXPECT_EQ(Bytes(frames[0].frame.payload + 4, frames[0].frame.payload + 4 + sps.size()), sps);
    EXPECT_EQ(frames[1].frame.frameType, KX_FRAME_PPS);
    EXPECT_EQ(frames[1].frame.payloadSize, 4u + pps.size());
    EXPECT_EQ(Bytes(frames[1].frame.payload + 4, frames[1].frame.payload + 4 + pps.size()), pps);
    EXPECT_EQ(frames[2].frame.frameType, KX_FRAME_IDR);
    EXPECT_EQ(frames[2].frame.ptsSec, 2u);
    EXPECT_EQ(frames[0].frame.ptsSec, 2u);
}

TEST_F(RecordingTest, SecondStartSaveClosesTheFirstFileAndWaitsForTheNextKeyFrame) {
    ASSERT_EQ(h.client().StartSave(file("first.qf").c_str()), 1);
    h.play(video, {makeFrame(nal(0x65, 200), 1, 0), makeFrame(nal(0x41, 80), 1, 40000)});
    ASSERT_EQ(h.client().StartSave(file("second.qf").c_str()), 1);
    const auto first = framesOf(readFile(file("first.qf")));  // complete before any more data
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first[2].frame.frameType, KX_FRAME_IDR);

    h.play(video, {makeFrame(nal(0x41, 81), 1, 80000), makeFrame(nal(0x65, 210), 1, 120000),
                   makeFrame(nal(0x41, 82), 1, 160000)});
    h.client().StopSave();
    const auto second = framesOf(readFile(file("second.qf")));
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(second[0].frame.frameType, KX_FRAME_SPS);
    EXPECT_EQ(second[2].frame.frameType, KX_FRAME_IDR);
    EXPECT_EQ(second[2].frame.payloadSize, 4u + 210u);
    EXPECT_EQ(second[3].frame.payloadSize, 4u + 82u);
    EXPECT_EQ(framesOf(readFile(file("first.qf"))).size(), 4u);
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
    EXPECT_EQ(framesOf(readFile(file("keep.qf"))).size(), 3u);
    EXPECT_FALSE(fs::exists(longName));
}

TEST_F(RecordingTest, FileThatCannotBeCreatedGivesZero) {
    EXPECT_EQ(h.client().StartSave(file("missing/dir/x.qf").c_str()), 0);
    h.play(video, {makeFrame(nal(0x65, 64), 1, 0)});  // nothing to write to
    EXPECT_FALSE(fs::exists(file("missing")));
}

// MPEG-4 part 2: the recording starts at the first intra-coded VOP, with the configuration
// in front: from the session description, or the headers the stream sent last.
struct Mpeg4Case {
    const char* name;
    const char* sdpConfig;
    std::vector<Bytes> frames;
    Bytes expectedConfig;
    size_t expectedFrames;
    size_t intra = 0;  // the frame the recording starts at
};

void PrintTo(const Mpeg4Case& c, std::ostream* os) {
    *os << c.name;
}

class Mpeg4RecordingTest : public RecordingTest, public ::testing::WithParamInterface<Mpeg4Case> {};

TEST_P(Mpeg4RecordingTest, StartsAtAnIntraVopWithTheConfigurationInFront) {
    const Mpeg4Case& c = GetParam();
    Mpeg4DataSink* mpeg4 = Mpeg4DataSink::createNew(h.env(), &h.client(), c.sdpConfig);
    ASSERT_NE(mpeg4, nullptr);
    ASSERT_EQ(h.client().StartSave(file("m4.qf").c_str()), 1);
    std::vector<FakeFrame> frames;
    for (size_t i = 0; i < c.frames.size(); ++i) {
        frames.push_back(makeFrame(c.frames[i], 1, static_cast<suseconds_t>(i * 1000)));
    }
    h.play(mpeg4, frames);
    closeMedium(mpeg4);
    h.client().StopSave();
    const Bytes bytes = readFile(file("m4.qf"));
    const auto recorded = framesOf(bytes);
    ASSERT_EQ(recorded.size(), c.expectedFrames);
    if (recorded.empty()) return;
    for (const auto& f : recorded) {
        EXPECT_EQ(f.frame.dataType, KX_DATA_MPEG4);
        EXPECT_EQ(f.frame.frameType, KX_FRAME_OTHER);
    }
    const auto& config = recorded[0].frame;
    ASSERT_EQ(config.payloadSize, 4u + c.expectedConfig.size());
    EXPECT_EQ(Bytes(config.payload, config.payload + 4), (Bytes{0, 0, 0, 1}));
    EXPECT_EQ(Bytes(config.payload + 4, config.payload + config.payloadSize), c.expectedConfig);
    // The configuration carries the intra picture's time; that picture follows.
    EXPECT_EQ(config.ptsUsec, recorded[1].frame.ptsUsec);
    const auto& intra = recorded[1].frame;
    EXPECT_EQ(Bytes(intra.payload + 4, intra.payload + intra.payloadSize), c.frames[c.intra]);
}

const Bytes kVol = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0x20, 0x08};
const Bytes kVol2 = {0, 0, 1, 0xB0, 2, 0, 0, 1, 0x21, 0x09};
const Bytes kPVop = {0, 0, 1, 0xB6, 0x50, 1};
const Bytes kIVop = {0, 0, 1, 0xB6, 0x10, 2};
Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Configuration, Mpeg4RecordingTest,
    ::testing::Values(
        Mpeg4Case{"FromTheSdp",
                  "000001B00100000120",
                  {kPVop, kIVop, kPVop},
                  {0, 0, 1, 0xB0, 1, 0, 0, 1, 0x20},
                  3,
                  1},
        Mpeg4Case{"FromTheStreamReplacingTheSdp",
                  "000001B00100000120",
                  {kPVop, concat(kVol2, kPVop), kIVop, kPVop},
                  kVol2,
                  3,
                  2},
        Mpeg4Case{"InFrontOfTheIntraVop", "", {kPVop, concat(kVol, kIVop)}, kVol, 2, 1},
        Mpeg4Case{"NoIntraVopNoRecording", "000001B00100000120", {kPVop, kPVop}, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

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
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2].frame.frameType, KX_FRAME_IDR);
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
