// CNetSdkInstance: the library's single instance. It owns the login records and the play
// sessions, issues their handles, and serialises every export with one mutex held for the
// whole call (including start and seek waits and the joins of session threads).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "CLiveClient.h"
#include "CLoginClient.h"
#include "KXRtspSdk.h"

namespace kx::sdk {

class CNetSdkInstance {
public:
    static constexpr int32_t kFirstRealHandle = 1000000;
    static constexpr int32_t kFirstLoginHandle = 1000;

    CNetSdkInstance() = default;
    // Releases every login in ascending order of handle as Logout does.
    virtual ~CNetSdkInstance();
    CNetSdkInstance(const CNetSdkInstance&) = delete;
    CNetSdkInstance& operator=(const CNetSdkInstance&) = delete;

    void SetReserved(int32_t reserved1, int32_t reserved2);

    // The exports' work, each under the instance mutex; results as the exports give them.
    int32_t Login(const char* host, uint16_t port, const char* userName, const char* password);
    int32_t Logout(int32_t loginHandle);
    int32_t RealPlay(int32_t loginHandle, uint16_t portOffset, int32_t reserved, int32_t useTcp,
                     const char* path, int32_t forceMulticast);
    int32_t StopRealPlay(int32_t realHandle);
    int32_t SetRealPlayEndCallBack(int32_t realHandle, RealPlayEndCallBack fn, void* user);
    int32_t SetRealPlayAutoReconnect();
    int32_t SetRealDataCallBack(int32_t realHandle, RealDataCallBack fn, void* user);
    int32_t SaveRealData(int32_t realHandle, const char* fileName);
    int32_t StopSaveRealData(int32_t realHandle);
    int32_t SetSound(int32_t realHandle, bool on);
    int32_t GetVideoLength(int32_t realHandle);
    int32_t SeekAndPlay(int32_t realHandle, int32_t position);
    int32_t GetCurrentTime(int32_t realHandle);

private:
    CLiveClient* FindPlay(int32_t realHandle);  // mutex held
    void ReleaseLogin(int32_t loginHandle);     // mutex held
    // Reads the counter and counts it up until the value read is not in use.
    template <class Table>
    static int32_t IssueHandle(int32_t& next, int32_t first, const Table& table);

    std::mutex m_mutex;
    int32_t m_nReserved1 = 0;
    int32_t m_nReserved2 = 0;
    std::map<int32_t, std::unique_ptr<CLiveClient>> m_mapRealPlay;
    int32_t m_nNextRealHandle = kFirstRealHandle;
    std::map<int32_t, std::unique_ptr<CLoginClient>> m_mapLogin;
    int32_t m_nNextLoginHandle = kFirstLoginHandle;
};

}  // namespace kx::sdk
