#include "ScriptedRtspServer.h"

#include <gio/gio.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>

namespace Brelso::Testing {

namespace {

constexpr size_t kMaxRequestBytes = 65536;
constexpr gint64 kSendWaitMicroseconds = 2000000;

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 451:
            return "Parameter Not Understood";
        case 454:
            return "Session Not Found";
        case 455:
            return "Method Not Valid in This State";
        case 461:
            return "Unsupported Transport";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

void putUint16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void putUint32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// "a-b" after key= in a Transport header; false when missing.
bool parsePair(const std::string& transport, const std::string& key, int& first, int& second) {
    const auto pos = transport.find(key + "=");
    if (pos == std::string::npos) return false;
    return std::sscanf(transport.c_str() + pos + key.size() + 1, "%d-%d", &first, &second) == 2;
}

// Track number from a SETUP URL ending in "trackN" or "trackID=N"; -1 when none.
int trackFromUri(const std::string& uri) {
    const auto pos = uri.rfind("track");
    if (pos == std::string::npos) return -1;
    const char* p = uri.c_str() + pos + 5;
    if (std::strncmp(p, "ID=", 3) == 0 || std::strncmp(p, "id=", 3) == 0) p += 3;
    int value = -1;
    if (std::sscanf(p, "%d", &value) != 1 || value < 0 || value > 63) return -1;
    return value;
}

// Writes everything, waiting at most kSendWaitMicroseconds whenever the peer does not read.
// The sockets stay without a GLib timeout: that would also fire their read sources.
bool sendAll(GSocket* socket, const uint8_t* data, size_t size) {
    size_t offset = 0;
    while (offset < size) {
        GError* error = nullptr;
        const gssize n =
            g_socket_send_with_blocking(socket, reinterpret_cast<const gchar*>(data + offset),
                                        size - offset, FALSE, nullptr, &error);
        if (n > 0) {
            offset += static_cast<size_t>(n);
            continue;
        }
        const bool wouldBlock = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
        if (error) g_error_free(error);
        if (!wouldBlock || !g_socket_condition_timed_wait(socket, G_IO_OUT, kSendWaitMicroseconds,
                                                          nullptr, nullptr)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string RtspRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
    }
    return {};
}

bool RtspRequest::hasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& entry) {
        return strcasecmp(entry.first.c_str(), name.c_str()) == 0;
    });
}

int RtspRequest::cseq() const {
    const std::string text = header("CSeq");
    if (text.empty()) return -1;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return (*end == '\0' && value >= 0 && value < INT32_MAX) ? static_cast<int>(value) : -1;
}

// One track set up on a connection: where its RTP and RTCP go.
struct TrackTransport {
    bool tcp = false;
    int rtpChannel = 0;
    int rtcpChannel = 1;
    GSocketAddress* rtpTarget = nullptr;
    GSocketAddress* rtcpTarget = nullptr;
    GSocket* rtpSocket = nullptr;
    GSocket* rtcpSocket = nullptr;
    uint32_t ssrc = 0;
    std::string uri;

    void release() {
        for (GSocket** socket : {&rtpSocket, &rtcpSocket}) {
            if (*socket) {
                g_socket_close(*socket, nullptr);
                g_object_unref(*socket);
                *socket = nullptr;
            }
        }
        for (GSocketAddress** address : {&rtpTarget, &rtcpTarget}) {
            if (*address) g_object_unref(*address);
            *address = nullptr;
        }
    }
};

struct ScriptedRtspServer::Sender {
    ScriptedRtspServer* server = nullptr;
    Connection* connection = nullptr;
    int track = 0;
    RtpPlan plan;
    size_t index = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t packets = 0;
    uint32_t octets = 0;
    GSource* timer = nullptr;
};

struct ScriptedRtspServer::Connection {
    ScriptedRtspServer* server = nullptr;
    int id = 0;
    GSocket* socket = nullptr;
    GSource* readSource = nullptr;
    std::string input;
    std::map<int, TrackTransport> tracks;
    int setupCount = 0;
    std::string sessionId;
    std::vector<std::unique_ptr<Sender>> senders;
};

ScriptedRtspServer::ScriptedRtspServer() = default;

ScriptedRtspServer::~ScriptedRtspServer() {
    stop();
}

