// DataSink: what the six media sinks share. A sink pulls frames from its subsession's source
// into a receive buffer of its own (4 MiB, a longer frame arrives cut to that size) and hands
// each to its frame handler, then asks for the next one. Session thread only.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <memory>

#include "MediaSink.h"

namespace kx::sdk {

class CLiveClient;

class DataSink : public kx::media::MediaSink {
public:
    static constexpr uint32_t kBufferSize = 4194304;

protected:
    DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient);
    ~DataSink() override;  // stops reading before the buffer goes

    // Asks the source for the next frame; false without a source.
    bool continuePlaying() override;
    // The class's own work for one frame of n bytes in m_pBuffer.
    virtual void afterGettingFrame1(unsigned frameSize, int64_t seconds, int64_t microseconds) = 0;

    // Closes a sink whose buffer could not be allocated; returns the sink or null.
    template <class Sink>
    static Sink* CheckCreated(Sink* sink) {
        if (sink != nullptr && !sink->m_pBuffer) {
            Close(sink);
            return nullptr;
        }
        return sink;
    }

    CLiveClient* m_pLiveClient;  // not owned
    uint32_t m_nBufferSize = kBufferSize;
    std::unique_ptr<uint8_t[]> m_pBuffer;

private:
    static void Close(DataSink* sink);
    static void afterGettingFrame(void* clientData, unsigned frameSize, unsigned numTruncatedBytes,
                                  struct timeval presentationTime, unsigned durationInMicroseconds);
};

}  // namespace kx::sdk
