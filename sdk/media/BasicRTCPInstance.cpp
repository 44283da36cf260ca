#include "BasicRTCPInstance.h"

#include <glib.h>
#include <gst/rtp/gstrtcpbuffer.h>

#include <cstring>

#include "InterleavedLink.h"
#include "MultiFramedRTPSource.h"
#include "UdpSocket.h"
#include "UsageEnvironment.h"

namespace kx::media {

namespace {

constexpr int64_t kFirstReportDelay = 1000000;

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

std::string makeCname() {
    const char* host = g_get_host_name();
    return std::string("kx@") + (host ? host : "localhost");
}

}  // namespace

BasicRTCPInstance* BasicRTCPInstance::createNew(UsageEnvironment& env, MultiFramedRTPSource* source,
                                                UdpSocket* socket) {
    return new BasicRTCPInstance(env, source, socket);
}

BasicRTCPInstance::BasicRTCPInstance(UsageEnvironment& env, MultiFramedRTPSource* source,
                                     UdpSocket* socket)
    : RTCPInstance(env),
      m_source(source),
      m_socket(socket),
      m_reportTimer(env.taskScheduler().context(), &onReportTimer, this),
      m_ssrc(g_random_int()),
      m_cname(makeCname()) {
    if (m_cname.size() > 255) m_cname.resize(255);
    if (m_socket != nullptr) {
        m_socket->watch(env.taskScheduler().context(), &onSocketReadable, this);
    }
    m_reportTimer.armIn(kFirstReportDelay);
}

BasicRTCPInstance::~BasicRTCPInstance() {
    if (m_destroyed != nullptr) *m_destroyed = true;
    sendBye();
    if (m_socket != nullptr) m_socket->unwatch();
}

void BasicRTCPInstance::sendBye() {
    // A last report with a BYE tells the server that this receiver has left.
    uint8_t packet[512];
    size_t size = buildReport(packet, sizeof packet - 8);
    if (size == 0) return;
    uint8_t* bye = packet + size;
    bye[0] = 0x81;
    bye[1] = 203;
    put16(bye + 2, 1);
    put32(bye + 4, m_ssrc);
    size += 8;
    transmit(packet, size);
}

bool BasicRTCPInstance::transmit(const uint8_t* packet, size_t size) {
    if (m_link && m_link->writer != nullptr) {
        return m_link->writer->sendInterleaved(m_channel, packet, size);
    }
    if (m_socket != nullptr && m_udpPort != 0 && !m_udpHost.empty()) {
        return m_socket->sendTo(m_udpHost, m_udpPort, packet, size);
    }
    return false;
}

void BasicRTCPInstance::setByeHandler(ByeHandler* handler, void* clientData) {
    m_byeHandler = handler;
    m_byeClientData = handler ? clientData : nullptr;
}

void BasicRTCPInstance::setUdpDestination(const std::string& host, uint16_t port) {
    m_udpHost = host;
    m_udpPort = port;
    m_link.reset();
}

void BasicRTCPInstance::setInterleavedDestination(std::shared_ptr<InterleavedLink> link,
                                                  uint8_t channel) {
    m_link = std::move(link);
    m_channel = channel;
    m_udpPort = 0;
}

void BasicRTCPInstance::setReportInterval(int64_t microseconds) {
    m_interval = microseconds < 100000 ? 100000 : microseconds;
    if (m_reportTimer.isArmed()) m_reportTimer.armIn(m_interval);
}

void BasicRTCPInstance::attachSocket(UdpSocket* socket) {
    detachSocket();
    m_socket = socket;
    if (m_socket != nullptr) {
        m_socket->watch(envir().taskScheduler().context(), &onSocketReadable, this);
    }
}

void BasicRTCPInstance::detachSocket() {
    if (m_socket != nullptr) m_socket->unwatch();
    m_socket = nullptr;
}

void BasicRTCPInstance::onSocketReadable(void* clientData) {
    auto* self = static_cast<BasicRTCPInstance*>(clientData);
    bool destroyed = false;
    self->m_destroyed = &destroyed;
    for (int i = 0; i < 16 && self->m_socket != nullptr; ++i) {
        const long n = self->m_socket->receive(self->m_receiveBuffer, sizeof self->m_receiveBuffer);
        if (n < 0) break;
        self->handlePacket(self->m_receiveBuffer, static_cast<size_t>(n));
        if (destroyed) return;
    }
    self->m_destroyed = nullptr;
    if (!self->m_reportedForeign && self->m_socket != nullptr &&
        self->m_socket->foreignDropped() > 0) {
        self->m_reportedForeign = true;
        self->envir().notice(UsageEnvironment::Notice::Refused,
                             "RTCP from a sender other than the server dropped");
    }
}

void BasicRTCPInstance::handlePacket(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 4 || size > 0xFFFF) return;
    if (!gst_rtcp_buffer_validate_data_reduced(const_cast<guint8*>(data),
                                               static_cast<guint>(size))) {
        return;
    }
    GstBuffer* buffer = gst_buffer_new_wrapped_full(
        GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(data), size, 0, size, nullptr, nullptr);
    GstRTCPBuffer rtcp = GST_RTCP_BUFFER_INIT;
    bool byeFromSender = false;
    if (gst_rtcp_buffer_map(buffer, GST_MAP_READ, &rtcp)) {
        GstRTCPPacket packet;
        gboolean more = gst_rtcp_buffer_get_first_packet(&rtcp, &packet);
        const bool haveSender = m_source != nullptr && m_source->receptionStats().haveSender();
        const uint32_t sender = haveSender ? m_source->receptionStats().senderSsrc() : 0;
        while (more) {
            switch (gst_rtcp_packet_get_type(&packet)) {
                case GST_RTCP_TYPE_SR: {
                    guint32 ssrc = 0, rtpTime = 0, packets = 0, octets = 0;
                    guint64 ntp = 0;
                    gst_rtcp_packet_sr_get_sender_info(&packet, &ssrc, &ntp, &rtpTime, &packets,
                                                       &octets);
                    if (m_source != nullptr) {
                        m_source->onSenderReport(ssrc, static_cast<uint32_t>(ntp >> 32),
                                                 static_cast<uint32_t>(ntp), rtpTime);
                    }
                    break;
                }
                case GST_RTCP_TYPE_BYE: {
                    const guint count = gst_rtcp_packet_bye_get_ssrc_count(&packet);
                    for (guint i = 0; i < count; ++i) {
                        // Only a participant that has sent us RTP counts.
                        if (haveSender && gst_rtcp_packet_bye_get_nth_ssrc(&packet, i) == sender) {
                            byeFromSender = true;
                        }
                    }
                    break;
                }
                default:
                    break;
            }
            more = gst_rtcp_packet_move_to_next(&packet);
        }
        gst_rtcp_buffer_unmap(&rtcp);
    }
    gst_buffer_unref(buffer);
    if (byeFromSender && m_byeHandler != nullptr) {
        ByeHandler* handler = m_byeHandler;
        m_byeHandler = nullptr;  // once per sender
        handler(m_byeClientData);
    }
}

