// Copies compressed data into reference-counted, padded buffers taken from a pool, so that a
// decoder can keep them (frame threads) without an allocation per frame.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVBufferPool;
struct AVPacket;

namespace kx::play {

class PacketBuffer {
public:
    PacketBuffer() = default;
    ~PacketBuffer();
    PacketBuffer(const PacketBuffer&) = delete;
    PacketBuffer& operator=(const PacketBuffer&) = delete;

    // Fills pkt (which must be empty) with a copy of data; false when out of memory.
    bool fill(AVPacket* pkt, const uint8_t* data, size_t size);

private:
    AVBufferPool* m_pool = nullptr;
    size_t m_poolSize = 0;
};

}  // namespace kx::play
