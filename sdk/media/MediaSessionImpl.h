// Internal state of MediaSession and MediaSubsession, shared with the RTSP client that sets
// the subsessions up.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "BasicRTCPInstance.h"
#include "MediaSession.h"
#include "MultiFramedRTPSource.h"
#include "UdpSocket.h"

namespace kx::media {

// What the RTSP connection routes interleaved frames to; the client holds it weakly, so a
// subsession that is torn down simply stops receiving.
struct PacketRoute {
    MultiFramedRTPSource* rtp = nullptr;
    BasicRTCPInstance* rtcp = nullptr;
};

// What the SDP says about one subsession.
struct SubsessionDescription {
    std::string medium;
    std::string codec;
    std::string protocol = "RTP";
    std::string transportProfile;  // "RTP/AVP", ...
    std::string control;
    unsigned char payloadFormat = 0;
    unsigned clockRate = 0;
    unsigned channels = 1;
    std::map<std::string, std::string> fmtp;  // lower-case names
    bool hasRange = false;
    double rangeStart = 0.0;
    double rangeEnd = 0.0;

    const std::string& fmtpValue(const std::string& name) const;
};

struct MediaSubsession::Impl : SubsessionDescription {
    // After initiate.
    std::unique_ptr<UdpSocket> rtpSocket;
    std::unique_ptr<UdpSocket> rtcpSocket;
    MultiFramedRTPSource* source = nullptr;
    BasicRTCPInstance* rtcp = nullptr;
    std::shared_ptr<PacketRoute> route;

    // After SETUP.
    bool streamingOverTcp = false;
    int rtpChannel = -1;
    uint16_t serverRtpPort = 0;
    uint16_t serverRtcpPort = 0;
};

struct MediaSession::Impl {
    std::string control;
    bool hasRange = false;
    double rangeStart = 0.0;
    double rangeEnd = 0.0;
};

}  // namespace kx::media
