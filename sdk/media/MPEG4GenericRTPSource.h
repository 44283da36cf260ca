// MPEG4GenericRTPSource: RTP payload format for MPEG-4 elementary streams (RFC 3640,
// "MPEG4-GENERIC"), as used for AAC in the modes AAC-hbr and AAC-lbr. Each frame is one
// access unit. The AU header layout comes from the SDP fmtp parameters (sizelength,
// indexlength, indexdeltalength, ctsdeltalength, dtsdeltalength, randomaccessindication,
// streamstateindication, auxiliarydatasizelength, constantsize, constantduration).
// Access units fragmented over several packets are joined; damaged ones are dropped.
#pragma once

#include <string>

#include "MultiFramedRTPSource.h"

namespace kx::media {

struct AuHeaderLayout {
    unsigned sizeLength = 0;
    unsigned indexLength = 0;
    unsigned indexDeltaLength = 0;
    unsigned ctsDeltaLength = 0;
    unsigned dtsDeltaLength = 0;
    bool randomAccessIndication = false;
    unsigned streamStateIndication = 0;
    unsigned auxiliaryDataSizeLength = 0;
    unsigned constantSize = 0;
    unsigned constantDuration = 0;  // RTP clock units per AU (0: 1024, the AAC frame)
};

class MPEG4GenericRTPSource : public MultiFramedRTPSource {
public:
    static MPEG4GenericRTPSource* createNew(UsageEnvironment& env, unsigned char payloadFormat,
                                            unsigned clockRate, const AuHeaderLayout& layout);

protected:
    MPEG4GenericRTPSource(UsageEnvironment& env, unsigned char payloadFormat, unsigned clockRate,
                          const AuHeaderLayout& layout)
        : MultiFramedRTPSource(env, payloadFormat, clockRate), m_layout(layout) {}

    void processPayload(const RtpHeader& header, bool lossBefore) override;
    void resetDepacketizer() override;

private:
    AuHeaderLayout m_layout;
    bool m_inFragment = false;
    uint32_t m_fragmentTimestamp = 0;
    size_t m_fragmentTotal = 0;
};

}  // namespace kx::media
