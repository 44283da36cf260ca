// Test media made at test time: AVI files and ".qf" recordings written by the ffmpeg program
// and the packaged-frame writer, and checks on the files the engine leaves behind.
#pragma once

#include <QString>
#include <cstdint>

namespace EngineMedia {

// An AVI file of `seconds` seconds: 160x120 MJPEG test pictures at 25 frames per second and
// a 16-bit PCM tone.
bool MakeAvi(const QString& path, int seconds);

// A ".qf" recording of `seconds` seconds: H.264 (160x120, 25 frames per second, a key frame
// every second) as whole packaged frames starting at the first key frame, the NAL units
// packaged without start code as the stream library does.
bool MakeQf(const QString& path, int seconds);

// Number of whole packaged frames in a ".qf" file, and of H.264 key frames among them.
struct QfContents {
    int64_t nFrames = 0;
    int64_t nKeyFrames = 0;
    int64_t nVideoFrames = 0;
};
QfContents ReadQf(const QString& path);

// True when the file starts like a JPEG picture (SOI marker, then another marker) and ends
// with the EOI marker.
bool IsJpeg(const QString& path);

}  // namespace EngineMedia
