// LocalRtspServer: a GStreamer RTSP server bound to 127.0.0.1, running on its own GMainContext
// and thread inside the calling process. Mounts are described by launch strings; the server
// can require a user name and password (Basic and/or Digest), announce a session timeout,
// expire idle sessions, be stopped and started again on the same port.
//
// Threads: every public member is called from one controlling thread (a test, a program's
// main thread). The server itself runs on the thread start() creates.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;
typedef struct _GstRTSPServer GstRTSPServer;

namespace Brelso::Tools {

// Lower transports a mount offers (bit mask).
enum RtspTransport : unsigned { kTransportUdp = 1, kTransportTcp = 2 };

// Authentication methods the server accepts when credentials are set (bit mask).
enum RtspAuthMethod : unsigned { kAuthBasic = 1, kAuthDigest = 2 };

struct RtspMount {
    std::string path;    // "/live"
    std::string launch;  // "( videotestsrc ! ... ! rtph264pay name=pay0 pt=96 )"
    unsigned transports = kTransportUdp | kTransportTcp;
    bool shared = false;  // one pipeline for all clients of the mount
};

struct RtspServerConfig {
    // When userName is not empty every mount requires these credentials; a request without
    // them is answered 401 with a challenge for each method in authMethods.
    std::string userName;
    std::string password;
    unsigned authMethods = kAuthBasic | kAuthDigest;
    // Session timeout announced in the Session header; 0 keeps the server's 60 s (which it
    // does not announce).
    unsigned sessionTimeoutSeconds = 0;
    // How often idle sessions are looked for and expired.
    unsigned cleanupIntervalMs = 1000;
};

class LocalRtspServer {
public:
    explicit LocalRtspServer(RtspServerConfig config = {});
    virtual ~LocalRtspServer();
    LocalRtspServer(const LocalRtspServer&) = delete;
    LocalRtspServer& operator=(const LocalRtspServer&) = delete;

    // Adds (or replaces) a mount; takes effect at once when running.
    void addMount(const RtspMount& mount);

    // Binds 127.0.0.1:port (0: a free port) and starts serving. False with lastError() set
    // when the port cannot be bound or the server is already running.
    bool start(uint16_t port = 0);
    // Closes every client connection, drops every session and stops listening. The port
    // stays remembered for restart(). Does nothing when not running.
    void stop();
    // Starts again on the port of the previous start.
    bool restart();

    bool running() const { return m_thread.joinable(); }
    uint16_t port() const { return m_port; }
    // "rtsp://[user:password@]127.0.0.1:<port><path>"
    std::string url(const std::string& path, bool withCredentials = false) const;
    const std::string& lastError() const { return m_lastError; }
    // Client connections accepted since the last start.
    unsigned connectionCount() const;

private:
    bool buildServer(uint16_t port);
    void applyMount(const RtspMount& mount);
    void countConnection();

    RtspServerConfig m_config;
    std::vector<RtspMount> m_mounts;
    std::string m_lastError;
    uint16_t m_port = 0;
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    GstRTSPServer* m_server = nullptr;
    unsigned m_sourceId = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    unsigned m_connections = 0;
};

}  // namespace Brelso::Tools
