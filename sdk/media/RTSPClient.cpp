// RTSPClient: one call per request. The request is built here, complete with its headers, and
// handed to the connection (RTSPClientConnection.cpp); what the reply changes is in
// RTSPClientReplies.cpp.
#include "RTSPClient.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "NptRange.h"
#include "RTSPClientImpl.h"
#include "UsageEnvironment.h"

namespace kx::media {

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
void addSession(RtspRequest& request, const std::string& id) {
    if (!id.empty()) request.set("Session", id);
}
}  // namespace

unsigned RTSPClient::sendOptionsCommand(responseHandler* handler) {
    Impl::Request r;
    if (!m_impl->build(r, Kind::Options, "OPTIONS", m_impl->m_requestUrl, handler)) return 0;
    return m_impl->dispatch(r);
}

unsigned RTSPClient::sendDescribeCommand(responseHandler* handler) {
    Impl::Request r;
    if (!m_impl->build(r, Kind::Describe, "DESCRIBE", m_impl->m_requestUrl, handler)) {
        return 0;
    }
    r.message.set("Accept", "application/sdp");
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
    if (!impl.build(r, Kind::Setup, "SETUP", url, handler)) return 0;
    r.message.set("Transport", transport);
    addSession(r.message, impl.m_sessionId);
    if (!streamUsingTCP && !forceMulticastOnUnspecified && !impl.m_peerIp.empty()) {
        // From now on the subsession's sockets take packets from the server's address only.
        MediaSubsession::Impl& s = *subsession.m_impl;
        if (s.rtpSocket) s.rtpSocket->acceptOnlyFrom(impl.m_peerIp, 0);
        if (s.rtcpSocket) s.rtcpSocket->acceptOnlyFrom(impl.m_peerIp, 0);
    }
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
    if (!impl.build(r, Kind::Play, "PLAY", impl.sessionUrl(session), handler)) return 0;
    addSession(r.message, impl.m_sessionId);
    r.message.set("Range", range);
    if (scale != 1.0f) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", static_cast<double>(scale));
        r.message.set("Scale", text);
    }
    const unsigned cseq = impl.dispatch(r);
    // Until the reply tells the ranges apart, the packets that come wait.
    if (cseq != 0) impl.changeRange(session, true, false);
    return cseq;
}

unsigned RTSPClient::sendGetParameterCommand(MediaSession& session, responseHandler* handler,
                                             const char* parameterName) {
    Impl& impl = *m_impl;
    Impl::Request r;
    r.session = &session;
    if (!impl.build(r, Kind::GetParameter, "GET_PARAMETER", impl.sessionUrl(session), handler)) {
        return 0;
    }
    addSession(r.message, impl.m_sessionId);
    if (parameterName != nullptr && parameterName[0] != '\0') {
        r.message.set("Content-Type", "text/parameters");
        r.message.body = std::string(parameterName) + "\r\n";
    }
    return impl.dispatch(r);
}

unsigned RTSPClient::sendTeardownCommand(MediaSession& session, responseHandler* handler) {
    Impl& impl = *m_impl;
    Impl::Request r;
    r.session = &session;
    if (!impl.build(r, Kind::Teardown, "TEARDOWN", impl.sessionUrl(session), handler)) {
        return 0;
    }
    addSession(r.message, impl.m_sessionId);
    return impl.dispatch(r);
}

}  // namespace kx::media
