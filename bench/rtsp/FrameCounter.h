// FrameCounter: what one play session of the benchmark client received, counted from the
// data callback: pictures by their frame tag (see FrameTag.h), the first NAL unit and the
// first key frame, for the loss and start-time figures.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Brelso::Bench {

class FrameCounter {
public:
    using Clock = std::chrono::steady_clock;

    // Called from the session's data callback.
    void onData(uint32_t dataType, const uint8_t* inner, uint32_t size);

    // Waits for the first delivered NAL unit / key frame; false after the timeout.
    bool waitFirstData(std::chrono::milliseconds timeout);
    bool waitFirstKey(std::chrono::milliseconds timeout);
    Clock::time_point firstDataTime() const { return m_firstData; }
    Clock::time_point firstKeyTime() const { return m_firstKey; }

    // Read only once the session stopped (no callback runs any more).
    uint64_t delivered() const { return m_delivered; }
    // Pictures the server sent between the first and the last picture delivered.
    uint64_t expected() const { return m_haveFirst ? m_lastPicture - m_firstTag + 1 : 0; }
    uint64_t lost() const { return expected() - delivered(); }
    uint64_t bytes() const { return m_bytes; }

private:
    void markFirst(bool key);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_sawData = false;
    bool m_sawKey = false;
    Clock::time_point m_firstData{};
    Clock::time_point m_firstKey{};

    bool m_haveFirst = false;
    bool m_haveTag = false;
    uint32_t m_firstTag = 0;
    uint32_t m_currentTag = 0;
    uint32_t m_lastPicture = 0;
    bool m_currentCounted = false;
    uint64_t m_delivered = 0;
    uint64_t m_bytes = 0;
};

}  // namespace Brelso::Bench
