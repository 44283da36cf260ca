// LossyRtpSender: sends the RTP packets of a plan to a UDP port on 127.0.0.1 the way a bad
// network delivers them: a share of the packets lost and some pairs swapped, decided by a
// seeded random generator so that a run can be repeated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "RtpPlan.h"

namespace Brelso::Resilience {

class LossyRtpSender {
public:
    // rtpPort: the client's RTP port. False from ok() when no socket could be opened.
    LossyRtpSender(uint16_t rtpPort, uint32_t ssrc, uint16_t firstSequence,
                   uint32_t firstTimestamp);
    ~LossyRtpSender();
    LossyRtpSender(const LossyRtpSender&) = delete;
    LossyRtpSender& operator=(const LossyRtpSender&) = delete;

    bool ok() const { return m_socket >= 0; }

    // Sends every tick of the plan once, pausing tickPauseMs between ticks. Each packet is
    // lost with probability lossPercent / 100 and swapped with the next with probability
    // swapPercent / 100. Returns the packets that were actually sent.
    size_t send(const Testing::RtpPlan& plan, unsigned lossPercent, unsigned swapPercent,
                unsigned tickPauseMs, uint32_t seed);

    // Moves the RTP time stamp of the next tick on by this many clock units (a sender whose
    // clock jumped).
    void jumpTimestamp(uint32_t units) { m_timestamp += units; }

private:
    std::vector<uint8_t> packet(const Testing::RtpPayload& payload, uint8_t payloadType);
    bool sendPacket(const std::vector<uint8_t>& bytes);

    int m_socket = -1;
    uint16_t m_port = 0;
    uint32_t m_ssrc = 0;
    uint16_t m_sequence = 0;
    uint32_t m_timestamp = 0;
};

}  // namespace Brelso::Resilience
