// RTSPClient's connection: an asynchronous TCP connect on the session's context, then the
// socket is read and written by the client itself, without blocking. Reads take large chunks
// into the wire reader, which cuts them into interleaved "$" frames (routed by channel to the
// RTP source or RTCP instance set up on it) and RTSP messages. Requests wait in a queue until
// the connection stands; failures reach the handlers from a loop timer, never from inside a
// send call.
#include <gio/gio.h>
#include <gst/rtsp/gstrtspurl.h>
#if __has_include(<netinet/tcp.h>)
#include <netinet/in.h>
#include <netinet/tcp.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "NptRange.h"
#include "RTSPClientImpl.h"
#include "RtspUrlUtil.h"
#include "UsageEnvironment.h"

namespace kx::media {

namespace {
constexpr size_t kReadChunk = 64 * 1024;
constexpr int kMaxReadsPerWakeup = 4;  // let the other sources of the loop run in between
// Bytes the server has not taken yet: past this, RTCP frames are dropped and requests fail
// (a server that stops reading for that long is gone).
constexpr size_t kMaxOutputBytes = 256 * 1024;
}  // namespace

using namespace rtsp;

RTSPClient::Impl::Impl(RTSPClient& owner, UsageEnvironment& env, const char* rtspURL)
    : m_owner(owner),
      m_env(env),
      m_context(env.taskScheduler().context()),
      m_url(rtspURL ? rtspURL : ""),
      m_failureTimer(env.taskScheduler().context(), &onFailureTimer, this) {
    m_link = std::make_shared<InterleavedLink>();
    GstRTSPUrl* url = nullptr;
    const std::string parsable = parsableUrl(m_url);
    if (m_url.empty() || gst_rtsp_url_parse(parsable.c_str(), &url) != GST_RTSP_OK ||
        url == nullptr || url->host == nullptr || url->host[0] == '\0') {
        if (url) gst_rtsp_url_free(url);
        m_state = State::Failed;
        m_failCode = kErrorBadUrl;
        m_env.setResultMsg("invalid RTSP URL");
        return;
    }
    m_host = url->host;
    guint16 port = 0;
    gst_rtsp_url_get_port(url, &port);
    m_port = port == 0 ? 554 : port;
    if (url->user) m_user = url->user;
    if (url->passwd) m_password = url->passwd;
    gchar* uri = gst_rtsp_url_get_request_uri(url);
    m_requestUrl = uri ? uri : "";
    g_free(uri);
    gst_rtsp_url_free(url);

    // Connect without blocking the loop: the result comes back on the session's context.
    m_cancellable = g_cancellable_new();
    m_connectOp = new ConnectOp{this};
    GSocketClient* client = g_socket_client_new();
    g_socket_client_set_timeout(client, kConnectTimeoutSeconds);
    GSocketConnectable* address = g_network_address_new(m_host.c_str(), m_port);
    g_main_context_push_thread_default(m_context);
    g_socket_client_connect_async(client, address, m_cancellable, &connectDone, m_connectOp);
    g_main_context_pop_thread_default(m_context);
    g_object_unref(address);
    g_object_unref(client);
}

RTSPClient::Impl::~Impl() {
    if (m_destroyed != nullptr) *m_destroyed = true;
    m_link->writer = nullptr;
    if (m_connectOp != nullptr) {
        m_connectOp->impl = nullptr;  // the completion only cleans up
        g_cancellable_cancel(m_cancellable);
    }
    if (m_cancellable) g_object_unref(m_cancellable);
    releaseConnection();
}

void RTSPClient::Impl::releaseConnection() {
    // Sources destroyed from inside their own dispatch stay valid until it returns; the
    // callers return at once after a release.
    if (m_readSource) {
        g_source_destroy(m_readSource);
        g_source_unref(m_readSource);
        m_readSource = nullptr;
    }
    if (m_writeSource) {
        g_source_destroy(m_writeSource);
        g_source_unref(m_writeSource);
        m_writeSource = nullptr;
    }
    m_socket = nullptr;
    if (m_socketConnection) {
        g_io_stream_close(G_IO_STREAM(m_socketConnection), nullptr, nullptr);
        g_object_unref(m_socketConnection);
        m_socketConnection = nullptr;
    }
    m_output.clear();
    m_outputStart = 0;
}

void RTSPClient::Impl::connectDone(GObject* source, GAsyncResult* result, gpointer data) {
    auto* op = static_cast<ConnectOp*>(data);
    GError* error = nullptr;
    GSocketConnection* connection =
        g_socket_client_connect_finish(G_SOCKET_CLIENT(source), result, &error);
    Impl* self = op->impl;
    delete op;
    if (self == nullptr) {  // the client was destroyed meanwhile
        if (connection) g_object_unref(connection);
        g_clear_error(&error);
        return;
    }
    self->m_connectOp = nullptr;
    if (connection == nullptr) {
        int code = kErrorConnect;
        if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) code = kErrorTimeout;
        const std::string text = std::string("cannot connect to ") + self->m_host + ":" +
                                 std::to_string(self->m_port) + ": " +
                                 (error ? error->message : "unknown error");
        g_clear_error(&error);
        self->onConnectFailed(code, text);
        return;
    }
    self->onConnected(connection);
}

