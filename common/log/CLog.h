// The process-wide log of the stream library: settings, level filter and the single entry
// point WriteLog. The file work is CLogEngine's.
#pragma once

#include <cstdint>
#include <mutex>

#include "CLogEngine.h"

namespace Brelso::Public {

// Log levels: one bit each.
enum LogLevel : int32_t {
    LOG_ERROR = 1,
    LOG_WARNING = 2,
    LOG_CALL = 4,
    LOG_CONFIG = 8,
    LOG_PERFORMANCE = 16,
    LOG_BUSINESS = 32,
    LOG_DETAIL = 64,
    LOG_PACKAGE = 128,
};

class CLog {
public:
    CLog();
    virtual ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // The single instance, created with logging off on first use. Not synchronised: the
    // first call comes from KX_NET_Init, before any other thread of the library exists.
    static CLog* GetInstance();
    // Destroys the instance (KX_NET_Cleanup); a later GetInstance creates a new one.
    static void ReleaseInstance();

    // Sets the file-name prefix (at most 39 characters are kept) and the level mask.
    void SetPathPrefix(const char* prefix);
    void SetLevelMask(int32_t mask) { m_nLevelMask = mask; }
    void SetMaxFileSize(int32_t bytes) { m_nMaxFileSize = bytes; }
    void SetMaxFileCount(int32_t count) { m_nMaxFileCount = count; }

    int32_t LevelMask() const { return m_nLevelMask; }
    const char* PathPrefix() const { return m_szPathPrefix; }

    // Writes one line when the level has a bit in common with the mask. Safe from any thread.
    void WriteLog(int32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // The name written for a level: "error" ... "package", or nullptr for none ("default").
    static const char* LevelName(int32_t level);

private:
    Brelso::Common::CLogEngine m_engine;
    int32_t m_nLevelMask = 0;
    int32_t m_nMaxFileSize = 33554432;
    int32_t m_nMaxFileCount = 10;
    char m_szPathPrefix[40] = {0};
    std::mutex m_mtxWrite;  // lines and rotations never interleave
};

}  // namespace Brelso::Public

// Logs through the single instance.
#define KX_LOG(level, ...) ::Brelso::Public::CLog::GetInstance()->WriteLog((level), __VA_ARGS__)
