// Maps presentation times of a file to the moments they are due, at a speed of 2^level
// (level -3..3), with pause. Pure arithmetic on times passed in (microseconds), so the port
// decides what "now" is.
#pragma once

#include <cstdint>

namespace kx::play {

class PacingClock {
public:
    static constexpr int kMinLevel = -3;
    static constexpr int kMaxLevel = 3;

    // Media time mediaUs is shown at wall time nowUs; later times follow at the set speed.
    void start(int64_t mediaUs, int64_t nowUs);
    void reset() { m_started = false; }
    bool started() const { return m_started; }

    // Changes the speed from now on, keeping the media time reached so far.
    void setLevel(int level, int64_t nowUs);
    int level() const { return m_level; }

    void pause(int64_t nowUs);
    void resume(int64_t nowUs);
    bool paused() const { return m_paused; }

    // The wall time at which mediaUs is due (only meaningful when started and not paused).
    int64_t dueAt(int64_t mediaUs) const;
    // The media time reached at wall time nowUs.
    int64_t mediaAt(int64_t nowUs) const;

private:
    bool m_started = false;
    bool m_paused = false;
    int m_level = 0;
    int64_t m_mediaBase = 0;
    int64_t m_wallBase = 0;
    int64_t m_pausedAt = 0;
};

}  // namespace kx::play
