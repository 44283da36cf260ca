// LoopTimer: one re-armable timer on a GMainContext, without allocation per arming.
// Loop thread only (arming from the loop thread of the context it is attached to).
#pragma once

#include <cstdint>

typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;

namespace kx::media {

class LoopTimer {
public:
    using Callback = void(void* clientData);

    LoopTimer(GMainContext* context, Callback* callback, void* clientData);
    ~LoopTimer();
    LoopTimer(const LoopTimer&) = delete;
    LoopTimer& operator=(const LoopTimer&) = delete;

    // Fires once after the delay (0: at the next loop iteration); re-arming replaces the
    // previous time.
    void armIn(int64_t microseconds);
    // Fires at the given g_get_monotonic_time() value.
    void armAt(int64_t monotonicMicroseconds);
    void disarm();
    bool isArmed() const;

private:
    GSource* m_source = nullptr;
};

}  // namespace kx::media
