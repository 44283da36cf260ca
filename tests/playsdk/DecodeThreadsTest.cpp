// How many threads a file's decoder gets: by the picture size its parameter sets announce.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "KXPackagedFrame.h"
#include "PackagedFrame.h"
#include "PlayMedia.h"
#include "VideoDecoder.h"

namespace {

using kx::play::VideoDecoder;

struct ThreadsCase {
    int width, height;
    unsigned cores;
    int threads;
};

class FileThreads : public ::testing::TestWithParam<ThreadsCase> {};

TEST_P(FileThreads, FollowTheArea) {
    const ThreadsCase& c = GetParam();
    EXPECT_EQ(VideoDecoder::fileThreads(c.width, c.height, c.cores), c.threads);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileThreads,
                         ::testing::Values(ThreadsCase{1920, 1080, 2, 1},
                                           ThreadsCase{1280, 720, 16, 1},
                                           ThreadsCase{2560, 1440, 16, 2},
                                           ThreadsCase{3840, 2160, 2, 2},
                                           ThreadsCase{3840, 2160, 16, 4},
                                           ThreadsCase{1920, 1080, 0, 1}, ThreadsCase{0, 0, 4, 0}));

// The first picture of the standard clip (320x240), as a file reader hands it out: its NAL
// units with their start codes, in one packet.
TEST(FileThreads, ReadsTheSizeFromTheFirstPicture) {
    const playtest::Clip& clip = playtest::standardH264();
    std::vector<uint8_t> unit;
    for (const auto& d : clip.frames) {
        if (d.ptsUs != clip.frames.front().ptsUs) break;
        const auto f = kx::frame::parseInner(d.inner(), d.innerSize());
        ASSERT_TRUE(f);
        unit.insert(unit.end(), f->payload, f->payload + f->payloadSize);
    }
    kx::play::MediaPacket packet;
    packet.dataType = KX_DATA_H264;
    packet.key = true;
    packet.data = unit.data();
    packet.size = unit.size();
    VideoDecoder decoder;
    ASSERT_TRUE(decoder.prepare(packet, VideoDecoder::Mode::File, 0));
    EXPECT_EQ(decoder.threads(), 1);
}

}  // namespace
