// MediaSession: a session description (SDP) and its subsessions, one per "m=" line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Medium.h"

namespace kx::media {

class FramedSource;
class MediaSink;
class MediaSession;
class RTCPInstance;
class RTPSource;
class RTSPClient;

class MediaSubsession {
public:
    MediaSubsession(const MediaSubsession&) = delete;
    MediaSubsession& operator=(const MediaSubsession&) = delete;
    ~MediaSubsession();

    MediaSession& parentSession() const { return m_parent; }

    const char* mediumName() const;    // "video", "audio", ...
    const char* codecName() const;     // upper case, from a=rtpmap or the static payload type
    const char* protocolName() const;  // "RTP"
    const char* controlPath() const;   // a=control, or "" when none
    unsigned char rtpPayloadFormat() const;
    unsigned rtpTimestampFrequency() const;
    unsigned numChannels() const;                 // 1 when the SDP names none
    const char* fmtp_spropparametersets() const;  // "" when absent
    const char* fmtp_mode() const;                // "" when absent
    const char* fmtp_config() const;              // "" when absent
    // Any other fmtp attribute by (lower-case) name, or "" when absent.
    const char* attrVal_str(const char* name) const;
    double playStartTime() const;  // this subsession's a=range, else the session's
    double playEndTime() const;

    // Creates the RTP source for the codec, and for UDP a pair of sockets (even RTP port,
    // RTCP port + 1) with an RTCP instance. Returns false (with envir's result message set)
    // when the codec has no source or sockets cannot be made. A subsession streamed over TCP
    // later gets its packets from the RTSP connection instead of the sockets.
    bool initiate();
    void deInitiate();

    // After initiate: the source the sink reads (the RTP source itself), the RTP source and
    // the RTCP instance (either may be null).
    FramedSource* readSource() const;
    RTPSource* rtpSource() const;
    RTCPInstance* rtcpInstance() const;
    unsigned short clientPortNum() const;  // local RTP port (0 before initiate)

    // Slots for the user of the layer; the layer never touches them.
    MediaSink* sink = nullptr;
    void* miscPtr = nullptr;

private:
    friend class MediaSession;
    friend class RTSPClient;
    explicit MediaSubsession(MediaSession& parent);
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    MediaSession& m_parent;
};

class MediaSession : public Medium {
public:
    // Parses the SDP text. Returns null (envir's result message set) when it is unusable.
    static MediaSession* createNew(UsageEnvironment& env, const char* sdpDescription);

    bool hasSubsessions() const { return !m_subsessions.empty(); }
    double playStartTime() const;     // from the session-level a=range npt (0 when none)
    double playEndTime() const;       // 0 when none or open
    const char* controlPath() const;  // session-level a=control, "" when none

    std::vector<std::unique_ptr<MediaSubsession>>& subsessions() { return m_subsessions; }

protected:
    ~MediaSession() override;

private:
    friend class RTSPClient;
    friend class MediaSubsession;
    explicit MediaSession(UsageEnvironment& env);
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::vector<std::unique_ptr<MediaSubsession>> m_subsessions;
};

class MediaSubsessionIterator {
public:
    explicit MediaSubsessionIterator(MediaSession& session) : m_session(session) {}
    MediaSubsession* next();  // null after the last
    void reset() { m_next = 0; }

private:
    MediaSession& m_session;
    size_t m_next = 0;
};

}  // namespace kx::media
