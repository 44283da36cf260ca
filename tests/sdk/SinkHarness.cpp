#include "SinkHarness.h"

namespace kx::sdk::testing {

SinkHarness::SinkHarness() : m_client(std::make_unique<CLiveClient>(1000)) {
    m_client->SetRealHandle(kRealHandle);
}

SinkHarness::~SinkHarness() = default;

void SinkHarness::play(kx::media::MediaSink* sink, std::vector<FakeFrame> frames) {
    FakeFrameSource* source = FakeFrameSource::createNew(env(), std::move(frames));
    m_watch = 0;
    if (sink->startPlaying(*source, &SinkHarness::afterPlaying, this)) {
        env().taskScheduler().doEventLoop(&m_watch);
    }
    sink->stopPlaying();
    closeMedium(source);
}

void SinkHarness::capture(int32_t handle, uint32_t dataType, uint8_t* buffer, uint32_t size,
                          void* user) {
    auto* self = static_cast<SinkHarness*>(user);
    self->delivered.push_back(
        {handle, dataType, std::vector<uint8_t>(buffer, buffer + size), user});
}

void SinkHarness::afterPlaying(void* p) {
    auto* self = static_cast<SinkHarness*>(p);
    ++self->afterPlayingCalls;
    self->m_watch = 1;
}

void putLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

uint32_t getLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::vector<uint8_t> expectedVideoInner(uint32_t sec, uint32_t usec, uint16_t dataType,
                                        uint16_t frameType, bool addStartCode,
                                        const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> out;
    putLe32(out, sec);
    putLe32(out, usec);
    putLe16(out, dataType);
    putLe16(out, frameType);
    if (addStartCode) out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

std::vector<uint8_t> expectedAudioInner(uint32_t sec, uint32_t usec, uint16_t dataType,
                                        uint32_t channels, uint32_t sampleRate,
                                        const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> out;
    putLe32(out, sec);
    putLe32(out, usec);
    putLe16(out, dataType);
    putLe16(out, 0);
    putLe32(out, channels);
    putLe32(out, sampleRate);
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

FakeFrame makeFrame(std::vector<uint8_t> bytes, time_t sec, suseconds_t usec) {
    FakeFrame f;
    f.bytes = std::move(bytes);
    f.pts.tv_sec = sec;
    f.pts.tv_usec = usec;
    return f;
}

}  // namespace kx::sdk::testing
