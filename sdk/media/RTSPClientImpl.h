// RTSPClient::Impl: the state of one RTSP conversation, shared by RTSPClient.cpp (requests),
// RTSPClientConnection.cpp (connecting, the watch, failures, interleaved frames) and
// RTSPClientReplies.cpp (what each reply changes).
#pragma once

#include <gio/gio.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "InterleavedLink.h"
#include "LoopTimer.h"
#include "MediaSession.h"
#include "MediaSessionImpl.h"
#include "RTSPClient.h"
#include "RtspMessageUtil.h"
#include "RtspRequest.h"
#include "RtspUrlUtil.h"
#include "RtspWireReader.h"

namespace kx::media {

class UsageEnvironment;

namespace rtsp {
constexpr guint kConnectTimeoutSeconds = 10;
constexpr const char* kUserAgent = "KXMedia RTSP client (GStreamer)";
enum class Kind { Options, Describe, Setup, Play, GetParameter, Teardown };

}  // namespace rtsp

using rtsp::Kind;

struct RTSPClient::Impl final : public InterleavedWriter, private RtspWireReader::Handler {
    struct Request {
        Kind kind = Kind::Options;
        responseHandler* handler = nullptr;
        RtspRequest message;  // kept for sending later and for the auth retry
        MediaSession* session = nullptr;
        MediaSubsession* subsession = nullptr;
        bool streamUsingTCP = false;
        int channel = -1;
        bool authRetried = false;
    };
    struct Failure {
        responseHandler* handler;
        int code;
        std::string text;
    };
    struct ConnectOp {
        Impl* impl;
    };
    struct Route {
        // Expires when the subsession is torn down. Everything runs on the session's thread,
        // so a route that has not expired is used through its plain pointer: no reference
        // count changes per packet.
        std::weak_ptr<PacketRoute> target;
        const PacketRoute* packets = nullptr;
        bool rtcp = false;
    };
    enum class State { Connecting, Connected, Failed };

    Impl(RTSPClient& owner, UsageEnvironment& env, const char* rtspURL);
    ~Impl();

    // Builds a request with CSeq and User-Agent into r.message (false: bad URL, handler failed).
    bool build(Request& r, Kind kind, const char* method, const std::string& url,
               responseHandler* handler);
    // Sends the built request now or when connected; returns its CSeq or 0.
    unsigned dispatch(Request& r);
    void send(Request& request);
    void fail(Request& request, int code, const std::string& text);
    void failAll(int code, const std::string& text);
    void onConnected(GSocketConnection* connection);
    void onConnectFailed(int code, const std::string& text);
    // The connection broke (or the server sent what is not RTSP): every request fails.
    void onConnectionLost(int code, const std::string& text);
    bool onInterleaved(uint8_t channel, const uint8_t* data, size_t size) override;
    bool onMessage(RtspMessage& message) override;
    void onResponse(RtspMessage& reply);
    void onRequest(const RtspMessage& request);
    // The request a reply answers (an index into m_awaiting), or m_awaiting.size().
    size_t matchReply(const RtspMessage& reply);
    bool answerChallenge(Request& request, const RtspMessage& reply);
    void handleSetupReply(Request& request, const RtspMessage& reply);
    void handlePlayReply(Request& request, const RtspMessage& reply);
    void applyRtpInfo(MediaSession& session, const RtspMessage& reply);
    // A PLAY of the session was sent (begin) or answered (accepted or not): see
    // MultiFramedRTPSource::beginRangeChange.
    void changeRange(MediaSession& session, bool begin, bool accepted);
    // Reports each tolerated deviation (RtspDeviation bits) once per client.
    void reportDeviations(unsigned deviations);
    // Queues bytes for the server and writes what the socket takes. False when the
    // connection is gone or the server has stopped reading (too much waiting).
    bool write(const std::string& bytes);
    void flushOutput();
    void readSocket();
    void joinMulticast(MediaSubsession::Impl& s, const std::string& group, uint16_t rtpPort,
                       uint16_t rtcpPort);
    std::string baseUrl() const { return m_baseUrl.empty() ? m_requestUrl : m_baseUrl; }
    std::string sessionUrl(MediaSession& session) const {
        return resolveControlUrl(baseUrl(), session.controlPath());
    }
    bool sendInterleaved(uint8_t channel, const uint8_t* data, size_t size) override;
    void releaseConnection();

    static void connectDone(GObject* source, GAsyncResult* result, gpointer data);
    static gboolean onReadable(GSocket*, GIOCondition, gpointer data);
    static gboolean onWritable(GSocket*, GIOCondition, gpointer data);
    static void onFailureTimer(void* clientData);

    RTSPClient& m_owner;
    UsageEnvironment& m_env;
    GMainContext* m_context;
    std::string m_url;         // as given (with credentials)
    std::string m_requestUrl;  // without credentials
    std::string m_host;
    uint16_t m_port = 554;
    std::string m_user;
    std::string m_password;
    State m_state = State::Connecting;
    int m_failCode = kErrorConnect;  // what requests get once the state is Failed

    ConnectOp* m_connectOp = nullptr;
    GCancellable* m_cancellable = nullptr;
    GSocketConnection* m_socketConnection = nullptr;
    GSocket* m_socket = nullptr;  // of m_socketConnection, non-blocking
    GSource* m_readSource = nullptr;
    GSource* m_writeSource = nullptr;  // only while output waits
    std::string m_output;              // bytes the socket has not taken yet
    size_t m_outputStart = 0;
    std::string m_peerIp;  // the server's address as connected
    RtspWireReader m_reader;
    RtspAuthenticator m_auth;
    unsigned m_reportedDeviations = 0;
    std::shared_ptr<InterleavedLink> m_link;

    unsigned m_nextCSeq = 1;
    std::vector<Request> m_queued;    // waiting for the connection
    std::vector<Request> m_awaiting;  // sent, waiting for the reply
    std::vector<Failure> m_failures;  // handlers to call with a failure from the loop
    LoopTimer m_failureTimer;

    std::string m_sessionId;
    unsigned m_sessionTimeout = 0;
    std::string m_baseUrl;
    int m_nextChannel = 0;
    std::array<Route, 256> m_routes;

    bool* m_destroyed = nullptr;
};

}  // namespace kx::media
