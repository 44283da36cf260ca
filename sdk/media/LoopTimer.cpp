#include "LoopTimer.h"

#include <glib.h>

namespace kx::media {

namespace {

struct TimerSource {
    GSource base;
    LoopTimer::Callback* callback;
    void* clientData;
};

gboolean timerDispatch(GSource* source, GSourceFunc, gpointer) {
    auto* timer = reinterpret_cast<TimerSource*>(source);
    g_source_set_ready_time(source, -1);  // one shot; the callback may re-arm
    timer->callback(timer->clientData);
    return G_SOURCE_CONTINUE;
}

GSourceFuncs timerFuncs = {nullptr, nullptr, timerDispatch, nullptr, nullptr, nullptr};

}  // namespace

LoopTimer::LoopTimer(GMainContext* context, Callback* callback, void* clientData) {
    m_source = g_source_new(&timerFuncs, sizeof(TimerSource));
    auto* timer = reinterpret_cast<TimerSource*>(m_source);
    timer->callback = callback;
    timer->clientData = clientData;
    g_source_set_ready_time(m_source, -1);
    g_source_attach(m_source, context);
}

LoopTimer::~LoopTimer() {
    g_source_destroy(m_source);
    g_source_unref(m_source);
}

void LoopTimer::armIn(int64_t microseconds) {
    if (microseconds <= 0) {
        g_source_set_ready_time(m_source, 0);
    } else {
        g_source_set_ready_time(m_source, g_get_monotonic_time() + microseconds);
    }
}

void LoopTimer::armAt(int64_t monotonicMicroseconds) {
    g_source_set_ready_time(m_source, monotonicMicroseconds);
}

void LoopTimer::disarm() {
    g_source_set_ready_time(m_source, -1);
}

bool LoopTimer::isArmed() const {
    return g_source_get_ready_time(m_source) != -1;
}

}  // namespace kx::media
