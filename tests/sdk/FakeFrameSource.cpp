#include "FakeFrameSource.h"

#include <algorithm>
#include <cstring>

namespace kx::sdk::testing {

FakeFrameSource::~FakeFrameSource() {
    envir().taskScheduler().unscheduleDelayedTask(m_task);
}

void FakeFrameSource::doGetNextFrame() {
    m_task = envir().taskScheduler().scheduleDelayedTask(0, &FakeFrameSource::deliver, this);
}

void FakeFrameSource::doStopGettingFrames() {
    envir().taskScheduler().unscheduleDelayedTask(m_task);
}

void FakeFrameSource::deliver(void* p) {
    auto* self = static_cast<FakeFrameSource*>(p);
    self->m_task = nullptr;
    if (self->m_next == self->m_frames.size()) {
        self->handleClosure();
        return;
    }
    const FakeFrame& frame = self->m_frames[self->m_next++];
    const size_t n = std::min<size_t>(frame.bytes.size(), self->fMaxSize);
    if (n > 0) std::memcpy(self->fTo, frame.bytes.data(), n);
    self->fFrameSize = static_cast<unsigned>(n);
    self->fNumTruncatedBytes = static_cast<unsigned>(frame.bytes.size() - n);
    self->fPresentationTime = frame.pts;
    self->afterGetting();
}

}  // namespace kx::sdk::testing
