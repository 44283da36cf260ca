// SinkHarness: a session that is not started, whose sinks are driven by FakeFrameSource on
// the session's own scheduler (run on the test thread), with every data callback recorded.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "CLiveClient.h"
#include "FakeFrameSource.h"
#include "MediaSink.h"

namespace kx::sdk::testing {

struct Delivered {
    int32_t handle = 0;
    uint32_t dataType = 0;
    std::vector<uint8_t> bytes;
    void* user = nullptr;
};

class SinkHarness {
public:
    static constexpr int32_t kRealHandle = 1000042;

    SinkHarness();
    ~SinkHarness();

    CLiveClient& client() { return *m_client; }
    kx::media::UsageEnvironment& env() { return m_client->Env(); }

    void setCallback() { m_client->SetRealDataCallBack(&SinkHarness::capture, this); }
    void clearCallback() { m_client->SetRealDataCallBack(nullptr, nullptr); }

    // Reads every frame through the sink until the source closes.
    void play(kx::media::MediaSink* sink, std::vector<FakeFrame> frames);

    std::vector<Delivered> delivered;
    int afterPlayingCalls = 0;

private:
    static void capture(int32_t handle, uint32_t dataType, uint8_t* buffer, uint32_t size,
                        void* user);
    static void afterPlaying(void* self);

    std::unique_ptr<CLiveClient> m_client;
    std::atomic<char> m_watch{0};
};

// Little-endian helpers and the expected inner part of a packaged frame.
void putLe32(std::vector<uint8_t>& out, uint32_t v);
void putLe16(std::vector<uint8_t>& out, uint16_t v);
uint32_t getLe32(const uint8_t* p);
std::vector<uint8_t> expectedVideoInner(uint32_t sec, uint32_t usec, uint16_t dataType,
                                        uint16_t frameType, bool addStartCode,
                                        const std::vector<uint8_t>& frame);
std::vector<uint8_t> expectedAudioInner(uint32_t sec, uint32_t usec, uint16_t dataType,
                                        uint32_t channels, uint32_t sampleRate,
                                        const std::vector<uint8_t>& frame);
FakeFrame makeFrame(std::vector<uint8_t> bytes, time_t sec, suseconds_t usec);

// Deletes a medium through Medium::close.
template <class T>
void closeMedium(T* medium) {
    kx::media::Medium::close(medium);
}

}  // namespace kx::sdk::testing