void RTSPClient::Impl::onConnectFailed(int code, const std::string& text) {
    m_state = State::Failed;
    m_failCode = code;
    m_env.setResultMsg(text);
    failAll(code, text);
}

void RTSPClient::Impl::onConnected(GSocketConnection* connection) {
    m_socketConnection = connection;
    m_socket = g_socket_connection_get_socket(connection);
    if (GSocketAddress* remote = g_socket_get_remote_address(m_socket, nullptr)) {
        GInetAddress* inet = g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(remote));
        gchar* text = g_inet_address_to_string(inet);
        m_peerIp = text ? text : "";
        g_free(text);
        g_object_unref(remote);
    }
    // The connect timeout stays on the socket and would close an idle connection.
    g_socket_set_timeout(m_socket, 0);
    g_socket_set_blocking(m_socket, FALSE);
    m_readSource =
        g_socket_create_source(m_socket, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), nullptr);
    g_source_set_callback(m_readSource, G_SOURCE_FUNC(&onReadable), this, nullptr);
    // Nothing runs this context from inside a handler, so the source need not be blocked
    // while it is dispatched; blocking it would take its descriptor out of the poll set and
    // put it back, each time waking the loop through its wakeup descriptor (two writes per
    // readable wake-up).
    g_source_set_can_recurse(m_readSource, TRUE);
    g_source_attach(m_readSource, m_context);
    m_state = State::Connected;
    m_link->writer = this;

    std::vector<Request> queued;
    queued.swap(m_queued);
    for (Request& r : queued) send(r);
}

bool RTSPClient::Impl::build(Request& r, Kind kind, const char* method, const std::string& url,
                             responseHandler* handler) {
    r.kind = kind;
    r.handler = handler;
    r.message = RtspRequest{};
    if (url.empty() || url.find_first_of(" \r\n") != std::string::npos) {
        fail(r, kErrorBadUrl, "cannot build the request");
        return false;
    }
    r.message.method = method;
    r.message.uri = url;
    r.message.cseq = m_nextCSeq++;
    r.message.set("User-Agent", kUserAgent);
    return true;
}

unsigned RTSPClient::Impl::dispatch(Request& r) {
    switch (m_state) {
        case State::Failed: {
            const std::string why = m_env.getResultMsg();
            fail(r, m_failCode, why.empty() ? "not connected" : why);
            return 0;
        }
        case State::Connecting:
            m_queued.push_back(r);
            return r.message.cseq;
        case State::Connected:
            break;
    }
    const unsigned cseq = r.message.cseq;
    send(r);
    return cseq;
}

