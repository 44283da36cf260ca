#include "AudioTrack.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include "Mp4Muxer.h"

namespace kx::qf2mp4 {
namespace {

constexpr int kAacFrameSamples = 1024;
const int kAacSampleRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                               22050, 16000, 12000, 11025, 8000,  7350};

int aacRateIndex(uint32_t rate) {
    for (int i = 0; i < 13; ++i) {
        if (static_cast<uint32_t>(kAacSampleRates[i]) == rate) return i;
    }
    return -1;
}

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct ParametersDeleter {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};

// AAC access units are copied. The MP4 file needs the AudioSpecificConfig: from the ADTS
// header when the frames carry one, else AAC-LC with the frame's rate and channel count
// (the packaged frame holds nothing more).
class AacCopy final : public AudioTrack {
public:
    AacCopy(const kx::frame::InnerFrame& first, int rateIndex)
        : AudioTrack(first.dataType, static_cast<int>(first.sampleRate)) {
        int objectType = 2;  // AAC LC
        int channels = static_cast<int>(first.channels);
        if (adtsHeaderSize(first.payload, first.payloadSize) > 0) {
            objectType = (first.payload[2] >> 6) + 1;
            rateIndex = (first.payload[2] >> 2) & 0x0F;
            channels = ((first.payload[2] & 1) << 2) | (first.payload[3] >> 6);
            m_sampleRate = rateIndex < 13 ? kAacSampleRates[rateIndex] : m_sampleRate;
        }
        m_par.reset(avcodec_parameters_alloc());
        m_par->codec_type = AVMEDIA_TYPE_AUDIO;
        m_par->codec_id = AV_CODEC_ID_AAC;
        m_par->sample_rate = m_sampleRate;
        m_par->frame_size = kAacFrameSamples;
        av_channel_layout_default(&m_par->ch_layout, std::max(channels, 1));
        m_par->extradata = static_cast<uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
        if (m_par->extradata != nullptr) {
            m_par->extradata[0] = static_cast<uint8_t>(objectType << 3 | rateIndex >> 1);
            m_par->extradata[1] =
                static_cast<uint8_t>((rateIndex & 1) << 7 | (channels & 0x0F) << 3);
            m_par->extradata_size = 2;
        }
    }

    const char* name() const override { return "AAC"; }
    const AVCodecParameters& parameters() const override { return *m_par; }

    bool push(const kx::frame::InnerFrame& frame, int64_t ptsUs, const PacketSink& sink) override {
        const size_t skip = adtsHeaderSize(frame.payload, frame.payloadSize);
        if (frame.payloadSize <= skip) return true;
        std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
        const size_t size = frame.payloadSize - skip;
        if (!pkt || av_new_packet(pkt.get(), static_cast<int>(size)) < 0) {
            m_error = "out of memory";
            return false;
        }
        std::memcpy(pkt->data, frame.payload + skip, size);
        int64_t pts = toSamples(ptsUs);
        if (m_next != AV_NOPTS_VALUE && pts < m_next) pts = m_next;  // never back in time
        pkt->pts = pkt->dts = pts;
        pkt->duration = kAacFrameSamples;
        pkt->flags = AV_PKT_FLAG_KEY;
        m_next = pts + kAacFrameSamples;
        return sink(pkt.get());
    }
    bool finish(const PacketSink&) override { return true; }

private:
    static size_t adtsHeaderSize(const uint8_t* p, size_t n) {
        if (n < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return 0;
        return (p[1] & 0x01) ? 7 : 9;  // protection_absent: no CRC
    }

    std::unique_ptr<AVCodecParameters, ParametersDeleter> m_par;
    int64_t m_next = AV_NOPTS_VALUE;
};

// G.711 is decoded and encoded to AAC (FFmpeg's native encoder). Samples wait in a FIFO until
// a whole AAC frame is there; the FIFO's first sample carries the presentation time of the
// G.711 frame it came from.
class G711ToAac final : public AudioTrack {
public:
    G711ToAac(const kx::frame::InnerFrame& first)
        : AudioTrack(first.dataType, static_cast<int>(first.sampleRate)),
          m_channels(static_cast<int>(std::max<uint32_t>(first.channels, 1))) {}

    bool open() {
        const AVCodecID decoderId =
            m_dataType == KX_DATA_PCMU ? AV_CODEC_ID_PCM_MULAW : AV_CODEC_ID_PCM_ALAW;
        const AVCodec* decoder = avcodec_find_decoder(decoderId);
        const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (decoder == nullptr || encoder == nullptr)
            return fail("FFmpeg lacks a G.711 decoder or an AAC encoder");
        m_dec.reset(avcodec_alloc_context3(decoder));
        m_enc.reset(avcodec_alloc_context3(encoder));
        if (!m_dec || !m_enc) return fail("out of memory");
        m_dec->sample_rate = m_sampleRate;
        av_channel_layout_default(&m_dec->ch_layout, m_channels);
        if (avcodec_open2(m_dec.get(), decoder, nullptr) < 0)
            return fail("cannot open the G.711 decoder");

        m_enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_enc->sample_rate = m_sampleRate;
        av_channel_layout_default(&m_enc->ch_layout, m_channels);
        m_enc->bit_rate = (m_sampleRate <= 16000 ? 32000 : 96000) * m_channels;
        m_enc->time_base = {1, m_sampleRate};
        m_enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // the MP4 file holds the configuration
        if (const int r = avcodec_open2(m_enc.get(), encoder, nullptr); r < 0) {
            return fail(("cannot open the AAC encoder: " + avErrorText(r)).c_str());
        }
        m_par.reset(avcodec_parameters_alloc());
        if (!m_par || avcodec_parameters_from_context(m_par.get(), m_enc.get()) < 0)
            return fail("out of memory");
        m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, m_channels, m_enc->frame_size * 4));
        m_decoded.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        if (!m_fifo || !m_decoded || !m_packet) return fail("out of memory");
        return true;
    }

