#include "CLogEngine.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

namespace Brelso::Common {
namespace {

constexpr size_t kMaxFileName = 254;

// "%s.log" or "%s%d.log", cut to 254 characters like every file name of the log.
void FileName(char (&out)[kMaxFileName + 1], const char* base, int index) {
    if (index == 0) {
        std::snprintf(out, sizeof out, "%s.log", base);
    } else {
        std::snprintf(out, sizeof out, "%s%d.log", base, index);
    }
}

bool Exists(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0;
}

}  // namespace

void CLogEngine::Write(const char* format, va_list args, const char* baseName, int32_t maxFileSize,
                       int32_t maxFileCount, const char* levelName) {
    char name[kMaxFileName + 1];
    FileName(name, baseName, 0);
    FILE* file = std::fopen(name, "a+");
    if (file == nullptr) return;  // missing folder: the line is lost, nothing reported

    const time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::fprintf(file, "[[%s]][%s]", stamp, levelName != nullptr ? levelName : "default");
    std::vfprintf(file, format, args);
    std::fclose(file);

    Rotate(baseName, maxFileSize, maxFileCount);
}

void CLogEngine::Rotate(const char* baseName, int32_t maxFileSize, int32_t maxFileCount) {
    char current[kMaxFileName + 1];
    FileName(current, baseName, 0);
    struct stat st;
    if (::stat(current, &st) != 0) return;
    const auto size = static_cast<int32_t>(static_cast<uint32_t>(st.st_size));
    if (size < maxFileSize) return;

    char name[kMaxFileName + 1];
    FileName(name, baseName, maxFileCount - 1);
    if (Exists(name)) std::remove(name);
    for (int i = maxFileCount - 2; i >= 0; --i) {
        char source[kMaxFileName + 1];
        FileName(source, baseName, i);
        if (!Exists(source)) continue;
        FileName(name, baseName, i + 1);
        std::rename(source, name);  // a failure is retried after the next line
    }
}

}  // namespace Brelso::Common
