// ScriptedRtspServer: a tiny RTSP server of our own on 127.0.0.1 for the faults a real server
// does not produce on demand: silence, error replies, odd session descriptions, a Public list
// without GET_PARAMETER, chosen session timeouts, RTP of any payload type (prepared H.264 NAL
// units, "PRIVATE", "G7221"), streams that stop mid-way, RTCP BYE, dropped connections,
// replies in odd but tolerable forms, a password, a refused TCP transport.
// Every request it receives is recorded with its raw bytes, headers and arrival time.
//
// Threads: the server runs on its own thread and GMainContext. Every public member may be
// called from any other thread; behaviour settings take effect for the next request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "RtpPlan.h"

typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;
typedef struct _GSocket GSocket;

namespace Brelso::Testing {

struct RtspRequest {
    int connection = 0;  // 1, 2, ... in the order connections were accepted
    std::string method;
    std::string uri;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string raw;  // the request line and header lines exactly as received
    std::chrono::steady_clock::time_point time;

    // Value of the first header of that name (case-insensitive); empty when missing.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
    int cseq() const;  // -1 when missing or not a number
};

class ScriptedRtspServer {
public:
    ScriptedRtspServer();
    ~ScriptedRtspServer();
    ScriptedRtspServer(const ScriptedRtspServer&) = delete;
    ScriptedRtspServer& operator=(const ScriptedRtspServer&) = delete;

    // Listens on 127.0.0.1 on a free port. False when the socket cannot be set up.
    bool start();
    // Closes every connection and stops the thread.
    void stop();

    uint16_t port() const { return m_port; }
    // "rtsp://[credentials@]127.0.0.1:<port><path>"
    std::string url(const std::string& path = "/stream") const;

    // ---- behaviour -------------------------------------------------------------------
    // DESCRIBE body. Media sections should carry "a=control:trackN" (N = 0, 1, ...): SETUP
    // requests are matched to tracks by that suffix (else by their order).
    void setSdp(std::string sdp);
    // The Public header of the OPTIONS reply.
    void setPublicMethods(std::string methods);
    // Session header of SETUP/PLAY replies: ";timeout=N" appended when seconds >= 0.
    void setSessionTimeout(int seconds);
    // Reply to every request of that method with this status (e.g. 404, 454, 500);
    // 200 restores the normal reply.
    void setStatus(const std::string& method, int status);
    // Never answer requests of that method ("*": any method). The request is still recorded.
    void setSilent(const std::string& method, bool silent);
    // Answer requests of that method only after this many milliseconds.
    void setReplyDelay(const std::string& method, unsigned milliseconds);
    // Range header of the PLAY reply (e.g. "npt=0.000-"); empty: no Range header.
    void setPlayRange(std::string range);
    // RTP to send on a track after every successful PLAY (until TEARDOWN, stopRtp() or the
    // connection closes; a plan without loop ends on its own).
    void setTrackPlan(int track, RtpPlan plan);
    // Reply forms real servers use that depart from the usual one (bits may be combined).
    enum Quirk : unsigned {
        kQuirkNoCSeq = 1u << 0,            // no CSeq line in any reply
        kQuirkLowerCaseHeaders = 1u << 1,  // "cseq:", "session:", "transport:" ...
        kQuirkExtraSpaces = 1u << 2,       // "RTSP/1.0  200  OK", "CSeq:   3  "
        kQuirkSessionParams = 1u << 3,     // "Session: <id>;timeout=60;mode=live;x-id=7"
        kQuirkTransportOrder = 1u << 4,    // the transport protocol last in Transport
    };
    void setQuirks(unsigned quirks);
    // Requests without "Authorization: Basic <user:password>" get 401 with a Basic challenge.
    void setBasicAuth(std::string user, std::string password);
    // SETUP asking for RTP over TCP gets 461 Unsupported Transport.
    void setRefuseTcp(bool refuse);
    // Whether the Transport of a UDP SETUP reply names server_port and ssrc (default true).
    // Without them the client takes RTP from any port of 127.0.0.1 and the SSRC of the first
    // packet: a test may then send the stream from a socket of its own.
    void setNameUdpSender(bool name);

    // ---- actions ---------------------------------------------------------------------
    // Stops sending RTP on every connection now. The plans stay for the next PLAY.
    void stopRtp();
    // Sends an RTCP BYE (SR + BYE) on that track of every playing connection.
    // Returns the number of BYE packets sent.
    int sendRtcpBye(int track);
    // Closes every client connection.
    void dropConnections();

    // ---- observation -----------------------------------------------------------------
    std::vector<RtspRequest> requests() const;
    size_t count(const std::string& method) const;
    // Waits until at least n requests of that method arrived. False on timeout.
    bool waitForRequests(const std::string& method, size_t n,
                         std::chrono::milliseconds timeout) const;
    // RTP packets sent so far on a track, over all connections.
    size_t rtpPacketsSent(int track) const;
    // Waits until at least n RTP packets were sent on a track.
    bool waitForRtpPackets(int track, size_t n, std::chrono::milliseconds timeout) const;
    size_t connectionCount() const;

private:
    struct Connection;
    struct Sender;
    struct Behaviour {
        std::string sdp;
        std::string publicMethods = "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER";
        int sessionTimeout = -1;
        std::map<std::string, int> status;
        std::set<std::string> silent;
        std::map<std::string, unsigned> delayMs;
        std::string playRange = "npt=0.000-";
        std::map<int, RtpPlan> plans;
        unsigned quirks = 0;
        std::string authorization;  // expected "Basic ..." value; empty: none needed
        bool refuseTcp = false;
        bool nameUdpSender = true;
    };

    void runOnLoop(std::function<void()> job);
    void accept();
    void readFrom(Connection& connection);
    void handleRequest(Connection& connection, RtspRequest request);
    std::string buildReply(Connection& connection, const RtspRequest& request,
                           const Behaviour& behaviour, bool& startPlay);
    std::string buildPlainReply(Connection& connection, const RtspRequest& request,
                                const Behaviour& behaviour, bool& startPlay);
    void startSenders(Connection& connection, const Behaviour& behaviour);
    void stopSenders(Connection& connection);
    bool sendOnTrack(Connection& connection, int track, bool rtcp,
                     const std::vector<uint8_t>& packet);
    void tick(Sender& sender);
    void closeConnection(int id);
    void recordRequest(const RtspRequest& request);

    uint16_t m_port = 0;
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    GSocket* m_listener = nullptr;
    std::thread m_thread;
    int m_nextConnectionId = 1;
    std::map<int, std::unique_ptr<Connection>> m_connections;  // loop thread only

    mutable std::mutex m_mutex;  // guards everything below
    mutable std::condition_variable m_changed;
    Behaviour m_behaviour;
    std::vector<RtspRequest> m_requests;
    std::map<int, size_t> m_rtpSent;
    size_t m_connectionsAccepted = 0;
};

}  // namespace Brelso::Testing
