// InterleavedLink: how an RTCP instance reaches the RTSP connection that carries its
// subsession inside the TCP stream. The client clears `writer` when it goes away, so holders
// of the link never reach a destroyed client.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx::media {

class InterleavedWriter {
public:
    // Sends one "$" frame on the channel; false when it cannot be sent.
    virtual bool sendInterleaved(uint8_t channel, const uint8_t* data, size_t size) = 0;

protected:
    ~InterleavedWriter() = default;
};

struct InterleavedLink {
    InterleavedWriter* writer = nullptr;
};

}  // namespace kx::media