bool ScriptedRtspServer::start() {
    if (m_thread.joinable()) return false;
    GError* error = nullptr;
    m_listener =
        g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, &error);
    if (!m_listener) {
        g_error_free(error);
        return false;
    }
    GSocketAddress* address = g_inet_socket_address_new_from_string("127.0.0.1", 0);
    const bool bound =
        g_socket_bind(m_listener, address, TRUE, &error) && g_socket_listen(m_listener, &error);
    g_object_unref(address);
    if (!bound) {
        g_error_free(error);
        g_object_unref(m_listener);
        m_listener = nullptr;
        return false;
    }
    GSocketAddress* local = g_socket_get_local_address(m_listener, nullptr);
    m_port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local));
    g_object_unref(local);

    m_context = g_main_context_new();
    m_loop = g_main_loop_new(m_context, FALSE);
    GSource* source = g_socket_create_source(m_listener, G_IO_IN, nullptr);
    g_source_set_callback(source, G_SOURCE_FUNC(+[](GSocket*, GIOCondition, gpointer self) {
                              static_cast<ScriptedRtspServer*>(self)->accept();
                              return gboolean(G_SOURCE_CONTINUE);
                          }),
                          this, nullptr);
    g_source_attach(source, m_context);
    g_source_unref(source);
    m_thread = std::thread([this] {
        g_main_context_push_thread_default(m_context);
        g_main_loop_run(m_loop);
        g_main_context_pop_thread_default(m_context);
    });
    return true;
}

void ScriptedRtspServer::stop() {
    if (!m_thread.joinable()) return;
    runOnLoop([this] {
        while (!m_connections.empty()) closeConnection(m_connections.begin()->first);
        g_main_loop_quit(m_loop);
    });
    m_thread.join();
    while (g_main_context_iteration(m_context, FALSE)) {
    }
    g_socket_close(m_listener, nullptr);
    g_object_unref(m_listener);
    m_listener = nullptr;
    g_main_loop_unref(m_loop);
    m_loop = nullptr;
    g_main_context_unref(m_context);
    m_context = nullptr;
}

std::string ScriptedRtspServer::url(const std::string& path) const {
    return "rtsp://127.0.0.1:" + std::to_string(m_port) + path;
}

void ScriptedRtspServer::runOnLoop(std::function<void()> job) {
    if (!m_thread.joinable()) {
        job();
        return;
    }
    struct Job {
        std::function<void()> work;
        std::promise<void> done;
    };
    auto* item = new Job{std::move(job), {}};
    auto finished = item->done.get_future();
    g_main_context_invoke_full(
        m_context, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            auto* jobItem = static_cast<Job*>(data);
            jobItem->work();
            jobItem->done.set_value();
            return G_SOURCE_REMOVE;
        },
        item, [](gpointer data) { delete static_cast<Job*>(data); });
    finished.wait();
}

// ---- behaviour ---------------------------------------------------------------------------

void ScriptedRtspServer::setSdp(std::string sdp) {
    std::lock_guard lock(m_mutex);
    m_behaviour.sdp = std::move(sdp);
}

void ScriptedRtspServer::setPublicMethods(std::string methods) {
    std::lock_guard lock(m_mutex);
    m_behaviour.publicMethods = std::move(methods);
}

void ScriptedRtspServer::setSessionTimeout(int seconds) {
    std::lock_guard lock(m_mutex);
    m_behaviour.sessionTimeout = seconds;
}

void ScriptedRtspServer::setStatus(const std::string& method, int status) {
    std::lock_guard lock(m_mutex);
    if (status == 200) {
        m_behaviour.status.erase(method);
    } else {
        m_behaviour.status[method] = status;
    }
}

void ScriptedRtspServer::setSilent(const std::string& method, bool silent) {
    std::lock_guard lock(m_mutex);
    if (silent) {
        m_behaviour.silent.insert(method);
    } else {
        m_behaviour.silent.erase(method);
    }
}

void ScriptedRtspServer::setReplyDelay(const std::string& method, unsigned milliseconds) {
    std::lock_guard lock(m_mutex);
    m_behaviour.delayMs[method] = milliseconds;
}

void ScriptedRtspServer::setPlayRange(std::string range) {
    std::lock_guard lock(m_mutex);
    m_behaviour.playRange = std::move(range);
}

void ScriptedRtspServer::setTrackPlan(int track, RtpPlan plan) {
    std::lock_guard lock(m_mutex);
    m_behaviour.plans[track] = std::move(plan);
}

