// ReorderBuffer: puts RTP packets back into sequence-number order. A packet that is in order
// is handed on at once without copying; packets that arrive ahead of a gap wait (copied into
// reused slots) until the gap is filled or the oldest of them has waited longer than the
// threshold, then the gap is given up and reported as loss.
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

    explicit ReorderBuffer(Consumer& consumer);

    void setThresholdTime(int64_t microseconds) { m_threshold = microseconds; }

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
    // before it are dropped. Ignored when delivery has already reached or passed it.
    // Returns true when the expectation changed anything.
    bool expect(uint16_t seq);
    bool wouldChange(uint16_t seq) const;

    size_t waitingCount() const { return m_waiting; }

private:
    struct Slot {
        bool used = false;
        uint16_t seq = 0;
        int64_t arrival = 0;
        std::vector<uint8_t> data;
    };

    void deliver(const uint8_t* packet, size_t size);
    void drainInOrder();
    bool skipToFirstWaiting();
    void flushAll();

    Consumer& m_consumer;
    int64_t m_threshold = 100000;
    bool m_haveNext = false;
    uint16_t m_next = 0;
    bool m_lossPending = false;
    size_t m_waiting = 0;
    std::vector<Slot> m_slots;
};

}  // namespace kx::media
