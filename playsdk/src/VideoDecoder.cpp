#include "VideoDecoder.h"

#include "KXPackagedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kx::play {

VideoDecoder::VideoDecoder() : m_pkt(av_packet_alloc()) {}

VideoDecoder::~VideoDecoder() {
    close();
    av_packet_free(&m_pkt);
}

void VideoDecoder::close() {
    avcodec_free_context(&m_ctx);
    m_dataType = 0;
    m_codecpar = nullptr;
}

bool VideoDecoder::prepare(const MediaPacket& packet, Mode mode, int threads) {
    if (m_ctx != nullptr && packet.dataType == m_dataType && packet.codecpar == m_codecpar) {
        return true;
    }
    close();
    if (m_pkt == nullptr) return false;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (packet.codecpar != nullptr) {
        id = packet.codecpar->codec_id;
    } else if (packet.dataType == KX_DATA_H264) {
        id = AV_CODEC_ID_H264;
    } else if (packet.dataType == KX_DATA_H265) {
        id = AV_CODEC_ID_HEVC;
    } else if (packet.dataType == KX_DATA_MPEG4) {
        id = AV_CODEC_ID_MPEG4;
    }
    const AVCodec* codec = avcodec_find_decoder(id);
    if (codec == nullptr) return false;
    m_ctx = avcodec_alloc_context3(codec);
    if (m_ctx == nullptr) return false;
    if (packet.codecpar != nullptr && avcodec_parameters_to_context(m_ctx, packet.codecpar) < 0) {
        close();
        return false;
    }
    m_ctx->pkt_timebase = AVRational{1, 1000000};
    m_ctx->thread_count = threads;
    if (mode == Mode::Live) {
        // Slices are decoded as they come; a picture is out as soon as its last one is in.
        if (id == AV_CODEC_ID_H264) m_ctx->flags2 |= AV_CODEC_FLAG2_CHUNKS;
        m_ctx->thread_type = FF_THREAD_SLICE;
    } else {
        m_ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    }
    if (avcodec_open2(m_ctx, codec, nullptr) < 0) {
        close();
        return false;
    }
    m_dataType = packet.dataType;
    m_codecpar = packet.codecpar;
    return true;
}

bool VideoDecoder::send(const MediaPacket& packet) {
    if (m_ctx == nullptr) return false;
    if (!m_buffers.fill(m_pkt, packet.data, packet.size)) return false;
    m_pkt->pts = packet.ptsUs;
    m_pkt->dts = AV_NOPTS_VALUE;
    m_pkt->flags = packet.key ? AV_PKT_FLAG_KEY : 0;
    const int rc = avcodec_send_packet(m_ctx, m_pkt);
    av_packet_unref(m_pkt);
    return rc >= 0;
}

void VideoDecoder::sendEnd() {
    if (m_ctx != nullptr) avcodec_send_packet(m_ctx, nullptr);
}

bool VideoDecoder::receive(AVFrame* frame) {
    if (m_ctx == nullptr) return false;
    return avcodec_receive_frame(m_ctx, frame) >= 0;
}

void VideoDecoder::flush() {
    if (m_ctx != nullptr) avcodec_flush_buffers(m_ctx);
}

}  // namespace kx::play
