// AACDataSink: AAC audio (MPEG4-GENERIC), one access unit per frame.
#pragma once

#include "AudioDataSink.h"

namespace kx::sdk {

class AACDataSink : public AudioDataSink {
public:
    static AACDataSink* createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient);

protected:
    AACDataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient)
        : AudioDataSink(env, liveClient, KX_DATA_AAC) {}
};

}  // namespace kx::sdk
