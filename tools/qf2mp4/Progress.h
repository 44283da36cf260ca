// Progress of a long conversion on a terminal: one line rewritten in place, at most once per
// percent. Silent when standard error is no terminal (a script, a log file).
#pragma once

#include <cstdint>

namespace kx::qf2mp4 {

class Progress {
public:
    // total: bytes of the input file. Shown only for files of at least minBytes.
    explicit Progress(uint64_t total, uint64_t minBytes = 16u << 20);
    void update(uint64_t done, uint64_t frames);
    // Ends the line, if one was shown.
    void finish();

private:
    bool m_shown;
    uint64_t m_total;
    int m_lastPercent = -1;
};

}  // namespace kx::qf2mp4
