// SimpleRTPSource: hands every RTP payload on unchanged as one frame (G.711, G.722.1, the
// private payload and any format without a depacketizer of its own).
#pragma once

#include "MultiFramedRTPSource.h"

namespace kx::media {

class SimpleRTPSource : public MultiFramedRTPSource {
public:
    static SimpleRTPSource* createNew(UsageEnvironment& env, unsigned char payloadFormat,
                                      unsigned clockRate);

protected:
    SimpleRTPSource(UsageEnvironment& env, unsigned char payloadFormat, unsigned clockRate)
        : MultiFramedRTPSource(env, payloadFormat, clockRate) {}

    void processPayload(const RtpHeader& header, bool lossBefore) override;
};

}  // namespace kx::media
