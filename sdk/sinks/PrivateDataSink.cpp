#include "PrivateDataSink.h"

#include <new>

#include "CLiveClient.h"

namespace kx::sdk {

PrivateDataSink* PrivateDataSink::createNew(kx::media::UsageEnvironment& env,
                                            CLiveClient* liveClient) {
    return CheckCreated(new (std::nothrow) PrivateDataSink(env, liveClient));
}

void PrivateDataSink::afterGettingFrame1(unsigned n, int64_t, int64_t) {
    m_pLiveClient->RefreshLastData();
    m_pLiveClient->DeliverRawData(KX_DATA_PRIVATE, m_pBuffer.get(), n);
}

}  // namespace kx::sdk
