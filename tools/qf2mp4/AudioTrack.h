// Audio of a recording as MP4 samples: AAC access units copied (an ADTS header, when a
// camera sends one, is taken off), G.711 decoded and encoded to AAC.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "PackagedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kx::qf2mp4 {

class AudioTrack {
public:
    // Receives each finished packet, time fields in timeBase(); false stops the conversion.
    using PacketSink = std::function<bool(AVPacket*)>;

    // An audio track for the data type of this first frame, or nullptr (with *error set) when
    // the data type is no audio we can carry.
    static std::unique_ptr<AudioTrack> create(const kx::frame::InnerFrame& first,
                                              std::string* error);
    virtual ~AudioTrack() = default;

    virtual const char* name() const = 0;
    virtual const AVCodecParameters& parameters() const = 0;
    AVRational timeBase() const { return {1, m_sampleRate}; }
    uint16_t dataType() const { return m_dataType; }

    // ptsUs: the frame's presentation time relative to the start of the file.
    virtual bool push(const kx::frame::InnerFrame& frame, int64_t ptsUs,
                      const PacketSink& sink) = 0;
    virtual bool finish(const PacketSink& sink) = 0;

    const std::string& error() const { return m_error; }

protected:
    AudioTrack(uint16_t dataType, int sampleRate)
        : m_dataType(dataType), m_sampleRate(sampleRate) {}
    int64_t toSamples(int64_t us) const;

    uint16_t m_dataType;
    int m_sampleRate;
    std::string m_error;
};

}  // namespace kx::qf2mp4
