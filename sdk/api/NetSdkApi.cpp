#include "NetSdkApi.h"

#include <atomic>
#include <new>

#include "CLog.h"
#include "CNetSdkInstance.h"

namespace kx::sdk::api {

using Brelso::Public::CLog;
using Brelso::Public::LOG_DETAIL;

namespace {

// Null while the library is not initialised. Init and Cleanup must not run at the same time
// as any other operation; the atomic only keeps readers of the pointer well-defined.
std::atomic<CNetSdkInstance*> g_pNetSdkInstance{nullptr};

}  // namespace

int32_t Init(int32_t reserved1, int32_t reserved2, int32_t logLevelMask) {
    if (g_pNetSdkInstance.load() != nullptr) return 1;
    auto* instance = new (std::nothrow) CNetSdkInstance();
    if (instance == nullptr) return 0;
    instance->SetReserved(reserved1, reserved2);
    g_pNetSdkInstance = instance;
    CLog* log = CLog::GetInstance();
    log->SetPathPrefix("D:/log/NetSdk");
    log->SetLevelMask(logLevelMask);
    KX_LOG(LOG_DETAIL, "[NetSdk::%s] Init success! \n", "KX_NET_Init");
    return 1;
}

void Cleanup() {
    CNetSdkInstance* instance = g_pNetSdkInstance.exchange(nullptr);
    delete instance;
    CLog::ReleaseInstance();
}

bool IsInitialised() {
    return g_pNetSdkInstance.load() != nullptr;
}

int32_t Login(const char* host, uint16_t port, const char* userName, const char* password) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? -1 : instance->Login(host, port, userName, password);
}

int32_t Logout(int32_t loginHandle) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->Logout(loginHandle);
}

int32_t RealPlay(int32_t loginHandle, uint16_t portOffset, int32_t reserved, int32_t useTcp,
                 const char* path, int32_t forceMulticast) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? -1
                               : instance->RealPlay(loginHandle, portOffset, reserved, useTcp, path,
                                                    forceMulticast);
}

int32_t StopRealPlay(int32_t realHandle) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->StopRealPlay(realHandle);
}

int32_t SetRealPlayEndCallBack(int32_t realHandle, RealPlayEndCallBack fn, void* user) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->SetRealPlayEndCallBack(realHandle, fn, user);
}

int32_t SetRealPlayAutoReconnect(int32_t, AutoReconnectCallBack, void*, int32_t) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->SetRealPlayAutoReconnect();
}

int32_t SetRealDataCallBack(int32_t realHandle, RealDataCallBack fn, void* user) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->SetRealDataCallBack(realHandle, fn, user);
}

int32_t SaveRealData(int32_t realHandle, const char* fileName) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->SaveRealData(realHandle, fileName);
}

int32_t StopSaveRealData(int32_t realHandle) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->StopSaveRealData(realHandle);
}

int32_t OpenSound(int32_t realHandle) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->SetSound(realHandle, true);
}

int32_t CloseSound(int32_t realHandle) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->SetSound(realHandle, false);
}

int32_t GetVideoLength(int32_t realHandle) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->GetVideoLength(realHandle);
}

int32_t SeekAndPlay(int32_t realHandle, int32_t position) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->SeekAndPlay(realHandle, position);
}

int32_t GetCurrentTime(int32_t realHandle) {
    CNetSdkInstance* instance = g_pNetSdkInstance;
    return instance == nullptr ? 0 : instance->GetCurrentTime(realHandle);
}

}  // namespace kx::sdk::api
