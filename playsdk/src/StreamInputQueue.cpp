#include "StreamInputQueue.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kx::play {

StreamInputQueue::StreamInputQueue() : StreamInputQueue(Limits{}) {}

StreamInputQueue::StreamInputQueue(const Limits& limits)
    : m_limits(limits), m_entries(limits.maxEntries) {}

bool StreamInputQueue::place(size_t size, size_t& offset) const {
    const size_t cap = m_ring.size();
    if (m_count == 0) {
        offset = 0;
        return size <= cap;
    }
    const Entry& first = at(0);
    const Entry& last = at(m_count - 1);
    const size_t write = last.offset + last.size;
    const size_t read = first.offset;
    if (write > read || (write == read && m_count == 0)) {
        if (size <= cap - write) {
            offset = write;
            return true;
        }
        if (size < read) {
            offset = 0;
            return true;
        }
        return false;
    }
    // Wrapped: free space lies between the end of the last entry and the first entry.
    if (write + size < read) {
        offset = write;
        return true;
    }
    return false;
}

bool StreamInputQueue::grow(size_t size) {
    size_t cap = std::max<size_t>(m_ring.size(), 4096);
    size_t used = size;
    for (size_t i = 0; i < m_count; ++i) used += at(i).size;
    while (cap < used + 1 && cap < m_limits.maxBytes) cap *= 2;
    if (cap > m_limits.maxBytes) cap = m_limits.maxBytes;
    if (cap < used + 1 || cap <= m_ring.size()) return false;
    std::vector<uint8_t> bigger(cap);
    size_t pos = 0;
    for (size_t i = 0; i < m_count; ++i) {
        Entry& e = at(i);
        std::memcpy(bigger.data() + pos, m_ring.data() + e.offset, e.size);
        e.offset = pos;
        pos += e.size;
    }
    m_ring.swap(bigger);
    return true;
}

void StreamInputQueue::dropFront(size_t n) {
    for (size_t i = 0; i < n && m_count > 0; ++i) {
        m_head = (m_head + 1) % m_entries.size();
        --m_count;
        ++m_dropped;
    }
}

void StreamInputQueue::dropBefore(size_t to) {
    if (to > m_count) to = m_count;
    constexpr size_t kMaxKinds = 8;
    size_t kept[kMaxKinds];
    uint8_t kinds[kMaxKinds];
    size_t nKept = 0;
    for (size_t i = to; i > 0 && nKept < kMaxKinds; --i) {
        const uint8_t kind = at(i - 1).meta.parameterSet;
        if (kind == 0 || std::find(kinds, kinds + nKept, kind) != kinds + nKept) continue;
        kinds[nKept] = kind;
        kept[nKept++] = i - 1;  // newest first
    }
    // The kept entries move up to just before `to`, oldest first. Every target slot lies at or
    // after its entry's own slot and no entry still to be moved sits in it.
    for (size_t k = 0; k < nKept; ++k) at(to - 1 - k) = at(kept[k]);
    dropFront(to - nKept);
}

bool StreamInputQueue::lagging(const Meta& incoming) const {
    if (!incoming.video) return false;
    // The video time queued, summed from one picture to the next. A step is counted up to a
    // limit, so a jump of the presentation times (a camera's clock synchronised anew) does
    // not look like a queue that fell behind.
    constexpr int64_t kMaxStepUs = 200000;
    int64_t queuedUs = 0;
    int64_t previous = INT64_MIN;
    auto step = [&](int64_t pts) {
        if (previous != INT64_MIN) queuedUs += std::clamp<int64_t>(pts - previous, 0, kMaxStepUs);
        previous = pts;
    };
    for (size_t i = 0; i < m_count; ++i) {
        if (at(i).meta.video) step(at(i).meta.ptsUs);
    }
    step(incoming.ptsUs);
    return queuedUs > m_limits.maxLagUs;
}

long StreamInputQueue::newestKey() const {
    for (size_t i = m_count; i > 0; --i) {
        if (at(i - 1).meta.video && at(i - 1).meta.key) return static_cast<long>(i - 1);
    }
    return -1;
}

bool StreamInputQueue::push(const uint8_t* data, size_t size, const Meta& meta) {
    if (size == 0 || size > m_limits.maxBytes / 2) {
        ++m_dropped;
        return false;
    }
    if (m_ring.empty())
        m_ring.resize(
            std::max<size_t>(m_limits.initialBytes, 4096));  // taken at the first delivery
    if (meta.video) {
        if (m_waitKey && !meta.key && meta.parameterSet == 0) {
            ++m_dropped;
            return false;
        }
        if (meta.key) m_waitKey = false;
    }
    size_t offset = 0;
    bool room = m_count < m_entries.size() && (place(size, offset) || grow(size));
    if (room && m_count > 0) room = place(size, offset);
    if (!room || lagging(meta)) {
        // Behind: keep the newest key frame, the parameter sets it needs and what follows it,
        // or start over at a key frame.
        const long key = newestKey();
        const bool incomingKey = meta.video && meta.key;
        if (incomingKey) {
            dropBefore(m_count);
        } else if (key > 0) {
            dropBefore(static_cast<size_t>(key));
        } else if (key < 0) {
            dropBefore(m_count);
            if (meta.video) {
                m_waitKey = true;
                ++m_dropped;
                return false;
            }
        }
        // key == 0: the queue starts at its newest key frame; nothing before it can go.
        room = m_count < m_entries.size() && place(size, offset);
        if (!room && key == 0 && !incomingKey) {
            // No room behind the key frame: this delivery goes, and video waits for the next
            // key frame (a picture missing here would damage every one after it).
            if (meta.video) m_waitKey = true;
            ++m_dropped;
            return false;
        }
        if (!room) {
            dropFront(m_count);
            room = place(size, offset);
            if (!room || (meta.video && !meta.key)) {
                if (meta.video) m_waitKey = true;
                ++m_dropped;
                return false;
            }
        }
    }
    Entry& e = m_entries[(m_head + m_count) % m_entries.size()];
    e.offset = offset;
    e.size = size;
    e.meta = meta;
    std::memcpy(m_ring.data() + offset, data, size);
    ++m_count;
    return true;
}

bool StreamInputQueue::pop(std::vector<uint8_t>& out, Meta& meta) {
    if (m_count == 0) return false;
    const Entry& e = at(0);
    out.assign(m_ring.data() + e.offset, m_ring.data() + e.offset + e.size);
    meta = e.meta;
    m_head = (m_head + 1) % m_entries.size();
    --m_count;
    return true;
}

void StreamInputQueue::clear() {
    m_dropped += m_count;
    m_count = 0;
    m_head = 0;
    m_waitKey = true;
}

}  // namespace kx::play
