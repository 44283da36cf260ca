#include "Mpeg4DataSink.h"

#include <new>
#include <vector>

#include "CLiveClient.h"
#include "Mpeg4Headers.h"

namespace kx::sdk {

Mpeg4DataSink* Mpeg4DataSink::createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                                        const char* config) {
    return CheckCreated(new (std::nothrow) Mpeg4DataSink(env, liveClient, config));
}

Mpeg4DataSink::Mpeg4DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                             const char* config)
    : DataSink(env, liveClient) {
    std::vector<uint8_t> bytes;
    try {
        if (Mpeg4ParseHexConfig(config, bytes)) {
            m_startConfig.Set(0, KX_DATA_MPEG4, KX_FRAME_OTHER, bytes.data(), bytes.size());
        }
    } catch (...) {  // no memory: the stream's own headers may still come
    }
}

void Mpeg4DataSink::afterGettingFrame1(unsigned n, int64_t seconds, int64_t microseconds) {
    m_pLiveClient->RefreshLastData();
    const uint8_t* frame = m_pBuffer.get();
    if (const size_t config = Mpeg4ConfigLength(frame, n); config > 0) {
        m_startConfig.Set(0, KX_DATA_MPEG4, KX_FRAME_OTHER, frame, config);
    }
    m_pLiveClient->InputVideoData(
        KX_DATA_MPEG4, KX_FRAME_OTHER, frame, n, false, static_cast<uint32_t>(seconds),
        static_cast<uint32_t>(microseconds), Mpeg4IsIntraVop(frame, n), &m_startConfig);
}

}  // namespace kx::sdk
