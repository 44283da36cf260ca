#include "MPEG4VideoRTPSource.h"

namespace kx::media {

MPEG4VideoRTPSource* MPEG4VideoRTPSource::createNew(UsageEnvironment& env,
                                                    unsigned char payloadFormat,
                                                    unsigned clockRate) {
    return new MPEG4VideoRTPSource(env, payloadFormat, clockRate);
}

void MPEG4VideoRTPSource::resetDepacketizer() {
    frames().abort();
    m_skipping = false;
}

void MPEG4VideoRTPSource::processPayload(const RtpHeader& header, bool lossBefore) {
    FrameQueue& q = frames();
    if (q.isOpen() && header.timestamp != m_frameTimestamp) {
        // The marker packet of the open frame was lost, or the sender sets none.
        if (lossBefore) {
            q.abort();
        } else {
            q.commit(presentationTimeOf(m_frameTimestamp));
        }
    }
    if (lossBefore) {
        if (q.isOpen()) q.abort();
        // Whatever of this timestamp follows belongs to a damaged frame.
        m_skipping = true;
        m_skipTimestamp = header.timestamp;
        // A packet that starts a new frame (new timestamp) after the loss is whole enough
        // only if it is the frame's first packet, which cannot be known: skip to the next.
    }
    if (m_skipping) {
        if (header.timestamp == m_skipTimestamp) return;
        m_skipping = false;
    }
    if (!q.isOpen()) {
        q.begin();
        m_frameTimestamp = header.timestamp;
    }
    if (header.payloadSize > 0 && !q.append(header.payload, header.payloadSize)) return;
    if (header.marker) {
        if (q.openSize() > 0) {
            q.commit(presentationTimeOf(m_frameTimestamp));
        } else {
            q.abort();
        }
    }
}

}  // namespace kx::media
