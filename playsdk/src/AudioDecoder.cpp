#include "AudioDecoder.h"

#include "KXPackagedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

namespace kx::play {
namespace {
constexpr uint32_t kMaxChannels = 8;
constexpr uint32_t kMaxSampleRate = 384000;
}  // namespace

std::vector<uint8_t> AudioDecoder::aacConfig(uint32_t sampleRate, uint32_t channels) {
    static const uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                      22050, 16000, 12000, 11025, 8000,  7350};
    if (channels == 0 || channels > 7 || sampleRate == 0 || sampleRate > 0xFFFFFF) return {};
    const uint32_t objectType = 2;  // AAC LC
    uint32_t index = 15;
    for (uint32_t i = 0; i < sizeof kRates / sizeof kRates[0]; ++i) {
        if (kRates[i] == sampleRate) index = i;
    }
    if (index != 15) {
        const uint16_t v =
            static_cast<uint16_t>((objectType << 11) | (index << 7) | (channels << 3));
        return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    }
    // 5 bits object type, 4 bits index 15, 24 bits rate, 4 bits channels, 3 bits zero.
    uint64_t bits = (uint64_t{objectType} << 35) | (uint64_t{15} << 31) |
                    (uint64_t{sampleRate} << 7) | (uint64_t{channels} << 3);
    std::vector<uint8_t> out(5);
    for (int i = 0; i < 5; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * (4 - i)));
    return out;
}

AudioDecoder::AudioDecoder() : m_pkt(av_packet_alloc()), m_frame(av_frame_alloc()) {}

AudioDecoder::~AudioDecoder() {
    close();
    av_frame_free(&m_frame);
    av_packet_free(&m_pkt);
}

void AudioDecoder::close() {
    avcodec_free_context(&m_ctx);
    swr_free(&m_swr);
    m_swrInRate = 0;
    m_swrInFormat = -1;
    m_swrInChannels = 0;
    m_dataType = 0;
    m_codecpar = nullptr;
}

bool AudioDecoder::prepare(const MediaPacket& packet) {
    if (m_ctx != nullptr && packet.dataType == m_dataType && packet.codecpar == m_codecpar &&
        packet.channels == m_channels && packet.sampleRate == m_sampleRate) {
        return true;
    }
    close();
    if (m_pkt == nullptr || m_frame == nullptr) return false;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (packet.codecpar != nullptr) {
        id = packet.codecpar->codec_id;
    } else {
        if (packet.channels == 0 || packet.channels > kMaxChannels || packet.sampleRate == 0 ||
            packet.sampleRate > kMaxSampleRate) {
            return false;
        }
        if (packet.dataType == KX_DATA_AAC) id = AV_CODEC_ID_AAC;
        if (packet.dataType == KX_DATA_PCMU) id = AV_CODEC_ID_PCM_MULAW;
        if (packet.dataType == KX_DATA_PCMA) id = AV_CODEC_ID_PCM_ALAW;
    }
    const AVCodec* codec = avcodec_find_decoder(id);
    if (codec == nullptr) return false;
    m_ctx = avcodec_alloc_context3(codec);
    if (m_ctx == nullptr) return false;
    if (packet.codecpar != nullptr) {
        if (avcodec_parameters_to_context(m_ctx, packet.codecpar) < 0) {
            close();
            return false;
        }
    } else {
        m_ctx->sample_rate = static_cast<int>(packet.sampleRate);
        av_channel_layout_default(&m_ctx->ch_layout, static_cast<int>(packet.channels));
        if (id == AV_CODEC_ID_AAC) {
            const auto asc = aacConfig(packet.sampleRate, packet.channels);
            if (asc.empty()) {
                close();
                return false;
            }
            m_ctx->extradata =
                static_cast<uint8_t*>(av_mallocz(asc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (m_ctx->extradata == nullptr) {
                close();
                return false;
            }
            std::copy(asc.begin(), asc.end(), m_ctx->extradata);
            m_ctx->extradata_size = static_cast<int>(asc.size());
        }
    }
    m_ctx->pkt_timebase = AVRational{1, 1000000};
    if (avcodec_open2(m_ctx, codec, nullptr) < 0) {
        close();
        return false;
    }
    m_dataType = packet.dataType;
    m_codecpar = packet.codecpar;
    m_channels = packet.channels;
    m_sampleRate = packet.sampleRate;
    return true;
}

bool AudioDecoder::send(const MediaPacket& packet) {
    if (m_ctx == nullptr) return false;
    if (!m_buffers.fill(m_pkt, packet.data, packet.size)) return false;
    m_pkt->pts = packet.ptsUs;
    const int rc = avcodec_send_packet(m_ctx, m_pkt);
    av_packet_unref(m_pkt);
    return rc >= 0;
}

bool AudioDecoder::receive(PcmBlock& block) {
    if (m_ctx == nullptr) return false;
    if (avcodec_receive_frame(m_ctx, m_frame) < 0) return false;
    const int channels = m_frame->ch_layout.nb_channels;
    const int rate = m_frame->sample_rate;
    if (channels <= 0 || channels > static_cast<int>(kMaxChannels) || rate <= 0) {
        av_frame_unref(m_frame);
        return false;
    }
    if (m_swr == nullptr || m_swrInRate != rate || m_swrInFormat != m_frame->format ||
        m_swrInChannels != channels) {
        swr_free(&m_swr);
        AVChannelLayout out;
        av_channel_layout_default(&out, channels);
        if (swr_alloc_set_opts2(&m_swr, &out, AV_SAMPLE_FMT_S16, rate, &m_frame->ch_layout,
                                static_cast<AVSampleFormat>(m_frame->format), rate, 0,
                                nullptr) < 0 ||
            swr_init(m_swr) < 0) {
            swr_free(&m_swr);
            av_frame_unref(m_frame);
            return false;
        }
        m_swrInRate = rate;
        m_swrInFormat = m_frame->format;
        m_swrInChannels = channels;
    }
    const size_t bytes = static_cast<size_t>(m_frame->nb_samples) * channels * 2;
    if (m_pcm.size() < bytes) m_pcm.resize(bytes);
    uint8_t* out[1] = {m_pcm.data()};
    const int got =
        swr_convert(m_swr, out, m_frame->nb_samples,
                    const_cast<const uint8_t**>(m_frame->extended_data), m_frame->nb_samples);
    block.ptsUs = m_frame->pts;
    av_frame_unref(m_frame);
    if (got <= 0) return false;
    block.data = m_pcm.data();
    block.size = static_cast<size_t>(got) * channels * 2;
    block.channels = channels;
    block.sampleRate = rate;
    return true;
}

void AudioDecoder::flush() {
    if (m_ctx != nullptr) avcodec_flush_buffers(m_ctx);
}

}  // namespace kx::play
