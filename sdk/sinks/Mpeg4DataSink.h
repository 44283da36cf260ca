// Mpeg4DataSink: MPEG-4 part 2 video; every frame is packaged with a start code in front and
// frame type 0.
#pragma once

#include "DataSink.h"

namespace kx::sdk {

class Mpeg4DataSink : public DataSink {
public:
    static Mpeg4DataSink* createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient);

protected:
    Mpeg4DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient)
        : DataSink(env, liveClient) {}
    void afterGettingFrame1(unsigned frameSize, int64_t seconds, int64_t microseconds) override;
};

}  // namespace kx::sdk
