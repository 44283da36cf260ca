// ReorderBuffer: puts RTP packets back into sequence-number order. A packet that is in order
// is handed on at once without copying; packets that arrive ahead of a gap wait (copied into
// reused slots) until the gap is filled or the oldest of them has waited longer than the
// threshold, then the gap is given up and reported as loss.
//
// While a PLAY of a new range is in flight every packet waits, so that the reply can tell the
// ranges apart: from the sequence number its RTP-Info names (expect), or, without one, by the
// reply's place in the stream (what came before it belongs to the old range).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx::media {

class ReorderBuffer {
public:
    // Receives packets in order. lossBefore: packets before this one were given up.
    class Consumer {
    public:
        virtual void onOrderedPacket(const uint8_t* packet, size_t size, bool lossBefore) = 0;

    protected:
        ~Consumer() = default;
    };

    static constexpr unsigned kCapacity = 1024;  // packets that can wait at most
    // A range change whose reply does not come within this time is given up: what waited is
    // handed on as the old range.
    static constexpr int64_t kRangeChangeLimit = 3000000;
    // After a range change whose first packet had not come with the reply, packets that are
    // not within kStartWindow after the expected number are the old range's stragglers and
    // dropped, up to kMaxStragglers of them; then the numbering is followed again.
    static constexpr unsigned kStartWindow = 16;
    static constexpr unsigned kMaxStragglers = 256;

    explicit ReorderBuffer(Consumer& consumer);

    // 0: a packet ahead of a gap is handed on at once (the gap reported as loss), without
    // being copied into a slot.
    void setThresholdTime(int64_t microseconds) { m_threshold = microseconds; }
    int64_t thresholdTime() const { return m_threshold; }

    // Takes one packet with its (already parsed) sequence number; nowUs is a monotonic time.
    // The consumer may be called several times from inside; it must not destroy the buffer.
    void insert(uint16_t seq, const uint8_t* packet, size_t size, int64_t nowUs);
    // Gives up gaps whose waiting packets are older than the threshold.
    void flushExpired(int64_t nowUs);
    // The monotonic time at which flushExpired has work, or -1 when nothing waits.
    int64_t nextDeadline() const;
    // Forgets every waiting packet and the expected sequence number.
    void reset();
    // The next packet will carry this number (RTP-Info of a PLAY reply): waiting packets
    // before it are dropped. Ignored when delivery has already reached or passed it, except
    // while a range change is in flight: then the number always starts the new range, the
    // packets before it and those that arrived before the one carrying it are dropped, and
    // nothing is handed on here. Returns true when the expectation changed anything.
    bool expect(uint16_t seq);
    bool wouldChange(uint16_t seq) const;

    // A PLAY of a new range was sent: every packet waits until endRangeChange (at most
    // kRangeChangeLimit, or until the window is full). Nothing waits when no packet came yet:
    // there is no old range then. Changes may overlap (a second seek before the first reply).
    void beginRangeChange(int64_t nowUs);
    // The reply to one of them came. accepted: the new range plays; a reply that named this
    // stream's first sequence number has called expect() before. Without that, what waited
    // belongs to the old range and is dropped, and true is returned (what was assembled from
    // the old range must go too). Refused: the old range goes on, what waited is handed on.
    bool endRangeChange(bool accepted, int64_t nowUs);
    bool changingRange() const { return m_holding; }

    size_t waitingCount() const { return m_waiting; }

private:
    struct Slot {
        bool used = false;
        uint16_t seq = 0;
        int64_t arrival = 0;
        uint64_t order = 0;  // arrival order
        std::vector<uint8_t> data;
    };

    void deliver(const uint8_t* packet, size_t size);
    void drainInOrder();
    bool skipToFirstWaiting();
    void flushAll();
    void store(Slot& slot, uint16_t seq, const uint8_t* packet, size_t size, int64_t nowUs);
    // Takes a packet while a range change is in flight; false when it does not fit the window.
    bool hold(uint16_t seq, const uint8_t* packet, size_t size, int64_t nowUs);
    void stopHolding(int64_t nowUs);
    void dropWaiting();

    Consumer& m_consumer;
    int64_t m_threshold = 100000;
    bool m_haveNext = false;
    uint16_t m_next = 0;
    bool m_lossPending = false;
    size_t m_waiting = 0;
    std::vector<Slot> m_slots;
    uint64_t m_arrivals = 0;
    bool m_holding = false;
    unsigned m_rangeChanges = 0;  // PLAYs of a new range not answered yet
    int64_t m_holdUntil = 0;
    bool m_expectedWhileHolding = false;
    unsigned m_stragglersLeft = 0;  // while > 0: packets outside the window are dropped
};

}  // namespace kx::media
