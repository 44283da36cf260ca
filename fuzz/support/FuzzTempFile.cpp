#include "FuzzTempFile.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace kx::fuzz {

TempFile::TempFile(const char* suffix) {
    const char* dir = std::getenv("TMPDIR");
    std::string name =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/brelso-fuzz-XXXXXX" + suffix;
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    m_fd = ::mkstemps(text.data(), static_cast<int>(std::string(suffix).size()));
    if (m_fd >= 0) m_path = text.data();
}

TempFile::~TempFile() {
    if (m_fd < 0) return;
    ::close(m_fd);
    ::unlink(m_path.c_str());
}

bool TempFile::write(const uint8_t* data, size_t size) {
    if (m_fd < 0 || ::ftruncate(m_fd, 0) != 0) return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void touch(const uint8_t* data, size_t size) {
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    (void)sum;
}

}  // namespace kx::fuzz
