#include "CLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace Brelso::Public {
namespace {

CLog* g_pLog = nullptr;

struct LevelRow {
    int32_t level;
    const char* name;
};

constexpr LevelRow kLevels[] = {
    {0, ""},          {1, "error"},   {2, "warning"},
    {4, "call"},      {8, "config"},  {16, "performance"},
    {32, "business"}, {64, "detail"}, {128, "package"},
};

}  // namespace

CLog::CLog() = default;
CLog::~CLog() = default;

CLog* CLog::GetInstance() {
    if (g_pLog == nullptr) g_pLog = new CLog();
    return g_pLog;
}

void CLog::ReleaseInstance() {
    delete g_pLog;
    g_pLog = nullptr;
}

void CLog::SetPathPrefix(const char* prefix) {
    std::snprintf(m_szPathPrefix, sizeof m_szPathPrefix, "%s", prefix != nullptr ? prefix : "");
}

const char* CLog::LevelName(int32_t level) {
    if (level <= 0) return nullptr;
    for (const LevelRow& row : kLevels) {
        if (row.level == level) return row.name;
    }
    return nullptr;
}

void CLog::WriteLog(int32_t level, const char* format, ...) {
    if ((m_nLevelMask & level) == 0) return;

    const time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char date[48];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    char base[sizeof m_szPathPrefix + sizeof date + 1];
    std::snprintf(base, sizeof base, "%s_%s", m_szPathPrefix, date);

    va_list args;
    va_start(args, format);
    {
        std::lock_guard<std::mutex> lock(m_mtxWrite);
        m_engine.Write(format, args, base, m_nMaxFileSize, m_nMaxFileCount, LevelName(level));
    }
    va_end(args);
}

}  // namespace Brelso::Public
