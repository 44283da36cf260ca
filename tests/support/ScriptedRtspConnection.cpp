#include "ScriptedRtspConnection.h"

namespace Brelso::Testing {

namespace {

constexpr gint64 kSendWaitMicroseconds = 2000000;

}  // namespace

void putUint16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void putUint32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// Waits at most kSendWaitMicroseconds whenever the peer does not read.
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

void TrackTransport::release() {
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

}  // namespace Brelso::Testing