// ---- observation -------------------------------------------------------------------------

std::vector<RtspRequest> ScriptedRtspServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

size_t ScriptedRtspServer::count(const std::string& method) const {
    std::lock_guard lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_requests.begin(), m_requests.end(),
                                             [&](const auto& r) { return r.method == method; }));
}

bool ScriptedRtspServer::waitForRequests(const std::string& method, size_t n,
                                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return static_cast<size_t>(
                   std::count_if(m_requests.begin(), m_requests.end(),
                                 [&](const auto& r) { return r.method == method; })) >= n;
    });
}

size_t ScriptedRtspServer::rtpPacketsSent(int track) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_rtpSent.find(track);
    return it == m_rtpSent.end() ? 0 : it->second;
}

bool ScriptedRtspServer::waitForRtpPackets(int track, size_t n,
                                           std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        const auto it = m_rtpSent.find(track);
        return it != m_rtpSent.end() && it->second >= n;
    });
}

size_t ScriptedRtspServer::connectionCount() const {
    std::lock_guard lock(m_mutex);
    return m_connectionsAccepted;
}

void ScriptedRtspServer::recordRequest(const RtspRequest& request) {
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    m_changed.notify_all();
}

// ---- actions -----------------------------------------------------------------------------

void ScriptedRtspServer::stopRtp() {
    runOnLoop([this] {
        for (auto& [id, connection] : m_connections) stopSenders(*connection);
    });
}

int ScriptedRtspServer::sendRtcpBye(int track) {
    int sent = 0;
    runOnLoop([&] {
        for (auto& [id, connection] : m_connections) {
            for (auto& sender : connection->senders) {
                if (sender->track != track) continue;
                const uint32_t ssrc = connection->tracks[track].ssrc;
                std::vector<uint8_t> packet;
                // Sender report without report blocks, then BYE for the same source.
                packet.push_back(0x80);
                packet.push_back(200);
                putUint16(packet, 6);
                putUint32(packet, ssrc);
                const gint64 now = g_get_real_time();
                putUint32(packet, static_cast<uint32_t>(now / 1000000 + 2208988800LL));
                putUint32(packet, static_cast<uint32_t>(((now % 1000000) << 32) / 1000000));
                putUint32(packet, sender->timestamp);
                putUint32(packet, sender->packets);
                putUint32(packet, sender->octets);
                packet.push_back(0x81);
                packet.push_back(203);
                putUint16(packet, 1);
                putUint32(packet, ssrc);
                if (sendOnTrack(*connection, track, true, packet)) ++sent;
            }
        }
    });
    return sent;
}

void ScriptedRtspServer::dropConnections() {
    runOnLoop([this] {
        while (!m_connections.empty()) closeConnection(m_connections.begin()->first);
    });
}

// ---- connections (loop thread) -----------------------------------------------------------

void ScriptedRtspServer::accept() {
    GSocket* socket = g_socket_accept(m_listener, nullptr, nullptr);
    if (!socket) return;
    auto connection = std::make_unique<Connection>();
    connection->server = this;
    connection->id = m_nextConnectionId++;
    connection->socket = socket;
    connection->readSource = g_socket_create_source(socket, G_IO_IN, nullptr);
    g_source_set_callback(connection->readSource,
                          G_SOURCE_FUNC(+[](GSocket*, GIOCondition, gpointer data) {
                              auto* conn = static_cast<Connection*>(data);
                              conn->server->readFrom(*conn);  // may destroy conn
                              return gboolean(G_SOURCE_CONTINUE);
                          }),
                          connection.get(), nullptr);
    g_source_attach(connection->readSource, m_context);
    {
        std::lock_guard lock(m_mutex);
        ++m_connectionsAccepted;
    }
    m_connections[connection->id] = std::move(connection);
}

void ScriptedRtspServer::closeConnection(int id) {
    auto it = m_connections.find(id);
    if (it == m_connections.end()) return;
    Connection& connection = *it->second;
    stopSenders(connection);
    g_source_destroy(connection.readSource);
    g_source_unref(connection.readSource);
    g_socket_close(connection.socket, nullptr);
    g_object_unref(connection.socket);
    for (auto& [track, transport] : connection.tracks) transport.release();
    m_connections.erase(it);
}