void RTSPClient::Impl::send(Request& request) {
    if (m_state != State::Connected || m_socket == nullptr) {
        fail(request, kErrorClosed, "the connection is closed");
        return;
    }
    const std::string bytes = request.message.serialize(
        m_auth.authorization(request.message.method, request.message.uri));
    if (bytes.empty()) {
        fail(request, kErrorSend, "cannot send the request");
        return;
    }
    m_awaiting.push_back(request);
    const bool written = write(bytes);
#ifdef TCP_QUICKACK
    // A request after data received makes the kernel delay its acknowledgements (it takes
    // the connection for an interactive one). The reply would then be acknowledged only after
    // the delayed-ACK time, and a server that holds back its next small segment until its
    // last one is acknowledged (Nagle) would send the first RTP after PLAY that much later.
    if (written && m_socket != nullptr) {
        g_socket_set_option(m_socket, IPPROTO_TCP, TCP_QUICKACK, 1, nullptr);
    }
#endif
    if (!written) {
        // The request is in m_awaiting: the connection's failure fails it like the others.
        if (m_state == State::Connected) {
            onConnectionLost(kErrorSend, "the RTSP server does not take requests any more");
        }
    }
}

bool RTSPClient::Impl::write(const std::string& bytes) {
    if (m_socket == nullptr) return false;
    const size_t waiting = m_output.size() - m_outputStart;
    // Past the bound an RTCP frame is simply not sent; a request cannot be sent at all.
    if (waiting + bytes.size() > kMaxOutputBytes) return false;
    if (m_outputStart > 0) {  // keep only what still waits
        m_output.erase(0, m_outputStart);
        m_outputStart = 0;
    }
    m_output += bytes;
    flushOutput();
    return m_socket != nullptr;
}

void RTSPClient::Impl::flushOutput() {
    while (m_socket != nullptr && m_outputStart < m_output.size()) {
        GError* error = nullptr;
        const gssize n = g_socket_send(m_socket, m_output.data() + m_outputStart,
                                       m_output.size() - m_outputStart, nullptr, &error);
        if (n > 0) {
            m_outputStart += static_cast<size_t>(n);
            continue;
        }
        const bool wouldBlock = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
        g_clear_error(&error);
        if (!wouldBlock) {
            onConnectionLost(kErrorClosed, "the RTSP connection broke while sending");
            return;
        }
        if (m_writeSource == nullptr) {
            m_writeSource = g_socket_create_source(m_socket, G_IO_OUT, nullptr);
            g_source_set_callback(m_writeSource, G_SOURCE_FUNC(&onWritable), this, nullptr);
            g_source_set_can_recurse(m_writeSource, TRUE);  // see onConnected
            g_source_attach(m_writeSource, m_context);
        }
        return;
    }
    m_output.clear();
    m_outputStart = 0;
    if (m_writeSource != nullptr) {
        g_source_destroy(m_writeSource);
        g_source_unref(m_writeSource);
        m_writeSource = nullptr;
    }
}

gboolean RTSPClient::Impl::onWritable(GSocket*, GIOCondition, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    // flushOutput removes this source once everything is written.
    self->flushOutput();
    return G_SOURCE_CONTINUE;
}

void RTSPClient::Impl::fail(Request& request, int code, const std::string& text) {
    if (request.handler == nullptr) return;
    m_failures.push_back(Failure{request.handler, code, text});
    m_failureTimer.armIn(0);
}

void RTSPClient::Impl::failAll(int code, const std::string& text) {
    std::vector<Request> all;
    all.swap(m_queued);
    for (Request& r : m_awaiting) all.push_back(r);
    m_awaiting.clear();
    for (Request& r : all) fail(r, code, text);
}

void RTSPClient::Impl::onFailureTimer(void* clientData) {
    auto* self = static_cast<Impl*>(clientData);
    bool destroyed = false;
    self->m_destroyed = &destroyed;
    while (!self->m_failures.empty()) {
        Failure f = self->m_failures.front();
        self->m_failures.erase(self->m_failures.begin());
        f.handler(&self->m_owner, f.code, newString(f.text));
        if (destroyed) return;
    }
    self->m_destroyed = nullptr;
}

void RTSPClient::Impl::onConnectionLost(int code, const std::string& text) {
    m_state = State::Failed;
    m_failCode = code;
    m_link->writer = nullptr;
    m_env.setResultMsg(text);
    releaseConnection();
    failAll(code, text);
}

gboolean RTSPClient::Impl::onReadable(GSocket*, GIOCondition, gpointer data) {
    static_cast<Impl*>(data)->readSocket();
    return G_SOURCE_CONTINUE;  // a release has destroyed the source already
}

