#include "MultiFramedRTPSource.h"

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "UdpSocket.h"
#include "UsageEnvironment.h"

namespace kx::media {

namespace {
constexpr size_t kMaxDatagram = 65536;
constexpr int kMaxReadsPerWakeup = 64;  // let other sources of the loop run in between
}  // namespace

MultiFramedRTPSource::MultiFramedRTPSource(UsageEnvironment& env, int payloadType,
                                           unsigned clockRate)
    : RTPSource(env),
      m_payloadType(payloadType),
      m_reorder(*this),
      m_deliverTimer(env.taskScheduler().context(), &onDeliverTimer, this),
      m_reorderTimer(env.taskScheduler().context(), &onReorderTimer, this) {
    m_clock.setRate(clockRate);
}

MultiFramedRTPSource::~MultiFramedRTPSource() {
    if (m_destroyed != nullptr) *m_destroyed = true;
    detachSocket();
}

void MultiFramedRTPSource::setPacketReorderingThresholdTime(unsigned microseconds) {
    if (!m_inOrderTransport) m_reorder.setThresholdTime(microseconds);
}

void MultiFramedRTPSource::setInOrderTransport() {
    m_inOrderTransport = true;
    m_reorder.setThresholdTime(0);
    // Whatever waited for a gap is handed on now.
    m_reorder.flushExpired(g_get_monotonic_time());
    armReorderTimer();
    if (!m_frames.empty() && isCurrentlyAwaitingData()) m_deliverTimer.armIn(0);
}

unsigned MultiFramedRTPSource::getReceiveBufferSize() const {
    return m_socket ? m_socket->receiveBufferSize() : 0;
}

unsigned MultiFramedRTPSource::setReceiveBufferTo(unsigned requestedSize) {
    return m_socket ? m_socket->setReceiveBufferTo(requestedSize) : 0;
}

void MultiFramedRTPSource::attachSocket(UdpSocket* socket) {
    detachSocket();
    m_socket = socket;
    if (m_socket == nullptr) return;
    m_receiveBuffer.resize(kMaxDatagram);
    m_socket->watch(envir().taskScheduler().context(), &onSocketReadable, this);
}

void MultiFramedRTPSource::detachSocket() {
    if (m_socket != nullptr) {
        m_socket->unwatch();
        m_foreignSenderTotal += m_socket->foreignDropped();
    }
    m_socket = nullptr;
}

uint64_t MultiFramedRTPSource::foreignSenderDropped() const {
    return m_foreignSenderTotal + (m_socket ? m_socket->foreignDropped() : 0);
}

void MultiFramedRTPSource::expectSsrc(uint32_t ssrc) {
    if (m_haveSsrc && ssrc == m_ssrc) return;
    if (m_haveSsrc) {
        // Packets taken so far came from another sender: forget them.
        m_reorder.reset();
        m_frames.abort();
        resetDepacketizer();
        m_clock.reset();
    }
    m_haveSsrc = true;
    m_ssrc = ssrc;
    m_announcedUnseen = true;
    m_candidatePackets = 0;
}

bool MultiFramedRTPSource::adoptInsteadOfAnnounced(uint32_t ssrc) {
    if (!m_announcedUnseen) return false;
    if (m_candidatePackets == 0 || ssrc != m_candidateSsrc) {
        m_candidateSsrc = ssrc;
        m_candidatePackets = 0;
    }
    if (++m_candidatePackets < kAdoptAfter) return false;
    m_ssrc = ssrc;
    m_announcedUnseen = false;
    m_reorder.reset();
    m_frames.abort();
    resetDepacketizer();
    m_clock.reset();
    envir().notice(UsageEnvironment::Notice::Tolerated,
                   "RTP of another SSRC than the SETUP reply named, taken after " +
                       std::to_string(kAdoptAfter) + " packets");
    return true;
}

void MultiFramedRTPSource::onSocketReadable(void* clientData) {
    static_cast<MultiFramedRTPSource*>(clientData)->readSocket();
}

void MultiFramedRTPSource::readSocket() {
    bool destroyed = false;
    m_destroyed = &destroyed;
    for (int i = 0; i < kMaxReadsPerWakeup && m_socket != nullptr; ++i) {
        const long n = m_socket->receive(m_receiveBuffer.data(), m_receiveBuffer.size());
        if (n < 0) break;
        handlePacket(m_receiveBuffer.data(), static_cast<size_t>(n));
        if (destroyed) return;
    }
    m_destroyed = nullptr;
    if (!m_reportedSender && m_socket != nullptr && m_socket->foreignDropped() > 0) {
        m_reportedSender = true;
        envir().notice(UsageEnvironment::Notice::Refused,
                       "RTP from a sender other than the server dropped");
    }
}

void MultiFramedRTPSource::handlePacket(const uint8_t* data, size_t size) {
    RtpHeader header;
    if (!header.parse(data, size)) return;
    if (m_payloadType >= 0 && header.payloadType != m_payloadType) return;
    const int64_t now = g_get_monotonic_time();
    if (!m_haveSsrc) {
        m_haveSsrc = true;
        m_ssrc = header.ssrc;
    } else if (header.ssrc == m_ssrc) {
        m_announcedUnseen = false;
    } else if (!adoptInsteadOfAnnounced(header.ssrc)) {
        // Not the stream's sender. A server that restarts with a new SSRC falls silent for
        // this source and is reconnected.
        ++m_foreignSsrc;
        if (!m_reportedSsrc) {
            m_reportedSsrc = true;
            envir().notice(UsageEnvironment::Notice::Refused,
                           "RTP of an SSRC other than the stream's dropped");
        }
        return;
    }
    m_stats.onPacket(header.ssrc, header.sequenceNumber, header.timestamp, now, m_clock.rate());
    m_reorder.insert(header.sequenceNumber, data, size, now);
    armReorderTimer();
    deliverFrames();
}

void MultiFramedRTPSource::armReorderTimer() {
    const int64_t deadline = m_reorder.nextDeadline();
    if (deadline < 0) {
        if (m_reorderTimer.isArmed()) m_reorderTimer.disarm();
    } else {
        m_reorderTimer.armAt(deadline);
    }
}

void MultiFramedRTPSource::onReorderTimer(void* clientData) {
    auto* self = static_cast<MultiFramedRTPSource*>(clientData);
    self->m_reorder.flushExpired(g_get_monotonic_time());
    self->armReorderTimer();
    self->deliverFrames();
}

void MultiFramedRTPSource::onOrderedPacket(const uint8_t* packet, size_t size, bool lossBefore) {
    RtpHeader header;
    if (!header.parse(packet, size)) return;
    m_lastTimestamp = header.timestamp;
    processPayload(header, lossBefore);
}

void MultiFramedRTPSource::expectSequenceNumber(uint16_t seq) {
    if (m_reorder.wouldChange(seq)) {
        // Anything assembled from the old range is incomplete now.
        resetDepacketizer();
        m_frames.abort();
        m_reorder.expect(seq);
        armReorderTimer();
    }
    // Called while a reply is handled: frames go out from the loop, not from here.
    if (!m_frames.empty() && isCurrentlyAwaitingData()) m_deliverTimer.armIn(0);
}

void MultiFramedRTPSource::beginRangeChange() {
    m_reorder.beginRangeChange(g_get_monotonic_time());
    armReorderTimer();
}

void MultiFramedRTPSource::endRangeChange(bool accepted) {
    if (m_reorder.endRangeChange(accepted, g_get_monotonic_time())) {
        resetDepacketizer();
        m_frames.abort();
    }
    armReorderTimer();
    // Called while a reply is handled: frames go out from the loop, not from here.
    if (!m_frames.empty() && isCurrentlyAwaitingData()) m_deliverTimer.armIn(0);
}

void MultiFramedRTPSource::onSenderReport(uint32_t ssrc, uint32_t ntpSeconds, uint32_t ntpFraction,
                                          uint32_t rtpTimestamp) {
    if (m_haveSsrc && ssrc != m_ssrc) return;
    m_clock.onSenderReport(ntpSeconds, ntpFraction, rtpTimestamp);
    m_stats.onSenderReport(ntpSeconds, ntpFraction, g_get_monotonic_time());
}

void MultiFramedRTPSource::emitFrame(const uint8_t* data, size_t size, struct timeval pts) {
    m_frames.begin();
    if (m_frames.append(data, size)) m_frames.commit(pts);
}

void MultiFramedRTPSource::doGetNextFrame() {
    // Never deliver from inside getNextFrame: the delivery loop (or the timer) does it.
    if (m_delivering || m_frames.empty()) return;
    m_deliverTimer.armIn(0);
}

void MultiFramedRTPSource::doStopGettingFrames() {
    m_deliverTimer.disarm();
}

void MultiFramedRTPSource::onDeliverTimer(void* clientData) {
    static_cast<MultiFramedRTPSource*>(clientData)->deliverFrames();
}

void MultiFramedRTPSource::deliverFrames() {
    if (m_delivering) return;
    m_delivering = true;
    bool destroyed = false;
    bool* outer = m_destroyed;
    m_destroyed = &destroyed;
    while (isCurrentlyAwaitingData() && !m_frames.empty()) {
        FrameQueue::Frame& frame = m_frames.front();
        const size_t size = frame.data.size();
        const size_t copy = std::min<size_t>(size, fMaxSize);
        if (copy > 0 && fTo != nullptr) std::memcpy(fTo, frame.data.data(), copy);
        fFrameSize = static_cast<unsigned>(copy);
        fNumTruncatedBytes = static_cast<unsigned>(size - copy);
        fPresentationTime = frame.presentationTime;
        fDurationInMicroseconds = 0;
        m_frames.popFront();
        afterGetting();  // the reader usually asks for the next frame from inside
        if (destroyed) {
            if (outer != nullptr) *outer = true;
            return;
        }
    }
    m_destroyed = outer;
    m_delivering = false;
}

}  // namespace kx::media
