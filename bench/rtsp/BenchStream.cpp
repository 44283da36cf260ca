#include "BenchStream.h"

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace Brelso::Bench {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> encoderArguments(const fs::path& file, int seconds, int bitrateKbit,
                                          bool hevc) {
    const std::string bitrate = std::to_string(bitrateKbit) + "k";
    std::vector<std::string> argv = {"ffmpeg",    "-hide_banner",
                                     "-loglevel", "error",
                                     "-nostdin",  "-y",
                                     "-f",        "lavfi",
                                     "-i",        "testsrc2=size=1920x1080:rate=25",
                                     "-vf",       "noise=alls=10:allf=t",
                                     "-t",        std::to_string(seconds)};
    const std::vector<std::string> codec =
        hevc ? std::vector<std::string>{"-c:v",
                                        "libx265",
                                        "-preset",
                                        "veryfast",
                                        "-b:v",
                                        bitrate,
                                        "-x265-params",
                                        "log-level=error:aud=1:repeat-headers=1:scenecut=0:"
                                        "bframes=0:keyint=25:min-keyint=25:vbv-maxrate=" +
                                            std::to_string(bitrateKbit) +
                                            ":vbv-bufsize=" + std::to_string(bitrateKbit),
                                        "-f",
                                        "hevc"}
             : std::vector<std::string>{"-c:v",         "libx264",
                                        "-preset",      "veryfast",
                                        "-profile:v",   "main",
                                        "-bf",          "0",
                                        "-g",           "25",
                                        "-b:v",         bitrate,
                                        "-maxrate",     bitrate,
                                        "-bufsize",     bitrate,
                                        "-x264-params", "aud=1:repeat-headers=1:scenecut=0",
                                        "-f",           "h264"};
    argv.insert(argv.end(), codec.begin(), codec.end());
    argv.push_back(file.string());
    return argv;
}

}  // namespace

std::unique_ptr<ServedStream> encodeAndServe(const fs::path& serverProgram, const fs::path& file,
                                             int seconds, int bitrateKbit, bool hevc) {
    std::fprintf(stderr, "encoding %d s of 1920x1080 25 fps %s at %d kbit/s ...\n", seconds,
                 hevc ? "H.265" : "H.264", bitrateKbit);
    auto encoder =
        ChildProcess::start(encoderArguments(file, seconds, bitrateKbit, hevc), false, true);
    if (!encoder) return nullptr;
    encoder->finish(600s);
    if (encoder->exitStatus() != 0 || !fs::exists(file)) {
        std::fprintf(stderr, "ffmpeg could not encode the stream\n");
        return nullptr;
    }
    auto served = std::make_unique<ServedStream>();
    served->bitrateMbit = static_cast<double>(fs::file_size(file)) * 8 / seconds / 1e6;

    std::vector<std::string> server = {serverProgram.string(), "--file", file.string(), "--fps",
                                       "25"};
    if (hevc) server.insert(server.end(), {"--codec", "h265"});
    served->server = ChildProcess::start(server, true, true);
    if (!served->server) return nullptr;
    const auto line = served->server->readLine(20s);
    if (!line || line->rfind("port ", 0) != 0) {
        std::fprintf(stderr, "%s did not start\n", serverProgram.filename().c_str());
        return nullptr;
    }
    served->port = std::atoi(line->c_str() + 5);
    return served->port > 0 ? std::move(served) : nullptr;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

int runBench(const char* name,
             const std::function<int(const fs::path& binDir, const fs::path& workDir)>& run) {
    signal(SIGPIPE, SIG_IGN);
    const fs::path binDir = fs::read_symlink("/proc/self/exe").parent_path();
    std::string pattern = std::string("/tmp/") + name + ".XXXXXX";
    if (!mkdtemp(pattern.data())) return 1;
    const fs::path work = pattern;
    const auto started = std::chrono::steady_clock::now();
    const int result = run(binDir, work);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("run time: %.0f s\n", took.count());
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return result;
}

}  // namespace Brelso::Bench
