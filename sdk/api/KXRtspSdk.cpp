// The sixteen exports of the stream library. Each forwards to the library's operation and
// turns anything thrown into its failure result: nothing crosses this boundary.
#include "KXRtspSdk.h"

#include "NetSdkApi.h"

namespace api = kx::sdk::api;

namespace {

template <class F>
int32_t guarded(int32_t failure, F&& work) noexcept {
    try {
        return work();
    } catch (...) {
        return failure;
    }
}

}  // namespace

extern "C" {

KX_NET_API int32_t KX_NET_Init(int32_t nReserved1, int32_t nReserved2, int32_t nLogLevelMask) {
    return guarded(0, [&] { return api::Init(nReserved1, nReserved2, nLogLevelMask); });
}

KX_NET_API void KX_NET_Cleanup(void) {
    try {
        api::Cleanup();
    } catch (...) {
    }
}

KX_NET_API int32_t KX_NET_Login(const char* szHost, uint16_t nPort, const char* szUserName,
                                const char* szPassword) {
    return guarded(-1, [&] { return api::Login(szHost, nPort, szUserName, szPassword); });
}

KX_NET_API int32_t KX_NET_Logout(int32_t lLoginHandle) {
    return guarded(0, [&] { return api::Logout(lLoginHandle); });
}

KX_NET_API int32_t KX_NET_RealPlay(int32_t lLoginHandle, uint16_t nPortOffset, int32_t nReserved,
                                   int32_t bUseTcp, const char* szPath, int32_t bForceMulticast) {
    return guarded(-1, [&] {
        return api::RealPlay(lLoginHandle, nPortOffset, nReserved, bUseTcp, szPath,
                             bForceMulticast);
    });
}

KX_NET_API int32_t KX_NET_StopRealPlay(int32_t lRealHandle) {
    return guarded(0, [&] { return api::StopRealPlay(lRealHandle); });
}

KX_NET_API int32_t KX_NET_SetRealPlayEndCallBack(int32_t lRealHandle, RealPlayEndCallBack fnPlayEnd,
                                                 void* pUser) {
    return guarded(0, [&] { return api::SetRealPlayEndCallBack(lRealHandle, fnPlayEnd, pUser); });
}

KX_NET_API int32_t KX_NET_SetRealPlayAutoReconnect(int32_t lRealHandle,
                                                   AutoReconnectCallBack fnReconnect, void* pUser,
                                                   int32_t nReserved) {
    return guarded(0, [&] {
        return api::SetRealPlayAutoReconnect(lRealHandle, fnReconnect, pUser, nReserved);
    });
}

KX_NET_API int32_t KX_NET_SetRealDataCallBack(int32_t lRealHandle, RealDataCallBack fnRealData,
                                              void* pUser) {
    return guarded(0, [&] { return api::SetRealDataCallBack(lRealHandle, fnRealData, pUser); });
}

KX_NET_API int32_t KX_NET_SaveRealData(int32_t lRealHandle, const char* szFileName) {
    return guarded(0, [&] { return api::SaveRealData(lRealHandle, szFileName); });
}

KX_NET_API int32_t KX_NET_StopSaveRealData(int32_t lRealHandle) {
    return guarded(0, [&] { return api::StopSaveRealData(lRealHandle); });
}

KX_NET_API int32_t KX_NET_OpenSound(int32_t lRealHandle) {
    return guarded(0, [&] { return api::OpenSound(lRealHandle); });
}

KX_NET_API int32_t KX_NET_CloseSound(int32_t lRealHandle) {
    return guarded(0, [&] { return api::CloseSound(lRealHandle); });
}

KX_NET_API int32_t KX_NET_GetVideoLength(int32_t lRealHandle) {
    // Before initialisation 0; an unknown handle or a length not yet known -3.
    return guarded(-3, [&] { return api::GetVideoLength(lRealHandle); });
}

KX_NET_API int32_t KX_NET_SeekAndPlay(int32_t lRealHandle, int32_t nPosition) {
    return guarded(0, [&] { return api::SeekAndPlay(lRealHandle, nPosition); });
}

KX_NET_API int32_t KX_NET_GetCurrentTime(int32_t lRealHandle) {
    return guarded(0, [&] { return api::GetCurrentTime(lRealHandle); });
}

}  // extern "C"
