// SilentRtspListener: a TCP listener on 127.0.0.1 that accepts RTSP connections, reads what
// arrives and never answers: a server that has gone quiet.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx::sdk::testing {

class SilentRtspListener {
public:
    SilentRtspListener();
    ~SilentRtspListener();
    SilentRtspListener(const SilentRtspListener&) = delete;
    SilentRtspListener& operator=(const SilentRtspListener&) = delete;

    bool ok() const { return m_listenFd >= 0; }
    std::string url(const char* path) const;
    size_t connections() const { return m_connections; }
    // Connections the client has not closed yet.
    size_t openConnections() const { return m_openConnections; }
    // How often a request of that method arrived, over all connections.
    size_t count(const std::string& method) const;

private:
    void run();

    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    uint16_t m_port = 0;
    std::atomic<size_t> m_connections{0};
    std::atomic<size_t> m_openConnections{0};
    mutable std::mutex m_mutex;
    std::string m_received;
    std::thread m_thread;
};

}  // namespace kx::sdk::testing
