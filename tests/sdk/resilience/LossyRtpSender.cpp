#include "LossyRtpSender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

namespace Brelso::Resilience {

LossyRtpSender::LossyRtpSender(uint16_t rtpPort, uint32_t ssrc, uint16_t firstSequence,
                               uint32_t firstTimestamp)
    : m_port(rtpPort), m_ssrc(ssrc), m_sequence(firstSequence), m_timestamp(firstTimestamp) {
    m_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
}

LossyRtpSender::~LossyRtpSender() {
    if (m_socket >= 0) ::close(m_socket);
}

std::vector<uint8_t> LossyRtpSender::packet(const Testing::RtpPayload& payload,
                                            uint8_t payloadType) {
    std::vector<uint8_t> p = {0x80,
                              static_cast<uint8_t>((payload.marker ? 0x80 : 0) | payloadType),
                              static_cast<uint8_t>(m_sequence >> 8),
                              static_cast<uint8_t>(m_sequence),
                              static_cast<uint8_t>(m_timestamp >> 24),
                              static_cast<uint8_t>(m_timestamp >> 16),
                              static_cast<uint8_t>(m_timestamp >> 8),
                              static_cast<uint8_t>(m_timestamp),
                              static_cast<uint8_t>(m_ssrc >> 24),
                              static_cast<uint8_t>(m_ssrc >> 16),
                              static_cast<uint8_t>(m_ssrc >> 8),
                              static_cast<uint8_t>(m_ssrc)};
    ++m_sequence;
    p.resize(12 + payload.bytes.size());
    if (!payload.bytes.empty())
        std::memcpy(p.data() + 12, payload.bytes.data(), payload.bytes.size());
    return p;
}

bool LossyRtpSender::sendPacket(const std::vector<uint8_t>& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::sendto(m_socket, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                    sizeof(to)) == static_cast<ssize_t>(bytes.size());
}

size_t LossyRtpSender::send(const Testing::RtpPlan& plan, unsigned lossPercent,
                            unsigned swapPercent, unsigned tickPauseMs, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<unsigned> percent(0, 99);
    size_t sent = 0;
    std::vector<uint8_t> held;  // a packet waiting to go out after the next one
    for (const auto& tick : plan.ticks) {
        for (const auto& payload : tick) {
            std::vector<uint8_t> p = packet(payload, plan.payloadType);
            if (percent(random) < lossPercent) continue;
            if (held.empty() && percent(random) < swapPercent) {
                held = std::move(p);
                continue;
            }
            sent += sendPacket(p) ? 1 : 0;
            if (!held.empty()) {
                sent += sendPacket(held) ? 1 : 0;
                held.clear();
            }
        }
        m_timestamp += plan.timestampStep;
        std::this_thread::sleep_for(std::chrono::milliseconds(tickPauseMs));
    }
    if (!held.empty()) sent += sendPacket(held) ? 1 : 0;
    return sent;
}

}  // namespace Brelso::Resilience