    const char* name() const override {
        return m_dataType == KX_DATA_PCMU ? "G.711 mu-law" : "G.711 A-law";
    }
    const AVCodecParameters& parameters() const override { return *m_par; }

    bool push(const kx::frame::InnerFrame& frame, int64_t ptsUs, const PacketSink& sink) override {
        if (frame.payloadSize == 0) return true;
        if (av_new_packet(m_packet.get(), static_cast<int>(frame.payloadSize)) < 0)
            return fail("out of memory");
        std::memcpy(m_packet->data, frame.payload, frame.payloadSize);
        const int sent = avcodec_send_packet(m_dec.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (sent < 0) return true;  // a frame the decoder refuses is left out
        while (avcodec_receive_frame(m_dec.get(), m_decoded.get()) == 0) {
            const bool ok = queue(*m_decoded, toSamples(ptsUs));
            av_frame_unref(m_decoded.get());
            if (!ok) return false;
        }
        return encodeWhole(sink, false);
    }

    bool finish(const PacketSink& sink) override {
        if (!encodeWhole(sink, true)) return false;
        if (avcodec_send_frame(m_enc.get(), nullptr) < 0)
            return fail("cannot finish the AAC encoder");
        return drain(sink);
    }

private:
    bool fail(const char* what) {
        m_error = what;
        return false;
    }

    // Decoded samples (signed 16 bit) into the FIFO as planar float.
    bool queue(const AVFrame& decoded, int64_t ptsSamples) {
        const int n = decoded.nb_samples;
        const int buffered = av_audio_fifo_size(m_fifo.get());
        std::vector<std::vector<float>> planes(static_cast<size_t>(m_channels),
                                               std::vector<float>(static_cast<size_t>(n)));
        std::vector<void*> pointers;
        for (int c = 0; c < m_channels; ++c) {
            for (int i = 0; i < n; ++i) {
                const int16_t* s = reinterpret_cast<const int16_t*>(decoded.data[0]);
                planes[static_cast<size_t>(c)][static_cast<size_t>(i)] =
                    s[i * m_channels + c] / 32768.0f;
            }
            pointers.push_back(planes[static_cast<size_t>(c)].data());
        }
        if (av_audio_fifo_write(m_fifo.get(), pointers.data(), n) < n) return fail("out of memory");
        // The head of the FIFO lies `buffered` samples before this frame.
        m_headPts = ptsSamples - buffered;
        return true;
    }

    bool encodeWhole(const PacketSink& sink, bool last) {
        const int frameSize = m_enc->frame_size;
        while (av_audio_fifo_size(m_fifo.get()) >= frameSize ||
               (last && av_audio_fifo_size(m_fifo.get()) > 0)) {
            const int n = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
            std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
            if (!frame) return fail("out of memory");
            frame->nb_samples = n;
            frame->format = AV_SAMPLE_FMT_FLTP;
            frame->sample_rate = m_sampleRate;
            av_channel_layout_copy(&frame->ch_layout, &m_enc->ch_layout);
            if (av_frame_get_buffer(frame.get(), 0) < 0) return fail("out of memory");
            if (av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(frame->data), n) < n)
                return fail("cannot read samples");
            int64_t pts = m_headPts;
            if (m_nextPts != AV_NOPTS_VALUE && pts < m_nextPts)
                pts = m_nextPts;  // never back in time
            frame->pts = pts;
            m_nextPts = pts + n;
            m_headPts += n;
            if (avcodec_send_frame(m_enc.get(), frame.get()) < 0)
                return fail("the AAC encoder refused samples");
            if (!drain(sink)) return false;
        }
        return true;
    }

    bool drain(const PacketSink& sink) {
        while (avcodec_receive_packet(m_enc.get(), m_packet.get()) == 0) {
            const bool ok = sink(m_packet.get());
            av_packet_unref(m_packet.get());
            if (!ok) return false;
        }
        return true;
    }

    int m_channels;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> m_dec;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> m_enc;
    std::unique_ptr<AVCodecParameters, ParametersDeleter> m_par;
    std::unique_ptr<AVAudioFifo, FifoDeleter> m_fifo;
    std::unique_ptr<AVFrame, FrameDeleter> m_decoded;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    int64_t m_headPts = 0;
    int64_t m_nextPts = AV_NOPTS_VALUE;
};

}  // namespace

int64_t AudioTrack::toSamples(int64_t us) const {
    return av_rescale(us, m_sampleRate, 1000000);
}

std::unique_ptr<AudioTrack> AudioTrack::create(const kx::frame::InnerFrame& first,
                                               std::string* error) {
    if (first.sampleRate < 1000 || first.sampleRate > 192000 || first.channels > 8) {
        *error = "audio with an unusable sample rate or channel count";
        return nullptr;
    }
    switch (first.dataType) {
        case KX_DATA_AAC: {
            const int index = aacRateIndex(first.sampleRate);
            if (index < 0) {
                *error = "AAC at a sample rate AAC does not define";
                return nullptr;
            }
            return std::make_unique<AacCopy>(first, index);
        }
        case KX_DATA_PCMU:
        case KX_DATA_PCMA: {
            auto track = std::make_unique<G711ToAac>(first);
            if (!track->open()) {
                *error = track->error();
                return nullptr;
            }
            return track;
        }
        default:
            *error = "G.722.1 audio cannot be written to MP4";
            return nullptr;
    }
}

}  // namespace kx::qf2mp4
