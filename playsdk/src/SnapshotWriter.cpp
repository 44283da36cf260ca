#include "SnapshotWriter.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "PictureConverter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace kx::play {
namespace {

struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

// The picture turned and converted to full-range 4:2:0, as the JPEG encoder wants it.
std::unique_ptr<AVFrame, FrameDeleter> prepare(const AVFrame* picture, int rotate) {
    const int w = picture->width;
    const int h = picture->height;
    const bool sideways = (rotate & 1) != 0;
    const int outW = sideways ? h : w;
    const int outH = sideways ? w : h;
    std::unique_ptr<AVFrame, FrameDeleter> yuv(av_frame_alloc());
    if (!yuv) return nullptr;
    yuv->format = AV_PIX_FMT_YUVJ420P;
    yuv->width = outW;
    yuv->height = outH;
    if (av_frame_get_buffer(yuv.get(), 0) < 0) return nullptr;

    const int bgraStride = w * 4;
    std::vector<uint8_t> bgra(static_cast<size_t>(bgraStride) * h);
    std::unique_ptr<SwsContext, SwsDeleter> toBgra(
        sws_getContext(w, h, static_cast<AVPixelFormat>(picture->format), w, h, AV_PIX_FMT_BGRA,
                       SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!toBgra) return nullptr;
    uint8_t* dst[4] = {bgra.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {bgraStride, 0, 0, 0};
    if (sws_scale(toBgra.get(), picture->data, picture->linesize, 0, h, dst, dstStride) <= 0) {
        return nullptr;
    }
    std::vector<uint8_t> turned;
    const uint8_t* src = bgra.data();
    int srcStride = bgraStride;
    if ((rotate & 3) != 0) {
        turned.resize(static_cast<size_t>(outW) * 4 * outH);
        rotateBgra(bgra.data(), bgraStride, w, h, turned.data(), outW * 4, rotate);
        src = turned.data();
        srcStride = outW * 4;
    }
    std::unique_ptr<SwsContext, SwsDeleter> toYuv(
        sws_getContext(outW, outH, AV_PIX_FMT_BGRA, outW, outH, AV_PIX_FMT_YUVJ420P, SWS_BILINEAR,
                       nullptr, nullptr, nullptr));
    if (!toYuv) return nullptr;
    const uint8_t* srcPlanes[4] = {src, nullptr, nullptr, nullptr};
    int srcStrides[4] = {srcStride, 0, 0, 0};
    if (sws_scale(toYuv.get(), srcPlanes, srcStrides, 0, outH, yuv->data, yuv->linesize) <= 0) {
        return nullptr;
    }
    return yuv;
}

bool encode(const AVFrame* yuv, std::vector<uint8_t>& jpeg) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (codec == nullptr) return false;
    std::unique_ptr<AVCodecContext, CodecDeleter> ctx(avcodec_alloc_context3(codec));
    std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
    if (!ctx || !pkt) return false;
    ctx->width = yuv->width;
    ctx->height = yuv->height;
    ctx->pix_fmt = AV_PIX_FMT_YUVJ420P;
    ctx->color_range = AVCOL_RANGE_JPEG;
    ctx->time_base = AVRational{1, 25};
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 3;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return false;
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_clone(yuv));
    if (!frame) return false;
    frame->quality = ctx->global_quality;
    frame->pict_type = AV_PICTURE_TYPE_I;
    if (avcodec_send_frame(ctx.get(), frame.get()) < 0) return false;
    if (avcodec_send_frame(ctx.get(), nullptr) < 0) return false;
    if (avcodec_receive_packet(ctx.get(), pkt.get()) < 0) return false;
    jpeg.assign(pkt->data, pkt->data + pkt->size);
    return !jpeg.empty();
}

std::string temporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".part" + std::to_string(counter.fetch_add(1));
}

}  // namespace

int writeJpeg(const AVFrame* picture, int rotate, const std::string& path) {
    if (picture == nullptr || picture->width <= 0 || picture->height <= 0 || path.empty()) {
        return -1;
    }
    auto yuv = prepare(picture, rotate);
    if (!yuv) return -2;
    std::vector<uint8_t> jpeg;
    if (!encode(yuv.get(), jpeg)) return -3;

    const std::string temp = temporaryName(path);
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) return -4;
    const bool written = std::fwrite(jpeg.data(), 1, jpeg.size(), f) == jpeg.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return -5;
    }
    return 0;
}

}  // namespace kx::play
