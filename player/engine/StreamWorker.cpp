#include "StreamWorker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

StreamWorker::StreamWorker() : m_thread(&StreamWorker::Run, this) {}

StreamWorker::~StreamWorker() {
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_bStop = true;
    }
    m_cvWork.notify_all();
    m_thread.join();
}

void StreamWorker::Post(std::function<void()> fnJob) {
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_jobs.push_back(std::move(fnJob));
        ++m_nPending;
    }
    m_cvWork.notify_one();
}

bool StreamWorker::Idle() const {
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_nPending == 0;
}

void StreamWorker::PostResult(std::function<void()> fnResult) {
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        ++m_nResults;
    }
    QMetaObject::invokeMethod(
        &m_receiver,
        [this, fn = std::move(fnResult)] {
            {
                std::lock_guard<std::mutex> lock(m_mtx);
                --m_nResults;
            }
            fn();
        },
        Qt::QueuedConnection);
}

void StreamWorker::Drain() {
    while (true) {
        {
            std::unique_lock<std::mutex> lock(m_mtx);
            m_cvIdle.wait(lock, [this] { return m_nPending == 0; });
            if (m_nResults == 0) return;
        }
        // Results of finished jobs may queue more jobs (closing a late play).
        QCoreApplication::sendPostedEvents(&m_receiver, QEvent::MetaCall);
    }
}

void StreamWorker::Run() {
    while (true) {
        std::function<void()> fnJob;
        {
            std::unique_lock<std::mutex> lock(m_mtx);
            m_cvWork.wait(lock, [this] { return m_bStop || !m_jobs.empty(); });
            if (m_jobs.empty()) return;
            fnJob = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        fnJob();
        {
            std::lock_guard<std::mutex> lock(m_mtx);
            --m_nPending;
        }
        m_cvIdle.notify_all();
    }
}
