// File work of the log: appends one line to the day's current file and rotates the day's
// files when the current one has grown too large. Holds no state of its own.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace Brelso::Common {

class CLogEngine {
public:
    CLogEngine() = default;
    virtual ~CLogEngine() = default;

    // Appends "[[time]][levelName]" and the formatted message to "<baseName>.log" (created
    // when missing; never creates folders), then rotates. levelName null writes "default".
    void Write(const char* format, va_list args, const char* baseName, int32_t maxFileSize,
               int32_t maxFileCount, const char* levelName);

    // When "<baseName>.log" has reached maxFileSize: drops "<baseName><count-1>.log" and
    // shifts each older file up by one index, the current file becoming index 1.
    void Rotate(const char* baseName, int32_t maxFileSize, int32_t maxFileCount);
};

}  // namespace Brelso::Common
