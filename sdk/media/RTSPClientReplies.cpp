// RTSPClient's replies: matching by CSeq, answering an authentication challenge, and what
// SETUP (session, transport, channels, RTCP destination) and PLAY (range, RTP-Info) change.
#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "NptRange.h"
#include "RTSPClientImpl.h"
#include "RtspTransport.h"
#include "UsageEnvironment.h"

namespace kx::media {

using namespace rtsp;

bool RTSPClient::Impl::answerChallenge(Request& request, const RtspMessage& reply) {
    if (request.authRetried || m_user.empty() || m_socket == nullptr) return false;
    if (!m_auth.takeChallenge(reply.values("WWW-Authenticate"), m_user, m_password)) return false;
    // Resend with a new CSeq; every request from now on carries the Authorization header.
    request.authRetried = true;
    request.message.cseq = m_nextCSeq++;
    send(request);
    return true;
}

size_t RTSPClient::Impl::matchReply(const RtspMessage& reply) {
    const long cseq = reply.cseq();
    if (cseq >= 0) {
        for (size_t i = 0; i < m_awaiting.size(); ++i) {
            if (m_awaiting[i].message.cseq == static_cast<unsigned long>(cseq)) return i;
        }
        return m_awaiting.size();  // a reply nobody waits for
    }
    // Without CSeq: the request in flight. Requests go one at a time, apart from keep-alives
    // (GET_PARAMETER), whose answers matter least: any other request comes first.
    if (m_awaiting.empty()) return 0;
    reportDeviations(kDeviationNoCSeq);
    for (size_t i = 0; i < m_awaiting.size(); ++i) {
        if (m_awaiting[i].kind != Kind::GetParameter) return i;
    }
    return 0;
}

void RTSPClient::Impl::onResponse(RtspMessage& reply) {
    const size_t index = matchReply(reply);
    if (index >= m_awaiting.size()) return;
    Request request = m_awaiting[index];
    m_awaiting.erase(m_awaiting.begin() + static_cast<std::ptrdiff_t>(index));

    if (reply.status == 401 && answerChallenge(request, reply)) return;

    int resultCode = 0;
    char* resultString = nullptr;
    if (reply.status < 200 || reply.status >= 300) {
        resultCode = reply.status;
        resultString = newString(std::to_string(reply.status) + " " + reply.reason);
    } else {
        const std::string& body = reply.body;
        switch (request.kind) {
            case Kind::Options: {
                std::string methods;
                for (const std::string& value : reply.values("Public")) {
                    if (!methods.empty()) methods += ", ";
                    methods += value;
                }
                resultString = newString(methods);
                break;
            }
            case Kind::Describe: {
                const std::string* base = reply.header("Content-Base");
                if (base == nullptr) base = reply.header("Content-Location");
                m_baseUrl = base != nullptr && !base->empty() ? *base : m_requestUrl;
                resultString = newString(body);
                break;
            }
            case Kind::Setup:
                handleSetupReply(request, reply);
                if (!body.empty()) resultString = newString(body);
                break;
            case Kind::Play:
                handlePlayReply(request, reply);
                if (!body.empty()) resultString = newString(body);
                break;
            case Kind::GetParameter:
            case Kind::Teardown:
                if (!body.empty()) resultString = newString(body);
                break;
        }
    }
    if (request.kind == Kind::Play && request.session != nullptr) {
        changeRange(*request.session, false, resultCode == 0);
    }
    if (request.handler != nullptr) {
        request.handler(&m_owner, resultCode, resultString);
    } else {
        delete[] resultString;
    }
}

void RTSPClient::Impl::handleSetupReply(Request& request, const RtspMessage& reply) {
    unsigned timeout = 0;
    std::string id;
    bool unknownParameters = false;
    const std::string* sessionText = reply.header("Session");
    if (parseSessionHeader(sessionText ? sessionText->c_str() : nullptr, id, timeout,
                           &unknownParameters)) {
        m_sessionId = id;
        m_sessionTimeout = timeout;
    }
    unsigned deviations = unknownParameters ? unsigned(kDeviationSessionParams) : 0u;
    MediaSubsession* sub = request.subsession;
    if (sub == nullptr) return reportDeviations(deviations);
    MediaSubsession::Impl& s = *sub->m_impl;
    if (s.rtcp != nullptr && m_sessionTimeout > 0 &&
        int64_t(m_sessionTimeout) * 1000000 / 2 < BasicRTCPInstance::kReportInterval) {
        // A server with a short session timeout must hear from us more often than usual.
        s.rtcp->setReportInterval(int64_t(m_sessionTimeout) * 1000000 / 2);
    }
    RtspTransport transport;
    const std::string* transportText = reply.header("Transport");
    const bool parsed =
        transportText != nullptr && parseTransport(*transportText, transport, &deviations);
    reportDeviations(deviations);
    // The server names the sender's SSRC: packets of any other are not taken.
    if (parsed && transport.hasSsrc && s.source != nullptr) s.source->expectSsrc(transport.ssrc);
    if (request.streamUsingTCP) {
        int rtpChannel = request.channel;
        if (parsed && transport.tcp && transport.interleavedMin >= 0) {
            rtpChannel = transport.interleavedMin;
        }
        int rtcpChannel = rtpChannel + 1;
        if (parsed && transport.interleavedMax > transport.interleavedMin) {
            rtcpChannel = transport.interleavedMax;
        }
        s.streamingOverTcp = true;
        s.rtpChannel = rtpChannel;
        if (s.source) s.source->setInOrderTransport();
        if (s.route && rtpChannel >= 0 && rtpChannel <= 255) {
            m_routes[static_cast<size_t>(rtpChannel)] = Route{s.route, s.route.get(), false};
            if (rtcpChannel <= 255) {
                m_routes[static_cast<size_t>(rtcpChannel)] = Route{s.route, s.route.get(), true};
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
    } else if (parsed && transport.multicast && !transport.destination.empty() &&
               transport.portMin > 0) {
        joinMulticast(
            s, transport.destination, static_cast<uint16_t>(transport.portMin),
            static_cast<uint16_t>(transport.portMax > transport.portMin ? transport.portMax
                                                                        : transport.portMin + 1));
    } else if (parsed) {
        s.serverRtpPort = static_cast<uint16_t>(transport.serverPortMin);
        s.serverRtcpPort = static_cast<uint16_t>(
            transport.serverPortMax > 0
                ? transport.serverPortMax
                : (transport.serverPortMin > 0 ? transport.serverPortMin + 1 : 0));
        // RTP and RTCP are taken from the server's address only, and from the ports it
        // named, when it named them.
        if (!m_peerIp.empty()) {
            if (s.rtpSocket) s.rtpSocket->acceptOnlyFrom(m_peerIp, s.serverRtpPort);
            if (s.rtcpSocket) s.rtcpSocket->acceptOnlyFrom(m_peerIp, s.serverRtcpPort);
        }
        std::string host = transport.source.empty() ? m_peerIp : transport.source;
        if (s.rtcp && s.serverRtcpPort != 0 && !host.empty()) {
            s.rtcp->setUdpDestination(host, s.serverRtcpPort);
        }
    }
}

void RTSPClient::Impl::applyRtpInfo(MediaSession& session, const RtspMessage& reply) {
    // "RTP-Info: url=<control>;seq=<n>;rtptime=<t>, url=..." (one entry per stream, on one
    // or several header lines).
    std::vector<std::string> entries;
    for (const std::string& line : reply.values("RTP-Info")) {
        gchar** parts = g_strsplit(line.c_str(), ",", 64);
        for (gchar** p = parts; p != nullptr && *p != nullptr; ++p) entries.push_back(*p);
        g_strfreev(parts);
    }
    for (const std::string& entry : entries) {
        const char* value = entry.c_str();
        std::string url;
        long seq = -1;
        bool hasSsrc = false;
        guint64 ssrc = 0;
        gchar** params = g_strsplit(value, ";", -1);
        for (gchar** p = params; p != nullptr && *p != nullptr; ++p) {
            gchar* item = g_strstrip(*p);
            if (g_ascii_strncasecmp(item, "url=", 4) == 0) {
                url = item + 4;
            } else if (g_ascii_strncasecmp(item, "seq=", 4) == 0) {
                char* end = nullptr;
                const long n = std::strtol(item + 4, &end, 10);
                if (end != item + 4 && *end == '\0' && n >= 0 && n <= 65535) seq = n;
            } else if (g_ascii_strncasecmp(item, "ssrc=", 5) == 0) {
                gchar* end = nullptr;
                ssrc = g_ascii_strtoull(item + 5, &end, 16);
                hasSsrc = end != item + 5 && *end == '\0' && ssrc <= 0xFFFFFFFFull;
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
                if (hasSsrc) s.source->expectSsrc(static_cast<uint32_t>(ssrc));
                s.source->expectSequenceNumber(static_cast<uint16_t>(seq));
                break;
            }
        }
    }
}

void RTSPClient::Impl::changeRange(MediaSession& session, bool begin, bool accepted) {
    for (auto& sub : session.subsessions()) {
        MultiFramedRTPSource* source = sub->m_impl->source;
        if (source == nullptr) continue;
        if (begin) {
            source->beginRangeChange();
        } else {
            source->endRangeChange(accepted);
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

void RTSPClient::Impl::handlePlayReply(Request& request, const RtspMessage& reply) {
    MediaSession* session = request.session;
    if (session == nullptr) return;
    applyRtpInfo(*session, reply);
    NptRange range;
    const std::string* rangeText = reply.header("Range");
    if (rangeText == nullptr || !range.parse(rangeText->c_str())) return;
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
