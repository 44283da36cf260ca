#include "FrameQueue.h"

namespace kx::media {

namespace {
// Buffers of frames that were once huge are given back rather than kept forever.
constexpr size_t kKeepCapacity = 4u << 20;
}  // namespace

FrameQueue::FrameQueue() : m_ring(kMaxFrames, nullptr) {}

FrameQueue::Frame* FrameQueue::takeFree() {
    if (!m_free.empty()) {
        Frame* f = m_free.back();
        m_free.pop_back();
        return f;
    }
    m_storage.push_back(std::make_unique<Frame>());
    return m_storage.back().get();
}

void FrameQueue::begin() {
    if (m_open == nullptr) m_open = takeFree();
    m_open->data.clear();
}

bool FrameQueue::append(const uint8_t* data, size_t size) {
    if (m_open == nullptr) return false;
    if (size > kMaxFrameSize - m_open->data.size()) {
        abort();
        return false;
    }
    m_open->data.insert(m_open->data.end(), data, data + size);
    return true;
}

void FrameQueue::commit(struct timeval presentationTime) {
    if (m_open == nullptr) return;
    Frame* f = m_open;
    m_open = nullptr;
    f->presentationTime = presentationTime;
    if (m_count == kMaxFrames) {  // the reader is not keeping up: drop the oldest
        ++m_dropped;
        popFront();
    }
    m_ring[(m_head + m_count) % kMaxFrames] = f;
    ++m_count;
}

void FrameQueue::abort() {
    if (m_open == nullptr) return;
    m_open->data.clear();
    m_free.push_back(m_open);
    m_open = nullptr;
}

void FrameQueue::popFront() {
    if (m_count == 0) return;
    Frame* f = m_ring[m_head];
    m_ring[m_head] = nullptr;
    m_head = (m_head + 1) % kMaxFrames;
    --m_count;
    if (f->data.capacity() > kKeepCapacity) std::vector<uint8_t>().swap(f->data);
    f->data.clear();
    m_free.push_back(f);
}

void FrameQueue::clear() {
    while (m_count > 0) popFront();
    abort();
}

}  // namespace kx::media
