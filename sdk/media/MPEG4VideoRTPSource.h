// MPEG4VideoRTPSource: RTP payload format for MPEG-4 part 2 video (RFC 3016, "MP4V-ES").
// The payloads of one frame are joined up to the packet with the marker bit (or up to a
// change of timestamp when a marker was lost). A frame with lost packets is dropped.
#pragma once

#include "MultiFramedRTPSource.h"

namespace kx::media {

class MPEG4VideoRTPSource : public MultiFramedRTPSource {
public:
    static MPEG4VideoRTPSource* createNew(UsageEnvironment& env, unsigned char payloadFormat,
                                          unsigned clockRate = 90000);

protected:
    MPEG4VideoRTPSource(UsageEnvironment& env, unsigned char payloadFormat, unsigned clockRate)
        : MultiFramedRTPSource(env, payloadFormat, clockRate) {}

    void processPayload(const RtpHeader& header, bool lossBefore) override;
    void resetDepacketizer() override;

private:
    uint32_t m_frameTimestamp = 0;
    bool m_skipping = false;  // rest of a damaged frame
    uint32_t m_skipTimestamp = 0;
};

}  // namespace kx::media
