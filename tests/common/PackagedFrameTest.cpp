// The packaged frame written by the stream library and read back by the decode library.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "PackagedFrame.h"

namespace {

using kx::frame::AudioFrameInfo;
using kx::frame::VideoFrameInfo;

uint32_t U32(const std::vector<uint8_t>& b, size_t off) {
    return b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) |
           (static_cast<uint32_t>(b[off + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& b, size_t off) {
    return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}

std::vector<uint8_t> Video(const std::vector<uint8_t>& nal, uint16_t frameType, bool startCode,
                           uint32_t wall = 0) {
    VideoFrameInfo info;
    info.dataType = KX_DATA_H264;
    info.frameType = frameType;
    info.hasStartCode = startCode;
    info.ptsSec = 0x01020304;
    info.ptsUsec = 999999;
    info.wallClockSec = wall;
    std::vector<uint8_t> out(kx::frame::packagedVideoSize(nal.size(), startCode));
    const size_t n = kx::frame::writeVideo(out.data(), info, nal.data(), nal.size());
    EXPECT_EQ(n, out.size());
    return out;
}

TEST(PackagedFrame, VideoWithoutStartCodeGetsOneAndExactLayout) {
    const std::vector<uint8_t> nal = {0x41, 0x9a, 0x02, 0x03, 0x04};
    const auto b = Video(nal, KX_FRAME_NOSTART, false, 12345);
    ASSERT_EQ(b.size(), nal.size() + 50);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 11), "QSMEDIA_STA");
    EXPECT_EQ(U32(b, 11), 0u) << "wall clock only for key frames";
    EXPECT_EQ(U32(b, 15), 0u);
    EXPECT_EQ(U32(b, 19), nal.size() + 16);
    EXPECT_EQ(U32(b, 23), 0x01020304u);
    EXPECT_EQ(U32(b, 27), 999999u);
    EXPECT_EQ(U16(b, 31), KX_DATA_H264);
    EXPECT_EQ(U16(b, 33), KX_FRAME_NOSTART);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 35, b.begin() + 39),
              (std::vector<uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 39, b.begin() + 39 + 5), nal);
    EXPECT_EQ(std::string(b.end() - 11, b.end()), "QSMEDIA_END");
}

TEST(PackagedFrame, VideoWithStartCodeIsCopiedAsIsAndKeyFrameCarriesWallClock) {
    const std::vector<uint8_t> nal = {0, 0, 1, 0x65, 0x88, 0x84};
    const auto b = Video(nal, KX_FRAME_IDR, true, 1700000000u);
    ASSERT_EQ(b.size(), nal.size() + 46);
    EXPECT_EQ(U32(b, 11), 1700000000u);
    EXPECT_EQ(U32(b, 19), nal.size() + 12);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 35, b.begin() + 35 + 6), nal);
}

TEST(PackagedFrame, AudioCarriesChannelsAndRate) {
    const std::vector<uint8_t> au(100, 0x5a);
    AudioFrameInfo info{KX_DATA_AAC, 2, 48000, 7, 8};
    std::vector<uint8_t> b(kx::frame::packagedAudioSize(au.size()));
    ASSERT_EQ(kx::frame::writeAudio(b.data(), info, au.data(), au.size()), au.size() + 54);
    EXPECT_EQ(U32(b, 19), au.size() + 20);
    EXPECT_EQ(U16(b, 33), 0);
    EXPECT_EQ(U32(b, 35), 2u);
    EXPECT_EQ(U32(b, 39), 48000u);
    EXPECT_EQ(b[43], 0x5a);
    EXPECT_EQ(std::string(b.end() - 11, b.end()), "QSMEDIA_END");

    const auto inner = kx::frame::parseInner(b.data() + 23, U32(b, 19));
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->dataType, KX_DATA_AAC);
    EXPECT_EQ(inner->channels, 2u);
    EXPECT_EQ(inner->sampleRate, 48000u);
    EXPECT_EQ(inner->payloadSize, au.size());
    EXPECT_EQ(inner->ptsSec, 7u);
    EXPECT_EQ(inner->ptsUsec, 8u);
}

TEST(PackagedFrame, VideoParameterSetFrameTypeIsH265Only) {
    auto b = Video({0x40, 1, 0x0C}, KX_FRAME_VPS, false);
    EXPECT_FALSE(kx::frame::parseInner(b.data() + 23, U32(b, 19)));  // written as H.264
    b[31] = KX_DATA_H265;
    const auto inner = kx::frame::parseInner(b.data() + 23, U32(b, 19));
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->frameType, KX_FRAME_VPS);
    b[33] = KX_FRAME_VPS + 1;
    EXPECT_FALSE(kx::frame::parseInner(b.data() + 23, U32(b, 19)));
}

