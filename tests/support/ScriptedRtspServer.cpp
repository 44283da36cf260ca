#include "ScriptedRtspServer.h"

#include <gio/gio.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>

#include "ScriptedRtspConnection.h"

namespace Brelso::Testing {

namespace {

constexpr size_t kMaxRequestBytes = 65536;

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
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

void ScriptedRtspServer::setQuirks(unsigned quirks) {
    std::lock_guard lock(m_mutex);
    m_behaviour.quirks = quirks;
}

void ScriptedRtspServer::setBasicAuth(std::string user, std::string password) {
    const std::string pair = user + ":" + password;
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(pair.data()), pair.size());
    std::lock_guard lock(m_mutex);
    m_behaviour.authorization = std::string("Basic ") + encoded;
    g_free(encoded);
}

void ScriptedRtspServer::setRefuseTcp(bool refuse) {
    std::lock_guard lock(m_mutex);
    m_behaviour.refuseTcp = refuse;
}

void ScriptedRtspServer::setNameUdpSender(bool name) {
    std::lock_guard lock(m_mutex);
    m_behaviour.nameUdpSender = name;
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
        request.raw = input.substr(0, headerEnd + 4);
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

}  // namespace Brelso::Testing