void ScriptedRtspServer::readFrom(Connection& connection) {
    char buffer[4096];
    const gssize received =
        g_socket_receive(connection.socket, buffer, sizeof(buffer), nullptr, nullptr);
    if (received <= 0) {
        closeConnection(connection.id);
        return;
    }
    connection.input.append(buffer, static_cast<size_t>(received));
    const int id = connection.id;
    for (;;) {
        if (!m_connections.count(id)) return;  // closed while handling a request
        std::string& input = connection.input;
        if (input.empty()) return;
        if (input[0] == '$') {  // interleaved RTCP from the client: skipped
            if (input.size() < 4) return;
            const size_t length =
                (static_cast<uint8_t>(input[2]) << 8) | static_cast<uint8_t>(input[3]);
            if (input.size() < 4 + length) return;
            input.erase(0, 4 + length);
            continue;
        }
        const auto headerEnd = input.find("\r\n\r\n");
        if (headerEnd == std::string::npos) {
            if (input.size() > kMaxRequestBytes) closeConnection(id);
            return;
        }
        RtspRequest request;
        request.connection = id;
        request.time = std::chrono::steady_clock::now();
        size_t lineStart = 0;
        bool first = true;
        size_t contentLength = 0;
        while (lineStart < headerEnd) {
            const auto lineEnd = input.find("\r\n", lineStart);
            const std::string line = input.substr(lineStart, lineEnd - lineStart);
            lineStart = lineEnd + 2;
            if (first) {
                first = false;
                const auto space1 = line.find(' ');
                const auto space2 = line.find(' ', space1 + 1);
                if (space1 == std::string::npos || space2 == std::string::npos) continue;
                request.method = line.substr(0, space1);
                request.uri = line.substr(space1 + 1, space2 - space1 - 1);
                continue;
            }
            const auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            request.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
            if (strcasecmp(request.headers.back().first.c_str(), "Content-Length") == 0) {
                contentLength = std::strtoul(request.headers.back().second.c_str(), nullptr, 10);
            }
        }
        if (contentLength > kMaxRequestBytes) {
            closeConnection(id);
            return;
        }
        if (input.size() < headerEnd + 4 + contentLength) return;
        request.body = input.substr(headerEnd + 4, contentLength);
        input.erase(0, headerEnd + 4 + contentLength);
        handleRequest(connection, std::move(request));
    }
}

void ScriptedRtspServer::handleRequest(Connection& connection, RtspRequest request) {
    recordRequest(request);
    unsigned delay = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_behaviour.silent.count("*") || m_behaviour.silent.count(request.method)) return;
        const auto it = m_behaviour.delayMs.find(request.method);
        if (it != m_behaviour.delayMs.end()) delay = it->second;
    }
    auto answer = [this](int id, const RtspRequest& req) {
        auto it = m_connections.find(id);
        if (it == m_connections.end()) return;
        Connection& conn = *it->second;
        Behaviour behaviour;
        {
            std::lock_guard lock(m_mutex);
            behaviour = m_behaviour;
        }
        bool startPlay = false;
        const std::string reply = buildReply(conn, req, behaviour, startPlay);
        if (!sendAll(conn.socket, reinterpret_cast<const uint8_t*>(reply.data()), reply.size())) {
            closeConnection(id);
            return;
        }
        if (startPlay) startSenders(conn, behaviour);
    };
    if (delay == 0) {
        answer(connection.id, request);
        return;
    }
    struct Delayed {
        std::function<void()> work;
    };
    auto* delayed = new Delayed{[answer, id = connection.id, request] { answer(id, request); }};
    GSource* timer = g_timeout_source_new(delay);
    g_source_set_callback(
        timer,
        [](gpointer data) -> gboolean {
            static_cast<Delayed*>(data)->work();
            return G_SOURCE_REMOVE;
        },
        delayed, [](gpointer data) { delete static_cast<Delayed*>(data); });
    g_source_attach(timer, m_context);
    g_source_unref(timer);
}

