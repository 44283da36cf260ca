#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "ScriptedRtspConnection.h"

namespace Brelso::Testing {

namespace {

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 451:
            return "Parameter Not Understood";
        case 454:
            return "Session Not Found";
        case 455:
            return "Method Not Valid in This State";
        case 461:
            return "Unsupported Transport";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

// "a-b" after key= in a Transport header; false when missing.
bool parsePair(const std::string& transport, const std::string& key, int& first, int& second) {
    const auto pos = transport.find(key + "=");
    if (pos == std::string::npos) return false;
    return std::sscanf(transport.c_str() + pos + key.size() + 1, "%d-%d", &first, &second) == 2;
}

// Track number from a SETUP URL ending in "trackN" or "trackID=N"; -1 when none.
int trackFromUri(const std::string& uri) {
    const auto pos = uri.rfind("track");
    if (pos == std::string::npos) return -1;
    const char* p = uri.c_str() + pos + 5;
    if (std::strncmp(p, "ID=", 3) == 0 || std::strncmp(p, "id=", 3) == 0) p += 3;
    int value = -1;
    if (std::sscanf(p, "%d", &value) != 1 || value < 0 || value > 63) return -1;
    return value;
}

// The reply's head rewritten in the odd forms asked for; the body stays as it is.
std::string withQuirks(const std::string& reply, unsigned quirks) {
    if (quirks == 0) return reply;
    const size_t headEnd = reply.find("\r\n\r\n");
    if (headEnd == std::string::npos) return reply;
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < headEnd;) {
        const size_t end = reply.find("\r\n", pos);
        lines.push_back(reply.substr(pos, end - pos));
        pos = end + 2;
    }
    std::string head;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        if (i == 0) {
            if (quirks & ScriptedRtspServer::kQuirkExtraSpaces) {
                line.replace(line.find(' '), 1, "  ");
                line.replace(line.find(' ', 11), 1, "  ");
            }
            head += line + "\r\n";
            continue;
        }
        const size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        std::string value = line.substr(colon + 2);
        if ((quirks & ScriptedRtspServer::kQuirkNoCSeq) && name == "CSeq") continue;
        if ((quirks & ScriptedRtspServer::kQuirkSessionParams) && name == "Session") {
            value += ";mode=live;x-id=7";
        }
        if ((quirks & ScriptedRtspServer::kQuirkTransportOrder) && name == "Transport") {
            const size_t semi = value.find(';');
            if (semi != std::string::npos)
                value = value.substr(semi + 1) + ";" + value.substr(0, semi);
        }
        if (quirks & ScriptedRtspServer::kQuirkLowerCaseHeaders) {
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        const bool spaced = (quirks & ScriptedRtspServer::kQuirkExtraSpaces) != 0;
        head += name + (spaced ? ":   " : ": ") + value + (spaced ? "  " : "") + "\r\n";
    }
    return head + reply.substr(headEnd + 2);
}

}  // namespace

std::string ScriptedRtspServer::buildReply(Connection& connection, const RtspRequest& request,
                                           const Behaviour& behaviour, bool& startPlay) {
    return withQuirks(buildPlainReply(connection, request, behaviour, startPlay), behaviour.quirks);
}

