// UsageEnvironment and TaskScheduler: one per session. The scheduler owns a GMainContext
// that is run by exactly one thread (the session's event-loop thread); every object of the
// layer created with this environment is used on that thread only, except where a method
// says it is thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

typedef struct _GMainContext GMainContext;

namespace kx::media {

using TaskFunc = void(void* clientData);
using TaskToken = void*;  // null: no task

class TaskScheduler {
public:
    TaskScheduler();
    ~TaskScheduler();
    TaskScheduler(const TaskScheduler&) = delete;
    TaskScheduler& operator=(const TaskScheduler&) = delete;

    // Loop thread only. Runs proc(clientData) once after the delay; the token names the task
    // until it has run or was unscheduled.
    TaskToken scheduleDelayedTask(int64_t microseconds, TaskFunc* proc, void* clientData);
    // Loop thread only. Cancels a pending task (a null or already-run token is harmless) and
    // sets the token to null.
    void unscheduleDelayedTask(TaskToken& token);

    // Runs the event loop on the calling thread until *watchVariable becomes non-zero.
    // The watch is looked at after every handler and whenever wakeup() is called.
    void doEventLoop(std::atomic<char>* watchVariable);

    // Thread-safe. Wakes the loop at once so that it looks at its watch variable again.
    void wakeup();

    // Thread-safe. Runs proc(clientData) on the loop thread as soon as possible.
    void triggerEvent(TaskFunc* proc, void* clientData);

    // The context run by doEventLoop (for sockets and timers of the layer).
    GMainContext* context() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

class UsageEnvironment {
public:
    explicit UsageEnvironment(TaskScheduler& scheduler) : m_scheduler(scheduler) {}
    UsageEnvironment(const UsageEnvironment&) = delete;
    UsageEnvironment& operator=(const UsageEnvironment&) = delete;

    TaskScheduler& taskScheduler() const { return m_scheduler; }

    // The text of the last failure of the layer in this environment ("" when none).
    const char* getResultMsg() const { return m_resultMsg.c_str(); }
    void setResultMsg(std::string msg) { m_resultMsg = std::move(msg); }

    // What the layer tells its user about a server: a departure from the protocol it
    // tolerated, or packets it refused (from another sender, of another SSRC). Objects of
    // the layer report each kind once. Called on the loop thread.
    enum class Notice { Tolerated, Refused };
    using NoticeFunc = void(void* clientData, Notice kind, const char* text);
    void setNoticeHandler(NoticeFunc* handler, void* clientData) {
        m_noticeHandler = handler;
        m_noticeData = clientData;
    }
    void notice(Notice kind, const std::string& text) const {
        if (m_noticeHandler != nullptr) m_noticeHandler(m_noticeData, kind, text.c_str());
    }

private:
    TaskScheduler& m_scheduler;
    std::string m_resultMsg;
    NoticeFunc* m_noticeHandler = nullptr;
    void* m_noticeData = nullptr;
};

}  // namespace kx::media
