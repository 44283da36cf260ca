// Incoming RTCP as a subsession's BasicRTCPInstance reads it, next to the RTP it describes:
// compound packets validated and walked, sender reports taken into the presentation clock,
// BYE from the active sender reported once. The input is a sequence of packets, each preceded
// by a kind byte (odd: RTP to the H.264 source, even: RTCP) and a 16-bit length.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "BasicRTCPInstance.h"
#include "DrainingSink.h"
#include "H264RTPSource.h"
#include "UsageEnvironment.h"

using namespace kx::media;

namespace {

void onBye(void* clientData) {
    ++*static_cast<int*>(clientData);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TaskScheduler scheduler;
    static UsageEnvironment env(scheduler);
    H264RTPSource* source = H264RTPSource::createNew(env, 96);
    if (source == nullptr) return 0;
    source->setPacketReorderingThresholdTime(0);
    auto* sink = new kx::fuzz::DrainingSink(env, 65536);
    sink->startPlaying(*source, nullptr, nullptr);
    BasicRTCPInstance* rtcp = BasicRTCPInstance::createNew(env, source, nullptr);
    int byes = 0;
    rtcp->setByeHandler(&onBye, &byes);
    const uint8_t* p = data;
    const uint8_t* const end = data + size;
    while (end - p >= 3) {
        const bool rtp = (p[0] & 1) != 0;
        const size_t length = size_t(p[1]) << 8 | p[2];
        p += 3;
        const size_t n = length < size_t(end - p) ? length : size_t(end - p);
        const std::vector<uint8_t> packet(p, p + n);  // exactly n bytes, for the address checks
        p += n;
        if (rtp) {
            source->handlePacket(packet.data(), packet.size());
        } else {
            rtcp->handlePacket(packet.data(), packet.size());
        }
    }
    if (byes > 1) __builtin_trap();  // reported once per sender
    Medium::close(rtcp);
    Medium::close(sink);
    Medium::close(source);
    return 0;
}
