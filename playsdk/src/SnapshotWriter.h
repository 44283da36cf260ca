// Writes a decoded picture as a JPEG file (libavcodec's MJPEG encoder) at the picture's own
// size, turned by the port's rotation. The file appears whole or not at all: it is written
// under a temporary name in the same folder and then renamed.
#pragma once

#include <string>

struct AVFrame;

namespace kx::play {

// 0 on success, negative on failure (nothing is left behind then).
int writeJpeg(const AVFrame* picture, int rotate, const std::string& path);

}  // namespace kx::play
