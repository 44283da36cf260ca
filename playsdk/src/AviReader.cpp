#include "AviReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace kx::play {
namespace {
constexpr AVRational kMicros{1, 1000000};
}

AviReader::AviReader() : m_pkt(av_packet_alloc()) {}

AviReader::~AviReader() {
    av_packet_free(&m_pkt);
    avformat_close_input(&m_fmt);
}

bool AviReader::open(const std::string& path) {
    if (m_pkt == nullptr) return false;
    // Only as AVI, and only from a plain file: FFmpeg would otherwise open whatever it
    // recognises in the content (playlists naming other files or network addresses).
    const AVInputFormat* avi = av_find_input_format("avi");
    if (avi == nullptr) return false;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", "avi", 0);
    const int opened = avformat_open_input(&m_fmt, path.c_str(), avi, &options);
    av_dict_free(&options);
    if (opened < 0) return false;
    if (avformat_find_stream_info(m_fmt, nullptr) < 0) return false;
    m_video = av_find_best_stream(m_fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    m_audio = av_find_best_stream(m_fmt, AVMEDIA_TYPE_AUDIO, -1, m_video, nullptr, 0);
    if (m_video < 0) m_video = -1;
    if (m_audio < 0) m_audio = -1;
    for (unsigned i = 0; i < m_fmt->nb_streams; ++i) {
        if (static_cast<int>(i) != m_video && static_cast<int>(i) != m_audio) {
            m_fmt->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    return m_video >= 0 || m_audio >= 0;
}

bool AviReader::timeRange(int64_t& startUs, int64_t& endUs) const {
    if (m_fmt == nullptr) return false;
    startUs = m_fmt->start_time == AV_NOPTS_VALUE ? 0 : m_fmt->start_time;
    if (m_fmt->duration == AV_NOPTS_VALUE || m_fmt->duration < 0) return false;
    endUs = startUs + m_fmt->duration;
    return true;
}

int AviReader::frameRate() const {
    if (m_video < 0) return 0;
    const AVRational r = m_fmt->streams[m_video]->avg_frame_rate;
    if (r.num <= 0 || r.den <= 0) return 0;
    return static_cast<int>((r.num + r.den / 2) / r.den);
}

bool AviReader::read(MediaPacket& packet) {
    for (;;) {
        av_packet_unref(m_pkt);
        if (av_read_frame(m_fmt, m_pkt) < 0) return false;
        const int idx = m_pkt->stream_index;
        if (idx != m_video && idx != m_audio) continue;
        const AVStream* st = m_fmt->streams[idx];
        int64_t ts = m_pkt->pts != AV_NOPTS_VALUE ? m_pkt->pts : m_pkt->dts;
        packet = MediaPacket{};
        packet.kind = idx == m_video ? MediaKind::Video : MediaKind::Audio;
        packet.codecpar = st->codecpar;
        packet.ptsUs =
            ts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(ts, st->time_base, kMicros);
        packet.key = (m_pkt->flags & AV_PKT_FLAG_KEY) != 0;
        packet.data = m_pkt->data;
        packet.size = static_cast<size_t>(m_pkt->size);
        return true;
    }
}

bool AviReader::seek(int64_t timeUs) {
    const int idx = m_video >= 0 ? m_video : m_audio;
    const AVStream* st = m_fmt->streams[idx];
    const int64_t ts = av_rescale_q(timeUs, kMicros, st->time_base);
    if (av_seek_frame(m_fmt, idx, ts, AVSEEK_FLAG_BACKWARD) >= 0) return true;
    return av_seek_frame(m_fmt, idx, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0;
}

}  // namespace kx::play
