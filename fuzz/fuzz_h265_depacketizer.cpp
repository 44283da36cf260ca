// The H.265 RTP depacketizer (RFC 7798): single NAL unit packets, aggregation packets,
// fragmentation units, with and without decoding order numbers. The first byte chooses the
// reader's buffer size, the second the sprop-max-don-diff (0 to 7: half the inputs without
// DONL/DOND); the rest is a sequence of packets, each preceded by its 16-bit length.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DrainingSink.h"
#include "H265RTPSource.h"
#include "UsageEnvironment.h"

using namespace kx::media;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TaskScheduler scheduler;
    static UsageEnvironment env(scheduler);
    if (size < 3) return 0;
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    const size_t bufferSize = 1 + size_t(*p++) * 64;  // 1 .. 16321 bytes
    const unsigned maxDonDiff = *p++ % 8;
    H265RTPSource* source = H265RTPSource::createNew(env, 96, 90000, maxDonDiff);
    source->setPacketReorderingThresholdTime(0);
    // Every NAL unit handed on has its two-byte header.
    auto* sink = new kx::fuzz::DrainingSink(env, bufferSize, 2);
    sink->startPlaying(*source, nullptr, nullptr);
    while (end - p >= 2) {
        const size_t length = size_t(p[0]) << 8 | p[1];
        p += 2;
        const size_t n = length < size_t(end - p) ? length : size_t(end - p);
        const std::vector<uint8_t> packet(p, p + n);  // exactly n bytes, for the address checks
        source->handlePacket(packet.data(), packet.size());
        p += n;
    }
    Medium::close(sink);
    Medium::close(source);
    return 0;
}
