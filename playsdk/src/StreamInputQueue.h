// The bounded queue between KX_PLAY_InputData and a live port's thread: deliveries are
// copied into one ring of bytes (grown up to a limit, never per frame). A stream that falls
// behind (more than the allowed lag queued, or no room) drops to the newest key frame
// instead of growing its latency, keeping the latest parameter set of each kind queued before
// it (the key frame needs them); without a key frame it waits for the next. A key frame the
// queue already starts with is never dropped to make room.
// Not thread-safe: the port guards it with its mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx::play {

class StreamInputQueue {
public:
    struct Limits {
        size_t initialBytes = 1u << 20;
        size_t maxBytes = 16u << 20;
        size_t maxEntries = 512;
        int64_t maxLagUs = 1000000;
    };
    struct Meta {
        int64_t ptsUs = 0;
        bool video = false;
        bool key = false;
        // Non-zero for a parameter set, one value per kind (H.264: the NAL unit type).
        uint8_t parameterSet = 0;
    };

    StreamInputQueue();
    explicit StreamInputQueue(const Limits& limits);

    // Copies a delivery in. False when it was dropped (too big, waiting for a key frame).
    bool push(const uint8_t* data, size_t size, const Meta& meta);
    // Copies the oldest delivery into out; false when empty.
    bool pop(std::vector<uint8_t>& out, Meta& meta);
    // Drops everything; video resumes at the next key frame.
    void clear();
    bool empty() const { return m_count == 0; }
    size_t size() const { return m_count; }
    uint64_t dropped() const { return m_dropped; }

private:
    struct Entry {
        size_t offset = 0;
        size_t size = 0;
        Meta meta;
    };
    Entry& at(size_t i) { return m_entries[(m_head + i) % m_entries.size()]; }
    const Entry& at(size_t i) const { return m_entries[(m_head + i) % m_entries.size()]; }
    bool place(size_t size, size_t& offset) const;
    bool grow(size_t size);
    void dropFront(size_t n);
    // Drops the entries before index `to` except the latest parameter set of each kind, which
    // stay in front of it in their order.
    void dropBefore(size_t to);
    bool lagging(const Meta& incoming) const;
    long newestKey() const;

    Limits m_limits;
    std::vector<uint8_t> m_ring;
    std::vector<Entry> m_entries;
    size_t m_head = 0;
    size_t m_count = 0;
    bool m_waitKey = true;
    uint64_t m_dropped = 0;
};

}  // namespace kx::play
