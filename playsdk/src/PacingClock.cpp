#include "PacingClock.h"

#include <algorithm>

namespace kx::play {

void PacingClock::start(int64_t mediaUs, int64_t nowUs) {
    m_started = true;
    m_mediaBase = mediaUs;
    m_wallBase = nowUs;
    if (m_paused) m_pausedAt = nowUs;
}

void PacingClock::setLevel(int level, int64_t nowUs) {
    level = std::clamp(level, kMinLevel, kMaxLevel);
    if (m_started) {
        const int64_t at = m_paused ? m_pausedAt : nowUs;
        const int64_t media = mediaAt(at);
        m_level = level;
        m_mediaBase = media;
        m_wallBase = at;
    } else {
        m_level = level;
    }
}

void PacingClock::pause(int64_t nowUs) {
    if (m_paused) return;
    m_paused = true;
    m_pausedAt = nowUs;
}

void PacingClock::resume(int64_t nowUs) {
    if (!m_paused) return;
    m_paused = false;
    m_wallBase += nowUs - m_pausedAt;  // the paused stretch does not count
}

int64_t PacingClock::dueAt(int64_t mediaUs) const {
    const int64_t delta = mediaUs - m_mediaBase;
    const int64_t wall = m_level >= 0 ? delta >> m_level : delta << -m_level;
    return m_wallBase + wall;
}

int64_t PacingClock::mediaAt(int64_t nowUs) const {
    const int64_t wall = (m_paused ? m_pausedAt : nowUs) - m_wallBase;
    const int64_t media = m_level >= 0 ? wall << m_level : wall >> -m_level;
    return m_mediaBase + media;
}

}  // namespace kx::play
