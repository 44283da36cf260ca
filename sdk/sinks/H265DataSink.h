// H265DataSink: H.265 video, one NAL unit per frame. Puts the parameter sets of the session
// description (sprop-vps, sprop-sps, sprop-pps) in front once, classifies every NAL unit,
// drops what cannot be a NAL unit, and advances the play position.
#pragma once

#include <cstdint>
#include <vector>

#include "DataSink.h"

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

protected:
    H265DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient, const char* spropVps,
                 const char* spropSps, const char* spropPps);
    void afterGettingFrame1(unsigned frameSize, int64_t seconds, int64_t microseconds) override;

private:
    void SendParameterSets(uint32_t seconds, uint32_t microseconds);
    void ReportSourceDamage();

    const char* m_szSPropVps;  // not owned
    const char* m_szSPropSps;  // not owned
    const char* m_szSPropPps;  // not owned
    int32_t m_bSPropSent = 0;
    uint64_t m_nDamageSeen = 0;
};

}  // namespace kx::sdk