std::string ScriptedRtspServer::buildReply(Connection& connection, const RtspRequest& request,
                                           const Behaviour& behaviour, bool& startPlay) {
    const std::string cseq = "CSeq: " + request.header("CSeq") + "\r\n";
    const auto statusIt = behaviour.status.find(request.method);
    if (statusIt != behaviour.status.end()) {
        return "RTSP/1.0 " + std::to_string(statusIt->second) + " " +
               reasonPhrase(statusIt->second) + "\r\n" + cseq + "\r\n";
    }
    std::string head = "RTSP/1.0 200 OK\r\n" + cseq + "Server: ScriptedRtspServer\r\n";
    std::string session;
    if (!connection.sessionId.empty()) {
        session = "Session: " + connection.sessionId;
        if (behaviour.sessionTimeout >= 0)
            session += ";timeout=" + std::to_string(behaviour.sessionTimeout);
        session += "\r\n";
    }
    const std::string& method = request.method;
    if (method == "OPTIONS") return head + "Public: " + behaviour.publicMethods + "\r\n\r\n";
    if (method == "DESCRIBE") {
        std::string base = request.uri;
        if (base.empty() || base.back() != '/') base += '/';
        return head + "Content-Type: application/sdp\r\nContent-Base: " + base +
               "\r\nContent-Length: " + std::to_string(behaviour.sdp.size()) + "\r\n\r\n" +
               behaviour.sdp;
    }
    if (method == "SETUP") {
        int track = trackFromUri(request.uri);
        if (track < 0) track = connection.setupCount;
        ++connection.setupCount;
        const std::string requested = request.header("Transport");
        TrackTransport& transport = connection.tracks[track];
        transport.release();
        transport.uri = request.uri;
        transport.ssrc =
            0x10000000u + static_cast<uint32_t>(connection.id) * 16u + static_cast<uint32_t>(track);
        char ssrc[16];
        std::snprintf(ssrc, sizeof(ssrc), "%08X", transport.ssrc);
        std::string reply;
        int first = 0;
        int second = 0;
        if (requested.find("/TCP") != std::string::npos ||
            requested.find("interleaved=") != std::string::npos) {
            transport.tcp = true;
            if (!parsePair(requested, "interleaved", first, second)) {
                first = 2 * track;
                second = first + 1;
            }
            transport.rtpChannel = first;
            transport.rtcpChannel = second;
            reply = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(first) + "-" +
                    std::to_string(second) + ";ssrc=" + ssrc;
        } else {
            if (!parsePair(requested, "client_port", first, second)) {
                return "RTSP/1.0 461 Unsupported Transport\r\n" + cseq + "\r\n";
            }
            transport.tcp = false;
            transport.rtpTarget = g_inet_socket_address_new_from_string("127.0.0.1", first);
            transport.rtcpTarget = g_inet_socket_address_new_from_string("127.0.0.1", second);
            uint16_t serverPorts[2] = {0, 0};
            GSocket** sockets[2] = {&transport.rtpSocket, &transport.rtcpSocket};
            for (int i = 0; i < 2; ++i) {
                *sockets[i] = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM,
                                           G_SOCKET_PROTOCOL_UDP, nullptr);
                GSocketAddress* any = g_inet_socket_address_new_from_string("127.0.0.1", 0);
                g_socket_bind(*sockets[i], any, TRUE, nullptr);
                g_object_unref(any);
                GSocketAddress* local = g_socket_get_local_address(*sockets[i], nullptr);
                serverPorts[i] = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local));
                g_object_unref(local);
            }
            reply = "RTP/AVP;unicast;client_port=" + std::to_string(first) + "-" +
                    std::to_string(second) + ";server_port=" + std::to_string(serverPorts[0]) +
                    "-" + std::to_string(serverPorts[1]) + ";ssrc=" + ssrc;
        }
        if (connection.sessionId.empty()) {
            connection.sessionId = "5C21" + std::to_string(1000 + connection.id);
            session = "Session: " + connection.sessionId;
            if (behaviour.sessionTimeout >= 0)
                session += ";timeout=" + std::to_string(behaviour.sessionTimeout);
            session += "\r\n";
        }
        return head + "Transport: " + reply + "\r\n" + session + "\r\n";
    }
    if (method == "PLAY") {
        startPlay = true;
        std::string rtpInfo;
        for (const auto& [track, transport] : connection.tracks) {
            if (!rtpInfo.empty()) rtpInfo += ",";
            rtpInfo += "url=" + transport.uri + ";seq=" + std::to_string(1000 * (track + 1)) +
                       ";rtptime=" + std::to_string(10000 * (track + 1));
        }
        std::string reply = head + session;
        if (!behaviour.playRange.empty()) reply += "Range: " + behaviour.playRange + "\r\n";
        if (!rtpInfo.empty()) reply += "RTP-Info: " + rtpInfo + "\r\n";
        return reply + "\r\n";
    }
    if (method == "GET_PARAMETER" || method == "SET_PARAMETER") return head + session + "\r\n";
    if (method == "TEARDOWN") {
        stopSenders(connection);
        return head + session + "\r\n";
    }
    return "RTSP/1.0 501 Not Implemented\r\n" + cseq + "\r\n";
}

