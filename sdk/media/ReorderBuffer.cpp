#include "ReorderBuffer.h"

namespace kx::media {

namespace {
// A packet this far behind the expected one is not late but a restarted sequence.
constexpr int kRestartDistance = 512;
}  // namespace

ReorderBuffer::ReorderBuffer(Consumer& consumer) : m_consumer(consumer), m_slots(kCapacity) {}

void ReorderBuffer::reset() {
    for (Slot& slot : m_slots) slot.used = false;
    m_waiting = 0;
    m_haveNext = false;
    m_lossPending = false;
}

bool ReorderBuffer::wouldChange(uint16_t seq) const {
    if (!m_haveNext) return true;
    const int ahead = static_cast<int16_t>(static_cast<uint16_t>(m_next - seq));
    return !(ahead >= 0 && ahead < static_cast<int>(kCapacity));  // else already there
}

bool ReorderBuffer::expect(uint16_t seq) {
    if (!wouldChange(seq)) return false;
    for (Slot& slot : m_slots) {
        if (slot.used && static_cast<int16_t>(static_cast<uint16_t>(slot.seq - seq)) < 0) {
            slot.used = false;
            --m_waiting;
        }
    }
    m_haveNext = true;
    m_next = seq;
    m_lossPending = false;
    drainInOrder();
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
    if (!m_haveNext) {
        m_haveNext = true;
        m_next = seq;
    }
    const int diff = static_cast<int16_t>(static_cast<uint16_t>(seq - m_next));
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
    slot.used = true;
    slot.seq = seq;
    slot.arrival = nowUs;
    slot.data.assign(packet, packet + size);
    ++m_waiting;
    flushExpired(nowUs);
}

void ReorderBuffer::flushExpired(int64_t nowUs) {
    while (m_waiting > 0) {
        const int64_t deadline = nextDeadline();
        if (deadline < 0 || deadline > nowUs) return;
        if (!skipToFirstWaiting()) return;
        drainInOrder();
    }
}

int64_t ReorderBuffer::nextDeadline() const {
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