void BasicRTCPInstance::onReportTimer(void* clientData) {
    auto* self = static_cast<BasicRTCPInstance*>(clientData);
    self->sendReport();
    // A little randomness (up to a tenth) keeps the reports of several streams apart.
    const int64_t spread = self->m_interval / 10;
    const int64_t jitter =
        spread > 0 ? g_random_int_range(-static_cast<gint32>(spread), static_cast<gint32>(spread))
                   : 0;
    self->m_reportTimer.armIn(self->m_interval + jitter);
}

size_t BasicRTCPInstance::buildReport(uint8_t* out, size_t capacity) {
    const bool haveSender = m_source != nullptr && m_source->receptionStats().haveSender();
    const size_t rrSize = haveSender ? 32 : 8;
    const size_t sdesItems = 2 + m_cname.size() + 1;  // CNAME item, end marker
    const size_t sdesSize = 8 + ((sdesItems + 3) & ~size_t(3));
    if (rrSize + sdesSize > capacity) return 0;
    std::memset(out, 0, rrSize + sdesSize);
    // RR
    out[0] = static_cast<uint8_t>(0x80 | (haveSender ? 1 : 0));
    out[1] = 201;
    put16(out + 2, static_cast<uint16_t>(rrSize / 4 - 1));
    put32(out + 4, m_ssrc);
    if (haveSender) {
        const RtpReceptionStats::Block b =
            m_source->receptionStats().makeReportBlock(g_get_monotonic_time());
        uint8_t* r = out + 8;
        put32(r, b.ssrc);
        r[4] = b.fractionLost;
        const uint32_t lost = static_cast<uint32_t>(b.cumulativeLost) & 0xFFFFFF;
        r[5] = static_cast<uint8_t>(lost >> 16);
        r[6] = static_cast<uint8_t>(lost >> 8);
        r[7] = static_cast<uint8_t>(lost);
        put32(r + 8, b.extendedHighestSeq);
        put32(r + 12, b.jitter);
        put32(r + 16, b.lastSr);
        put32(r + 20, b.delaySinceLastSr);
    }
    // SDES with CNAME
    uint8_t* s = out + rrSize;
    s[0] = 0x81;
    s[1] = 202;
    put16(s + 2, static_cast<uint16_t>(sdesSize / 4 - 1));
    put32(s + 4, m_ssrc);
    s[8] = 1;  // CNAME
    s[9] = static_cast<uint8_t>(m_cname.size());
    std::memcpy(s + 10, m_cname.data(), m_cname.size());
    // the rest stays zero: end of items and padding
    return rrSize + sdesSize;
}

void BasicRTCPInstance::sendReport() {
    uint8_t packet[512];
    const size_t size = buildReport(packet, sizeof packet);
    if (size == 0) return;
    if (transmit(packet, size)) ++m_reportsSent;
}

}  // namespace kx::media
