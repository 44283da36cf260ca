// MediaSubsession: one "m=" line; initiate() makes its RTP source, sockets and RTCP.
#include <cstdlib>

#include "H264RTPSource.h"
#include "H265RTPSource.h"
#include "MPEG4GenericRTPSource.h"
#include "MPEG4VideoRTPSource.h"
#include "MediaSession.h"
#include "MediaSessionImpl.h"
#include "SimpleRTPSource.h"
#include "UsageEnvironment.h"

namespace kx::media {

namespace {

unsigned fmtpUnsigned(const SubsessionDescription& s, const char* name) {
    const std::string& v = s.fmtpValue(name);
    if (v.empty() || v.size() > 9) return 0;
    for (char c : v) {
        if (c < '0' || c > '9') return 0;
    }
    return static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 10));
}

AuHeaderLayout layoutFrom(const SubsessionDescription& s) {
    AuHeaderLayout l;
    // Field widths above 32 bits cannot be meant; treat them as absent.
    auto width = [&](const char* name) {
        const unsigned v = fmtpUnsigned(s, name);
        return v > 32 ? 0u : v;
    };
    l.sizeLength = width("sizelength");
    l.indexLength = width("indexlength");
    l.indexDeltaLength = width("indexdeltalength");
    l.ctsDeltaLength = width("ctsdeltalength");
    l.dtsDeltaLength = width("dtsdeltalength");
    l.randomAccessIndication = fmtpUnsigned(s, "randomaccessindication") != 0;
    l.streamStateIndication = width("streamstateindication");
    l.auxiliaryDataSizeLength = width("auxiliarydatasizelength");
    l.constantSize = fmtpUnsigned(s, "constantsize");
    l.constantDuration = fmtpUnsigned(s, "constantduration");
    return l;
}

const std::string kEmpty;

}  // namespace

const std::string& SubsessionDescription::fmtpValue(const std::string& name) const {
    auto it = fmtp.find(name);
    return it == fmtp.end() ? kEmpty : it->second;
}

MediaSubsession::MediaSubsession(MediaSession& parent)
    : m_impl(std::make_unique<Impl>()), m_parent(parent) {}

MediaSubsession::~MediaSubsession() {
    deInitiate();
}

const char* MediaSubsession::mediumName() const {
    return m_impl->medium.c_str();
}
const char* MediaSubsession::codecName() const {
    return m_impl->codec.c_str();
}
const char* MediaSubsession::protocolName() const {
    return m_impl->protocol.c_str();
}
const char* MediaSubsession::controlPath() const {
    return m_impl->control.c_str();
}
unsigned char MediaSubsession::rtpPayloadFormat() const {
    return m_impl->payloadFormat;
}
unsigned MediaSubsession::rtpTimestampFrequency() const {
    return m_impl->clockRate;
}
unsigned MediaSubsession::numChannels() const {
    return m_impl->channels;
}
const char* MediaSubsession::fmtp_spropparametersets() const {
    return m_impl->fmtpValue("sprop-parameter-sets").c_str();
}
const char* MediaSubsession::fmtp_mode() const {
    return m_impl->fmtpValue("mode").c_str();
}
const char* MediaSubsession::fmtp_config() const {
    return m_impl->fmtpValue("config").c_str();
}
const char* MediaSubsession::attrVal_str(const char* name) const {
    if (name == nullptr) return "";
    return m_impl->fmtpValue(name).c_str();
}
double MediaSubsession::playStartTime() const {
    return m_impl->hasRange ? m_impl->rangeStart : m_parent.playStartTime();
}
double MediaSubsession::playEndTime() const {
    return m_impl->hasRange ? m_impl->rangeEnd : m_parent.playEndTime();
}

bool MediaSubsession::initiate() {
    Impl& s = *m_impl;
    if (s.source != nullptr) return true;
    UsageEnvironment& env = m_parent.envir();
    if (s.protocol != "RTP") {
        env.setResultMsg("the subsession is not carried over RTP");
        return false;
    }
    std::string error;
    if (!UdpSocket::bindPair(s.rtpSocket, s.rtcpSocket, &error)) {
        env.setResultMsg("cannot create the RTP and RTCP sockets: " + error);
        return false;
    }
    unsigned rate = s.clockRate;
    if (rate == 0) rate = s.medium == "audio" ? 8000 : 90000;
    const unsigned char pt = s.payloadFormat;
    if (s.codec == "H264") {
        s.source = H264RTPSource::createNew(env, pt, rate);
    } else if (s.codec == "H265") {
        s.source = H265RTPSource::createNew(env, pt, rate, fmtpUnsigned(s, "sprop-max-don-diff"));
    } else if (s.codec == "MP4V-ES") {
        s.source = MPEG4VideoRTPSource::createNew(env, pt, rate);
    } else if (s.codec == "MPEG4-GENERIC") {
        s.source = MPEG4GenericRTPSource::createNew(env, pt, rate, layoutFrom(s));
    } else {
        // PCMU, PCMA, G7221, PRIVATE and everything else: the payload as it is.
        s.source = SimpleRTPSource::createNew(env, pt, rate);
    }
    s.source->attachSocket(s.rtpSocket.get());
    s.rtcp = BasicRTCPInstance::createNew(env, s.source, s.rtcpSocket.get());
    s.route = std::make_shared<PacketRoute>(PacketRoute{s.source, s.rtcp});
    return true;
}

void MediaSubsession::deInitiate() {
    Impl& s = *m_impl;
    if (s.route) {
        s.route->rtp = nullptr;
        s.route->rtcp = nullptr;
        s.route.reset();
    }
    Medium::close(s.rtcp);
    s.rtcp = nullptr;
    Medium::close(s.source);
    s.source = nullptr;
    s.rtpSocket.reset();
    s.rtcpSocket.reset();
    s.streamingOverTcp = false;
    s.rtpChannel = -1;
    s.serverRtpPort = s.serverRtcpPort = 0;
}

FramedSource* MediaSubsession::readSource() const {
    return m_impl->source;
}
RTPSource* MediaSubsession::rtpSource() const {
    return m_impl->source;
}
RTCPInstance* MediaSubsession::rtcpInstance() const {
    return m_impl->rtcp;
}
unsigned short MediaSubsession::clientPortNum() const {
    return m_impl->rtpSocket ? m_impl->rtpSocket->localPort() : 0;
}

}  // namespace kx::media
