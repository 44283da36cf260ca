#include "ReorderBuffer.h"

namespace kx::media {

namespace {
// A packet this far behind the expected one is not late but a restarted sequence.
constexpr int kRestartDistance = 512;
}  // namespace

ReorderBuffer::ReorderBuffer(Consumer& consumer) : m_consumer(consumer), m_slots(kCapacity) {}

void ReorderBuffer::reset() {
    dropWaiting();
    m_haveNext = false;
    m_lossPending = false;
    m_stragglersLeft = 0;
}

void ReorderBuffer::dropWaiting() {
    for (Slot& slot : m_slots) slot.used = false;
    m_waiting = 0;
}

bool ReorderBuffer::wouldChange(uint16_t seq) const {
    // While a range change is in flight the reply says where the new range starts, even
    // when its numbers go on from, or restart behind, the old range's.
    if (!m_haveNext || m_holding) return true;
    const int ahead = static_cast<int16_t>(static_cast<uint16_t>(m_next - seq));
    return !(ahead >= 0 && ahead < static_cast<int>(kCapacity));  // else already there
}

bool ReorderBuffer::expect(uint16_t seq) {
    if (!wouldChange(seq)) return false;
    // While a range change is in flight, the packet carrying seq starts the new range: the
    // old one's packets may have any number, but none of them came after it.
    uint64_t firstOfRange = 0;
    if (m_holding) {
        const Slot& start = m_slots[seq % kCapacity];
        firstOfRange = start.used && start.seq == seq ? start.order : ~uint64_t{0};
        m_expectedWhileHolding = true;
        // Until the new range's first packet came, what comes is the old range's.
        m_stragglersLeft = firstOfRange == ~uint64_t{0} ? kMaxStragglers : 0;
    }
    for (Slot& slot : m_slots) {
        if (slot.used && (static_cast<int16_t>(static_cast<uint16_t>(slot.seq - seq)) < 0 ||
                          slot.order < firstOfRange)) {
            slot.used = false;
            --m_waiting;
        }
    }
    m_haveNext = true;
    m_next = seq;
    m_lossPending = false;
    if (!m_holding) drainInOrder();
    return true;
}

void ReorderBuffer::beginRangeChange(int64_t nowUs) {
    if (!m_haveNext) return;  // nothing came yet: there is no old range
    ++m_rangeChanges;
    m_holdUntil = nowUs + kRangeChangeLimit;
    m_holding = true;
}

bool ReorderBuffer::endRangeChange(bool accepted, int64_t nowUs) {
    if (m_rangeChanges == 0) return false;
    --m_rangeChanges;
    bool dropped = false;
    if (accepted && m_holding && !m_expectedWhileHolding) {
        // The reply did not say where the new range starts: it starts after the reply.
        dropWaiting();
        m_haveNext = false;
        m_lossPending = false;
        dropped = true;
    }
    if (m_rangeChanges == 0) stopHolding(nowUs);
    return dropped;
}

void ReorderBuffer::stopHolding(int64_t nowUs) {
    m_holding = false;
    m_rangeChanges = 0;
    m_expectedWhileHolding = false;
    drainInOrder();
    flushExpired(nowUs);
}

void ReorderBuffer::store(Slot& slot, uint16_t seq, const uint8_t* packet, size_t size,
                          int64_t nowUs) {
    slot.used = true;
    slot.seq = seq;
    slot.arrival = nowUs;
    slot.order = ++m_arrivals;
    slot.data.assign(packet, packet + size);
    ++m_waiting;
}

bool ReorderBuffer::hold(uint16_t seq, const uint8_t* packet, size_t size, int64_t nowUs) {
    if (!m_haveNext) {
        m_haveNext = true;
        m_next = seq;
    }
    const int diff = static_cast<int16_t>(static_cast<uint16_t>(seq - m_next));
    if (diff < 0 && diff > -kRestartDistance) return true;  // late or duplicate
    if (diff < 0 || diff >= static_cast<int>(kCapacity)) return false;
    Slot& slot = m_slots[seq % kCapacity];
    if (slot.used) return true;  // every waiting packet is in the window: the same number
    store(slot, seq, packet, size, nowUs);
    return true;
}

void ReorderBuffer::deliver(const uint8_t* packet, size_t size) {
    const bool loss = m_lossPending;
    m_lossPending = false;
    ++m_next;
    m_consumer.onOrderedPacket(packet, size, loss);
}

void ReorderBuffer::drainInOrder() {
    while (m_waiting > 0) {
        Slot& slot = m_slots[m_next % kCapacity];
        if (!slot.used || slot.seq != m_next) return;
        slot.used = false;
        --m_waiting;
        deliver(slot.data.data(), slot.data.size());
    }
}

bool ReorderBuffer::skipToFirstWaiting() {
    if (m_waiting == 0) return false;
    for (unsigned i = 1; i < kCapacity; ++i) {
        const uint16_t seq = static_cast<uint16_t>(m_next + i);
        const Slot& slot = m_slots[seq % kCapacity];
        if (slot.used && slot.seq == seq) {
            m_next = seq;
            m_lossPending = true;
            return true;
        }
    }
    return false;
}

void ReorderBuffer::flushAll() {
    while (skipToFirstWaiting()) drainInOrder();
    for (Slot& slot : m_slots) slot.used = false;
    m_waiting = 0;
}

void ReorderBuffer::insert(uint16_t seq, const uint8_t* packet, size_t size, int64_t nowUs) {
    if (m_holding) {
        if (nowUs < m_holdUntil && hold(seq, packet, size, nowUs)) return;
        stopHolding(nowUs);  // waited too long, or the window is full: the old range goes on
    }
    if (!m_haveNext) {
        m_haveNext = true;
        m_next = seq;
    }
    const int diff = static_cast<int16_t>(static_cast<uint16_t>(seq - m_next));
    if (m_stragglersLeft > 0) {
        if (diff < 0 || diff >= static_cast<int>(kStartWindow)) {
            --m_stragglersLeft;  // the old range's, still coming after the reply
            return;
        }
        m_stragglersLeft = 0;
    }
    if (diff == 0) {
        deliver(packet, size);
        drainInOrder();
        return;
    }
    if (diff < 0) {
        if (diff > -kRestartDistance) return;  // late or duplicate: already given up or seen
        // The sender restarted its numbering: hand on what waits, then follow the new one.
        flushAll();
        m_next = seq;
        m_lossPending = true;
        deliver(packet, size);
        return;
    }
    if (m_threshold <= 0 && m_waiting == 0) {
        // Nothing waits for gaps: the missing packets are lost.
        m_next = seq;
        m_lossPending = true;
        deliver(packet, size);
        return;
    }
    if (diff >= static_cast<int>(kCapacity)) {
        // Too far ahead to wait for the gap (a seek or a long outage).
        flushAll();
        m_next = seq;
        m_lossPending = true;
        deliver(packet, size);
        return;
    }
    Slot& slot = m_slots[seq % kCapacity];
    if (slot.used) {
        if (slot.seq == seq) return;  // duplicate
        // An older packet still occupies the slot: that gap has waited long enough.
        while (slot.used && skipToFirstWaiting()) drainInOrder();
        const int again = static_cast<int16_t>(static_cast<uint16_t>(seq - m_next));
        if (again == 0) {
            deliver(packet, size);
            drainInOrder();
            return;
        }
        if (again < 0) return;
    }
    store(slot, seq, packet, size, nowUs);
    flushExpired(nowUs);
}

void ReorderBuffer::flushExpired(int64_t nowUs) {
    if (m_holding) {
        if (nowUs < m_holdUntil) return;
        stopHolding(nowUs);  // flushes again
        return;
    }
    while (m_waiting > 0) {
        const int64_t deadline = nextDeadline();
        if (deadline < 0 || deadline > nowUs) return;
        if (!skipToFirstWaiting()) return;
        drainInOrder();
    }
}

int64_t ReorderBuffer::nextDeadline() const {
    if (m_holding) return m_holdUntil;
    if (m_waiting == 0) return -1;
    // The gap has been open at least since the earliest of the waiting packets arrived.
    int64_t earliest = -1;
    size_t seen = 0;
    for (unsigned i = 1; i < kCapacity && seen < m_waiting; ++i) {
        const uint16_t seq = static_cast<uint16_t>(m_next + i);
        const Slot& slot = m_slots[seq % kCapacity];
        if (!slot.used || slot.seq != seq) continue;
        ++seen;
        if (earliest < 0 || slot.arrival < earliest) earliest = slot.arrival;
    }
    return earliest < 0 ? -1 : earliest + m_threshold;
}

}  // namespace kx::media
