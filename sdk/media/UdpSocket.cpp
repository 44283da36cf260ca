#include "UdpSocket.h"

#include <arpa/inet.h>
#include <gio/gio.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>

namespace kx::media {

UdpSocket::UdpSocket(GSocket* socket, uint16_t port)
    : m_socket(socket), m_fd(g_socket_get_fd(socket)), m_port(port) {}

std::unique_ptr<UdpSocket> UdpSocket::bind(uint16_t port, std::string* error, bool reuseAddress) {
    GError* err = nullptr;
    GSocket* sock =
        g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, &err);
    if (sock == nullptr) {
        if (error) *error = err ? err->message : "cannot create a UDP socket";
        g_clear_error(&err);
        return nullptr;
    }
    g_socket_set_blocking(sock, FALSE);
    GInetAddress* any = g_inet_address_new_any(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* addr = g_inet_socket_address_new(any, port);
    g_object_unref(any);
    const gboolean ok = g_socket_bind(sock, addr, reuseAddress, &err);
    g_object_unref(addr);
    if (!ok) {
        if (error) *error = err ? err->message : "cannot bind a UDP socket";
        g_clear_error(&err);
        g_object_unref(sock);
        return nullptr;
    }
    uint16_t bound = port;
    GSocketAddress* local = g_socket_get_local_address(sock, nullptr);
    if (local != nullptr) {
        bound = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local));
        g_object_unref(local);
    }
    return std::unique_ptr<UdpSocket>(new UdpSocket(sock, bound));
}

std::unique_ptr<UdpSocket> UdpSocket::joinGroup(const std::string& group, uint16_t port,
                                                std::string* error) {
    GInetAddress* address = g_inet_address_new_from_string(group.c_str());
    if (address == nullptr || !g_inet_address_get_is_multicast(address) ||
        g_inet_address_get_family(address) != G_SOCKET_FAMILY_IPV4) {
        if (address) g_object_unref(address);
        if (error) *error = "not an IPv4 multicast group: " + group;
        return nullptr;
    }
    std::unique_ptr<UdpSocket> socket = bind(port, error, true);
    if (socket) {
        GError* err = nullptr;
        if (!g_socket_join_multicast_group(socket->m_socket, address, FALSE, nullptr, &err)) {
            if (error) *error = err ? err->message : "cannot join the multicast group";
            socket.reset();
        }
        g_clear_error(&err);
    }
    g_object_unref(address);
    return socket;
}

bool UdpSocket::bindPair(std::unique_ptr<UdpSocket>& rtp, std::unique_ptr<UdpSocket>& rtcp,
                         std::string* error) {
    for (int attempt = 0; attempt < 32; ++attempt) {
        std::unique_ptr<UdpSocket> first = bind(0, error);
        if (!first) return false;
        uint16_t port = first->localPort();
        if (port % 2 != 0) {
            // Ask for the even port below it instead.
            if (port == 1) continue;
            first = bind(static_cast<uint16_t>(port - 1), nullptr);
            if (!first) continue;
            port = first->localPort();
        }
        if (port == 0 || port == 65534) continue;
        std::unique_ptr<UdpSocket> second = bind(static_cast<uint16_t>(port + 1), nullptr);
        if (!second) continue;
        rtp = std::move(first);
        rtcp = std::move(second);
        return true;
    }
    if (error) *error = "no free pair of UDP ports";
    return false;
}

UdpSocket::~UdpSocket() {
    unwatch();
    if (m_dest) g_object_unref(m_dest);
    g_socket_close(m_socket, nullptr);
    g_object_unref(m_socket);
}

unsigned UdpSocket::receiveBufferSize() const {
    gint value = 0;
    if (!g_socket_get_option(m_socket, SOL_SOCKET, SO_RCVBUF, &value, nullptr)) return 0;
    return value < 0 ? 0u : static_cast<unsigned>(value);
}

unsigned UdpSocket::setReceiveBufferTo(unsigned requested) {
    const gint value = requested > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<gint>(requested);
    g_socket_set_option(m_socket, SOL_SOCKET, SO_RCVBUF, value, nullptr);
    return receiveBufferSize();
}

void UdpSocket::watch(GMainContext* context, ReadableFunc* onReadable, void* clientData) {
    unwatch();
    struct Callback {
        ReadableFunc* fn;
        void* data;
    };
    m_source = g_socket_create_source(m_socket, G_IO_IN, nullptr);
    g_source_set_callback(
        m_source, G_SOURCE_FUNC(+[](GSocket*, GIOCondition, gpointer p) -> gboolean {
            auto* cb = static_cast<Callback*>(p);
            cb->fn(cb->data);
            return G_SOURCE_CONTINUE;
        }),
        new Callback{onReadable, clientData}, [](gpointer p) { delete static_cast<Callback*>(p); });
    // Not blocked while dispatched: blocking takes the descriptor out of the poll set and puts
    // it back, each time writing to the context's wakeup descriptor. Nothing runs the context
    // from inside the handler.
    g_source_set_can_recurse(m_source, TRUE);
    g_source_attach(m_source, context);
}

void UdpSocket::unwatch() {
    if (m_source == nullptr) return;
    g_source_destroy(m_source);
    g_source_unref(m_source);
    m_source = nullptr;
}

void UdpSocket::acceptOnlyFrom(const std::string& ipv4, uint16_t port) {
    in_addr address{};
    if (::inet_pton(AF_INET, ipv4.c_str(), &address) != 1) return;  // not IPv4: unchanged
    m_filter = true;
    m_allowedAddress = address.s_addr;
    m_allowedPort = port;
}

bool UdpSocket::acceptsSender(const sockaddr_in& from) const {
    return !m_filter || (from.sin_family == AF_INET && from.sin_addr.s_addr == m_allowedAddress &&
                         (m_allowedPort == 0 || ntohs(from.sin_port) == m_allowedPort));
}

long UdpSocket::receive(uint8_t* buffer, size_t size) {
    // Straight to the descriptor: no GError allocation for every "would block".
    for (int foreign = 0; foreign < 256;) {
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t n =
            ::recvfrom(m_fd, buffer, size, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (!acceptsSender(from)) {
            ++m_foreignDropped;
            ++foreign;
            continue;
        }
        return static_cast<long>(n);
    }
    return -1;  // more may wait: the socket stays readable and is read again
}

bool UdpSocket::sendTo(const std::string& host, uint16_t port, const uint8_t* data, size_t size) {
    if (m_dest == nullptr || host != m_destHost || port != m_destPort) {
        if (m_dest) g_object_unref(m_dest);
        m_dest = g_inet_socket_address_new_from_string(host.c_str(), port);
        m_destHost = host;
        m_destPort = port;
    }
    if (m_dest == nullptr) return false;
    GError* err = nullptr;
    const gssize n = g_socket_send_to(m_socket, m_dest, reinterpret_cast<const gchar*>(data), size,
                                      nullptr, &err);
    g_clear_error(&err);
    return n == static_cast<gssize>(size);
}

}  // namespace kx::media
