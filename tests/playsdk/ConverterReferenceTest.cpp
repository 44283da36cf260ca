// Pictures converted for the render target against the ffmpeg program scaling the same source
// picture: colour bars at several sizes, rotations, ranges and formats, all through one
// converter, so every change of size or format between cases must rebuild what it keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "PictureConverter.h"
#include "PlayMedia.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

namespace {

using namespace playtest;

struct Case {
    const char* format;  // ffmpeg's name of the source pixel format
    AVPixelFormat avFormat;
    int srcW, srcH;
    int dstW, dstH;
    int rotate;         // quarter turns clockwise
    const char* flags;  // the ffmpeg scaler closest to what the converter uses at this size
    kx::play::PictureConverter::Path path;
};

using Path = kx::play::PictureConverter::Path;

const Case kCases[] = {
    {"yuv420p", AV_PIX_FMT_YUV420P, 640, 480, 320, 240, 0, "bilinear", Path::Planar},
    {"yuv420p", AV_PIX_FMT_YUV420P, 640, 480, 640, 480, 0, "bilinear", Path::Planar},
    {"yuv420p", AV_PIX_FMT_YUV420P, 640, 480, 150, 90, 0, "area", Path::Planar},
    {"yuv420p", AV_PIX_FMT_YUV420P, 352, 288, 501, 403, 0, "bilinear", Path::Planar},
    {"yuv420p", AV_PIX_FMT_YUV420P, 640, 480, 240, 320, 1, "bilinear", Path::Planar},
    {"yuv420p", AV_PIX_FMT_YUV420P, 640, 480, 320, 240, 2, "bilinear", Path::Planar},
    {"yuvj420p", AV_PIX_FMT_YUVJ420P, 640, 480, 320, 240, 0, "bilinear", Path::Planar},
    {"yuv444p", AV_PIX_FMT_YUV444P, 640, 480, 320, 240, 0, "bilinear", Path::Scaler},
    {"yuv420p", AV_PIX_FMT_YUV420P, 320, 240, 320, 240, 3, "bilinear", Path::Planar},
};

// Colour bars of w x h in the given format, as raw planes in a file.
std::string barsFile(const Case& c) {
    const std::string path = workDir() + "/bars_" + c.format + "_" + std::to_string(c.srcW) + "x" +
                             std::to_string(c.srcH) + ".yuv";
    if (!fileExists(path)) {
        EXPECT_TRUE(runFfmpeg("-f lavfi -i smptehdbars=s=" + std::to_string(c.srcW) + "x" +
                              std::to_string(c.srcH) + " -frames:v 1 -pix_fmt " + c.format +
                              " -f rawvideo " + path));
    }
    return path;
}

// ffmpeg's picture: the same planes turned and scaled to the target, as BGRA.
std::vector<uint8_t> reference(const Case& c, const std::string& source) {
    static const char* const kTurn[] = {"", "transpose=clock,", "hflip,vflip,",
                                        "transpose=cclock,"};
    const std::string out = source + "." + std::to_string(c.dstW) + "x" + std::to_string(c.dstH) +
                            "r" + std::to_string(c.rotate) + ".bgra";
    EXPECT_TRUE(runFfmpeg("-f rawvideo -pix_fmt " + std::string(c.format) + " -s " +
                          std::to_string(c.srcW) + "x" + std::to_string(c.srcH) + " -i " + source +
                          " -vf " + kTurn[c.rotate] + "scale=" + std::to_string(c.dstW) + ":" +
                          std::to_string(c.dstH) + ":flags=" + c.flags +
                          ",format=bgra -f rawvideo " + out));
    return readFile(out);
}

class ConverterReference : public ::testing::Test {
protected:
    kx::play::PictureConverter converter;  // shared by the cases, in order
};

TEST_F(ConverterReference, MatchesFfmpegScalingTheSamePicture) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.srcW) + "x" +
                     std::to_string(c.srcH) + " to " + std::to_string(c.dstW) + "x" +
                     std::to_string(c.dstH) + " turned " + std::to_string(c.rotate));
        const std::string source = barsFile(c);
        const std::vector<uint8_t> raw = readFile(source);
        AVFrame* frame = av_frame_alloc();
        frame->format = c.avFormat;
        frame->width = c.srcW;
        frame->height = c.srcH;
        ASSERT_GE(av_frame_get_buffer(frame, 0), 0);
        ASSERT_EQ(static_cast<int>(raw.size()),
                  av_image_get_buffer_size(c.avFormat, c.srcW, c.srcH, 1));
        uint8_t* planes[4] = {};
        int strides[4] = {};
        av_image_fill_arrays(planes, strides, raw.data(), c.avFormat, c.srcW, c.srcH, 1);
        av_image_copy(frame->data, frame->linesize, const_cast<const uint8_t**>(planes), strides,
                      c.avFormat, c.srcW, c.srcH);

        kx::play::BgraPicture pic;
        ASSERT_TRUE(converter.convert(frame, c.dstW, c.dstH, c.rotate, false, pic));
        av_frame_free(&frame);
        EXPECT_EQ(converter.lastPath(), c.path);
        ASSERT_EQ(pic.width, c.dstW);
        ASSERT_EQ(pic.height, c.dstH);

        const std::vector<uint8_t> ref = reference(c, source);
        ASSERT_EQ(ref.size(), static_cast<size_t>(c.dstW) * c.dstH * 4);
        // Filters differ at the sharp edges between bars: inside the bars (where the reference
        // is flat around a pixel) the colours must agree closely, and on the whole picture the
        // average difference stays small.
        auto refAt = [&](int x, int y, int k) {
            return static_cast<int>(ref[(static_cast<size_t>(y) * c.dstW + x) * 4 + k]);
        };
        double sum = 0;
        size_t flat = 0, off = 0;
        for (int y = 0; y < c.dstH; ++y) {
            const uint8_t* row = pic.data + static_cast<size_t>(y) * pic.stride;
            for (int x = 0; x < c.dstW; ++x) {
                EXPECT_EQ(row[x * 4 + 3], 255) << "alpha at " << x << "," << y;
                bool even = x > 0 && y > 0 && x + 1 < c.dstW && y + 1 < c.dstH;
                int worst = 0;
                for (int k = 0; k < 3; ++k) {
                    const int d = std::abs(row[x * 4 + k] - refAt(x, y, k));
                    sum += d;
                    worst = std::max(worst, d);
                    for (int n = 0; even && n < 9; ++n) {
                        even =
                            std::abs(refAt(x + n % 3 - 1, y + n / 3 - 1, k) - refAt(x, y, k)) <= 2;
                    }
                }
                if (even) {
                    ++flat;
                    if (worst > 6) ++off;
                }
            }
        }
        const double samples = 3.0 * c.dstW * c.dstH;
        EXPECT_LT(sum / samples, 5.0);
        ASSERT_GT(flat, static_cast<size_t>(c.dstW) * c.dstH / 2);
        EXPECT_LT(static_cast<double>(off) / static_cast<double>(flat), 0.02);
    }
}

}  // namespace
