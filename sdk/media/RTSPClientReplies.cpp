// RTSPClient's replies: matching by CSeq, answering an authentication challenge, and what
// SETUP (session, transport, channels, RTCP destination) and PLAY (range, RTP-Info) change.
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
#include "UsageEnvironment.h"

namespace kx::media {

using namespace rtsp;

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

void RTSPClient::Impl::applyRtpInfo(MediaSession& session, GstRTSPMessage* reply) {
    // "RTP-Info: url=<control>;seq=<n>;rtptime=<t>, url=..." (GStreamer splits it at the
    // commas into several entries).
    for (gint i = 0;; ++i) {
        gchar* value = nullptr;
        if (gst_rtsp_message_get_header(reply, GST_RTSP_HDR_RTP_INFO, &value, i) != GST_RTSP_OK) {
            break;
        }
        if (value == nullptr) continue;
        std::string url;
        long seq = -1;
        gchar** params = g_strsplit(value, ";", -1);
        for (gchar** p = params; p != nullptr && *p != nullptr; ++p) {
            gchar* item = g_strstrip(*p);
            if (g_ascii_strncasecmp(item, "url=", 4) == 0) {
                url = item + 4;
            } else if (g_ascii_strncasecmp(item, "seq=", 4) == 0) {
                char* end = nullptr;
                const long n = std::strtol(item + 4, &end, 10);
                if (end != item + 4 && *end == '\0' && n >= 0 && n <= 65535) seq = n;
            }
        }
        g_strfreev(params);
        if (seq < 0 || url.empty()) continue;
        for (auto& sub : session.subsessions()) {
            MediaSubsession::Impl& s = *sub->m_impl;
            if (s.source == nullptr) continue;
            const std::string full = resolveControlUrl(baseUrl(), s.control);
            const bool match =
                url == full || url == s.control ||
                (url.size() > s.control.size() && !s.control.empty() &&
                 url.compare(url.size() - s.control.size(), s.control.size(), s.control) == 0 &&
                 url[url.size() - s.control.size() - 1] == '/');
            if (match) {
                s.source->expectSequenceNumber(static_cast<uint16_t>(seq));
                break;
            }
        }
    }
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
    applyRtpInfo(*session, reply);
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

}  // namespace kx::media
