// One audio decoder (libavcodec) with conversion to interleaved signed 16-bit samples.
// Packaged AAC gets its decoder configuration (AudioSpecificConfig) built from the channel
// count and sample rate of the frame header.
#pragma once

#include <cstdint>
#include <vector>

#include "MediaPacket.h"
#include "PacketBuffer.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace kx::play {

struct PcmBlock {
    const uint8_t* data = nullptr;  // interleaved S16, valid until the next decode
    size_t size = 0;
    int channels = 0;
    int sampleRate = 0;
    int64_t ptsUs = 0;
};

class AudioDecoder {
public:
    AudioDecoder();
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Opens (or keeps) a decoder for the packet; false when the codec cannot be decoded.
    bool prepare(const MediaPacket& packet);
    bool send(const MediaPacket& packet);
    // Next block of samples, false when none is ready.
    bool receive(PcmBlock& block);
    void flush();
    void close();

    // The two-byte AudioSpecificConfig of AAC LC for a sample rate and channel count (the
    // five-byte form with an explicit rate when the rate has no index). Empty when the
    // values cannot be described.
    static std::vector<uint8_t> aacConfig(uint32_t sampleRate, uint32_t channels);

private:
    AVCodecContext* m_ctx = nullptr;
    AVPacket* m_pkt = nullptr;
    AVFrame* m_frame = nullptr;
    SwrContext* m_swr = nullptr;
    PacketBuffer m_buffers;
    std::vector<uint8_t> m_pcm;
    uint16_t m_dataType = 0;
    const AVCodecParameters* m_codecpar = nullptr;
    uint32_t m_channels = 0;
    uint32_t m_sampleRate = 0;
    int m_swrInRate = 0;
    int m_swrInFormat = -1;
    int m_swrInChannels = 0;
};

}  // namespace kx::play
