// NAL unit classification of H.264 and H.265: frame types and access unit boundaries.
#include <gtest/gtest.h>

#include <vector>

#include "KXPackagedFrame.h"
#include "NalUnit.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct FrameTypeCase {
    const char* name;
    bool h265;
    Bytes frame;
    uint16_t frameType;
    bool hasStartCode;
};

class FrameTypeTest : public ::testing::TestWithParam<FrameTypeCase> {};

TEST_P(FrameTypeTest, ClassifiesLikeThePackaging) {
    const FrameTypeCase& c = GetParam();
    bool start = !c.hasStartCode;
    const uint16_t type = c.h265 ? kx::frame::h265FrameType(c.frame.data(), c.frame.size(), start)
                                 : kx::frame::h264FrameType(c.frame.data(), c.frame.size(), start);
    EXPECT_EQ(type, c.frameType);
    EXPECT_EQ(start, c.hasStartCode);
}

// H.265 NAL unit header: type in bits 1..6 of the first byte, then layer id and temporal id.
constexpr uint8_t hevc(int type) {
    return static_cast<uint8_t>(type << 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameTypeTest,
    ::testing::Values(
        FrameTypeCase{"H264Idr", false, {0x65, 0x88}, KX_FRAME_IDR, false},
        FrameTypeCase{"H264Sps", false, {0x67, 0x42}, KX_FRAME_SPS, false},
        FrameTypeCase{"H264Pps", false, {0, 0, 1, 0x68, 0xCE}, KX_FRAME_PPS, true},
        FrameTypeCase{"H264SliceNoStart", false, {0x41, 0x9A}, KX_FRAME_NOSTART, false},
        FrameTypeCase{"H264SliceStart", false, {0, 0, 0, 1, 0x41}, KX_FRAME_OTHER, true},
        FrameTypeCase{"H264Empty", false, {}, KX_FRAME_NOSTART, false},
        FrameTypeCase{"H265IdrWRadl", true, {hevc(19), 1, 0xAF}, KX_FRAME_IDR, false},
        FrameTypeCase{"H265BlaWLp", true, {hevc(16), 1, 0xAF}, KX_FRAME_IDR, false},
        FrameTypeCase{"H265Cra", true, {0, 0, 0, 1, hevc(21), 1, 0xAF}, KX_FRAME_IDR, true},
        FrameTypeCase{"H265ReservedIrap22", true, {hevc(22), 1, 0xAF}, KX_FRAME_NOSTART, false},
        FrameTypeCase{"H265Trail", true, {hevc(1), 1, 0xD0}, KX_FRAME_NOSTART, false},
        FrameTypeCase{"H265TrailStart", true, {0, 0, 1, hevc(1), 1, 0xD0}, KX_FRAME_OTHER, true},
        FrameTypeCase{"H265Vps", true, {hevc(32), 1, 0x0C}, KX_FRAME_VPS, false},
        FrameTypeCase{"H265Sps", true, {hevc(33), 1, 0x01}, KX_FRAME_SPS, false},
        FrameTypeCase{"H265Pps", true, {0, 0, 0, 1, hevc(34), 1, 0xC1}, KX_FRAME_PPS, true},
        // An H.264 IDR header byte (0x65) read as H.265 is type 50: nothing special.
        FrameTypeCase{"H265OneByteHeader", true, {0x40}, KX_FRAME_NOSTART, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct AccessUnitCase {
    const char* name;
    bool h265;
    Bytes nal;
    bool begins;
};

class AccessUnitTest : public ::testing::TestWithParam<AccessUnitCase> {};

TEST_P(AccessUnitTest, FindsTheFirstNalUnitOfAPicture) {
    const AccessUnitCase& c = GetParam();
    EXPECT_EQ(c.h265 ? kx::frame::h265BeginsAccessUnit(c.nal.data(), c.nal.size())
                     : kx::frame::h264BeginsAccessUnit(c.nal.data(), c.nal.size()),
              c.begins);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AccessUnitTest,
    ::testing::Values(AccessUnitCase{"H264FirstSlice", false, {0x41, 0x9A}, true},
                      AccessUnitCase{"H264LaterSlice", false, {0x41, 0x1A}, false},
                      AccessUnitCase{"H264Sps", false, {0x67, 0x42}, true},
                      AccessUnitCase{"H265FirstSlice", true, {hevc(1), 1, 0xD0}, true},
                      AccessUnitCase{"H265LaterSlice", true, {hevc(1), 1, 0x50}, false},
                      AccessUnitCase{"H265Vps", true, {hevc(32), 1, 0x0C}, true},
                      AccessUnitCase{"H265PrefixSei", true, {hevc(39), 1, 5}, true},
                      AccessUnitCase{"H265SuffixSei", true, {hevc(40), 1, 5}, false},
                      AccessUnitCase{"H265EndOfSequence", true, {hevc(36), 1}, false},
                      AccessUnitCase{"H265SliceWithoutBody", true, {hevc(19), 1}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
