#include "RtpPlan.h"

namespace Brelso::Testing {

RtpPlan singlePacketPlan(uint8_t payloadType, const std::vector<std::vector<uint8_t>>& payloads,
                         unsigned intervalMs, uint32_t timestampStep, bool loop) {
    RtpPlan plan;
    plan.payloadType = payloadType;
    plan.intervalMs = intervalMs;
    plan.timestampStep = timestampStep;
    plan.loop = loop;
    for (const auto& payload : payloads) plan.ticks.push_back({RtpPayload{payload, true}});
    return plan;
}

}  // namespace Brelso::Testing
