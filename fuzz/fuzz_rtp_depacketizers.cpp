// The RTP depacketizers: H.264 (RFC 6184), MPEG-4 video (RFC 3016), MPEG-4 generic / AAC
// (RFC 3640, with a layout taken from the input) and the simple source. The first bytes
// choose the source, the reader's buffer size and the layout; the rest is a sequence of
// packets, each preceded by its 16-bit length.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DrainingSink.h"
#include "H264RTPSource.h"
#include "MPEG4GenericRTPSource.h"
#include "MPEG4VideoRTPSource.h"
#include "SimpleRTPSource.h"
#include "UsageEnvironment.h"

using namespace kx::media;

namespace {

MultiFramedRTPSource* makeSource(UsageEnvironment& env, const uint8_t*& p, const uint8_t* end) {
    const uint8_t kind = *p++;
    switch (kind % 4) {
        case 0:
            return H264RTPSource::createNew(env, 96);
        case 1:
            return MPEG4VideoRTPSource::createNew(env, 96);
        case 2: {
            AuHeaderLayout layout;
            if (end - p >= 6) {
                layout.sizeLength = p[0] % 33;
                layout.indexLength = p[1] % 17;
                layout.indexDeltaLength = p[2] % 17;
                layout.ctsDeltaLength = p[3] % 17;
                layout.dtsDeltaLength = p[4] % 17;
                layout.randomAccessIndication = p[5] & 1;
                layout.streamStateIndication = (p[5] >> 1) % 9;
                layout.auxiliaryDataSizeLength = (p[5] >> 4) % 17;
                layout.constantSize = (p[5] & 0x80) ? 100 : 0;
                p += 6;
            }
            return MPEG4GenericRTPSource::createNew(env, 96, 16000, layout);
        }
        default:
            return SimpleRTPSource::createNew(env, 0, 8000);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TaskScheduler scheduler;
    static UsageEnvironment env(scheduler);
    if (size < 2) return 0;
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    const size_t bufferSize = 1 + size_t(*p++) * 64;  // 1 .. 16321 bytes
    MultiFramedRTPSource* source = makeSource(env, p, end);
    if (source == nullptr) return 0;
    source->setPacketReorderingThresholdTime(0);
    auto* sink = new kx::fuzz::DrainingSink(env, bufferSize);
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
