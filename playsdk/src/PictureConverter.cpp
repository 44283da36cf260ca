#include "PictureConverter.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace kx::play {
namespace {

// The full-range ("J") formats are the same layouts; the range goes to the scaler apart.
AVPixelFormat plainFormat(int format, bool& fullRange) {
    fullRange = false;
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            fullRange = true;
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            fullRange = true;
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            fullRange = true;
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            fullRange = true;
            return AV_PIX_FMT_YUV440P;
        default:
            return static_cast<AVPixelFormat>(format);
    }
}

void fillBlack(uint8_t* p, int stride, int w, int h) {
    for (int y = 0; y < h; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(p + static_cast<size_t>(y) * stride);
        std::fill(row, row + w, 0xFF000000u);  // B, G, R = 0, A = 255 in memory order
    }
}

}  // namespace

PictureConverter::~PictureConverter() {
    sws_freeContext(m_sws);
    av_free(m_out);
    av_free(m_scaled);
}

PictureConverter::Rect PictureConverter::placement(int srcW, int srcH, int sarNum, int sarDen,
                                                   int outW, int outH, bool keepShape) {
    if (!keepShape || srcW <= 0 || srcH <= 0) return {0, 0, outW, outH};
    if (sarNum <= 0 || sarDen <= 0) sarNum = sarDen = 1;
    // Shown width : height = srcW * sar : srcH.
    const int64_t dispW = static_cast<int64_t>(srcW) * sarNum;
    const int64_t dispH = static_cast<int64_t>(srcH) * sarDen;
    Rect r;
    if (dispW * outH >= dispH * outW) {
        r.w = outW;
        r.h = static_cast<int>(std::max<int64_t>(1, (dispH * outW + dispW / 2) / dispW));
        r.h = std::min(r.h, outH);
    } else {
        r.h = outH;
        r.w = static_cast<int>(std::max<int64_t>(1, (dispW * outH + dispH / 2) / dispH));
        r.w = std::min(r.w, outW);
    }
    r.x = (outW - r.w) / 2;
    r.y = (outH - r.h) / 2;
    return r;
}

bool PictureConverter::ensureBuffers(int width, int height, const Rect& rect, int scaledW,
                                     int scaledH) {
    if (width != m_outW || height != m_outH || m_out == nullptr) {
        av_free(m_out);
        m_outStride = FFALIGN(width * 4, 64);
        m_out = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(m_outStride) * height));
        if (m_out == nullptr) {
            m_outW = m_outH = 0;
            return false;
        }
        m_outW = width;
        m_outH = height;
        m_rect = Rect{-1, -1, -1, -1};
    }
    if (rect.x != m_rect.x || rect.y != m_rect.y || rect.w != m_rect.w || rect.h != m_rect.h) {
        // The bars around the picture stay black; only the picture area is rewritten later.
        fillBlack(m_out, m_outStride, width, height);
        m_rect = rect;
    }
    if (scaledW > 0) {
        const int stride = FFALIGN(scaledW * 4, 64);
        const size_t bytes = static_cast<size_t>(stride) * scaledH;
        if (bytes > m_scaledBytes) {
            av_free(m_scaled);
            m_scaled = static_cast<uint8_t*>(av_malloc(bytes));
            m_scaledBytes = m_scaled != nullptr ? bytes : 0;
            if (m_scaled == nullptr) return false;
        }
        m_scaledStride = stride;
    }
    return true;
}

