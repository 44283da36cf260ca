// A sink that reads every frame of its source into a buffer of a given size and forgets it;
// it traps when a source reports more bytes than the buffer holds, or a whole frame (read and
// truncated bytes) shorter than minWholeFrame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "MediaSink.h"

namespace kx::fuzz {

class DrainingSink : public kx::media::MediaSink {
public:
    DrainingSink(kx::media::UsageEnvironment& env, size_t bufferSize, size_t minWholeFrame = 0)
        : MediaSink(env), m_buffer(bufferSize), m_minWholeFrame(minWholeFrame) {}
    size_t frames = 0;

protected:
    bool continuePlaying() override {
        if (fSource == nullptr) return false;
        fSource->getNextFrame(m_buffer.data(), static_cast<unsigned>(m_buffer.size()),
                              &afterGetting, this, &onSourceClosure, this);
        return true;
    }

private:
    static void afterGetting(void* clientData, unsigned frameSize, unsigned truncated,
                             struct timeval, unsigned) {
        auto* self = static_cast<DrainingSink*>(clientData);
        if (frameSize > self->m_buffer.size()) __builtin_trap();  // wrote past the buffer
        if (size_t(frameSize) + truncated < self->m_minWholeFrame) __builtin_trap();
        ++self->frames;
        self->continuePlaying();
    }
    std::vector<uint8_t> m_buffer;
    size_t m_minWholeFrame;
};

}  // namespace kx::fuzz