std::string ScriptedRtspServer::buildPlainReply(Connection& connection, const RtspRequest& request,
                                                const Behaviour& behaviour, bool& startPlay) {
    const std::string cseq = "CSeq: " + request.header("CSeq") + "\r\n";
    if (!behaviour.authorization.empty() &&
        request.header("Authorization") != behaviour.authorization) {
        return "RTSP/1.0 401 Unauthorized\r\n" + cseq +
               "WWW-Authenticate: Basic realm=\"scripted\"\r\n\r\n";
    }
    const auto statusIt = behaviour.status.find(request.method);
    if (statusIt != behaviour.status.end()) {
        return "RTSP/1.0 " + std::to_string(statusIt->second) + " " +
               reasonPhrase(statusIt->second) + "\r\n" + cseq + "\r\n";
    }
    std::string head = "RTSP/1.0 200 OK\r\n" + cseq + "Server: ScriptedRtspServer\r\n";
    std::string session;
    if (!connection.sessionId.empty()) {
        session = "Session: " + connection.sessionId;
        if (behaviour.sessionTimeout >= 0)
            session += ";timeout=" + std::to_string(behaviour.sessionTimeout);
        session += "\r\n";
    }
    const std::string& method = request.method;
    if (method == "OPTIONS") return head + "Public: " + behaviour.publicMethods + "\r\n\r\n";
    if (method == "DESCRIBE") {
        std::string base = request.uri;
        if (base.empty() || base.back() != '/') base += '/';
        return head + "Content-Type: application/sdp\r\nContent-Base: " + base +
               "\r\nContent-Length: " + std::to_string(behaviour.sdp.size()) + "\r\n\r\n" +
               behaviour.sdp;
    }
    if (method == "SETUP") {
        int track = trackFromUri(request.uri);
        if (track < 0) track = connection.setupCount;
        ++connection.setupCount;
        const std::string requested = request.header("Transport");
        TrackTransport& transport = connection.tracks[track];
        transport.release();
        transport.uri = request.uri;
        transport.ssrc =
            0x10000000u + static_cast<uint32_t>(connection.id) * 16u + static_cast<uint32_t>(track);
        char ssrc[16];
        std::snprintf(ssrc, sizeof(ssrc), "%08X", transport.ssrc);
        std::string reply;
        int first = 0;
        int second = 0;
        const bool tcp = requested.find("/TCP") != std::string::npos ||
                         requested.find("interleaved=") != std::string::npos;
        if (tcp && behaviour.refuseTcp) {
            return "RTSP/1.0 461 Unsupported Transport\r\n" + cseq + "\r\n";
        }
        if (tcp) {
            transport.tcp = true;
            if (!parsePair(requested, "interleaved", first, second)) {
                first = 2 * track;
                second = first + 1;
            }
            transport.rtpChannel = first;
            transport.rtcpChannel = second;
            reply = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(first) + "-" +
                    std::to_string(second) + ";ssrc=" + ssrc;
        } else {
            if (!parsePair(requested, "client_port", first, second)) {
                return "RTSP/1.0 461 Unsupported Transport\r\n" + cseq + "\r\n";
            }
            transport.tcp = false;
            transport.rtpTarget = g_inet_socket_address_new_from_string("127.0.0.1", first);
            transport.rtcpTarget = g_inet_socket_address_new_from_string("127.0.0.1", second);
            uint16_t serverPorts[2] = {0, 0};
            GSocket** sockets[2] = {&transport.rtpSocket, &transport.rtcpSocket};
            for (int i = 0; i < 2; ++i) {
                *sockets[i] = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM,
                                           G_SOCKET_PROTOCOL_UDP, nullptr);
                GSocketAddress* any = g_inet_socket_address_new_from_string("127.0.0.1", 0);
                g_socket_bind(*sockets[i], any, TRUE, nullptr);
                g_object_unref(any);
                GSocketAddress* local = g_socket_get_local_address(*sockets[i], nullptr);
                serverPorts[i] = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local));
                g_object_unref(local);
            }
            reply = "RTP/AVP;unicast;client_port=" + std::to_string(first) + "-" +
                    std::to_string(second);
            if (behaviour.nameUdpSender) {
                reply += ";server_port=" + std::to_string(serverPorts[0]) + "-" +
                         std::to_string(serverPorts[1]) + ";ssrc=" + ssrc;
            }
        }
        if (connection.sessionId.empty()) {
            connection.sessionId = "5C21" + std::to_string(1000 + connection.id);
            session = "Session: " + connection.sessionId;
            if (behaviour.sessionTimeout >= 0)
                session += ";timeout=" + std::to_string(behaviour.sessionTimeout);
            session += "\r\n";
        }
        return head + "Transport: " + reply + "\r\n" + session + "\r\n";
    }
    if (method == "PLAY") {
        startPlay = true;
        std::string rtpInfo;
        for (const auto& [track, transport] : connection.tracks) {
            if (!rtpInfo.empty()) rtpInfo += ",";
            rtpInfo += "url=" + transport.uri + ";seq=" + std::to_string(1000 * (track + 1)) +
                       ";rtptime=" + std::to_string(10000 * (track + 1));
        }
        std::string reply = head + session;
        if (!behaviour.playRange.empty()) reply += "Range: " + behaviour.playRange + "\r\n";
        if (!rtpInfo.empty()) reply += "RTP-Info: " + rtpInfo + "\r\n";
        return reply + "\r\n";
    }
    if (method == "GET_PARAMETER" || method == "SET_PARAMETER") return head + session + "\r\n";
    if (method == "TEARDOWN") {
        stopSenders(connection);
        return head + session + "\r\n";
    }
    return "RTSP/1.0 501 Not Implemented\r\n" + cseq + "\r\n";
}

}  // namespace Brelso::Testing
