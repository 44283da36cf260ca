// One thread that runs the stream library's blocking calls (starting a play, seeking, closing
// while another call waits) in the order they were handed over, so the window thread never
// waits on the network. The stream library serialises its calls anyway, so one thread loses
// nothing to several.
//
// Threads: Post, Idle and Drain are for the window thread. Jobs run on the worker's thread;
// a job hands its result back with PostResult, which runs the given function on the window
// thread as a queued event.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class StreamWorker {
public:
    StreamWorker();
    ~StreamWorker();
    StreamWorker(const StreamWorker&) = delete;
    StreamWorker& operator=(const StreamWorker&) = delete;

    // Queues a job. Counted as pending from now until it has run.
    void Post(std::function<void()> fnJob);
    // True when no job is queued or running: a stream-library call made now on the window
    // thread cannot wait for one of ours.
    bool Idle() const;
    // Called inside a job: runs fnResult on the window thread later.
    void PostResult(std::function<void()> fnResult);
    // Window thread: waits until every job has run and every result has been handled,
    // including jobs posted by those results (used when the program closes).
    void Drain();

private:
    void Run();

    QObject m_receiver;  // lives on the window thread; results are queued to it
    mutable std::mutex m_mtx;
    std::condition_variable m_cvWork;
    std::condition_variable m_cvIdle;
    std::deque<std::function<void()>> m_jobs;
    int m_nPending = 0;  // queued or running
    int m_nResults = 0;  // results posted and not yet handled
    bool m_bStop = false;
    std::thread m_thread;
};
