// CollectingSink: a MediaSink that keeps every frame it reads (bytes, truncation, time).
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "MediaSink.h"

namespace kx::media::test {

class CollectingSink : public MediaSink {
public:
    struct Frame {
        std::vector<uint8_t> bytes;
        unsigned truncated = 0;
        struct timeval pts = {0, 0};
    };

    static CollectingSink* createNew(UsageEnvironment& env, unsigned bufferSize = 1 << 20) {
        return new CollectingSink(env, bufferSize);
    }

    std::vector<Frame> frames;
    std::function<void(CollectingSink&)> onFrame;  // after each frame was stored
    bool closed = false;

protected:
    CollectingSink(UsageEnvironment& env, unsigned bufferSize)
        : MediaSink(env), m_buffer(bufferSize) {}

    bool continuePlaying() override {
        if (fSource == nullptr) return false;
        fSource->getNextFrame(m_buffer.data(), static_cast<unsigned>(m_buffer.size()),
                              &afterGettingFrame, this, &onClosure, this);
        return true;
    }

private:
    static void afterGettingFrame(void* clientData, unsigned frameSize, unsigned truncated,
                                  struct timeval pts, unsigned) {
        auto* self = static_cast<CollectingSink*>(clientData);
        Frame f;
        f.bytes.assign(self->m_buffer.begin(), self->m_buffer.begin() + frameSize);
        f.truncated = truncated;
        f.pts = pts;
        self->frames.push_back(std::move(f));
        if (self->onFrame) self->onFrame(*self);
        // onFrame may have stopped the sink.
        if (self->fSource != nullptr) self->continuePlaying();
    }
    static void onClosure(void* clientData) {
        auto* self = static_cast<CollectingSink*>(clientData);
        self->closed = true;
        onSourceClosure(clientData);
    }

    std::vector<uint8_t> m_buffer;
};

}  // namespace kx::media::test
