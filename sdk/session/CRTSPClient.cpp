#include "CRTSPClient.h"

#include <new>

#include "MediaSink.h"

namespace kx::sdk {

using kx::media::Medium;

StreamClientState::~StreamClientState() {
    m_pIter.reset();
    Medium::close(m_pSession);
    m_pSession = nullptr;
    m_pSubsession = nullptr;
}

CRTSPClient* CRTSPClient::createNew(kx::media::UsageEnvironment& env, const char* url) {
    try {
        return new CRTSPClient(env, url);
    } catch (...) {
        return nullptr;
    }
}

CRTSPClient::CRTSPClient(kx::media::UsageEnvironment& env, const char* url)
    : RTSPClient(env, url) {}

CRTSPClient::~CRTSPClient() {
    // Normally the stream was shut down before; a sink left behind must not outlive the
    // source it reads.
    if (m_scs.m_pSession != nullptr) {
        for (auto& sub : m_scs.m_pSession->subsessions()) {
            if (sub->sink != nullptr) {
                Medium::close(sub->sink);
                sub->sink = nullptr;
            }
        }
    }
}

}  // namespace kx::sdk
