// UdpSocket: one IPv4 UDP socket of a subsession (RTP or RTCP), read from the loop's context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

typedef struct _GMainContext GMainContext;
typedef struct _GSocket GSocket;
typedef struct _GSource GSource;
typedef struct _GSocketAddress GSocketAddress;
struct sockaddr_in;

namespace kx::media {

class UdpSocket {
public:
    // Binds to the given port on all IPv4 addresses (0: any free port). Null on failure,
    // with the reason in *error.
    static std::unique_ptr<UdpSocket> bind(uint16_t port, std::string* error,
                                           bool reuseAddress = false);
    // Binds to the port with address reuse and joins the IPv4 multicast group.
    static std::unique_ptr<UdpSocket> joinGroup(const std::string& group, uint16_t port,
                                                std::string* error);
    // An even port for RTP and the next one for RTCP.
    static bool bindPair(std::unique_ptr<UdpSocket>& rtp, std::unique_ptr<UdpSocket>& rtcp,
                         std::string* error);

    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    uint16_t localPort() const { return m_port; }

    unsigned receiveBufferSize() const;
    unsigned setReceiveBufferTo(unsigned requested);

    // Calls onReadable(clientData) on the context's thread whenever datagrams wait.
    using ReadableFunc = void(void* clientData);
    void watch(GMainContext* context, ReadableFunc* onReadable, void* clientData);
    void unwatch();

    // From now on datagrams from any other sender are read and dropped: only those from this
    // IPv4 address (and this port, unless 0) are received. Until called: every sender.
    void acceptOnlyFrom(const std::string& ipv4, uint16_t port);
    // Datagrams dropped because of their sender.
    uint64_t foreignDropped() const { return m_foreignDropped; }

    // Non-blocking receive of one datagram: its size, or -1 when none waits (or on error).
    long receive(uint8_t* buffer, size_t size);
    // Sends one datagram to host:port (IPv4 text); false on failure.
    bool sendTo(const std::string& host, uint16_t port, const uint8_t* data, size_t size);

private:
    UdpSocket(GSocket* socket, uint16_t port);
    // True when datagrams of this sender are taken (see acceptOnlyFrom).
    bool acceptsSender(const struct sockaddr_in& from) const;

    GSocket* m_socket = nullptr;
    int m_fd = -1;  // the socket's descriptor, read without GIO's checks
    uint16_t m_port = 0;
    GSource* m_source = nullptr;
    GSocketAddress* m_dest = nullptr;
    std::string m_destHost;
    uint16_t m_destPort = 0;
    bool m_filter = false;
    uint32_t m_allowedAddress = 0;  // network byte order
    uint16_t m_allowedPort = 0;     // host byte order; 0: any
    uint64_t m_foreignDropped = 0;
};

}  // namespace kx::media
