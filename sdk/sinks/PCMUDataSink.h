// PCMUDataSink: G.711 audio, mu-law (PCMU) or A-law (PCMA) by its data type.
#pragma once

#include "AudioDataSink.h"

namespace kx::sdk {

class PCMUDataSink : public AudioDataSink {
public:
    static PCMUDataSink* createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                                   uint16_t dataType);

protected:
    PCMUDataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient, uint16_t dataType)
        : AudioDataSink(env, liveClient, dataType) {}
};

}  // namespace kx::sdk
