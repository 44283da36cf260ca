#include "Mp4Muxer.h"

#include <cstdio>

extern "C" {
#include <libavutil/error.h>
}

namespace kx::qf2mp4 {

std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

Mp4Muxer::~Mp4Muxer() {
    if (m_ctx != nullptr) {
        if (m_ctx->pb != nullptr) avio_closep(&m_ctx->pb);
        avformat_free_context(m_ctx);
    }
}

bool Mp4Muxer::fail(const char* what, int code) {
    m_error = std::string(what) + ": " + avErrorText(code);
    return false;
}

bool Mp4Muxer::open(const std::string& path) {
    m_path = path;
    const int r = avformat_alloc_output_context2(&m_ctx, nullptr, "mp4", path.c_str());
    if (r < 0 || m_ctx == nullptr) return fail("cannot set up the MP4 writer", r);
    const int o = avio_open(&m_ctx->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (o < 0) return fail("cannot create the output file", o);
    return true;
}

AVStream* Mp4Muxer::addStream(const AVCodecParameters& par, AVRational timeBase) {
    AVStream* st = avformat_new_stream(m_ctx, nullptr);
    if (st == nullptr) {
        m_error = "out of memory";
        return nullptr;
    }
    if (const int r = avcodec_parameters_copy(st->codecpar, &par); r < 0) {
        fail("cannot add a stream", r);
        return nullptr;
    }
    st->codecpar->codec_tag = 0;
    st->time_base = timeBase;
    return st;
}

bool Mp4Muxer::writeHeader() {
    AVDictionary* options = nullptr;
    // The index goes to the front, so a player can start before the whole file has arrived.
    av_dict_set(&options, "movflags", "+faststart", 0);
    const int r = avformat_write_header(m_ctx, &options);
    av_dict_free(&options);
    if (r < 0) return fail("cannot write the MP4 header", r);
    m_headerWritten = true;
    return true;
}

bool Mp4Muxer::write(AVPacket* packet, int streamIndex, AVRational timeBase) {
    packet->stream_index = streamIndex;
    av_packet_rescale_ts(packet, timeBase, m_ctx->streams[streamIndex]->time_base);
    const int r = av_interleaved_write_frame(m_ctx, packet);
    if (r < 0) return fail("cannot write to the output file", r);
    return true;
}

bool Mp4Muxer::finish() {
    if (!m_headerWritten) {
        m_error = "nothing to write";
        return false;
    }
    if (const int r = av_write_trailer(m_ctx); r < 0)
        return fail("cannot complete the MP4 file", r);
    if (const int r = avio_closep(&m_ctx->pb); r < 0)
        return fail("cannot close the output file", r);
    return true;
}

void Mp4Muxer::discard() {
    if (m_ctx != nullptr && m_ctx->pb != nullptr) avio_closep(&m_ctx->pb);
    if (!m_path.empty()) std::remove(m_path.c_str());
}

}  // namespace kx::qf2mp4
