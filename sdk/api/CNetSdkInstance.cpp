#include "CNetSdkInstance.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "CLog.h"
#include "KXRtspSdk.h"
#include "RtspUrl.h"

namespace kx::sdk {

using Brelso::Public::CLog;
using Brelso::Public::LOG_DETAIL;

namespace {

// Null while the library is not initialised. Init and Cleanup must not run at the same time
// as any other export; the atomic only keeps readers of the pointer well-defined.
std::atomic<CNetSdkInstance*> g_pNetSdkInstance{nullptr};

bool fits(const char* text, size_t fieldSize) {
    return text != nullptr && std::strlen(text) < fieldSize;
}

template <size_t N>
void copyText(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    std::memcpy(field, text, std::strlen(text));
}

}  // namespace

int32_t CNetSdkInstance::Init(int32_t reserved1, int32_t reserved2, int32_t logLevelMask) {
    if (g_pNetSdkInstance.load() != nullptr) return KX_NET_OK;
    auto* instance = new (std::nothrow) CNetSdkInstance();
    if (instance == nullptr) return KX_NET_FAIL;
    instance->m_nReserved1 = reserved1;
    instance->m_nReserved2 = reserved2;
    g_pNetSdkInstance = instance;
    CLog* log = CLog::GetInstance();
    log->SetPathPrefix("D:/log/NetSdk");
    log->SetLevelMask(logLevelMask);
    KX_LOG(LOG_DETAIL, "[NetSdk::%s] Init success! \n", "KX_NET_Init");
    return KX_NET_OK;
}

void CNetSdkInstance::Cleanup() {
    delete g_pNetSdkInstance.exchange(nullptr);
    CLog::ReleaseInstance();
}

CNetSdkInstance* CNetSdkInstance::Current() {
    return g_pNetSdkInstance.load();
}

CNetSdkInstance::~CNetSdkInstance() {
    std::vector<int32_t> logins;
    for (const auto& entry : m_mapLogin) logins.push_back(entry.first);
    for (int32_t handle : logins) ReleaseLogin(handle);
    m_mapLogin.clear();
    m_mapRealPlay.clear();
}

template <class Table>
int32_t CNetSdkInstance::IssueHandle(int32_t& next, int32_t first, const Table& table) {
    while (true) {
        const int32_t value = next;
        next = value == INT32_MAX ? first : value + 1;
        const auto it = table.find(value);
        if (it == table.end() || !it->second) return value;
    }
}

CLiveClient* CNetSdkInstance::FindPlay(int32_t realHandle) {
    const auto it = m_mapRealPlay.find(realHandle);
    return it == m_mapRealPlay.end() ? nullptr : it->second.get();
}

int32_t CNetSdkInstance::Login(const char* host, uint16_t port, const char* userName,
                               const char* password) {
    LoginParams params;
    if (!fits(host, sizeof params.szHost) || !fits(userName, sizeof params.szUserName) ||
        !fits(password, sizeof params.szPassword) || port < 1 || port > 65534) {
        return KX_NET_INVALID_HANDLE;
    }
    copyText(params.szHost, host);
    params.nPort = port;
    copyText(params.szUserName, userName);
    copyText(params.szPassword, password);
    const int32_t handle = IssueHandle(m_nNextLoginHandle, kFirstLoginHandle, m_mapLogin);
    m_mapLogin[handle] = std::make_unique<CLoginClient>(handle, params);
    return handle;
}

void CNetSdkInstance::ReleaseLogin(int32_t loginHandle) {
    std::vector<int32_t> plays;
    for (const auto& entry : m_mapRealPlay) {
        if (entry.second && entry.second->LoginHandle() == loginHandle)
            plays.push_back(entry.first);
    }
    for (int32_t handle : plays) {
        const auto it = m_mapRealPlay.find(handle);
        if (it == m_mapRealPlay.end()) continue;
        it->second.reset();  // stops the session and waits for its thread
        m_mapRealPlay.erase(it);
    }
    m_mapLogin.erase(loginHandle);
}

int32_t CNetSdkInstance::Logout(int32_t loginHandle) {
    if (m_mapLogin.find(loginHandle) == m_mapLogin.end()) return KX_NET_FAIL;
    ReleaseLogin(loginHandle);
    return KX_NET_OK;
}

int32_t CNetSdkInstance::RealPlay(int32_t loginHandle, uint16_t portOffset, int32_t, int32_t useTcp,
                                  const char* path, int32_t forceMulticast) {
    if (loginHandle <= 0) return KX_NET_INVALID_HANDLE;
    const auto login = m_mapLogin.find(loginHandle);
    if (login == m_mapLogin.end() || !login->second) return KX_NET_INVALID_HANDLE;
    char url[kRtspUrlSize];
    if (!BuildRtspUrl(login->second->Params(), portOffset, path, url, sizeof url))
        return KX_NET_INVALID_HANDLE;

    auto session = std::make_unique<CLiveClient>(loginHandle);
    if (session->RealPlay(url, useTcp, forceMulticast) != 0) {
        KX_LOG(LOG_DETAIL, "[CNetSdkInstance::%s] RealPlay failed! \n", "RealPlay");
        return KX_NET_INVALID_HANDLE;
    }
    const int32_t handle = IssueHandle(m_nNextRealHandle, kFirstRealHandle, m_mapRealPlay);
    session->SetRealHandle(handle);
    m_mapRealPlay[handle] = std::move(session);
    return handle;
}

int32_t CNetSdkInstance::StopRealPlay(int32_t realHandle) {
    const auto it = m_mapRealPlay.find(realHandle);
    if (it == m_mapRealPlay.end() || !it->second) return KX_NET_FAIL;
    if (!it->second->Stop()) return KX_NET_FAIL;  // ended itself: stays until its login is released
    m_mapRealPlay.erase(it);
    return KX_NET_OK;
}

}  // namespace kx::sdk
