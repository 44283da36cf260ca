// A file in the temporary folder that a target rewrites with each input, for readers that take
// a path. Made once per process and removed at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx::fuzz {

class TempFile {
public:
    explicit TempFile(const char* suffix);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Replaces the file's content; false when it cannot be written.
    bool write(const uint8_t* data, size_t size);
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    int m_fd = -1;
};

// Reads every byte of a borrowed range, so that AddressSanitizer checks the range is valid.
void touch(const uint8_t* data, size_t size);

}  // namespace kx::fuzz
