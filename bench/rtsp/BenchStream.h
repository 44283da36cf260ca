// BenchStream: the stream the benchmarks measure on. A 1920x1080 25 fps test picture with
// noise (so the encoder spends its bits), encoded once with ffmpeg (x264 or x265, constant
// bit rate, a key frame a second, parameter sets repeated in the stream, no B frames), then
// served by bench_rtsp_server as one shared mount on 127.0.0.1.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "ChildProcess.h"

namespace Brelso::Bench {

struct ServedStream {
    std::unique_ptr<ChildProcess> server;
    int port = 0;
    double bitrateMbit = 0;  // of the encoded file
};

// Encodes `seconds` of the stream into `file` and starts `serverProgram` on it. Nothing (with
// a message on the standard error output) when ffmpeg or the server fails.
std::unique_ptr<ServedStream> encodeAndServe(const std::filesystem::path& serverProgram,
                                             const std::filesystem::path& file, int seconds,
                                             int bitrateKbit, bool hevc);

// The load averages of /proc/loadavg ("1-minute 5-minute 15-minute").
std::string loadAverage();

}  // namespace Brelso::Bench
