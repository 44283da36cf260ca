#include <algorithm>

#include "ScriptedRtspConnection.h"

namespace Brelso::Testing {

void ScriptedRtspServer::startSenders(Connection& connection, const Behaviour& behaviour) {
    stopSenders(connection);
    for (const auto& [track, transport] : connection.tracks) {
        const auto planIt = behaviour.plans.find(track);
        if (planIt == behaviour.plans.end() || planIt->second.ticks.empty()) continue;
        auto sender = std::make_unique<Sender>();
        sender->server = this;
        sender->connection = &connection;
        sender->track = track;
        sender->plan = planIt->second;
        sender->sequence = static_cast<uint16_t>(1000 * (track + 1));
        sender->timestamp = static_cast<uint32_t>(10000 * (track + 1));
        sender->timer = g_timeout_source_new(std::max(1u, sender->plan.intervalMs));
        g_source_set_callback(
            sender->timer,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<Sender*>(data);
                self->server->tick(*self);
                return G_SOURCE_CONTINUE;
            },
            sender.get(), nullptr);
        g_source_attach(sender->timer, m_context);
        connection.senders.push_back(std::move(sender));
    }
}

void ScriptedRtspServer::stopSenders(Connection& connection) {
    for (auto& sender : connection.senders) {
        if (sender->timer) {
            g_source_destroy(sender->timer);
            g_source_unref(sender->timer);
            sender->timer = nullptr;
        }
    }
    connection.senders.clear();
}

void ScriptedRtspServer::tick(Sender& sender) {
    if (sender.index >= sender.plan.ticks.size()) {
        if (!sender.plan.loop) {
            // Finished: the timer stays attached but idle until the sender is stopped.
            return;
        }
        sender.index = 0;
    }
    Connection& connection = *sender.connection;
    const uint32_t ssrc = connection.tracks[sender.track].ssrc;
    size_t sent = 0;
    for (const auto& payload : sender.plan.ticks[sender.index]) {
        std::vector<uint8_t> packet;
        packet.reserve(12 + payload.bytes.size());
        packet.push_back(0x80);
        packet.push_back(
            static_cast<uint8_t>((payload.marker ? 0x80 : 0) | (sender.plan.payloadType & 0x7F)));
        putUint16(packet, sender.sequence++);
        putUint32(packet, sender.timestamp);
        putUint32(packet, ssrc);
        packet.insert(packet.end(), payload.bytes.begin(), payload.bytes.end());
        if (!sendOnTrack(connection, sender.track, false, packet)) break;
        ++sender.packets;
        sender.octets += static_cast<uint32_t>(payload.bytes.size());
        ++sent;
    }
    sender.timestamp += sender.plan.timestampStep;
    ++sender.index;
    {
        std::lock_guard lock(m_mutex);
        m_rtpSent[sender.track] += sent;
    }
    m_changed.notify_all();
}

bool ScriptedRtspServer::sendOnTrack(Connection& connection, int track, bool rtcp,
                                     const std::vector<uint8_t>& packet) {
    const auto it = connection.tracks.find(track);
    if (it == connection.tracks.end() || packet.size() > 65535) return false;
    const TrackTransport& transport = it->second;
    if (transport.tcp) {
        std::vector<uint8_t> frame;
        frame.reserve(packet.size() + 4);
        frame.push_back('$');
        frame.push_back(static_cast<uint8_t>(rtcp ? transport.rtcpChannel : transport.rtpChannel));
        putUint16(frame, static_cast<uint16_t>(packet.size()));
        frame.insert(frame.end(), packet.begin(), packet.end());
        return sendAll(connection.socket, frame.data(), frame.size());
    }
    GSocket* socket = rtcp ? transport.rtcpSocket : transport.rtpSocket;
    GSocketAddress* target = rtcp ? transport.rtcpTarget : transport.rtpTarget;
    if (!socket || !target) return false;
    return g_socket_send_to(socket, target, reinterpret_cast<const gchar*>(packet.data()),
                            packet.size(), nullptr, nullptr) == static_cast<gssize>(packet.size());
}

}  // namespace Brelso::Testing
