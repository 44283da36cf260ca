// AudioDataSink: what the audio sinks share: every frame is packaged as audio with the
// channel count and sample rate the session set, while the session's sound is on.
#pragma once

#include "DataSink.h"
#include "KXPackagedFrame.h"

namespace kx::sdk {

class AudioDataSink : public DataSink {
public:
    void SetAudioFormat(uint32_t sampleRate, uint32_t channels) {
        m_nSampleRate = sampleRate;
        m_nChannels = channels;
    }

protected:
    AudioDataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient, uint16_t dataType)
        : DataSink(env, liveClient), m_nDataType(dataType) {}
    void afterGettingFrame1(unsigned frameSize, int64_t seconds, int64_t microseconds) override;

    uint16_t m_nDataType;
    uint32_t m_nSampleRate = 0;
    uint32_t m_nChannels = 0;
};

}  // namespace kx::sdk