TEST(PackagedFrame, ParseInnerRefusesShortOrUnknownInput) {
    const std::vector<uint8_t> nal = {0x41, 1};
    const auto b = Video(nal, KX_FRAME_NOSTART, false);
    EXPECT_FALSE(kx::frame::parseInner(b.data() + 23, 11));
    EXPECT_FALSE(kx::frame::parseInner(nullptr, 100));
    auto raw = b;
    raw[31] = KX_DATA_PRIVATE;
    EXPECT_FALSE(kx::frame::parseInner(raw.data() + 23, U32(raw, 19)));
    // An audio frame whose header would run past the end.
    AudioFrameInfo info{KX_DATA_PCMU, 1, 8000, 0, 0};
    std::vector<uint8_t> a(kx::frame::packagedAudioSize(0));
    kx::frame::writeAudio(a.data(), info, nullptr, 0);
    EXPECT_TRUE(kx::frame::parseInner(a.data() + 23, 20));
    EXPECT_FALSE(kx::frame::parseInner(a.data() + 23, 19));
}

TEST(PackagedFrame, ScanSkipsDamageAndFindsEveryWholeFrame) {
    std::vector<uint8_t> file;
    std::vector<size_t> starts;
    for (int i = 0; i < 5; ++i) {
        const auto f =
            Video(std::vector<uint8_t>(10 + i, static_cast<uint8_t>(i)), KX_FRAME_NOSTART, false);
        if (i == 2) {
            // garbage, a false start marker with a huge length, and a cut-off frame
            const std::string junk = "xxQSMEDIA_STA\xff\xff\xff\xff";
            file.insert(file.end(), junk.begin(), junk.end());
            file.insert(file.end(), f.begin(), f.begin() + 20);
        }
        starts.push_back(file.size());
        file.insert(file.end(), f.begin(), f.end());
    }
    std::vector<size_t> found;
    size_t pos = 0;
    while (auto r = kx::frame::scanNext(file.data(), file.size(), pos)) {
        found.push_back(r->offset);
        EXPECT_EQ(r->frame.payloadSize, 4u + 10 + found.size() - 1);
        pos = r->offset + r->size;
    }
    EXPECT_EQ(found, starts);
}

TEST(PackagedFrame, ScanOfATruncatedTailFindsNothing) {
    const auto f = Video(std::vector<uint8_t>(30, 1), KX_FRAME_NOSTART, false);
    for (size_t cut = 0; cut < f.size(); ++cut) {
        EXPECT_FALSE(kx::frame::scanNext(f.data(), cut, 0)) << "cut at " << cut;
    }
    EXPECT_TRUE(kx::frame::scanNext(f.data(), f.size(), 0));
}

}  // namespace

namespace {

// Only an MPEG-4 frame that has its own start code after the packaging's one loses 4 bytes.
struct AddedStartCodeCase {
    uint16_t dataType;
    std::vector<uint8_t> payload;
    size_t added;
};

class AddedStartCode : public ::testing::TestWithParam<AddedStartCodeCase> {};

TEST_P(AddedStartCode, IsFoundOnlyInFrontOfAnMpeg4StartCode) {
    kx::frame::InnerFrame frame;
    frame.dataType = GetParam().dataType;
    frame.payload = GetParam().payload.data();
    frame.payloadSize = GetParam().payload.size();
    EXPECT_EQ(kx::frame::addedStartCodeSize(frame), GetParam().added);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, AddedStartCode,
    ::testing::Values(AddedStartCodeCase{KX_DATA_MPEG4, {0, 0, 0, 1, 0, 0, 1, 0xB6, 0x10}, 4},
                      AddedStartCodeCase{KX_DATA_MPEG4, {0, 0, 1, 0xB6, 0x10, 0, 0}, 0},
                      AddedStartCodeCase{KX_DATA_MPEG4, {0, 0, 0, 1, 0xB6, 0x10, 0}, 0},
                      AddedStartCodeCase{KX_DATA_H264, {0, 0, 0, 1, 0, 0, 1, 0x65}, 0},
                      AddedStartCodeCase{KX_DATA_MPEG4, {0, 0, 0, 1, 0, 0}, 0}));

}  // namespace