void RTSPClient::Impl::readSocket() {
    bool destroyed = false;
    bool* outer = m_destroyed;
    m_destroyed = &destroyed;
    for (int i = 0; i < kMaxReadsPerWakeup && m_socket != nullptr; ++i) {
        GError* error = nullptr;
        uint8_t* space = m_reader.reserve(kReadChunk);
        const gssize n = g_socket_receive(m_socket, reinterpret_cast<gchar*>(space), kReadChunk,
                                          nullptr, &error);
        if (n < 0) {
            const bool wouldBlock =
                g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK) != FALSE;
            const std::string why = error ? error->message : "read error";
            g_clear_error(&error);
            if (!wouldBlock) onConnectionLost(kErrorClosed, "the RTSP connection broke: " + why);
            break;
        }
        if (n == 0) {
            onConnectionLost(kErrorClosed, "the RTSP server closed the connection");
            break;
        }
        m_reader.commit(static_cast<size_t>(n));
        const bool ok = m_reader.parse(*this);
        if (destroyed) {
            if (outer) *outer = true;
            return;
        }
        if (!ok) {
            if (!m_reader.error().empty() && m_state == State::Connected) {
                onConnectionLost(kErrorMalformed, "malformed RTSP reply: " + m_reader.error());
            }
            break;
        }
        reportDeviations(m_reader.deviations());
        if (static_cast<size_t>(n) < kReadChunk) break;  // drained for now
    }
    m_destroyed = outer;
}

bool RTSPClient::Impl::onMessage(RtspMessage& message) {
    // The flag lives in readSocket's frame: it can be read after a handler destroyed us.
    const bool* destroyed = m_destroyed;
    if (message.isReply) {
        onResponse(message);
    } else {
        onRequest(message);
    }
    // Stop when the client went away or the connection ended meanwhile.
    return !*destroyed && m_state == State::Connected;
}

bool RTSPClient::Impl::onInterleaved(uint8_t channel, const uint8_t* data, size_t size) {
    const bool* destroyed = m_destroyed;
    const Route& route = m_routes[channel];
    const PacketRoute* target = route.target.expired() ? nullptr : route.packets;
    if (target != nullptr && size > 0) {
        if (route.rtcp) {
            if (target->rtcp) target->rtcp->handlePacket(data, size);
        } else if (target->rtp) {
            target->rtp->handlePacket(data, size);
        }
    }
    return !*destroyed && m_state == State::Connected;
}

void RTSPClient::Impl::onRequest(const RtspMessage& request) {
    // Servers may ask something of the client (OPTIONS as keep-alive, ANNOUNCE, ...). Only
    // OPTIONS is answered with success.
    const long cseq = request.cseq();
    std::string reply =
        request.method == "OPTIONS" ? "RTSP/1.0 200 OK\r\n" : "RTSP/1.0 501 Not Implemented\r\n";
    if (cseq >= 0) reply += "CSeq: " + std::to_string(cseq) + "\r\n";
    reply += "\r\n";
    write(reply);
}

void RTSPClient::Impl::reportDeviations(unsigned deviations) {
    const unsigned fresh = deviations & ~m_reportedDeviations;
    if (fresh == 0) return;
    m_reportedDeviations |= fresh;
    for (unsigned bit = 1; bit != 0 && bit <= fresh; bit <<= 1) {
        if ((fresh & bit) == 0) continue;
        m_env.notice(UsageEnvironment::Notice::Tolerated,
                     std::string("the server sent ") + rtspDeviationText(bit));
    }
}

bool RTSPClient::Impl::sendInterleaved(uint8_t channel, const uint8_t* data, size_t size) {
    if (m_state != State::Connected || m_socket == nullptr || size > 0xFFFF) return false;
    std::string frame(4 + size, '\0');
    frame[0] = '$';
    frame[1] = static_cast<char>(channel);
    frame[2] = static_cast<char>(size >> 8);
    frame[3] = static_cast<char>(size & 0xFF);
    if (size > 0) std::memcpy(&frame[4], data, size);
    return write(frame);
}

}  // namespace kx::media
