#include "VideoDecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "KXPackagedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kx::play {
namespace {

// The picture size a packet announces (its parameter sets, or the container's), 0 x 0 when
// it does not tell.
void pictureSize(const MediaPacket& packet, AVCodecID id, AVCodecContext* ctx, int& w, int& h) {
    w = h = 0;
    if (packet.codecpar != nullptr && packet.codecpar->width > 0) {
        w = packet.codecpar->width;
        h = packet.codecpar->height;
        return;
    }
    AVCodecParserContext* parser = av_parser_init(id);
    if (parser == nullptr || packet.data == nullptr || packet.size == 0 ||
        packet.size > static_cast<size_t>(INT_MAX)) {
        av_parser_close(parser);
        return;
    }
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    uint8_t* out = nullptr;
    int outSize = 0;
    // The parser reads up to 64 bytes past what it is given.
    std::vector<uint8_t> padded(packet.size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(padded.data(), packet.data, packet.size);
    av_parser_parse2(parser, ctx, &out, &outSize, padded.data(), static_cast<int>(packet.size),
                     AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (parser->width > 0 && parser->height > 0) {
        w = parser->width;
        h = parser->height;
    }
    av_parser_close(parser);
}

}  // namespace

int VideoDecoder::fileThreads(int width, int height, unsigned cores) {
    if (width <= 0 || height <= 0) return 0;
    constexpr int64_t kPerThread = 1920LL * 1088;
    const int64_t wanted = (static_cast<int64_t>(width) * height + kPerThread - 1) / kPerThread;
    return static_cast<int>(std::clamp<int64_t>(wanted, 1, std::max(1u, cores)));
}

int VideoDecoder::threads() const {
    return m_ctx != nullptr ? m_ctx->thread_count : 0;
}

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
    if (mode == Mode::File && threads == 0) {
        int w = 0, h = 0;
        pictureSize(packet, id, m_ctx, w, h);
        threads = fileThreads(w, h, std::thread::hardware_concurrency());
    }
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
