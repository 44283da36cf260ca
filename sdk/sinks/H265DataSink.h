// H265DataSink: H.265 video, one NAL unit per frame. Puts the parameter sets of the session
// description (sprop-vps, sprop-sps, sprop-pps) in front once, classifies every NAL unit,
// drops what cannot be a NAL unit, and advances the play position. Keeps the latest VPS, SPS
// and PPS (from the session description or the stream, whichever came last) for recordings,
// which start with them in front of an IRAP picture.
#pragma once

#include <cstdint>
#include <vector>

#include "DataSink.h"
#include "StreamStartConfig.h"

namespace kx::sdk {

class H265DataSink : public DataSink {
public:
    // The three texts are the subsession's fmtp values, which must outlive the sink (null or
    // empty when the description has none).
    static H265DataSink* createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                                   const char* spropVps, const char* spropSps,
                                   const char* spropPps);

    // Decodes one comma-separated list of Base64 parameter sets and keeps the records that
    // are NAL units of the given type. False when any record had to be left out.
    static bool DecodeParameterSets(const char* text, int nalType,
                                    std::vector<std::vector<uint8_t>>& out);

    const StreamStartConfig& StartConfig() const { return m_startConfig; }

protected:
    H265DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient, const char* spropVps,
                 const char* spropSps, const char* spropPps);
    void afterGettingFrame1(unsigned frameSize, int64_t seconds, int64_t microseconds) override;

private:
    void SendParameterSets(uint32_t seconds, uint32_t microseconds);
    void ReportSourceDamage();
    // Keeps a VPS, SPS or PPS (frame type 5, 3 or 4) given without its start code.
    void KeepParameterSet(uint16_t frameType, const uint8_t* nal, size_t size);

    const char* m_szSPropVps;  // not owned
    const char* m_szSPropSps;  // not owned
    const char* m_szSPropPps;  // not owned
    int32_t m_bSPropSent = 0;
    uint64_t m_nDamageSeen = 0;
    StreamStartConfig m_startConfig;  // slot 0 VPS, slot 1 SPS, slot 2 PPS
};

}  // namespace kx::sdk
