// CLiveClient: construction, start and its wait, stop, the event-loop thread, callbacks.
#include "CLiveClient.h"

#include <cstring>
#include <ctime>
#include <new>

#include "CLog.h"
#include "CRTSPClient.h"

namespace kx::sdk {

using Brelso::Public::LOG_DETAIL;
using kx::media::Medium;

CLiveClient::CLiveClient(int32_t loginHandle)
    : m_pScheduler(std::make_unique<kx::media::TaskScheduler>()),
      m_pEnv(std::make_unique<kx::media::UsageEnvironment>(*m_pScheduler)),
      m_nLoginHandle(loginHandle) {
    m_pDataBuf.reset(new (std::nothrow) uint8_t[kInitialDataBufSize]);
    m_nDataBufSize = m_pDataBuf ? kInitialDataBufSize : 0;
    m_pEnv->setNoticeHandler(&CLiveClient::MediaNotice, this);
}

CLiveClient::~CLiveClient() {
    Stop();
    if (m_hThread.joinable()) {  // ended itself at the end of its stream
        WakeLoop();
        m_hThread.join();
    }
    {
        std::lock_guard<std::mutex> lock(m_mtxRecord);
        CloseRecordLocked();
    }
    m_pEnv.reset();
    m_pScheduler.reset();
}

int CLiveClient::RealPlay(const char* url, int useTcp, int forceMulticast) {
    const int32_t state = m_nState;
    if (state == Starting || state == Playing) return 1;
    if (url == nullptr || std::strlen(url) >= sizeof m_szUrl) return 1;

    KX_LOG(LOG_DETAIL, "[%s] Open rtsp url:%s \n", "CLiveClient::RealPlay",
           MaskRtspUrl(url).c_str());
    m_bUseTcp = useTcp;
    m_bForceMulticast = forceMulticast;
    std::memset(m_szUrl, 0, sizeof m_szUrl);
    std::memcpy(m_szUrl, url, std::strlen(url));
    if (m_hThread.joinable()) m_hThread.join();  // an earlier run that ended itself

    {
        std::lock_guard<std::mutex> lock(m_mtxStart);
        m_nStartResult = 0;
        m_bStartAnswered = false;
        m_nState = Starting;
    }
    m_cEventLoopWatch = 0;
    try {
        m_hThread = std::thread(&CLiveClient::EventLoopThread, this);
    } catch (...) {
        m_nState = Stopped;
        return 1;
    }

    // The deadline is calendar time in whole seconds: more than 4 and at most 5 seconds.
    const auto deadline = std::chrono::system_clock::from_time_t(std::time(nullptr) + kWaitSeconds);
    bool answered = false;
    int32_t result = 0;
    {
        std::unique_lock<std::mutex> lock(m_mtxStart);
        m_condStart.wait_until(lock, deadline, [this] { return m_bStartAnswered; });
        answered = m_bStartAnswered;
        result = m_nStartResult;
        if (result == 0) {
            int32_t expected = Starting;  // the stream may already have ended itself
            m_nState.compare_exchange_strong(expected, Playing);
        }
    }
    if (result == 0) {
        // No answer yet: the conversation goes on in the background. Watch it from now on,
        // so that a first connection that fails later is reconnected.
        if (!answered) m_pScheduler->triggerEvent(&CLiveClient::ArmCheckAfterStartTask, this);
        return 0;
    }
    WakeLoop();
    m_hThread.join();
    m_nState = Stopped;
    return 1;
}

bool CLiveClient::Stop() {
    const int32_t state = m_nState;
    if (state != Starting && state != Playing) return false;
    WakeLoop();
    if (m_hThread.joinable()) m_hThread.join();
    m_nState = Stopped;
    return true;
}

void CLiveClient::WakeLoop() {
    m_cEventLoopWatch = 1;
    m_pScheduler->wakeup();
}

void CLiveClient::ReportStartResult(int32_t result) {
    std::lock_guard<std::mutex> lock(m_mtxStart);
    if (m_nState != Starting) return;  // failures after the start are only logged
    m_nStartResult = result;
    m_bStartAnswered = true;
    m_condStart.notify_all();
}

void CLiveClient::EventLoopThread() {
    try {
        CRTSPClient* client = CRTSPClient::createNew(*m_pEnv, m_szUrl);
        if (client == nullptr) {
            ReportStartResult(1);
            return;
        }
        client->m_pLiveClient = this;
        m_pRtspClient = client;
        SendOptions(client);
        m_pScheduler->doEventLoop(&m_cEventLoopWatch);
    } catch (...) {
        ReportStartResult(1);
    }

    // The loop has ended: nothing may run on it any more.
    try {
        m_pScheduler->unscheduleDelayedTask(m_pDisconnectCheckTask);
        m_pScheduler->unscheduleDelayedTask(m_pHeartbeatTask);
        m_pScheduler->unscheduleDelayedTask(m_pStreamEndTask);
        CRTSPClient* client = m_pRtspClient.load();
        if (client != nullptr) {
            AbandonSeeks(client);
            ShutdownStream(client);
            client->m_pLiveClient = nullptr;
            Medium::close(client);
            m_pRtspClient = nullptr;
        }
    } catch (...) {
    }
}

void CLiveClient::SetRealDataCallBack(RealDataCallBack fn, void* user) {
    std::lock_guard<std::mutex> lock(m_mtxRealData);
    m_fnRealData = fn;
    m_pRealDataUser = user;
}

void CLiveClient::SetPlayEndCallBack(RealPlayEndCallBack fn, void* user) {
    std::lock_guard<std::mutex> lock(m_mtxPlayEnd);
    m_fnPlayEnd = fn;
    m_pPlayEndUser = user;
}

}  // namespace kx::sdk
