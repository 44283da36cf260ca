// FakeFrameSource: a frame source that hands prepared frames to the sink reading it, one per
// read, from the scheduler's loop (as a network source does), then closes.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <vector>

#include "FramedSource.h"
#include "UsageEnvironment.h"

namespace kx::sdk::testing {

struct FakeFrame {
    std::vector<uint8_t> bytes;
    timeval pts{0, 0};
};

class FakeFrameSource : public kx::media::FramedSource {
public:
    static FakeFrameSource* createNew(kx::media::UsageEnvironment& env,
                                      std::vector<FakeFrame> frames) {
        return new FakeFrameSource(env, std::move(frames));
    }
    size_t delivered() const { return m_next; }

protected:
    FakeFrameSource(kx::media::UsageEnvironment& env, std::vector<FakeFrame> frames)
        : FramedSource(env), m_frames(std::move(frames)) {}
    ~FakeFrameSource() override;

    void doGetNextFrame() override;
    void doStopGettingFrames() override;

private:
    static void deliver(void* self);

    std::vector<FakeFrame> m_frames;
    size_t m_next = 0;
    kx::media::TaskToken m_task = nullptr;
};

}  // namespace kx::sdk::testing
