// Converts a decoded picture to 32-bit BGRA of the render target's size: rotated by 0, 90, 180
// or 270 degrees clockwise, stretched to fill or letterboxed.
//
// 4:2:0 pictures (what the cameras send) take the quick way (libyuv): the planes are scaled
// to the size shown, turned there when asked, and converted once into the handed-out
// picture; the full-size picture is read once and never copied. Reductions down to half size
// are bilinear, stronger ones average the covered area, so small windows do not shimmer;
// enlargements are bilinear. Other formats go through libswscale in one pass to the size
// shown. Both use the BT.601 matrix, full range for the "J" formats. The scaler and the
// buffers are kept and reused while sizes and format stay the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

namespace kx::play {

struct BgraPicture {
    const uint8_t* data = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
};

class PictureConverter {
public:
    PictureConverter() = default;
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // Largest target accepted: 8192 pixels a side and no more than an 8K picture in all.
    static constexpr int kMaxSide = 8192;
    static constexpr int64_t kMaxPixels = 8192LL * 4608;

    // rotate 0..3; keepShape true letterboxes. False when the picture cannot be converted.
    bool convert(const AVFrame* frame, int width, int height, int rotate, bool keepShape,
                 BgraPicture& out);

    struct Rect {
        int x = 0, y = 0, w = 0, h = 0;
    };
    // Where a picture of srcW x srcH (sample aspect sarNum/sarDen, already rotated) lands in
    // a target of outW x outH.
    static Rect placement(int srcW, int srcH, int sarNum, int sarDen, int outW, int outH,
                          bool keepShape);

    // Which way the last picture went (for tests and measurements).
    enum class Path { None, Planar, Scaler };
    Path lastPath() const { return m_lastPath; }

private:
    bool ensureBuffers(int width, int height, const Rect& rect, int scaledW, int scaledH);
    bool convertPlanar(const AVFrame* frame, bool fullRange, int rotate, int scaledW, int scaledH,
                       uint8_t* dst);
    bool convertScaler(const AVFrame* frame, int format, bool fullRange, int rotate, int scaledW,
                       int scaledH, uint8_t* dst);

    SwsContext* m_sws = nullptr;
    uint8_t* m_out = nullptr;  // the picture handed out
    int m_outStride = 0;
    int m_outW = 0, m_outH = 0;
    Rect m_rect;
    uint8_t* m_scaled = nullptr;  // before rotation, when rotating
    int m_scaledStride = 0;
    size_t m_scaledBytes = 0;
    // 4:2:0 planes at the size shown: scaled, and turned when rotating.
    std::vector<uint8_t> m_planes;
    std::vector<uint8_t> m_turned;
    Path m_lastPath = Path::None;
};

// Copies a BGRA picture turned by rotate * 90 degrees clockwise into dst (the rotated size).
void rotateBgra(const uint8_t* src, int srcStride, int srcW, int srcH, uint8_t* dst, int dstStride,
                int rotate);

}  // namespace kx::play
