#include "CNetSdkInstance.h"

#include <climits>
#include <cstring>
#include <vector>

#include "CLog.h"
#include "RtspUrl.h"

namespace kx::sdk {

using Brelso::Public::LOG_DETAIL;
using Lock = std::lock_guard<std::mutex>;

namespace {

bool fits(const char* text, size_t fieldSize) {
    return text != nullptr && std::strlen(text) < fieldSize;
}

template <size_t N>
void copyText(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    std::memcpy(field, text, std::strlen(text));
}

}  // namespace

CNetSdkInstance::~CNetSdkInstance() {
    std::vector<int32_t> logins;
    for (const auto& entry : m_mapLogin) logins.push_back(entry.first);
    for (int32_t handle : logins) ReleaseLogin(handle);
    m_mapLogin.clear();
    m_mapRealPlay.clear();
}

void CNetSdkInstance::SetReserved(int32_t reserved1, int32_t reserved2) {
    m_nReserved1 = reserved1;
    m_nReserved2 = reserved2;
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
    Lock lock(m_mutex);
    LoginParams params;
    if (!fits(host, sizeof params.szHost) || !fits(userName, sizeof params.szUserName) ||
        !fits(password, sizeof params.szPassword) || port < 1 || port > 65534) {
        return -1;
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
    Lock lock(m_mutex);
    if (m_mapLogin.find(loginHandle) == m_mapLogin.end()) return 0;
    ReleaseLogin(loginHandle);
    return 1;
}

int32_t CNetSdkInstance::RealPlay(int32_t loginHandle, uint16_t portOffset, int32_t, int32_t useTcp,
                                  const char* path, int32_t forceMulticast) {
    Lock lock(m_mutex);
    if (loginHandle <= 0) return -1;
    const auto login = m_mapLogin.find(loginHandle);
    if (login == m_mapLogin.end() || !login->second) return -1;
    char url[kRtspUrlSize];
    if (!BuildRtspUrl(login->second->Params(), portOffset, path, url, sizeof url)) return -1;

    std::unique_ptr<CLiveClient> session;
    try {
        session = std::make_unique<CLiveClient>(loginHandle);
    } catch (...) {
        return -1;
    }
    if (session->RealPlay(url, useTcp, forceMulticast) != 0) {
        KX_LOG(LOG_DETAIL, "[CNetSdkInstance::%s] RealPlay failed! \n", "RealPlay");
        return -1;
    }
    const int32_t handle = IssueHandle(m_nNextRealHandle, kFirstRealHandle, m_mapRealPlay);
    session->SetRealHandle(handle);
    m_mapRealPlay[handle] = std::move(session);
    return handle;
}

int32_t CNetSdkInstance::StopRealPlay(int32_t realHandle) {
    Lock lock(m_mutex);
    const auto it = m_mapRealPlay.find(realHandle);
    if (it == m_mapRealPlay.end() || !it->second) return 0;
    if (!it->second->Stop()) return 0;  // ended itself: stays until its login is released
    m_mapRealPlay.erase(it);
    return 1;
}

int32_t CNetSdkInstance::SetRealPlayEndCallBack(int32_t realHandle, RealPlayEndCallBack fn,
                                                void* user) {
    Lock lock(m_mutex);
    CLiveClient* session = FindPlay(realHandle);
    if (session == nullptr) return 0;
    session->SetPlayEndCallBack(fn, user);
    return 1;
}

int32_t CNetSdkInstance::SetRealPlayAutoReconnect() {
    Lock lock(m_mutex);
    return 1;
}

int32_t CNetSdkInstance::SetRealDataCallBack(int32_t realHandle, RealDataCallBack fn, void* user) {
    Lock lock(m_mutex);
    CLiveClient* session = FindPlay(realHandle);
    if (session == nullptr) return 0;
    session->SetRealDataCallBack(fn, user);
    return 1;
}

int32_t CNetSdkInstance::SaveRealData(int32_t realHandle, const char* fileName) {
    Lock lock(m_mutex);
    CLiveClient* session = FindPlay(realHandle);
    if (session == nullptr) return 0;
    return session->StartSave(fileName);
}

int32_t CNetSdkInstance::StopSaveRealData(int32_t realHandle) {
    Lock lock(m_mutex);
    CLiveClient* session = FindPlay(realHandle);
    if (session == nullptr) return 0;
    return session->StopSave();
}

int32_t CNetSdkInstance::SetSound(int32_t realHandle, bool on) {
    Lock lock(m_mutex);
    CLiveClient* session = FindPlay(realHandle);
    if (session == nullptr) return 0;
    session->SetSoundOn(on);
    return 1;
}

int32_t CNetSdkInstance::GetVideoLength(int32_t realHandle) {
    Lock lock(m_mutex);
    CLiveClient* session = FindPlay(realHandle);
    return session == nullptr ? -3 : session->GetVideoLength();
}

int32_t CNetSdkInstance::SeekAndPlay(int32_t realHandle, int32_t position) {
    Lock lock(m_mutex);
    CLiveClient* session = FindPlay(realHandle);
    return session == nullptr ? 0 : session->SeekAndPlay(position);
}

int32_t CNetSdkInstance::GetCurrentTime(int32_t realHandle) {
    Lock lock(m_mutex);
    CLiveClient* session = FindPlay(realHandle);
    return session == nullptr ? 0 : session->GetCurrentTime();
}

}  // namespace kx::sdk
