// G7221DataSink: G.722.1 audio, one RTP payload per frame.
#pragma once

#include "AudioDataSink.h"

namespace kx::sdk {

class G7221DataSink : public AudioDataSink {
public:
    static G7221DataSink* createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient);

protected:
    G7221DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient)
        : AudioDataSink(env, liveClient, KX_DATA_G7221) {}
};

}  // namespace kx::sdk
