// The sixteen exports: a thin C layer over the SDK instance. An export checks that the library
// is initialised, takes the instance mutex, looks its handle up and calls one method, either
// of the instance (the tables) or of the session the handle names. guarded() turns anything
// thrown into the export's failure result: no exception crosses this boundary.
#include "KXRtspSdk.h"

#include <mutex>
#include <utility>

#include "CLiveClient.h"
#include "CNetSdkInstance.h"

using kx::sdk::CLiveClient;
using kx::sdk::CNetSdkInstance;

namespace {

template <class Work>
int32_t guarded(int32_t failure, Work&& work) noexcept {
    try {
        return work();
    } catch (...) {
        return failure;
    }
}

// work(instance) under the instance mutex; notInitialised before KX_NET_Init, failure when
// anything is thrown.
template <class Work>
int32_t locked(int32_t notInitialised, int32_t failure, Work&& work) noexcept {
    return guarded(failure, [&] {
        CNetSdkInstance* instance = CNetSdkInstance::Current();
        if (instance == nullptr) return notInitialised;
        std::lock_guard<std::mutex> lock(instance->Mutex());
        return work(*instance);
    });
}

// work(instance); failure before KX_NET_Init and when anything is thrown.
template <class Work>
int32_t withInstance(int32_t failure, Work&& work) noexcept {
    return locked(failure, failure, std::forward<Work>(work));
}

// work(session) for a play handle; notInitialised before KX_NET_Init, unknown when the handle
// is not in the play table and when anything is thrown.
template <class Work>
int32_t withPlay(int32_t realHandle, int32_t notInitialised, int32_t unknown,
                 Work&& work) noexcept {
    return locked(notInitialised, unknown, [&](CNetSdkInstance& instance) {
        CLiveClient* session = instance.FindPlay(realHandle);
        return session == nullptr ? unknown : work(*session);
    });
}

}  // namespace

extern "C" {

KX_NET_API int32_t KX_NET_Init(int32_t nReserved1, int32_t nReserved2, int32_t nLogLevelMask) {
    return guarded(KX_NET_FAIL,
                   [&] { return CNetSdkInstance::Init(nReserved1, nReserved2, nLogLevelMask); });
}

KX_NET_API void KX_NET_Cleanup(void) {
    guarded(KX_NET_FAIL, [] {
        CNetSdkInstance::Cleanup();
        return KX_NET_OK;
    });
}

KX_NET_API int32_t KX_NET_Login(const char* szHost, uint16_t nPort, const char* szUserName,
                                const char* szPassword) {
    return withInstance(KX_NET_INVALID_HANDLE, [&](CNetSdkInstance& instance) {
        return instance.Login(szHost, nPort, szUserName, szPassword);
    });
}

KX_NET_API int32_t KX_NET_Logout(int32_t lLoginHandle) {
    return withInstance(KX_NET_FAIL,
                        [&](CNetSdkInstance& instance) { return instance.Logout(lLoginHandle); });
}

KX_NET_API int32_t KX_NET_RealPlay(int32_t lLoginHandle, uint16_t nPortOffset, int32_t nReserved,
                                   int32_t bUseTcp, const char* szPath, int32_t bForceMulticast) {
    return withInstance(KX_NET_INVALID_HANDLE, [&](CNetSdkInstance& instance) {
        return instance.RealPlay(lLoginHandle, nPortOffset, nReserved, bUseTcp, szPath,
                                 bForceMulticast);
    });
}

KX_NET_API int32_t KX_NET_StopRealPlay(int32_t lRealHandle) {
    return withInstance(
        KX_NET_FAIL, [&](CNetSdkInstance& instance) { return instance.StopRealPlay(lRealHandle); });
}

KX_NET_API int32_t KX_NET_SetRealPlayEndCallBack(int32_t lRealHandle, RealPlayEndCallBack fnPlayEnd,
                                                 void* pUser) {
    return withPlay(lRealHandle, KX_NET_FAIL, KX_NET_FAIL, [&](CLiveClient& session) {
        session.SetPlayEndCallBack(fnPlayEnd, pUser);
        return KX_NET_OK;
    });
}

// Looks at none of its arguments: sessions reconnect by themselves.
KX_NET_API int32_t KX_NET_SetRealPlayAutoReconnect(int32_t, AutoReconnectCallBack, void*, int32_t) {
    return withInstance(KX_NET_FAIL, [](CNetSdkInstance&) { return KX_NET_OK; });
}

KX_NET_API int32_t KX_NET_SetRealDataCallBack(int32_t lRealHandle, RealDataCallBack fnRealData,
                                              void* pUser) {
    return withPlay(lRealHandle, KX_NET_FAIL, KX_NET_FAIL, [&](CLiveClient& session) {
        session.SetRealDataCallBack(fnRealData, pUser);
        return KX_NET_OK;
    });
}

KX_NET_API int32_t KX_NET_SaveRealData(int32_t lRealHandle, const char* szFileName) {
    return withPlay(lRealHandle, KX_NET_FAIL, KX_NET_FAIL,
                    [&](CLiveClient& session) { return session.StartSave(szFileName); });
}

KX_NET_API int32_t KX_NET_StopSaveRealData(int32_t lRealHandle) {
    return withPlay(lRealHandle, KX_NET_FAIL, KX_NET_FAIL,
                    [](CLiveClient& session) { return session.StopSave(); });
}

KX_NET_API int32_t KX_NET_OpenSound(int32_t lRealHandle) {
    return withPlay(lRealHandle, KX_NET_FAIL, KX_NET_FAIL, [](CLiveClient& session) {
        session.SetSoundOn(true);
        return KX_NET_OK;
    });
}

KX_NET_API int32_t KX_NET_CloseSound(int32_t lRealHandle) {
    return withPlay(lRealHandle, KX_NET_FAIL, KX_NET_FAIL, [](CLiveClient& session) {
        session.SetSoundOn(false);
        return KX_NET_OK;
    });
}

KX_NET_API int32_t KX_NET_GetVideoLength(int32_t lRealHandle) {
    // Before initialisation 0; an unknown handle or a length not yet known KX_NET_NO_LENGTH.
    return withPlay(lRealHandle, 0, KX_NET_NO_LENGTH,
                    [](CLiveClient& session) { return session.GetVideoLength(); });
}

KX_NET_API int32_t KX_NET_SeekAndPlay(int32_t lRealHandle, int32_t nPosition) {
    return withPlay(lRealHandle, KX_NET_FAIL, KX_NET_FAIL,
                    [&](CLiveClient& session) { return session.SeekAndPlay(nPosition); });
}

KX_NET_API int32_t KX_NET_GetCurrentTime(int32_t lRealHandle) {
    return withPlay(lRealHandle, 0, 0,
                    [](CLiveClient& session) { return session.GetCurrentTime(); });
}

}  // extern "C"
