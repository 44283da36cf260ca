#include "SilentRtspListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace kx::sdk::testing {

SilentRtspListener::SilentRtspListener() {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (m_listenFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listenFd, 8) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe(m_wakeFds) != 0) {
        if (m_listenFd >= 0) ::close(m_listenFd);
        m_listenFd = -1;
        return;
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread(&SilentRtspListener::run, this);
}

SilentRtspListener::~SilentRtspListener() {
    if (m_thread.joinable()) {
        const char byte = 1;
        (void)!::write(m_wakeFds[1], &byte, 1);
        m_thread.join();
    }
    for (int fd : {m_listenFd, m_wakeFds[0], m_wakeFds[1]}) {
        if (fd >= 0) ::close(fd);
    }
}

std::string SilentRtspListener::url(const char* path) const {
    return "rtsp://127.0.0.1:" + std::to_string(m_port) + path;
}

size_t SilentRtspListener::count(const std::string& method) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t n = 0;
    for (size_t pos = m_received.find(method + " "); pos != std::string::npos;
         pos = m_received.find(method + " ", pos + 1)) {
        ++n;
    }
    return n;
}

void SilentRtspListener::run() {
    std::vector<int> clients;
    while (true) {
        std::vector<pollfd> fds = {{m_wakeFds[0], POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        for (int fd : clients) fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) break;
        if (fds[0].revents != 0) break;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept(m_listenFd, nullptr, nullptr);
            if (fd >= 0) {
                clients.push_back(fd);
                ++m_connections;
                m_openConnections = clients.size();
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            char buffer[2048];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_received.append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                clients.erase(std::find(clients.begin(), clients.end(), fds[i].fd));
                m_openConnections = clients.size();
            }
        }
    }
    for (int fd : clients) ::close(fd);
}

}  // namespace kx::sdk::testing
