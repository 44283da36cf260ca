// CLiveClient: heartbeat, disconnect check and reconnection, and the stream-end timer.
// All on the session's thread.
#include <chrono>

#include "CLiveClient.h"
#include "CLog.h"
#include "CRTSPClient.h"
#include "MediaSession.h"

namespace kx::sdk {

using Brelso::Public::LOG_DETAIL;
using Brelso::Public::LOG_WARNING;
using kx::media::Medium;

int64_t CLiveClient::RangeToMs(double seconds) {
    if (!(seconds > 0)) return 0;
    const double ms = seconds * 1000.0;
    if (ms >= static_cast<double>(kMaxDelayMs)) return kMaxDelayMs;
    return static_cast<int64_t>(ms);
}

void CLiveClient::ArmHeartbeat() {
    m_pScheduler->unscheduleDelayedTask(m_pHeartbeatTask);
    const int64_t delay = static_cast<int64_t>(m_nSessionTimeout) * 1000000 / 2;
    m_pHeartbeatTask = m_pScheduler->scheduleDelayedTask(delay, &CLiveClient::HeartbeatTask, this);
}

void CLiveClient::HeartbeatTask(void* session) {
    auto* self = static_cast<CLiveClient*>(session);
    self->m_pHeartbeatTask = nullptr;  // has run
    try {
        self->Heartbeat();
    } catch (...) {
    }
}

void CLiveClient::Heartbeat() {
    CRTSPClient* client = m_pRtspClient;
    if (client == nullptr) return;
    KX_LOG(LOG_DETAIL, "[%s] Send Heartbeat! RealHandle : %d \n", "CLiveClient::Heartbeat",
           m_nRealHandle.load());
    if (client->m_scs.m_pSession != nullptr) {
        client->sendGetParameterCommand(*client->m_scs.m_pSession, nullptr, "");
    }
    ArmHeartbeat();
}

void CLiveClient::ArmDisconnectCheck() {
    m_pScheduler->unscheduleDelayedTask(m_pDisconnectCheckTask);
    m_pDisconnectCheckTask = m_pScheduler->scheduleDelayedTask(
        kDisconnectCheckUs, &CLiveClient::CheckDisconnectTask, this);
}

void CLiveClient::CheckDisconnectTask(void* session) {
    auto* self = static_cast<CLiveClient*>(session);
    self->m_pDisconnectCheckTask = nullptr;  // has run
    try {
        self->CheckDisconnect();
    } catch (...) {
    }
}

void CLiveClient::CheckDisconnect() {
    ArmDisconnectCheck();
    // Measured on the monotonic clock: changing the system time neither triggers nor
    // suppresses a reconnection.
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - m_tvLastData)
                             .count();
    if (elapsed < kDisconnectCheckUs) return;
    KX_LOG(LOG_WARNING, "[%s] Disconnect! RealHandle : %d \n", "CLiveClient::CheckDisconnect",
           m_nRealHandle.load());
    m_pScheduler->unscheduleDelayedTask(m_pHeartbeatTask);
    Reconnect();
}

void CLiveClient::Reconnect() {
    m_pScheduler->unscheduleDelayedTask(m_pStreamEndTask);
    CRTSPClient* old = m_pRtspClient.exchange(nullptr);
    if (old != nullptr) {
        AbandonSeeks(old);
        ShutdownStream(old);
        old->m_pLiveClient = nullptr;
        Medium::close(old);
    }
    {
        // What follows the gap may refer to pictures the file never got: an open recording
        // resumes at the next key frame, with its configuration in front.
        std::lock_guard<std::mutex> lock(m_mtxRecord);
        m_bRecordStarted = false;
    }
    KX_LOG(LOG_DETAIL, "[%s] reconnect to server, RealHandle : %d \n", "CLiveClient::Reconnect",
           m_nRealHandle.load());
    CRTSPClient* client = CRTSPClient::createNew(Env(), m_szUrl);
    if (client == nullptr) return;  // the next check tries again
    client->m_pLiveClient = this;
    m_pRtspClient = client;
    SendOptions(client);
}

void CLiveClient::ArmCheckAfterStartTask(void* session) {
    auto* self = static_cast<CLiveClient*>(session);
    // A PLAY that succeeded meanwhile has armed the check already.
    if (self->m_pDisconnectCheckTask != nullptr) return;
    try {
        self->RefreshLastData();
        self->ArmDisconnectCheck();
    } catch (...) {
    }
}

void CLiveClient::ArmStreamEndTimer(CRTSPClient* client, int64_t delayMs) {
    m_pScheduler->unscheduleDelayedTask(m_pStreamEndTask);
    if (delayMs < 0) delayMs = 0;
    if (delayMs > kMaxDelayMs) delayMs = kMaxDelayMs;
    m_pStreamEndTask =
        m_pScheduler->scheduleDelayedTask(delayMs * 1000, &CLiveClient::StreamTimerHandler, client);
}

void CLiveClient::StreamTimerHandler(void* clientData) {
    auto* ended = static_cast<CRTSPClient*>(clientData);
    CLiveClient* self = ended->m_pLiveClient;
    if (self == nullptr) return;
    self->m_pStreamEndTask = nullptr;  // has run
    std::lock_guard<std::mutex> lock(self->m_mtxPlayEnd);
    if (RealPlayEndCallBack fn = self->m_fnPlayEnd.load()) {
        fn(self->m_nRealHandle, self->m_pPlayEndUser);
    }
    try {
        CRTSPClient* client = self->m_pRtspClient;
        if (client != nullptr && client->m_scs.m_pSession != nullptr) {
            client->sendTeardownCommand(*client->m_scs.m_pSession, nullptr);
        }
    } catch (...) {
    }
    int32_t state = self->m_nState;
    while ((state == Starting || state == Playing) &&
           !self->m_nState.compare_exchange_weak(state, Stopped)) {
    }
    if (state == Starting || state == Playing) self->m_cEventLoopWatch = 1;
}

}  // namespace kx::sdk
