// H264DataSink: H.264 video, one NAL unit per frame. Puts the parameter sets of the session
// description in front once, classifies every NAL unit and advances the play position. Keeps
// the latest SPS and PPS (from the session description or the stream, whichever came last)
// for recordings, which start with them in front of an IDR slice.
#pragma once

#include "DataSink.h"
#include "StreamStartConfig.h"

namespace kx::sdk {

class H264DataSink : public DataSink {
public:
    // sprop: the subsession's "sprop-parameter-sets" text, which must outlive the sink.
    static H264DataSink* createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                                   const char* sprop);

    // Frame type of a NAL unit of n bytes and whether it carries its own start code.
    static uint16_t ClassifyFrame(const uint8_t* frame, unsigned n, bool& hasStartCode);

    const StreamStartConfig& StartConfig() const { return m_startConfig; }

protected:
    H264DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient, const char* sprop);
    void afterGettingFrame1(unsigned frameSize, int64_t seconds, int64_t microseconds) override;

private:
    void SendParameterSets(uint32_t seconds, uint32_t microseconds);
    // Keeps an SPS or PPS (frame type 3 or 4) given without its start code; NAL units behind
    // it in the same frame are not kept.
    void KeepParameterSet(uint16_t frameType, const uint8_t* nal, size_t size);

    const char* m_szSPropParameterSets;  // not owned
    int32_t m_bSPropSent = 0;
    StreamStartConfig m_startConfig;  // slot 0 SPS, slot 1 PPS
};

}  // namespace kx::sdk
