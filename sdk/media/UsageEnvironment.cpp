// TaskScheduler on a GMainContext: delayed tasks are GSources with a ready time, wakeups go
// through the context's own wakeup descriptor, triggered events are idle sources.
#include "UsageEnvironment.h"

#include <gst/gst.h>

#include <mutex>
#include <unordered_set>

namespace kx::media {

namespace {

struct DelayedTask {
    GSource* source = nullptr;
    TaskFunc* proc = nullptr;
    void* clientData = nullptr;
};

struct TriggeredEvent {
    TaskFunc* proc;
    void* clientData;
};

void ensureGstInitialised() {
    static std::once_flag once;
    // GstRTSP/GstRTCP buffers need the core initialised, even without any element.
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

}  // namespace

struct TaskScheduler::Impl {
    GMainContext* context = nullptr;
    std::unordered_set<DelayedTask*> tasks;  // pending delayed tasks (loop thread only)

    struct TaskSourceData {
        Impl* scheduler;
        DelayedTask* task;
    };
    static gboolean dispatchTask(gpointer data);
};

gboolean TaskScheduler::Impl::dispatchTask(gpointer data) {
    auto* d = static_cast<TaskSourceData*>(data);
    Impl* self = d->scheduler;
    DelayedTask* task = d->task;
    // The task ends now: its token becomes invalid before the handler runs, so a handler
    // that unschedules its own (stale) token does no harm.
    self->tasks.erase(task);
    TaskFunc* proc = task->proc;
    void* clientData = task->clientData;
    GSource* source = task->source;
    delete task;
    g_source_destroy(source);
    g_source_unref(source);
    proc(clientData);
    return G_SOURCE_REMOVE;
}

TaskScheduler::TaskScheduler() : m_impl(std::make_unique<Impl>()) {
    ensureGstInitialised();
    m_impl->context = g_main_context_new();
}

TaskScheduler::~TaskScheduler() {
    for (DelayedTask* task : m_impl->tasks) {
        g_source_destroy(task->source);
        g_source_unref(task->source);
        delete task;
    }
    m_impl->tasks.clear();
    // Drain sources that are still attached (triggered events never run): destroying the
    // context frees them together with their data.
    g_main_context_unref(m_impl->context);
}

TaskToken TaskScheduler::scheduleDelayedTask(int64_t microseconds, TaskFunc* proc,
                                             void* clientData) {
    if (proc == nullptr) return nullptr;
    if (microseconds < 0) microseconds = 0;
    auto* task = new DelayedTask;
    task->proc = proc;
    task->clientData = clientData;
    // A timeout source has millisecond resolution; a plain source with a ready time keeps
    // the microseconds.
    static GSourceFuncs funcs = {
        nullptr,
        nullptr,
        [](GSource*, GSourceFunc callback, gpointer data) -> gboolean { return callback(data); },
        nullptr,
        nullptr,
        nullptr};
    GSource* source = g_source_new(&funcs, sizeof(GSource));
    task->source = source;
    auto* data = new Impl::TaskSourceData{m_impl.get(), task};
    g_source_set_callback(source, &Impl::dispatchTask, data,
                          [](gpointer p) { delete static_cast<Impl::TaskSourceData*>(p); });
    g_source_set_ready_time(source, g_get_monotonic_time() + microseconds);
    g_source_attach(source, m_impl->context);
    m_impl->tasks.insert(task);
    return task;
}

void TaskScheduler::unscheduleDelayedTask(TaskToken& token) {
    auto* task = static_cast<DelayedTask*>(token);
    token = nullptr;
    if (task == nullptr) return;
    auto it = m_impl->tasks.find(task);
    if (it == m_impl->tasks.end()) return;  // already ran
    m_impl->tasks.erase(it);
    g_source_destroy(task->source);
    g_source_unref(task->source);
    delete task;
}

void TaskScheduler::doEventLoop(std::atomic<char>* watchVariable) {
    GMainContext* ctx = m_impl->context;
    // Asynchronous GIO operations started from handlers complete on this context.
    g_main_context_push_thread_default(ctx);
    while (watchVariable == nullptr || watchVariable->load() == 0) {
        g_main_context_iteration(ctx, TRUE);
    }
    g_main_context_pop_thread_default(ctx);
}

void TaskScheduler::wakeup() {
    g_main_context_wakeup(m_impl->context);
}

void TaskScheduler::triggerEvent(TaskFunc* proc, void* clientData) {
    if (proc == nullptr) return;
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source,
        [](gpointer p) -> gboolean {
            auto* ev = static_cast<TriggeredEvent*>(p);
            ev->proc(ev->clientData);
            return G_SOURCE_REMOVE;
        },
        new TriggeredEvent{proc, clientData},
        [](gpointer p) { delete static_cast<TriggeredEvent*>(p); });
    g_source_attach(source, m_impl->context);
    g_source_unref(source);
}

GMainContext* TaskScheduler::context() const {
    return m_impl->context;
}

}  // namespace kx::media
