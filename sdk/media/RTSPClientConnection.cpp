// RTSPClient's connection: an asynchronous TCP connect on the session's context, then
// GstRTSPConnection and GstRTSPWatch. Requests wait in a queue until the connection stands;
// failures reach the handlers from a loop timer, never from inside a send call; interleaved
// "$" frames are routed by channel to the RTP source or RTCP instance set up on it.
#include <gio/gio.h>
#include <gst/rtsp/gstrtspconnection.h>
#include <gst/rtsp/gstrtspmessage.h>
#include <gst/rtsp/gstrtsptransport.h>
#include <gst/rtsp/gstrtspurl.h>

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
constexpr guint kMaxReplyBodyBytes = 4u << 20;
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
    for (Request& r : m_queued) gst_rtsp_message_free(r.message);
    for (Request& r : m_awaiting) gst_rtsp_message_free(r.message);
    releaseConnection();
}

void RTSPClient::Impl::releaseConnection() {
    GstRTSPWatch* watch = m_watch;
    GstRTSPConnection* connection = m_connection;
    GSocketConnection* socketConnection = m_socketConnection;
    m_watch = nullptr;
    m_connection = nullptr;
    m_socketConnection = nullptr;
    if (watch == nullptr && connection == nullptr && socketConnection == nullptr) return;
    if (watch) g_source_destroy(reinterpret_cast<GSource*>(watch));
    struct Leftovers {
        GstRTSPWatch* watch;
        GstRTSPConnection* connection;
        GSocketConnection* socketConnection;
    };
    auto freeAll = [](gpointer p) -> gboolean {
        auto* l = static_cast<Leftovers*>(p);
        if (l->watch) gst_rtsp_watch_unref(l->watch);
        if (l->connection) gst_rtsp_connection_free(l->connection);
        if (l->socketConnection) g_object_unref(l->socketConnection);
        delete l;
        return G_SOURCE_REMOVE;
    };
    auto* leftovers = new Leftovers{watch, connection, socketConnection};
    if (m_inCallback > 0) {
        // Called from inside the watch's dispatch, which still uses the connection after the
        // callback returns: free it on the next loop iteration.
        GSource* idle = g_idle_source_new();
        g_source_set_callback(idle, freeAll, leftovers, nullptr);
        g_source_attach(idle, m_context);
        g_source_unref(idle);
    } else {
        freeAll(leftovers);
    }
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
    GSocket* socket = g_socket_connection_get_socket(connection);
    std::string ip = m_host;
    guint16 port = m_port;
    if (GSocketAddress* remote = g_socket_get_remote_address(socket, nullptr)) {
        GInetAddress* inet = g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(remote));
        gchar* text = g_inet_address_to_string(inet);
        ip = text;
        g_free(text);
        port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(remote));
        g_object_unref(remote);
    }
    GstRTSPConnection* conn = nullptr;
    if (gst_rtsp_connection_create_from_socket(socket, ip.c_str(), port, nullptr, &conn) !=
            GST_RTSP_OK ||
        conn == nullptr) {
        onConnectFailed(kErrorConnect, "cannot set up the RTSP connection");
        return;
    }
    m_connection = conn;
    // A reply body is read whole into memory: a server announcing (or sending) more than any
    // session description needs is refused instead of being buffered without bound.
    gst_rtsp_connection_set_content_length_limit(conn, kMaxReplyBodyBytes);
    // The connect timeout stays on the socket and would close an idle connection.
    g_socket_set_timeout(socket, 0);
    if (GSocket* s = gst_rtsp_connection_get_read_socket(conn)) g_socket_set_timeout(s, 0);
    if (GSocket* s = gst_rtsp_connection_get_write_socket(conn)) g_socket_set_timeout(s, 0);

    GstRTSPWatchFuncs funcs;
    std::memset(&funcs, 0, sizeof funcs);
    funcs.message_received = &watchMessage;
    funcs.closed = &watchClosed;
    funcs.error_full = &watchError;
    m_watch = gst_rtsp_watch_new(conn, &funcs, this, nullptr);
    gst_rtsp_watch_attach(m_watch, m_context);
    // Handlers never iterate this context themselves, so the watch need not be blocked while
    // it dispatches: blocking removes and re-adds its descriptors, each time waking the
    // context, which cost several system calls per interleaved packet.
    g_source_set_can_recurse(reinterpret_cast<GSource*>(m_watch), TRUE);
    m_state = State::Connected;
    m_link->writer = this;

    std::vector<Request> queued;
    queued.swap(m_queued);
    for (Request& r : queued) send(r);
}

bool RTSPClient::Impl::build(Request& r, Kind kind, GstRTSPMethod method, const std::string& url,
                             responseHandler* handler) {
    r.kind = kind;
    r.handler = handler;
    r.cseq = m_nextCSeq++;
    r.message = nullptr;
    GstRTSPMessage* msg = nullptr;
    if (gst_rtsp_message_new_request(&msg, method, url.c_str()) != GST_RTSP_OK) {
        fail(r, kErrorBadUrl, "cannot build the request");
        return false;
    }
    gst_rtsp_message_add_header(msg, GST_RTSP_HDR_CSEQ, std::to_string(r.cseq).c_str());
    gst_rtsp_message_add_header(msg, GST_RTSP_HDR_USER_AGENT, kUserAgent);
    r.message = msg;
    return true;
}

