#include "Mpeg4DataSink.h"

#include <new>

#include "CLiveClient.h"

namespace kx::sdk {

Mpeg4DataSink* Mpeg4DataSink::createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient) {
    return CheckCreated(new (std::nothrow) Mpeg4DataSink(env, liveClient));
}

void Mpeg4DataSink::afterGettingFrame1(unsigned n, int64_t seconds, int64_t microseconds) {
    m_pLiveClient->RefreshLastData();
    m_pLiveClient->InputVideoData(KX_DATA_MPEG4, KX_FRAME_OTHER, m_pBuffer.get(), n, false,
                                  static_cast<uint32_t>(seconds),
                                  static_cast<uint32_t>(microseconds));
}

}  // namespace kx::sdk
