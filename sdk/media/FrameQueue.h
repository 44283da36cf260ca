// FrameQueue: depacketized frames waiting for the reader, in reused buffers (no allocation
// once the buffers have grown to the stream's frame sizes). One frame at a time can be open
// for assembly from several packets.
#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kx::media {

class FrameQueue {
public:
    struct Frame {
        std::vector<uint8_t> data;
        struct timeval presentationTime = {0, 0};
    };

    static constexpr size_t kMaxFrames = 256;           // older frames are dropped beyond
    static constexpr size_t kMaxFrameSize = 16u << 20;  // a larger frame is malformed

    FrameQueue();

    // Assembly of one frame.
    void begin();
    bool isOpen() const { return m_open != nullptr; }
    // False (and the frame dropped) when the frame would exceed kMaxFrameSize.
    bool append(const uint8_t* data, size_t size);
    size_t openSize() const { return m_open ? m_open->data.size() : 0; }
    void commit(struct timeval presentationTime);
    void abort();

    bool empty() const { return m_count == 0; }
    size_t size() const { return m_count; }
    Frame& front() { return *m_ring[m_head]; }
    void popFront();
    void clear();
    uint64_t droppedFrames() const { return m_dropped; }

private:
    Frame* takeFree();

    std::vector<std::unique_ptr<Frame>> m_storage;
    std::vector<Frame*> m_free;
    std::vector<Frame*> m_ring;  // kMaxFrames entries
    size_t m_head = 0;
    size_t m_count = 0;
    Frame* m_open = nullptr;
    uint64_t m_dropped = 0;
};

}  // namespace kx::media
