// RtpPlan: what a ScriptedRtspServer sends on one track after PLAY. The plan is a list of
// ticks, one every intervalMs; all packets of a tick carry the same RTP timestamp, which
// grows by timestampStep per tick (also across loops).
#pragma once

#include <cstdint>
#include <vector>

namespace Brelso::Testing {

struct RtpPayload {
    std::vector<uint8_t> bytes;
    bool marker = false;
};

struct RtpPlan {
    uint8_t payloadType = 96;
    unsigned intervalMs = 40;
    uint32_t timestampStep = 3600;
    std::vector<std::vector<RtpPayload>> ticks;
    bool loop = true;
};

// One packet per tick, each carrying one of the payloads (marker set).
RtpPlan singlePacketPlan(uint8_t payloadType, const std::vector<std::vector<uint8_t>>& payloads,
                         unsigned intervalMs, uint32_t timestampStep, bool loop);

}  // namespace Brelso::Testing
