// RTSPClient on GstRTSPConnection and GstRTSPWatch. The TCP connection is made
// asynchronously on the session's context; requests made before it stands wait in a queue.
// Replies are matched to their requests by CSeq; interleaved "$" frames are routed by channel
// to the RTP source or RTCP instance of the subsession that was set up on that channel.
#include "RTSPClient.h"

#include <gio/gio.h>
#include <gst/rtsp/gstrtspconnection.h>
#include <gst/rtsp/gstrtspmessage.h>
#include <gst/rtsp/gstrtsptransport.h>
#include <gst/rtsp/gstrtspurl.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "InterleavedLink.h"
#include "MediaSession.h"
#include "MediaSessionImpl.h"
#include "NptRange.h"
#include "RtspUrlUtil.h"
#include "UsageEnvironment.h"

namespace kx::media {

namespace {

constexpr guint kConnectTimeoutSeconds = 10;
constexpr const char* kUserAgent = "KXMedia RTSP client (GStreamer)";

enum class Kind { Options, Describe, Setup, Play, GetParameter, Teardown };

char* newString(const std::string& s) {
    char* out = new char[s.size() + 1];
    std::memcpy(out, s.data(), s.size());
    out[s.size()] = '\0';
    return out;
}

char* newString(const uint8_t* data, size_t size) {
    char* out = new char[size + 1];
    if (size > 0) std::memcpy(out, data, size);
    out[size] = '\0';
    return out;
}

// The body of a message: GStreamer keeps a terminating NUL that it counts in the size.
void messageBody(GstRTSPMessage* msg, const uint8_t*& data, size_t& size) {
    guint8* body = nullptr;
    guint len = 0;
    data = nullptr;
    size = 0;
    if (gst_rtsp_message_get_body(msg, &body, &len) != GST_RTSP_OK || body == nullptr) return;
    if (len > 0 && body[len - 1] == '\0') --len;
    data = body;
    size = len;
}

std::string headerValues(GstRTSPMessage* msg, GstRTSPHeaderField field) {
    // Comma-separated headers come split into several entries.
    std::string joined;
    for (gint i = 0;; ++i) {
        gchar* value = nullptr;
        if (gst_rtsp_message_get_header(msg, field, &value, i) != GST_RTSP_OK) break;
        if (value == nullptr) continue;
        if (!joined.empty()) joined += ", ";
        joined += value;
    }
    return joined;
}

const char* firstHeader(GstRTSPMessage* msg, GstRTSPHeaderField field) {
    gchar* value = nullptr;
    if (gst_rtsp_message_get_header(msg, field, &value, 0) != GST_RTSP_OK) return nullptr;
    return value;
}

}  // namespace

struct RTSPClient::Impl final : public InterleavedWriter {
    struct Request {
        unsigned cseq = 0;
        Kind kind = Kind::Options;
        responseHandler* handler = nullptr;
        GstRTSPMessage* message = nullptr;  // kept for sending later and for the auth retry
        MediaSession* session = nullptr;
        MediaSubsession* subsession = nullptr;
        bool streamUsingTCP = false;
        int channel = -1;
        bool authRetried = false;
    };
    struct Failure {
        responseHandler* handler;
        int code;
        std::string text;
    };
    struct ConnectOp {
        Impl* impl;
    };
    struct Route {
        std::weak_ptr<PacketRoute> target;
        bool rtcp = false;
    };
    enum class State { Connecting, Connected, Failed };

    Impl(RTSPClient& owner, UsageEnvironment& env, const char* rtspURL);
    ~Impl();

    // Builds a request with CSeq and User-Agent into r.message (false: bad URL, handler failed).
    bool build(Request& r, Kind kind, GstRTSPMethod method, const std::string& url,
               responseHandler* handler);
    // Sends the built request now or when connected; returns its CSeq or 0.
    unsigned dispatch(Request& r);
    void send(Request& request);
    void fail(Request& request, int code, const std::string& text);
    void failAll(int code, const std::string& text);
    void onConnected(GSocketConnection* connection);
    void onConnectFailed(int code, const std::string& text);
    void onMessage(GstRTSPMessage* message);
    void onResponse(GstRTSPMessage* message);
    void onData(GstRTSPMessage* message);
    void onRequest(GstRTSPMessage* message);
    bool answerChallenge(Request& request, GstRTSPMessage* reply);
    void handleSetupReply(Request& request, GstRTSPMessage* reply);
    void handlePlayReply(Request& request, GstRTSPMessage* reply);
    void joinMulticast(MediaSubsession::Impl& s, const std::string& group, uint16_t rtpPort,
                       uint16_t rtcpPort);
    std::string baseUrl() const { return m_baseUrl.empty() ? m_requestUrl : m_baseUrl; }
    std::string sessionUrl(MediaSession& session) const {
        return resolveControlUrl(baseUrl(), session.controlPath());
    }
    bool sendInterleaved(uint8_t channel, const uint8_t* data, size_t size) override;
    void releaseConnection();

