#include "SimpleRTPSource.h"

namespace kx::media {

SimpleRTPSource* SimpleRTPSource::createNew(UsageEnvironment& env, unsigned char payloadFormat,
                                            unsigned clockRate) {
    return new SimpleRTPSource(env, payloadFormat, clockRate);
}

void SimpleRTPSource::processPayload(const RtpHeader& header, bool) {
    if (header.payloadSize == 0) return;
    emitFrame(header.payload, header.payloadSize, presentationTimeOf(header.timestamp));
}

}  // namespace kx::media
