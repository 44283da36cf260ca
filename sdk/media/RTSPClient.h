// RTSPClient: one RTSP conversation with one server, on the environment's loop thread.
// One call per request; each reply goes to the request's response handler, on the loop
// thread, never from inside the send call. Requests carry exactly one line per header. Replies
// are read tolerantly (RtspWireReader.h): a reply without CSeq answers the request in flight,
// and each departure from the usual form is reported once through the environment's notice
// handler. Over UDP, RTP and RTCP are taken only from the server's address (and the ports its
// SETUP reply names), and only of the SSRC it names or the first one seen.
#pragma once

#include <memory>

#include "Medium.h"

namespace kx::media {

class MediaSession;
class MediaSubsession;

class RTSPClient : public Medium {
public:
    // resultCode: 0 success; an RTSP status code (e.g. 404) for an error reply; a negative
    // value for a transport failure (connection refused or lost, malformed reply, timeout).
    // resultString: success: the reply body for DESCRIBE (the SDP), the Public header's
    // methods for OPTIONS, else null or the body; failure: an error text. The handler owns
    // resultString (allocated with new[]) and frees it with delete[].
    using responseHandler = void(RTSPClient* client, int resultCode, char* resultString);

    // The negative result codes of transport failures.
    static constexpr int kErrorConnect = -1;    // connection refused, host unknown or unreachable
    static constexpr int kErrorClosed = -2;     // the server closed the connection, or it broke
    static constexpr int kErrorMalformed = -3;  // a reply that is not RTSP
    static constexpr int kErrorTimeout = -4;    // connecting took too long
    static constexpr int kErrorBadUrl = -5;     // the URL cannot be used
    static constexpr int kErrorSend = -6;       // the request could not be sent

    // The URL: "rtsp://[user[:password]@]host[:port]/path". User name and password, when
    // present, are used to answer Basic and Digest challenges (a 401 reply is answered once
    // with credentials; the request is then resent). Connecting does not block the loop.
    RTSPClient(UsageEnvironment& env, const char* rtspURL);

    const char* url() const;

    // Each returns the CSeq of the request (0 when it could not be sent; the handler is then
    // called later with a negative code). A null handler means the reply is ignored.
    unsigned sendOptionsCommand(responseHandler* handler);
    unsigned sendDescribeCommand(responseHandler* handler);
    // Sets up one subsession (which must be initiated). streamUsingTCP: RTP/AVP/TCP with
    // interleaved channels; otherwise RTP/AVP over the subsession's UDP client ports.
    unsigned sendSetupCommand(MediaSubsession& subsession, responseHandler* handler,
                              bool streamOutgoing = false, bool streamUsingTCP = false,
                              bool forceMulticastOnUnspecified = false);
    // PLAY for the whole session with Range npt=start- (end < 0) or npt=start-end and Scale
    // (omitted when 1). On success the session's (and subsessions') play start and end time
    // are updated from the reply's Range header.
    unsigned sendPlayCommand(MediaSession& session, responseHandler* handler, double start = 0.0,
                             double end = -1.0, float scale = 1.0f);
    unsigned sendGetParameterCommand(MediaSession& session, responseHandler* handler,
                                     const char* parameterName);
    unsigned sendTeardownCommand(MediaSession& session, responseHandler* handler);

    // The "timeout" of the server's Session header (0 when it gave none).
    unsigned sessionTimeoutParameter() const;

protected:
    ~RTSPClient() override;  // closes the connection; pending handlers are not called

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace kx::media