    static void connectDone(GObject* source, GAsyncResult* result, gpointer data);
    static GstRTSPResult watchMessage(GstRTSPWatch*, GstRTSPMessage* message, gpointer data);
    static GstRTSPResult watchClosed(GstRTSPWatch*, gpointer data);
    static GstRTSPResult watchError(GstRTSPWatch*, GstRTSPResult result, GstRTSPMessage*, guint,
                                    gpointer data);
    static void onFailureTimer(void* clientData);

    RTSPClient& m_owner;
    UsageEnvironment& m_env;
    GMainContext* m_context;
    std::string m_url;         // as given (with credentials)
    std::string m_requestUrl;  // without credentials
    std::string m_host;
    uint16_t m_port = 554;
    std::string m_user;
    std::string m_password;
    State m_state = State::Connecting;
    int m_failCode = kErrorConnect;  // what requests get once the state is Failed

    ConnectOp* m_connectOp = nullptr;
    GCancellable* m_cancellable = nullptr;
    GSocketConnection* m_socketConnection = nullptr;
    GstRTSPConnection* m_connection = nullptr;
    GstRTSPWatch* m_watch = nullptr;
    std::shared_ptr<InterleavedLink> m_link;

    unsigned m_nextCSeq = 1;
    std::vector<Request> m_queued;    // waiting for the connection
    std::vector<Request> m_awaiting;  // sent, waiting for the reply
    std::vector<Failure> m_failures;  // handlers to call with a failure from the loop
    LoopTimer m_failureTimer;

    std::string m_sessionId;
    unsigned m_sessionTimeout = 0;
    std::string m_baseUrl;
    int m_nextChannel = 0;
    std::array<Route, 256> m_routes;

