// CNetSdkInstance: the library's single instance. It owns the login records and the play
// sessions and issues their handles. The exports in KXRtspSdk.cpp reach it through Current(),
// hold its mutex for the whole call (including start and seek waits and the joins of session
// threads) and call one method here or on the session FindPlay gives them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "CLiveClient.h"
#include "CLoginClient.h"

namespace kx::sdk {

class CNetSdkInstance {
public:
    static constexpr int32_t kFirstRealHandle = 1000000;
    static constexpr int32_t kFirstLoginHandle = 1000;

    // The process's instance: created by Init, destroyed by Cleanup, null in between. Neither
    // takes the mutex; the caller must not run them at the same time as any other export.
    static int32_t Init(int32_t reserved1, int32_t reserved2, int32_t logLevelMask);
    static void Cleanup();
    static CNetSdkInstance* Current();
    static bool IsInitialised() { return Current() != nullptr; }

    CNetSdkInstance() = default;
    // Releases every login in ascending order of handle as Logout does.
    virtual ~CNetSdkInstance();
    CNetSdkInstance(const CNetSdkInstance&) = delete;
    CNetSdkInstance& operator=(const CNetSdkInstance&) = delete;

    // Serialises the exports; everything below is called with it held.
    std::mutex& Mutex() { return m_mutex; }

    // The table work of the exports; results as the exports give them.
    int32_t Login(const char* host, uint16_t port, const char* userName, const char* password);
    int32_t Logout(int32_t loginHandle);
    int32_t RealPlay(int32_t loginHandle, uint16_t portOffset, int32_t reserved, int32_t useTcp,
                     const char* path, int32_t forceMulticast);
    int32_t StopRealPlay(int32_t realHandle);
    // The session of a play handle, null when the handle is not in the play table.
    CLiveClient* FindPlay(int32_t realHandle);

private:
    void ReleaseLogin(int32_t loginHandle);
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
