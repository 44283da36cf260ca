// MultiFramedRTPSource: the common part of every RTP source of this layer. Takes RTP packets
// (from its UDP socket or handed in from the RTSP connection's interleaved channel), keeps
// reception statistics for RTCP, reorders them, lets the subclass depacketize each one into
// frames, and hands the frames to the reader one per read.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "FrameQueue.h"
#include "LoopTimer.h"
#include "PresentationClock.h"
#include "RTPSource.h"
#include "ReorderBuffer.h"
#include "RtpHeader.h"
#include "RtpReceptionStats.h"

namespace kx::media {

class UdpSocket;

class MultiFramedRTPSource : public RTPSource, private ReorderBuffer::Consumer {
public:
    void setPacketReorderingThresholdTime(unsigned microseconds) override;
    unsigned getReceiveBufferSize() const override;
    unsigned setReceiveBufferTo(unsigned requestedSize) override;

    // Reads RTP from this socket (not owned; it must outlive the source or be detached).
    void attachSocket(UdpSocket* socket);
    void detachSocket();

    // Packets come through one TCP connection from now on: they cannot overtake each other,
    // so a gap is lost for good and nothing waits for it (the reordering threshold is 0 and
    // later thresholds are ignored).
    void setInOrderTransport();
    // How long a gap is waited for (microseconds).
    int64_t reorderingThresholdTime() const { return m_reorder.thresholdTime(); }

    // One RTP packet as received (from a socket or an interleaved frame).
    void handlePacket(const uint8_t* data, size_t size);

    // The first packet of a new PLAY range carries this sequence number (RTP-Info).
    void expectSequenceNumber(uint16_t seq);
    // A PLAY of a new range was sent / its reply came (see ReorderBuffer::beginRangeChange):
    // no packet of the old range is handed on after the new range's first.
    void beginRangeChange();
    void endRangeChange(bool accepted);

    // The sender's SSRC as the server announced it. Without this the first packet's SSRC is
    // taken. Packets of any other SSRC are dropped (and counted). A server that announces one
    // SSRC and sends another: when none of the announced one has come and kAdoptAfter packets
    // in a row carry the same other SSRC (they passed the sender check), that one is taken.
    void expectSsrc(uint32_t ssrc);
    uint64_t foreignSsrcDropped() const { return m_foreignSsrc; }
    static constexpr unsigned kAdoptAfter = 64;
    // Datagrams the socket dropped because of their sender (0 over TCP).
    uint64_t foreignSenderDropped() const;

    // RTCP sender report of the sending SSRC.
    void onSenderReport(uint32_t ssrc, uint32_t ntpSeconds, uint32_t ntpFraction,
                        uint32_t rtpTimestamp);

    RtpReceptionStats& receptionStats() { return m_stats; }
    unsigned clockRate() const { return m_clock.rate(); }
    uint64_t framesDropped() const { return m_frames.droppedFrames(); }

protected:
    // payloadType: only packets of this type are taken (-1: any).
    MultiFramedRTPSource(UsageEnvironment& env, int payloadType, unsigned clockRate);
    ~MultiFramedRTPSource() override;

    void doGetNextFrame() override;
    void doStopGettingFrames() override;

    // Subclass: one packet's payload, in sequence order. lossBefore: packets before it were
    // lost. Produce frames with the frame helpers below.
    virtual void processPayload(const RtpHeader& header, bool lossBefore) = 0;
    // Subclass: forget any partly assembled frame (the stream restarted).
    virtual void resetDepacketizer() {}

    struct timeval presentationTimeOf(uint32_t rtpTimestamp) {
        return m_clock.toWallClock(rtpTimestamp);
    }
    FrameQueue& frames() { return m_frames; }
    void emitFrame(const uint8_t* data, size_t size, struct timeval pts);

private:
    void onOrderedPacket(const uint8_t* packet, size_t size, bool lossBefore) override;
    void deliverFrames();
    // A packet of another SSRC than the announced one: true when it is taken from now on.
    bool adoptInsteadOfAnnounced(uint32_t ssrc);
    void armReorderTimer();
    void readSocket();
    static void onSocketReadable(void* clientData);
    static void onDeliverTimer(void* clientData);
    static void onReorderTimer(void* clientData);

    int m_payloadType;
    PresentationClock m_clock;
    RtpReceptionStats m_stats;
    ReorderBuffer m_reorder;
    FrameQueue m_frames;
    LoopTimer m_deliverTimer;
    LoopTimer m_reorderTimer;
    UdpSocket* m_socket = nullptr;
    std::vector<uint8_t> m_receiveBuffer;
    bool m_haveSsrc = false;
    uint32_t m_ssrc = 0;
    uint64_t m_foreignSsrc = 0;
    bool m_announcedUnseen = false;  // expectSsrc named one that no packet carried yet
    uint32_t m_candidateSsrc = 0;
    unsigned m_candidatePackets = 0;
    uint64_t m_foreignSenderTotal = 0;  // of sockets detached before
    bool m_reportedSsrc = false;
    bool m_reportedSender = false;
    uint32_t m_lastTimestamp = 0;
    bool m_delivering = false;
    bool m_inOrderTransport = false;
    bool* m_destroyed = nullptr;
};

}  // namespace kx::media