    int m_inCallback = 0;
    bool* m_destroyed = nullptr;
};

RTSPClient::Impl::Impl(RTSPClient& owner, UsageEnvironment& env, const char* rtspURL)
    : m_owner(owner),
      m_env(env),
      m_context(env.taskScheduler().context()),
      m_url(rtspURL ? rtspURL : ""),
      m_failureTimer(env.taskScheduler().context(), &onFailureTimer, this) {
    m_link = std::make_shared<InterleavedLink>();
    GstRTSPUrl* url = nullptr;
    if (m_url.empty() || gst_rtsp_url_parse(m_url.c_str(), &url) != GST_RTSP_OK || url == nullptr ||
        url->host == nullptr || url->host[0] == '\0') {
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

bool RTSPClient::Impl::answerChallenge(Request& request, GstRTSPMessage* reply) {
    if (request.authRetried || m_user.empty() || m_connection == nullptr) return false;
    GstRTSPAuthCredential** credentials =
        gst_rtsp_message_parse_auth_credentials(reply, GST_RTSP_HDR_WWW_AUTHENTICATE);
    if (credentials == nullptr) return false;
    GstRTSPAuthCredential* digest = nullptr;
    bool basic = false;
    for (GstRTSPAuthCredential** c = credentials; *c != nullptr; ++c) {
        if ((*c)->scheme == GST_RTSP_AUTH_DIGEST && digest == nullptr) digest = *c;
        if ((*c)->scheme == GST_RTSP_AUTH_BASIC) basic = true;
    }
    bool configured = false;
    if (digest != nullptr) {
        gst_rtsp_connection_clear_auth_params(m_connection);
        gst_rtsp_connection_set_auth(m_connection, GST_RTSP_AUTH_DIGEST, m_user.c_str(),
                                     m_password.c_str());
        if (digest->params != nullptr) {
            for (GstRTSPAuthParam** p = digest->params; *p != nullptr; ++p) {
                gst_rtsp_connection_set_auth_param(m_connection, (*p)->name, (*p)->value);
            }
        }
        configured = true;
    } else if (basic) {
        gst_rtsp_connection_set_auth(m_connection, GST_RTSP_AUTH_BASIC, m_user.c_str(),
                                     m_password.c_str());
        configured = true;
    }
    gst_rtsp_auth_credentials_free(credentials);
    if (!configured) return false;
    // Resend with a new CSeq; the connection adds the Authorization header.
    request.authRetried = true;
    request.cseq = m_nextCSeq++;
    gst_rtsp_message_remove_header(request.message, GST_RTSP_HDR_CSEQ, -1);
    gst_rtsp_message_add_header(request.message, GST_RTSP_HDR_CSEQ,
                                std::to_string(request.cseq).c_str());
    send(request);
    return true;
}

void RTSPClient::Impl::onResponse(GstRTSPMessage* message) {
    GstRTSPStatusCode code = GST_RTSP_STS_INVALID;
    const gchar* reason = nullptr;
    GstRTSPVersion version;
    if (gst_rtsp_message_parse_response(message, &code, &reason, &version) != GST_RTSP_OK) return;
    // Find the request: by CSeq, or the oldest one when a server leaves CSeq out.
    size_t index = m_awaiting.size();
    if (const char* cseqText = firstHeader(message, GST_RTSP_HDR_CSEQ)) {
        char* end = nullptr;
        const unsigned long cseq = std::strtoul(cseqText, &end, 10);
        for (size_t i = 0; i < m_awaiting.size(); ++i) {
            if (m_awaiting[i].cseq == cseq) index = i;
        }
    } else if (!m_awaiting.empty()) {
        index = 0;
    }
    if (index == m_awaiting.size()) return;  // a reply nobody waits for
    Request request = m_awaiting[index];
    m_awaiting.erase(m_awaiting.begin() + static_cast<std::ptrdiff_t>(index));

    if (code == GST_RTSP_STS_UNAUTHORIZED && answerChallenge(request, message)) return;

    const int status = static_cast<int>(code);
    int resultCode = 0;
    char* resultString = nullptr;
    if (status < 200 || status >= 300) {
        resultCode = status;
        resultString = newString(std::to_string(status) + " " + (reason ? reason : ""));
    } else {
        const uint8_t* body = nullptr;
        size_t bodySize = 0;
        messageBody(message, body, bodySize);
        switch (request.kind) {
            case Kind::Options:
                resultString = newString(headerValues(message, GST_RTSP_HDR_PUBLIC));
                break;
            case Kind::Describe: {
                const char* base = firstHeader(message, GST_RTSP_HDR_CONTENT_BASE);
                if (base == nullptr) base = firstHeader(message, GST_RTSP_HDR_CONTENT_LOCATION);
                m_baseUrl = base != nullptr ? base : m_requestUrl;
                resultString = newString(body, bodySize);
                break;
            }
            case Kind::Setup:
                handleSetupReply(request, message);
                if (bodySize > 0) resultString = newString(body, bodySize);
                break;
            case Kind::Play:
                handlePlayReply(request, message);
                if (bodySize > 0) resultString = newString(body, bodySize);
                break;
            case Kind::GetParameter:
            case Kind::Teardown:
                if (bodySize > 0) resultString = newString(body, bodySize);
                break;
        }
    }
    gst_rtsp_message_free(request.message);
    if (request.handler != nullptr) {
        request.handler(&m_owner, resultCode, resultString);
    } else {
        delete[] resultString;
    }
}

void RTSPClient::Impl::handleSetupReply(Request& request, GstRTSPMessage* reply) {
    unsigned timeout = 0;
    std::string id;
    if (parseSessionHeader(firstHeader(reply, GST_RTSP_HDR_SESSION), id, timeout)) {
        m_sessionId = id;
        m_sessionTimeout = timeout;
    }
    MediaSubsession* sub = request.subsession;
    if (sub == nullptr) return;
    MediaSubsession::Impl& s = *sub->m_impl;
    if (s.rtcp != nullptr && m_sessionTimeout > 0 &&
        int64_t(m_sessionTimeout) * 1000000 / 2 < BasicRTCPInstance::kReportInterval) {
        // A server with a short session timeout must hear from us more often than usual.
        s.rtcp->setReportInterval(int64_t(m_sessionTimeout) * 1000000 / 2);
    }
    GstRTSPTransport* transport = nullptr;
    gst_rtsp_transport_new(&transport);
    bool parsed = false;
    if (const char* text = firstHeader(reply, GST_RTSP_HDR_TRANSPORT)) {
        parsed = gst_rtsp_transport_parse(text, transport) == GST_RTSP_OK;
    }
    if (request.streamUsingTCP) {
        int rtpChannel = request.channel;
        if (parsed && transport->lower_transport == GST_RTSP_LOWER_TRANS_TCP &&
            transport->interleaved.min >= 0 && transport->interleaved.min <= 255) {
            rtpChannel = transport->interleaved.min;
        }
        int rtcpChannel = rtpChannel + 1;
        if (parsed && transport->interleaved.max > transport->interleaved.min &&
            transport->interleaved.max <= 255) {
            rtcpChannel = transport->interleaved.max;
        }
        s.streamingOverTcp = true;
        s.rtpChannel = rtpChannel;
        if (s.route && rtpChannel >= 0 && rtpChannel <= 255) {
            m_routes[static_cast<size_t>(rtpChannel)] = Route{s.route, false};
            if (rtcpChannel <= 255) {
                m_routes[static_cast<size_t>(rtcpChannel)] = Route{s.route, true};
            }
        }
        // Packets now come through the connection; the UDP sockets are not read.
        if (s.source) s.source->detachSocket();
        if (s.rtcp) {
            s.rtcp->detachSocket();
            if (rtcpChannel <= 255) {
                s.rtcp->setInterleavedDestination(m_link, static_cast<uint8_t>(rtcpChannel));
            }
        }
    } else if (parsed && transport->lower_transport == GST_RTSP_LOWER_TRANS_UDP_MCAST &&
               transport->destination != nullptr && transport->port.min > 0) {
        joinMulticast(s, transport->destination, static_cast<uint16_t>(transport->port.min),
                      static_cast<uint16_t>(transport->port.max > transport->port.min
                                                ? transport->port.max
                                                : transport->port.min + 1));
    } else if (parsed) {
        s.serverRtpPort = static_cast<uint16_t>(transport->server_port.min);
        s.serverRtcpPort =
            static_cast<uint16_t>(transport->server_port.max > 0 ? transport->server_port.max
                                                                 : transport->server_port.min + 1);
        std::string host = transport->source ? transport->source : "";
        if (host.empty() && m_connection) {
            const gchar* ip = gst_rtsp_connection_get_ip(m_connection);
            if (ip) host = ip;
        }
        if (s.rtcp && s.serverRtcpPort != 0 && !host.empty()) {
            s.rtcp->setUdpDestination(host, s.serverRtcpPort);
        }
    }
    gst_rtsp_transport_free(transport);
}

void RTSPClient::Impl::joinMulticast(MediaSubsession::Impl& s, const std::string& group,
                                     uint16_t rtpPort, uint16_t rtcpPort) {
    // The server sends to a group: receive on its ports instead of our unicast pair.
    std::string error;
    std::unique_ptr<UdpSocket> rtp = UdpSocket::joinGroup(group, rtpPort, &error);
    std::unique_ptr<UdpSocket> rtcp = rtp ? UdpSocket::joinGroup(group, rtcpPort, &error) : nullptr;
    if (!rtp || !rtcp) {
        m_env.setResultMsg("cannot receive the multicast stream: " + error);
        return;
    }
    if (s.source) s.source->detachSocket();
    if (s.rtcp) s.rtcp->detachSocket();
    s.rtpSocket = std::move(rtp);
    s.rtcpSocket = std::move(rtcp);
    if (s.source) s.source->attachSocket(s.rtpSocket.get());
    if (s.rtcp) {
        s.rtcp->attachSocket(s.rtcpSocket.get());
        s.rtcp->setUdpDestination(group, rtcpPort);
    }
}

void RTSPClient::Impl::handlePlayReply(Request& request, GstRTSPMessage* reply) {
    MediaSession* session = request.session;
    if (session == nullptr) return;
    NptRange range;
    if (!range.parse(firstHeader(reply, GST_RTSP_HDR_RANGE))) return;
    const double end = range.end < 0 ? 0.0 : range.end;
    session->m_impl->hasRange = true;
    session->m_impl->rangeStart = range.start;
    session->m_impl->rangeEnd = end;
    for (auto& sub : session->subsessions()) {
        sub->m_impl->hasRange = true;
        sub->m_impl->rangeStart = range.start;
        sub->m_impl->rangeEnd = end;
    }
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

// ---- RTSPClient ----

RTSPClient::RTSPClient(UsageEnvironment& env, const char* rtspURL)
    : Medium(env), m_impl(std::make_unique<Impl>(*this, env, rtspURL)) {}

RTSPClient::~RTSPClient() = default;

const char* RTSPClient::url() const {
    return m_impl->m_url.c_str();
}

unsigned RTSPClient::sessionTimeoutParameter() const {
    return m_impl->m_sessionTimeout;
}

namespace {
void addSession(GstRTSPMessage* msg, const std::string& id) {
    if (!id.empty()) gst_rtsp_message_add_header(msg, GST_RTSP_HDR_SESSION, id.c_str());
}
}  // namespace

unsigned RTSPClient::sendOptionsCommand(responseHandler* handler) {
    Impl::Request r;
    if (!m_impl->build(r, Kind::Options, GST_RTSP_OPTIONS, m_impl->m_requestUrl, handler)) return 0;
    return m_impl->dispatch(r);
}

unsigned RTSPClient::sendDescribeCommand(responseHandler* handler) {
    Impl::Request r;
    if (!m_impl->build(r, Kind::Describe, GST_RTSP_DESCRIBE, m_impl->m_requestUrl, handler)) {
        return 0;
    }
    gst_rtsp_message_add_header(r.message, GST_RTSP_HDR_ACCEPT, "application/sdp");
    return m_impl->dispatch(r);
}

unsigned RTSPClient::sendSetupCommand(MediaSubsession& subsession, responseHandler* handler,
                                      bool streamOutgoing, bool streamUsingTCP,
                                      bool forceMulticastOnUnspecified) {
    (void)streamOutgoing;  // this client only receives
    Impl& impl = *m_impl;
    Impl::Request r;
    r.subsession = &subsession;
    r.session = &subsession.parentSession();
    r.streamUsingTCP = streamUsingTCP;
    const std::string ports = std::to_string(subsession.clientPortNum()) + "-" +
                              std::to_string(subsession.clientPortNum() + 1);
    std::string transport;
    if (streamUsingTCP) {
        if (impl.m_nextChannel > 254) impl.m_nextChannel = 0;
        r.channel = impl.m_nextChannel;
        impl.m_nextChannel += 2;
        transport = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(r.channel) + "-" +
                    std::to_string(r.channel + 1);
    } else if (forceMulticastOnUnspecified) {
        transport = "RTP/AVP;multicast;client_port=" + ports;
    } else {
        transport = "RTP/AVP;unicast;client_port=" + ports;
    }
    const std::string url = resolveControlUrl(impl.baseUrl(), subsession.controlPath());
    if (!impl.build(r, Kind::Setup, GST_RTSP_SETUP, url, handler)) return 0;
    gst_rtsp_message_add_header(r.message, GST_RTSP_HDR_TRANSPORT, transport.c_str());
    addSession(r.message, impl.m_sessionId);
    return impl.dispatch(r);
}

unsigned RTSPClient::sendPlayCommand(MediaSession& session, responseHandler* handler, double start,
                                     double end, float scale) {
    Impl& impl = *m_impl;
    if (!(start >= 0)) start = 0;  // also NaN
    char range[96];
    if (end >= 0 && end >= start) {
        std::snprintf(range, sizeof range, "npt=%.3f-%.3f", start, end);
    } else {
        std::snprintf(range, sizeof range, "npt=%.3f-", start);
    }
    Impl::Request r;
    r.session = &session;
    if (!impl.build(r, Kind::Play, GST_RTSP_PLAY, impl.sessionUrl(session), handler)) return 0;
    addSession(r.message, impl.m_sessionId);
    gst_rtsp_message_add_header(r.message, GST_RTSP_HDR_RANGE, range);
    if (scale != 1.0f) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", static_cast<double>(scale));
        gst_rtsp_message_add_header(r.message, GST_RTSP_HDR_SCALE, text);
    }
    return impl.dispatch(r);
}

unsigned RTSPClient::sendGetParameterCommand(MediaSession& session, responseHandler* handler,
                                             const char* parameterName) {
    Impl& impl = *m_impl;
    Impl::Request r;
    r.session = &session;
    if (!impl.build(r, Kind::GetParameter, GST_RTSP_GET_PARAMETER, impl.sessionUrl(session),
                    handler)) {
        return 0;
    }
    addSession(r.message, impl.m_sessionId);
    if (parameterName != nullptr && parameterName[0] != '\0') {
        const std::string body = std::string(parameterName) + "\r\n";
        gst_rtsp_message_add_header(r.message, GST_RTSP_HDR_CONTENT_TYPE, "text/parameters");
        gst_rtsp_message_set_body(r.message, reinterpret_cast<const guint8*>(body.data()),
                                  static_cast<guint>(body.size()));
    }
    return impl.dispatch(r);
}

unsigned RTSPClient::sendTeardownCommand(MediaSession& session, responseHandler* handler) {
    Impl& impl = *m_impl;
    Impl::Request r;
    r.session = &session;
    if (!impl.build(r, Kind::Teardown, GST_RTSP_TEARDOWN, impl.sessionUrl(session), handler)) {
        return 0;
    }
    addSession(r.message, impl.m_sessionId);
    return impl.dispatch(r);
}

}  // namespace kx::media
