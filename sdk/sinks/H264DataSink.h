// H264DataSink: H.264 video, one NAL unit per frame. Puts the parameter sets of the session
// description in front once, classifies every NAL unit and advances the play position.
#pragma once

#include "DataSink.h"

namespace kx::sdk {

class H264DataSink : public DataSink {
public:
    // sprop: the subsession's "sprop-parameter-sets" text, which must outlive the sink.
    static H264DataSink* createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                                   const char* sprop);

    // Frame type of a NAL unit of n bytes and whether it carries its own start code.
    static uint16_t ClassifyFrame(const uint8_t* frame, unsigned n, bool& hasStartCode);

protected:
    H264DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient, const char* sprop);
    void afterGettingFrame1(unsigned frameSize, int64_t seconds, int64_t microseconds) override;

private:
    void SendParameterSets(uint32_t seconds, uint32_t microseconds);

    const char* m_szSPropParameterSets;  // not owned
    int32_t m_bSPropSent = 0;
};

}  // namespace kx::sdk
