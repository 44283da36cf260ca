// Internal to ScriptedRtspServer: the state of one client connection and of one RTP sender,
// and the byte helpers its source files share. Used on the server's loop thread only.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedRtspServer.h"

namespace Brelso::Testing {

void putUint16(std::vector<uint8_t>& out, uint16_t value);
void putUint32(std::vector<uint8_t>& out, uint32_t value);
// Writes everything, waiting a bounded time whenever the peer does not read. False when the
// connection failed or stayed blocked.
bool sendAll(GSocket* socket, const uint8_t* data, size_t size);

// One track set up on a connection: where its RTP and RTCP go.
struct TrackTransport {
    bool tcp = false;
    int rtpChannel = 0;
    int rtcpChannel = 1;
    GSocketAddress* rtpTarget = nullptr;
    GSocketAddress* rtcpTarget = nullptr;
    GSocket* rtpSocket = nullptr;
    GSocket* rtcpSocket = nullptr;
    uint32_t ssrc = 0;
    std::string uri;

    void release();
};

struct ScriptedRtspServer::Sender {
    ScriptedRtspServer* server = nullptr;
    Connection* connection = nullptr;
    int track = 0;
    RtpPlan plan;
    size_t index = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t packets = 0;
    uint32_t octets = 0;
    GSource* timer = nullptr;
};

struct ScriptedRtspServer::Connection {
    ScriptedRtspServer* server = nullptr;
    int id = 0;
    GSocket* socket = nullptr;
    GSource* readSource = nullptr;
    std::string input;
    std::map<int, TrackTransport> tracks;
    int setupCount = 0;
    std::string sessionId;
    std::vector<std::unique_ptr<Sender>> senders;
};

}  // namespace Brelso::Testing
