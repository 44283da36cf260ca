// The live side of a port's thread: decoding deliveries as they come, showing each picture
// at once.
#include "BitstreamInfo.h"
#include "PackagedFrame.h"
#include "Port.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace kx::play {

void Port::liveDecodeVideo(const MediaPacket& packet) {
    int threads = 0;
    {
        std::lock_guard lock(m_mutex);
        threads = m_threads;
    }
    if (!m_video.prepare(packet, VideoDecoder::Mode::Live, threads)) {
        std::lock_guard lock(m_mutex);
        ++m_stats.undecodable;
        return;
    }
    const int64_t sentUs = nowUs();
    if (!m_video.send(packet)) {
        std::lock_guard lock(m_mutex);
        ++m_stats.decodeErrors;
    }
    while (m_video.receive(m_frame)) {
        bool show = false;
        {
            const int64_t decodedUs = nowUs();
            std::lock_guard lock(m_mutex);
            m_stats.lastPictureDecodeUs = decodedUs - sentUs;
            ++m_stats.decodedVideo;
            show = m_playing && !m_paused;
        }
        if (m_lastPtsUs != INT64_MIN && m_frame->pts > m_lastPtsUs) {
            const int64_t delta = m_frame->pts - m_lastPtsUs;
            if (delta > 0 && delta < 1000000)
                m_frameRate = static_cast<int>((1000000 + delta / 2) / delta);
        }
        if (m_frame->pts != AV_NOPTS_VALUE) m_lastPtsUs = m_frame->pts;
        if (show) m_presenter.presentVideo(m_frame, m_frameRate);
        av_frame_unref(m_frame);
    }
}

void Port::liveDeliver(const std::vector<uint8_t>& delivery) {
    const auto f = kx::frame::parseInner(delivery.data(), delivery.size());
    if (!f) return;  // checked when it was queued
    MediaPacket packet;
    packet.dataType = f->dataType;
    packet.ptsUs = static_cast<int64_t>(f->ptsSec) * 1000000 + f->ptsUsec;
    packet.data = f->payload;
    packet.size = f->payloadSize;
    if (f->dataType == KX_DATA_MPEG4) packet.data = mpeg4SkipPrefix(packet.data, packet.size);
    if (kx::frame::isVideoDataType(f->dataType)) {
        packet.kind = MediaKind::Video;
        packet.key = isKeyFrame(f->dataType, f->frameType, f->payload, f->payloadSize);
        if (f->dataType == KX_DATA_H265) {
            // The H.265 decoder takes whole pictures: a picture goes out when the first NAL
            // unit of the next one arrives.
            m_liveUnit.setHevc(true);
            H264AccessUnit::Unit unit;
            if (!m_liveUnit.push(packet.data, packet.size, packet.ptsUs, packet.key, unit)) return;
            packet.data = unit.data;
            packet.size = unit.size;
            packet.ptsUs = unit.ptsUs;
            packet.key = unit.key;
        }
        liveDecodeVideo(packet);
        return;
    }
    packet.kind = MediaKind::Audio;
    packet.channels = f->channels;
    packet.sampleRate = f->sampleRate;
    packet.key = true;
    if (!m_threadSound && !m_presenter.wantsAudio()) return;  // nobody listens
    decodeAudio(packet, m_threadSound);
}

}  // namespace kx::play