// ---- RTP (loop thread) -------------------------------------------------------------------

void ScriptedRtspServer::startSenders(Connection& connection, const Behaviour& behaviour) {
    stopSenders(connection);
    for (const auto& [track, transport] : connection.tracks) {
        const auto planIt = behaviour.plans.find(track);
        if (planIt == behaviour.plans.end() || planIt->second.ticks.empty()) continue;
        auto sender = std::make_unique<Sender>();
        sender->server = this;
        sender->connection = &connection;
        sender->track = track;
        sender->plan = planIt->second;
        sender->sequence = static_cast<uint16_t>(1000 * (track + 1));
        sender->timestamp = static_cast<uint32_t>(10000 * (track + 1));
        sender->timer = g_timeout_source_new(std::max(1u, sender->plan.intervalMs));
        g_source_set_callback(
            sender->timer,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<Sender*>(data);
                self->server->tick(*self);
                return G_SOURCE_CONTINUE;
            },
            sender.get(), nullptr);
        g_source_attach(sender->timer, m_context);
        connection.senders.push_back(std::move(sender));
    }
}

void ScriptedRtspServer::stopSenders(Connection& connection) {
    for (auto& sender : connection.senders) {
        if (sender->timer) {
            g_source_destroy(sender->timer);
            g_source_unref(sender->timer);
            sender->timer = nullptr;
        }
    }
    connection.senders.clear();
}

void ScriptedRtspServer::tick(Sender& sender) {
    if (sender.index >= sender.plan.ticks.size()) {
        if (!sender.plan.loop) {
            // Finished: the timer stays attached but idle until the sender is stopped.
            return;
        }
        sender.index = 0;
    }
    Connection& connection = *sender.connection;
    const uint32_t ssrc = connection.tracks[sender.track].ssrc;
    size_t sent = 0;
    for (const auto& payload : sender.plan.ticks[sender.index]) {
        std::vector<uint8_t> packet;
        packet.reserve(12 + payload.bytes.size());
        packet.push_back(0x80);
        packet.push_back(
            static_cast<uint8_t>((payload.marker ? 0x80 : 0) | (sender.plan.payloadType & 0x7F)));
        putUint16(packet, sender.sequence++);
        putUint32(packet, sender.timestamp);
        putUint32(packet, ssrc);
        packet.insert(packet.end(), payload.bytes.begin(), payload.bytes.end());
        if (!sendOnTrack(connection, sender.track, false, packet)) break;
        ++sender.packets;
        sender.octets += static_cast<uint32_t>(payload.bytes.size());
        ++sent;
    }
    sender.timestamp += sender.plan.timestampStep;
    ++sender.index;
    {
        std::lock_guard lock(m_mutex);
        m_rtpSent[sender.track] += sent;
    }
    m_changed.notify_all();
}

bool ScriptedRtspServer::sendOnTrack(Connection& connection, int track, bool rtcp,
                                     const std::vector<uint8_t>& packet) {
    const auto it = connection.tracks.find(track);
    if (it == connection.tracks.end() || packet.size() > 65535) return false;
    const TrackTransport& transport = it->second;
    if (transport.tcp) {
        std::vector<uint8_t> frame;
        frame.reserve(packet.size() + 4);
        frame.push_back('$');
        frame.push_back(static_cast<uint8_t>(rtcp ? transport.rtcpChannel : transport.rtpChannel));
        putUint16(frame, static_cast<uint16_t>(packet.size()));
        frame.insert(frame.end(), packet.begin(), packet.end());
        return sendAll(connection.socket, frame.data(), frame.size());
    }
    GSocket* socket = rtcp ? transport.rtcpSocket : transport.rtpSocket;
    GSocketAddress* target = rtcp ? transport.rtcpTarget : transport.rtpTarget;
    if (!socket || !target) return false;
    return g_socket_send_to(socket, target, reinterpret_cast<const gchar*>(packet.data()),
                            packet.size(), nullptr, nullptr) == static_cast<gssize>(packet.size());
}

}  // namespace Brelso::Testing
