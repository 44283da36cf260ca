// Damaged ".qf" recordings play up to the damage, go on at the next whole frame, and end.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "InputLimits.h"
#include "KXPlaySdk.h"
#include "PackagedFrame.h"
#include "PlayMedia.h"
#include "QfFileReader.h"
#include "TestTarget.h"

namespace {

using namespace playtest;

// Offsets of the whole frames of the standard recording, in file order.
std::vector<size_t> frameOffsets(const Clip& clip) {
    std::vector<size_t> out;
    size_t pos = 0;
    for (const auto& d : clip.frames) {
        out.push_back(pos);
        pos += d.packaged.size();
    }
    return out;
}

struct Played {
    int endCount = 0;
    std::vector<DecodeRecorder::Entry> video;
};

Played playToEnd(const std::string& path) {
    Played result;
    const int port = KX_PLAY_OpenFile(path.c_str());
    EXPECT_GE(port, 0);
    if (port < 0) return result;
    DecodeRecorder dec;
    EndRecorder end;
    KX_PLAY_SetDecCallBack(port, &DecodeRecorder::callback, &dec);
    KX_PLAY_SetFileEndCallBack(port, &EndRecorder::callback, &end);
    KX_PLAY_SetSpeed(port, 3);
    KX_PLAY_Play(port);
    EXPECT_TRUE(end.waitEnd());
    KX_PLAY_Stop(port);
    KX_PLAY_CloseFile(port);
    result.endCount = end.count();
    result.video = dec.video();
    return result;
}

TEST(DamagedFile, TruncatedPlaysUpToTheCut) {
    const Clip& clip = standardH264();
    const std::string whole = writeQf("trunc_src.qf", clip);
    auto bytes = readFile(whole);
    bytes.resize(bytes.size() * 2 / 3 + 17);  // cut inside a frame
    const std::string path = workDir() + "/truncated.qf";
    writeFile(path, bytes);
    const Played p = playToEnd(path);
    EXPECT_EQ(p.endCount, 1);
    ASSERT_FALSE(p.video.empty());
    EXPECT_GE(p.video.size(), static_cast<size_t>(clip.videoFrames) * 2 / 3 - 2);
    EXPECT_LT(p.video.size(), static_cast<size_t>(clip.videoFrames));
    for (size_t i = 1; i < p.video.size(); ++i) {
        EXPECT_EQ(p.video[i].info.nStamp - p.video[i - 1].info.nStamp, 40);
    }
    int64_t start = 0, end = 0;
    ASSERT_GE(KX_PLAY_GetFileTime(path.c_str(), &start, &end), 0);
    EXPECT_EQ(start, 1000);
    EXPECT_EQ(end, 1002);
}

TEST(DamagedFile, GarbageBetweenFramesIsSkipped) {
    const Clip& clip = standardH264();
    auto bytes = readFile(writeQf("garbage_src.qf", clip));
    const auto offsets = frameOffsets(clip);
    // Garbage (with a false start marker in it) between two frames in the middle.
    std::vector<uint8_t> junk(5000);
    std::mt19937 rng(7);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    const char* marker = "QSMEDIA_STA";
    std::copy(marker, marker + 11, junk.begin() + 100);
    const size_t at = offsets[offsets.size() / 2];
    bytes.insert(bytes.begin() + static_cast<long>(at), junk.begin(), junk.end());
    const std::string path = workDir() + "/garbage.qf";
    writeFile(path, bytes);
    const Played p = playToEnd(path);
    EXPECT_EQ(p.endCount, 1);
    // Every frame is still whole: every picture is shown.
    EXPECT_EQ(p.video.size(), static_cast<size_t>(clip.videoFrames));
}

TEST(DamagedFile, BogusLengthLosesOnlyThatFrame) {
    const Clip& clip = standardH264();
    auto bytes = readFile(writeQf("bogus_src.qf", clip));
    const auto offsets = frameOffsets(clip);
    // A huge L in one frame, a slightly wrong one in another.
    const size_t a = offsets[offsets.size() / 3] + 19;
    bytes[a] = 0xFF;
    bytes[a + 1] = 0xFF;
    bytes[a + 2] = 0xFF;
    bytes[a + 3] = 0x7F;
    const size_t b = offsets[offsets.size() * 2 / 3] + 19;
    bytes[b] = static_cast<uint8_t>(bytes[b] + 3);
    const std::string path = workDir() + "/bogus.qf";
    writeFile(path, bytes);
    const Played p = playToEnd(path);
    EXPECT_EQ(p.endCount, 1);
    // Two NAL units lost: at most two pictures fewer; the last picture is the clip's last.
    EXPECT_GE(p.video.size(), static_cast<size_t>(clip.videoFrames) - 2);
    ASSERT_FALSE(p.video.empty());
    EXPECT_EQ(p.video.back().info.nStamp, 1003 * 1000 + 960);
}

// A run of slices that never start a new picture (first macroblock not 0), 40 MiB in all,
// in the middle of a recording: the reader never hands out more than one access unit may
// hold, skips the damage, and the pictures after it are played to the end.
TEST(DamagedFile, EndlessAccessUnitIsSkipped) {
    const Clip& clip = standardH264();
    auto bytes = readFile(writeQf("endless_src.qf", clip));
    const auto offsets = frameOffsets(clip);
    const size_t middle = clip.frames.size() / 2;
    std::vector<uint8_t> slice(4u << 20, 0x5A);
    slice[0] = 0x41;  // non-IDR slice
    slice[1] = 0x40;  // first_mb_in_slice 1: continues the picture
    std::vector<uint8_t> packaged(kx::frame::packagedVideoSize(slice.size(), false));
    kx::frame::VideoFrameInfo info;
    info.dataType = KX_DATA_H264;
    info.frameType = KX_FRAME_NOSTART;
    info.ptsSec = static_cast<uint32_t>(clip.frames[middle].ptsUs / 1000000);
    info.ptsUsec = static_cast<uint32_t>(clip.frames[middle].ptsUs % 1000000);
    packaged.resize(kx::frame::writeVideo(packaged.data(), info, slice.data(), slice.size()));
    std::vector<uint8_t> run;
    for (int i = 0; i < 10; ++i) run.insert(run.end(), packaged.begin(), packaged.end());
    bytes.insert(bytes.begin() + static_cast<long>(offsets[middle]), run.begin(), run.end());
    const std::string path = workDir() + "/endless.qf";
    writeFile(path, bytes);

    kx::play::QfFileReader reader;
    ASSERT_TRUE(reader.open(path));
    kx::play::MediaPacket packet;
    size_t largest = 0;
    int64_t lastKey = -1;
    while (reader.read(packet)) {
        largest = std::max(largest, packet.size);
        if (packet.key) lastKey = packet.ptsUs;
    }
    EXPECT_LE(largest, kx::play::kMaxAccessUnitBytes);
    EXPECT_GT(lastKey, clip.frames[middle].ptsUs) << "no key frame after the damage";

    const Played p = playToEnd(path);
    EXPECT_EQ(p.endCount, 1);
    ASSERT_FALSE(p.video.empty());
    EXPECT_EQ(p.video.back().info.nStamp, 1003 * 1000 + 960);
}

TEST(DamagedFile, RandomDamageNeverHangsOrCrashes) {
    const auto original = readFile(standardQf());
    std::mt19937 rng(12345);
    for (int round = 0; round < 6; ++round) {
        auto bytes = original;
        for (int k = 0; k < 40; ++k) {
            // The first second stays whole, so there is always something to show.
            const size_t keep = bytes.size() / 4;
            const size_t pos = keep + rng() % (bytes.size() - keep);
            switch (rng() % 3) {
                case 0:
                    bytes[pos] = static_cast<uint8_t>(rng());
                    break;
                case 1:
                    bytes.erase(bytes.begin() + static_cast<long>(pos),
                                bytes.begin() +
                                    static_cast<long>(std::min(bytes.size(), pos + rng() % 300)));
                    break;
                default: {
                    std::vector<uint8_t> junk(rng() % 300);
                    for (auto& b : junk) b = static_cast<uint8_t>(rng());
                    bytes.insert(bytes.begin() + static_cast<long>(pos), junk.begin(), junk.end());
                }
            }
        }
        const std::string path = workDir() + "/random" + std::to_string(round) + ".qf";
        writeFile(path, bytes);
        const Played p = playToEnd(path);
        EXPECT_EQ(p.endCount, 1) << "round " << round;
        EXPECT_GE(p.video.size(), 25u) << "round " << round;
    }
}

}  // namespace