unsigned RTSPClient::Impl::dispatch(Request& r) {
    switch (m_state) {
        case State::Failed: {
            const std::string why = m_env.getResultMsg();
            fail(r, m_failCode, why.empty() ? "not connected" : why);
            gst_rtsp_message_free(r.message);
            return 0;
        }
        case State::Connecting:
            m_queued.push_back(r);
            return r.cseq;
        case State::Connected:
            break;
    }
    const unsigned cseq = r.cseq;
    send(r);
    return cseq;
}

void RTSPClient::Impl::send(Request& request) {
    if (m_state != State::Connected || m_watch == nullptr) {
        fail(request, kErrorClosed, "the connection is closed");
        gst_rtsp_message_free(request.message);
        return;
    }
    if (gst_rtsp_watch_send_message(m_watch, request.message, nullptr) != GST_RTSP_OK) {
        fail(request, kErrorSend, "cannot send the request");
        gst_rtsp_message_free(request.message);
        return;
    }
    m_awaiting.push_back(request);
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
    for (Request& r : all) {
        fail(r, code, text);
        gst_rtsp_message_free(r.message);
    }
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

GstRTSPResult RTSPClient::Impl::watchMessage(GstRTSPWatch*, GstRTSPMessage* message,
                                             gpointer data) {
    auto* self = static_cast<Impl*>(data);
    bool destroyed = false;
    bool* outer = self->m_destroyed;
    self->m_destroyed = &destroyed;
    ++self->m_inCallback;
    self->onMessage(message);
    if (destroyed) {
        if (outer) *outer = true;
        return GST_RTSP_OK;
    }
    --self->m_inCallback;
    self->m_destroyed = outer;
    return GST_RTSP_OK;
}

GstRTSPResult RTSPClient::Impl::watchClosed(GstRTSPWatch*, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    self->m_state = State::Failed;
    self->m_failCode = kErrorClosed;
    self->m_link->writer = nullptr;
    self->m_env.setResultMsg("the RTSP server closed the connection");
    self->failAll(kErrorClosed, "the RTSP server closed the connection");
    return GST_RTSP_OK;
}

GstRTSPResult RTSPClient::Impl::watchError(GstRTSPWatch*, GstRTSPResult result, GstRTSPMessage*,
                                           guint, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    self->m_state = State::Failed;
    self->m_link->writer = nullptr;
    const int code = result == GST_RTSP_EPARSE ? kErrorMalformed : kErrorClosed;
    self->m_failCode = code;
    gchar* text = gst_rtsp_strresult(result);
    const std::string message = std::string("RTSP connection error: ") + (text ? text : "");
    g_free(text);
    self->m_env.setResultMsg(message);
    self->failAll(code, message);
    return GST_RTSP_OK;
}

void RTSPClient::Impl::onMessage(GstRTSPMessage* message) {
    switch (gst_rtsp_message_get_type(message)) {
        case GST_RTSP_MESSAGE_DATA:
            onData(message);
            break;
        case GST_RTSP_MESSAGE_RESPONSE:
            onResponse(message);
            break;
        case GST_RTSP_MESSAGE_REQUEST:
            onRequest(message);
            break;
        default:
            break;
    }
}

void RTSPClient::Impl::onData(GstRTSPMessage* message) {
    guint8 channel = 0;
    if (gst_rtsp_message_parse_data(message, &channel) != GST_RTSP_OK) return;
    const Route& route = m_routes[channel];
    std::shared_ptr<PacketRoute> target = route.target.lock();
    if (!target) return;
    const uint8_t* data = nullptr;
    size_t size = 0;
    messageBody(message, data, size);
    if (data == nullptr || size == 0) return;
    if (route.rtcp) {
        if (target->rtcp) target->rtcp->handlePacket(data, size);
    } else if (target->rtp) {
        target->rtp->handlePacket(data, size);
    }
}

void RTSPClient::Impl::onRequest(GstRTSPMessage* message) {
    // Servers may ask something of the client (OPTIONS as keep-alive, ANNOUNCE, ...). Only
    // OPTIONS is answered with success.
    GstRTSPMethod method = GST_RTSP_INVALID;
    const gchar* uri = nullptr;
    GstRTSPVersion version;
    if (gst_rtsp_message_parse_request(message, &method, &uri, &version) != GST_RTSP_OK) return;
    GstRTSPMessage* reply = nullptr;
    const GstRTSPStatusCode code =
        method == GST_RTSP_OPTIONS ? GST_RTSP_STS_OK : GST_RTSP_STS_NOT_IMPLEMENTED;
    if (gst_rtsp_message_new_response(&reply, code, nullptr, message) != GST_RTSP_OK) return;
    if (m_watch != nullptr) gst_rtsp_watch_send_message(m_watch, reply, nullptr);
    gst_rtsp_message_free(reply);
}

bool RTSPClient::Impl::sendInterleaved(uint8_t channel, const uint8_t* data, size_t size) {
    if (m_state != State::Connected || m_watch == nullptr || size > 0xFFFF) return false;
    GstRTSPMessage message;
    std::memset(&message, 0, sizeof message);
    if (gst_rtsp_message_init_data(&message, channel) != GST_RTSP_OK) return false;
    gst_rtsp_message_set_body(&message, data, static_cast<guint>(size));
    const bool ok = gst_rtsp_watch_send_message(m_watch, &message, nullptr) == GST_RTSP_OK;
    gst_rtsp_message_unset(&message);
    return ok;
}

}  // namespace kx::media
