#include "PictureConverter.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <libyuv.h>

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

    bool fullRange = false;
    const AVPixelFormat format = plainFormat(frame->format, fullRange);
    const bool planar = format == AV_PIX_FMT_YUV420P && frame->data[0] != nullptr &&
                        frame->data[1] != nullptr && frame->data[2] != nullptr &&
                        frame->linesize[0] > 0 && frame->linesize[1] > 0 && frame->linesize[2] > 0;
    const int rotatedW = !planar && rotate != 0 ? scaledW : 0;
    if (!ensureBuffers(width, height, rect, rotatedW, scaledH)) return false;
    uint8_t* dst =
        m_out + static_cast<size_t>(rect.y) * m_outStride + static_cast<size_t>(rect.x) * 4;
    const bool ok = planar ? convertPlanar(frame, fullRange, rotate, scaledW, scaledH, dst)
                           : convertScaler(frame, format, fullRange, rotate, scaledW, scaledH, dst);
    if (!ok) return false;
    m_lastPath = planar ? Path::Planar : Path::Scaler;
    out.data = m_out;
    out.stride = m_outStride;
    out.width = width;
    out.height = height;
    return true;
}

bool PictureConverter::convertPlanar(const AVFrame* frame, bool fullRange, int rotate, int scaledW,
                                     int scaledH, uint8_t* dst) {
    struct Planes {
        const uint8_t* y;
        const uint8_t* u;
        const uint8_t* v;
        int yStride;
        int uStride;
        int vStride;
        int w;
        int h;
    };
    Planes p{frame->data[0],     frame->data[1],     frame->data[2], frame->linesize[0],
             frame->linesize[1], frame->linesize[2], frame->width,   frame->height};
    // Lays out a 4:2:0 picture of w x h in buf.
    auto layout = [](std::vector<uint8_t>& buf, int w, int h, uint8_t*& y, uint8_t*& u,
                     uint8_t*& v) {
        const size_t ySize = static_cast<size_t>(w) * h;
        const size_t cSize = static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2);
        if (buf.size() < ySize + 2 * cSize) buf.resize(ySize + 2 * cSize);
        y = buf.data();
        u = y + ySize;
        v = u + cSize;
    };
    if (scaledW != p.w || scaledH != p.h) {
        // Bilinear down to a third (at exactly half it is the 2x2 average); below that the
        // average over the covered area, as two taps would skip most of the source.
        const bool strong =
            static_cast<int64_t>(scaledW) * 3 <= p.w || static_cast<int64_t>(scaledH) * 3 <= p.h;
        uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
        layout(m_planes, scaledW, scaledH, y, u, v);
        const int cw = (scaledW + 1) / 2;
        if (libyuv::I420Scale(p.y, p.yStride, p.u, p.uStride, p.v, p.vStride, p.w, p.h, y, scaledW,
                              u, cw, v, cw, scaledW, scaledH,
                              strong ? libyuv::kFilterBox : libyuv::kFilterBilinear) != 0) {
            return false;
        }
        p = Planes{y, u, v, scaledW, cw, cw, scaledW, scaledH};
    }
    if (rotate != 0) {
        const int tw = rotate == 2 ? p.w : p.h;
        const int th = rotate == 2 ? p.h : p.w;
        uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
        layout(m_turned, tw, th, y, u, v);
        const int cw = (tw + 1) / 2;
        const libyuv::RotationMode mode = rotate == 1   ? libyuv::kRotate90
                                          : rotate == 2 ? libyuv::kRotate180
                                                        : libyuv::kRotate270;
        if (libyuv::I420Rotate(p.y, p.yStride, p.u, p.uStride, p.v, p.vStride, y, tw, u, cw, v, cw,
                               p.w, p.h, mode) != 0) {
            return false;
        }
        p = Planes{y, u, v, tw, cw, cw, tw, th};
    }
    const libyuv::YuvConstants* matrix =
        fullRange ? &libyuv::kYuvJPEGConstants : &libyuv::kYuvI601Constants;
    return libyuv::I420ToARGBMatrix(p.y, p.yStride, p.u, p.uStride, p.v, p.vStride, dst,
                                    m_outStride, matrix, p.w, p.h) == 0;
}

bool PictureConverter::convertScaler(const AVFrame* frame, int format, bool fullRange, int rotate,
                                     int scaledW, int scaledH, uint8_t* dst) {
    m_sws = sws_getCachedContext(m_sws, frame->width, frame->height,
                                 static_cast<AVPixelFormat>(format), scaledW, scaledH,
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
    uint8_t* planes[4] = {rotate == 0 ? dst : m_scaled, nullptr, nullptr, nullptr};
    int strides[4] = {rotate == 0 ? m_outStride : m_scaledStride, 0, 0, 0};
    if (sws_scale(m_sws, frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0) {
        return false;
    }
    if (rotate != 0)
        rotateBgra(m_scaled, m_scaledStride, scaledW, scaledH, dst, m_outStride, rotate);
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
