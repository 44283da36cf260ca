#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace kx::qf2mp4 {

Progress::Progress(uint64_t total, uint64_t minBytes)
    : m_shown(total >= minBytes && isatty(STDERR_FILENO) != 0), m_total(total) {}

void Progress::update(uint64_t done, uint64_t frames) {
    if (!m_shown || m_total == 0) return;
    const int percent = static_cast<int>(done * 100 / m_total);
    if (percent == m_lastPercent) return;
    m_lastPercent = percent;
    std::fprintf(stderr, "\rqf2mp4: %3d%%  %llu frames", percent,
                 static_cast<unsigned long long>(frames));
    std::fflush(stderr);
}

void Progress::finish() {
    if (m_shown && m_lastPercent >= 0) std::fputc('\n', stderr);
}

}  // namespace kx::qf2mp4
