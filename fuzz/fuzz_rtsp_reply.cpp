// RTSP replies as the client reads them: the bytes arrive on a connection, a GstRTSPWatch on a
// main context (as in RTSPClient) cuts them into messages, and every reply is read
// the way RTSPClient reads it: CSeq, Public, Content-Base, Session, Transport, Range,
// WWW-Authenticate and the body; interleaved data messages give their channel and payload.
// (The bytes travel through a real TCP connection on 127.0.0.1, as they do from a server.)
#include <arpa/inet.h>
#include <gio/gio.h>
#include <gst/rtsp/rtsp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "NptRange.h"
#include "RtspUrlUtil.h"

namespace {

void readReply(GstRTSPMessage* message) {
    GstRTSPStatusCode code = GST_RTSP_STS_INVALID;
    const gchar* reason = nullptr;
    GstRTSPVersion version;
    if (gst_rtsp_message_parse_response(message, &code, &reason, &version) != GST_RTSP_OK) return;
    gchar* value = nullptr;
    if (gst_rtsp_message_get_header(message, GST_RTSP_HDR_CSEQ, &value, 0) == GST_RTSP_OK) {
        char* end = nullptr;
        (void)std::strtoul(value, &end, 10);
    }
    std::string joined;
    for (int i = 0;
         gst_rtsp_message_get_header(message, GST_RTSP_HDR_PUBLIC, &value, i) == GST_RTSP_OK; ++i) {
        if (!joined.empty()) joined += ", ";
        joined += value;
    }
    if (gst_rtsp_message_get_header(message, GST_RTSP_HDR_SESSION, &value, 0) == GST_RTSP_OK) {
        std::string id;
        unsigned timeout = 0;
        (void)kx::media::parseSessionHeader(value, id, timeout);
    }
    if (gst_rtsp_message_get_header(message, GST_RTSP_HDR_TRANSPORT, &value, 0) == GST_RTSP_OK) {
        GstRTSPTransport* transport = nullptr;
        gst_rtsp_transport_new(&transport);
        if (gst_rtsp_transport_parse(value, transport) == GST_RTSP_OK) {
            (void)transport->interleaved.min;
            (void)transport->server_port.max;
            if (transport->destination != nullptr) (void)std::string(transport->destination);
        }
        gst_rtsp_transport_free(transport);
    }
    if (gst_rtsp_message_get_header(message, GST_RTSP_HDR_RANGE, &value, 0) == GST_RTSP_OK) {
        kx::media::NptRange range;
        (void)range.parse(value);
    }
    if (GstRTSPAuthCredential** credentials =
            gst_rtsp_message_parse_auth_credentials(message, GST_RTSP_HDR_WWW_AUTHENTICATE)) {
        for (GstRTSPAuthCredential** c = credentials; *c != nullptr; ++c) {
            if ((*c)->params == nullptr) continue;
            for (GstRTSPAuthParam** p = (*c)->params; *p != nullptr; ++p) {
                const std::string pair = std::string((*p)->name ? (*p)->name : "") + "=" +
                                         ((*p)->value ? (*p)->value : "");
                (void)pair;
            }
        }
        gst_rtsp_auth_credentials_free(credentials);
    }
    guint8* body = nullptr;
    guint bodySize = 0;
    gst_rtsp_message_get_body(message, &body, &bodySize);
    if (body != nullptr) (void)std::string(reinterpret_cast<const char*>(body), bodySize);
}

GstRTSPResult onMessage(GstRTSPWatch*, GstRTSPMessage* message, gpointer) {
    if (gst_rtsp_message_get_type(message) == GST_RTSP_MESSAGE_RESPONSE) {
        readReply(message);
    } else if (gst_rtsp_message_get_type(message) == GST_RTSP_MESSAGE_DATA) {
        guint8 channel = 0;
        gst_rtsp_message_parse_data(message, &channel);
        guint8* body = nullptr;
        guint bodySize = 0;
        gst_rtsp_message_get_body(message, &body, &bodySize);
    }
    return GST_RTSP_OK;
}

GstRTSPResult onClosed(GstRTSPWatch*, gpointer done) {
    *static_cast<bool*>(done) = true;
    return GST_RTSP_OK;
}

GstRTSPResult onError(GstRTSPWatch*, GstRTSPResult, GstRTSPMessage*, guint, gpointer done) {
    *static_cast<bool*>(done) = true;
    return GST_RTSP_OK;
}

gboolean onGuard(gpointer done) {
    *static_cast<bool*>(done) = true;
    return G_SOURCE_REMOVE;
}

// A connected pair of TCP sockets on 127.0.0.1 (the RTSP reader expects an IP connection):
// fds[0] reads what fds[1] writes.
bool tcpPair(int fds[2]) {
    static int listener = [] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0 ||
            ::listen(fd, 4) != 0) {
            return -1;
        }
        return fd;
    }();
    if (listener < 0) return false;
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    fds[0] = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fds[0] < 0) return false;
    if (::connect(fds[0], reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fds[0]);
        return false;
    }
    fds[1] = ::accept(listener, nullptr, nullptr);
    if (fds[1] < 0) {
        ::close(fds[0]);
        return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 60000) return 0;  // fits the socket buffer: written before reading
    int fds[2];
    if (!tcpPair(fds)) return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fds[1], data + written, size - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    ::shutdown(fds[1], SHUT_WR);  // the reader sees the end of the connection after the bytes
    // The reader's side closes with a reset: no TIME_WAIT is left behind, so the ports last
    // for millions of runs.
    const linger abort = {1, 0};
    ::setsockopt(fds[0], SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    GSocket* socket = g_socket_new_from_fd(fds[0], nullptr);
    if (socket == nullptr) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    GstRTSPConnection* connection = nullptr;
    if (gst_rtsp_connection_create_from_socket(socket, "127.0.0.1", 554, nullptr, &connection) ==
        GST_RTSP_OK) {
        // The client has sent its requests (CSeq 1 to 8) before replies come: the reader
        // takes replies only to CSeq values it has sent.
        for (int cseq = 1; cseq <= 8; ++cseq) {
            GstRTSPMessage* request = nullptr;
            if (gst_rtsp_message_new_request(&request, GST_RTSP_OPTIONS, "rtsp://127.0.0.1/s") !=
                GST_RTSP_OK) {
                continue;
            }
            gst_rtsp_message_add_header(request, GST_RTSP_HDR_CSEQ, std::to_string(cseq).c_str());
            gst_rtsp_connection_send_usec(connection, request, 1000000);
            gst_rtsp_message_free(request);
        }
        // Read through a watch on a main context, as RTSPClient does, until the connection
        // ends (the writer has shut down, so it always does).
        GMainContext* context = g_main_context_new();
        bool done = false;
        GstRTSPWatchFuncs funcs{};
        funcs.message_received = &onMessage;
        funcs.closed = &onClosed;
        funcs.error_full = &onError;
        GstRTSPWatch* watch = gst_rtsp_watch_new(connection, &funcs, &done, nullptr);
        gst_rtsp_watch_attach(watch, context);
        // A guard in case the end is never reported: the harness must not hang (RTSPClient
        // has its own timers for a connection that goes quiet).
        GSource* guard = g_timeout_source_new(2000);
        g_source_set_callback(guard, &onGuard, &done, nullptr);
        g_source_attach(guard, context);
        while (!done) g_main_context_iteration(context, TRUE);
        g_source_destroy(guard);
        g_source_unref(guard);
        g_source_destroy(reinterpret_cast<GSource*>(watch));
        gst_rtsp_watch_unref(watch);
        g_main_context_unref(context);
        gst_rtsp_connection_free(connection);
    }
    g_object_unref(socket);
    ::close(fds[1]);
    return 0;
}
