// BenchStream: the stream the benchmarks measure on. A 1920x1080 25 fps test picture with
// noise (so the encoder spends its bits), encoded once with ffmpeg (x264 or x265, constant
// bit rate, a key frame a second, parameter sets repeated in the stream, no B frames), then
// served by bench_rtsp_server as one shared mount on 127.0.0.1.
#pragma once

#include <filesystem>
#include <functional>
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

// What a benchmark program's main does around its measurement: ignores SIGPIPE, makes a work
// folder /tmp/<name>.XXXXXX, calls run with the folder of the running program (where the other
// bench programs are) and the work folder, prints the run time and removes the work folder.
// Returns what run returned, 1 when the work folder cannot be made.
int runBench(const char* name, const std::function<int(const std::filesystem::path& binDir,
                                                       const std::filesystem::path& workDir)>& run);

}  // namespace Brelso::Bench
