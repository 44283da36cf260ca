// PrivateDataSink: the private video payload, handed to the data callback unchanged (one RTP
// payload per call); never packaged, recorded or timed.
#pragma once

#include "DataSink.h"

namespace kx::sdk {

class PrivateDataSink : public DataSink {
public:
    static PrivateDataSink* createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient);

protected:
    PrivateDataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient)
        : DataSink(env, liveClient) {}
    void afterGettingFrame1(unsigned frameSize, int64_t seconds, int64_t microseconds) override;
};

}  // namespace kx::sdk
