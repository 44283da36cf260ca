// H264RTPSource: RTP payload format for H.264 (RFC 6184, packetization modes 0 and 1). Each
// frame is one NAL unit without start code: single NAL unit packets as they are, STAP-A
// split into its NAL units, FU-A fragments joined. A NAL unit some of whose fragments were
// lost is dropped, never delivered damaged.
#pragma once

#include "MultiFramedRTPSource.h"

namespace kx::media {

class H264RTPSource : public MultiFramedRTPSource {
public:
    static H264RTPSource* createNew(UsageEnvironment& env, unsigned char payloadFormat,
                                    unsigned clockRate = 90000);

protected:
    H264RTPSource(UsageEnvironment& env, unsigned char payloadFormat, unsigned clockRate)
        : MultiFramedRTPSource(env, payloadFormat, clockRate) {}

    void processPayload(const RtpHeader& header, bool lossBefore) override;
    void resetDepacketizer() override;

private:
    bool m_inFragment = false;  // an FU-A NAL unit is being joined
    uint32_t m_fragmentTimestamp = 0;
};

// One parameter set of an SDP "sprop-parameter-sets" value, decoded from Base64.
class SPropRecord {
public:
    ~SPropRecord() { delete[] sPropBytes; }
    unsigned sPropLength = 0;
    unsigned char* sPropBytes = nullptr;
};

// Splits "sprop-parameter-sets" at its commas and decodes each record. Returns an array
// allocated with new[] (free with delete[]), or null with numSPropRecords 0 when the text is
// null or empty. Records that are not valid Base64 come back with length 0.
SPropRecord* parseSPropParameterSets(const char* sPropParameterSetsStr, unsigned& numSPropRecords);

}  // namespace kx::media
