// A file the port's thread reads compressed frames from, in presentation order per stream.
#pragma once

#include <cstdint>

#include "MediaPacket.h"

namespace kx::play {

class MediaSource {
public:
    virtual ~MediaSource() = default;
    // Next frame; false at the end of the file (or when nothing more can be read).
    virtual bool read(MediaPacket& packet) = 0;
    // Continue at the key frame at or before timeUs (the first key frame when none is).
    virtual bool seek(int64_t timeUs) = 0;
    virtual bool hasVideo() const = 0;
    // Frame rate as stored in the file, 0 when the file does not say.
    virtual int frameRate() const { return 0; }
};

}  // namespace kx::play
