// RTPSource: a FramedSource fed by RTP packets of one subsession, from its UDP socket or from
// the RTSP connection's interleaved channel. Reorders packets within a threshold time and
// depacketizes them into frames:
//   H264           one NAL unit per frame, without start code (single NAL, STAP-A, FU-A)
//   MP4V-ES        one MPEG-4 video frame per frame (packets up to the RTP marker)
//   MPEG4-GENERIC  one AAC access unit per frame (RFC 3640 AU headers)
//   PCMU, PCMA, G7221, PRIVATE and other simple formats: the RTP payload unchanged
// Presentation times are in wall-clock form: derived from the RTP timestamp and the clock
// rate, anchored to the local clock at the first packet and to RTCP sender reports once one
// arrives.
#pragma once

#include "FramedSource.h"

namespace kx::media {

class RTPSource : public FramedSource {
public:
    // Packets missing for longer than this (microseconds) are given up.
    virtual void setPacketReorderingThresholdTime(unsigned microseconds) = 0;

    // The RTP socket's receive buffer size in bytes (0 over TCP interleaving).
    virtual unsigned getReceiveBufferSize() const = 0;
    // Asks for a receive buffer of the given size; returns the size the system granted.
    virtual unsigned setReceiveBufferTo(unsigned requestedSize) = 0;

protected:
    explicit RTPSource(UsageEnvironment& env) : FramedSource(env) {}
};

}  // namespace kx::media
