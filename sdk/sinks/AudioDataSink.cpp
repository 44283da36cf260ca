#include "AudioDataSink.h"

#include "CLiveClient.h"

namespace kx::sdk {

void AudioDataSink::afterGettingFrame1(unsigned n, int64_t seconds, int64_t microseconds) {
    m_pLiveClient->RefreshLastData();
    m_pLiveClient->InputAudioData(n, m_nChannels, m_nSampleRate, m_nDataType, m_pBuffer.get(),
                                  static_cast<uint32_t>(seconds),
                                  static_cast<uint32_t>(microseconds));
}

}  // namespace kx::sdk
