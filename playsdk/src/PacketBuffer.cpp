#include "PacketBuffer.h"

#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
}

namespace kx::play {

PacketBuffer::~PacketBuffer() {
    av_buffer_pool_uninit(&m_pool);
}

bool PacketBuffer::fill(AVPacket* pkt, const uint8_t* data, size_t size) {
    const size_t need = size + AV_INPUT_BUFFER_PADDING_SIZE;
    if (size > INT_MAX / 2) return false;
    if (need > m_poolSize) {
        size_t grown = 64 * 1024;
        while (grown < need) grown *= 2;
        av_buffer_pool_uninit(&m_pool);  // buffers still held by a decoder stay valid
        m_pool = av_buffer_pool_init(grown, nullptr);
        if (m_pool == nullptr) {
            m_poolSize = 0;
            return false;
        }
        m_poolSize = grown;
    }
    pkt->buf = av_buffer_pool_get(m_pool);
    if (pkt->buf == nullptr) return false;
    pkt->data = pkt->buf->data;
    if (size > 0) std::memcpy(pkt->data, data, size);
    std::memset(pkt->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    pkt->size = static_cast<int>(size);
    return true;
}

}  // namespace kx::play