bool PictureConverter::convert(const AVFrame* frame, int width, int height, int rotate,
                               bool keepShape, BgraPicture& out) {
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0) return false;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        static_cast<int64_t>(width) * height > kMaxPixels) {
        return false;
    }
    rotate &= 3;
    const bool sideways = rotate == 1 || rotate == 3;
    const int srcW = sideways ? frame->height : frame->width;
    const int srcH = sideways ? frame->width : frame->height;
    const int sarNum = sideways ? frame->sample_aspect_ratio.den : frame->sample_aspect_ratio.num;
    const int sarDen = sideways ? frame->sample_aspect_ratio.num : frame->sample_aspect_ratio.den;
    const Rect rect = placement(srcW, srcH, sarNum, sarDen, width, height, keepShape);
    const int scaledW = sideways ? rect.h : rect.w;
    const int scaledH = sideways ? rect.w : rect.h;
    if (!ensureBuffers(width, height, rect, rotate != 0 ? scaledW : 0, scaledH)) return false;

    bool fullRange = false;
    const AVPixelFormat srcFormat = plainFormat(frame->format, fullRange);
    m_sws = sws_getCachedContext(m_sws, frame->width, frame->height, srcFormat, scaledW, scaledH,
                                 AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (m_sws == nullptr) return false;
    if (fullRange) {
        int* inv = nullptr;
        int* table = nullptr;
        int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(m_sws, &inv, &srcRange, &table, &dstRange, &brightness,
                                     &contrast, &saturation) >= 0 &&
            srcRange != 1) {
            sws_setColorspaceDetails(m_sws, inv, 1, table, dstRange, brightness, contrast,
                                     saturation);
        }
    }
    uint8_t* dst[4] = {nullptr, nullptr, nullptr, nullptr};
    int dstStride[4] = {0, 0, 0, 0};
    if (rotate == 0) {
        dst[0] =
            m_out + static_cast<size_t>(rect.y) * m_outStride + static_cast<size_t>(rect.x) * 4;
        dstStride[0] = m_outStride;
    } else {
        dst[0] = m_scaled;
        dstStride[0] = m_scaledStride;
    }
    if (sws_scale(m_sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride) <= 0) {
        return false;
    }
    if (rotate != 0) {
        uint8_t* target =
            m_out + static_cast<size_t>(rect.y) * m_outStride + static_cast<size_t>(rect.x) * 4;
        rotateBgra(m_scaled, m_scaledStride, scaledW, scaledH, target, m_outStride, rotate);
    }
    out.data = m_out;
    out.stride = m_outStride;
    out.width = width;
    out.height = height;
    return true;
}

void rotateBgra(const uint8_t* src, int srcStride, int srcW, int srcH, uint8_t* dst, int dstStride,
                int rotate) {
    auto px = [&](int x, int y) {
        return *reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(y) * srcStride +
                                                  static_cast<size_t>(x) * 4);
    };
    auto put = [&](int x, int y, uint32_t v) {
        *reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(y) * dstStride +
                                     static_cast<size_t>(x) * 4) = v;
    };
    constexpr int kTile = 32;  // tiles keep both sides in the cache
    switch (rotate & 3) {
        case 1:  // clockwise: source (x, y) goes to (srcH - 1 - y, x)
            for (int ty = 0; ty < srcH; ty += kTile) {
                for (int tx = 0; tx < srcW; tx += kTile) {
                    for (int y = ty; y < std::min(ty + kTile, srcH); ++y) {
                        for (int x = tx; x < std::min(tx + kTile, srcW); ++x) {
                            put(srcH - 1 - y, x, px(x, y));
                        }
                    }
                }
            }
            break;
        case 2:
            for (int y = 0; y < srcH; ++y) {
                for (int x = 0; x < srcW; ++x) put(srcW - 1 - x, srcH - 1 - y, px(x, y));
            }
            break;
        case 3:  // counter-clockwise: source (x, y) goes to (y, srcW - 1 - x)
            for (int ty = 0; ty < srcH; ty += kTile) {
                for (int tx = 0; tx < srcW; tx += kTile) {
                    for (int y = ty; y < std::min(ty + kTile, srcH); ++y) {
                        for (int x = tx; x < std::min(tx + kTile, srcW); ++x) {
                            put(y, srcW - 1 - x, px(x, y));
                        }
                    }
                }
            }
            break;
        default:
            for (int y = 0; y < srcH; ++y) {
                std::memcpy(dst + static_cast<size_t>(y) * dstStride,
                            src + static_cast<size_t>(y) * srcStride,
                            static_cast<size_t>(srcW) * 4);
            }
    }
}

}  // namespace kx::play
