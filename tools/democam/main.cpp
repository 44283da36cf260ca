// democam: a demo camera. Serves a live picture (colour bars, a moving ball and the current
// date and time; the clock needs GStreamer's text overlay, package gstreamer1.0-x) and a sine
// tone on rtsp://127.0.0.1:<port>/live (H.264) and rtsp://127.0.0.1:<port>/live265 (H.265)
// until SIGINT or SIGTERM. 1280x720 at 25 frames a
// second unless --size says otherwise.
//
//   democam [--aac] [--size WxH] [port]      port defaults to 8554
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "LocalRtspServer.h"
#include "MediaLaunch.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void onSignal(int) {
    g_stopRequested = 1;
}

struct Options {
    uint16_t port = 8554;
    bool aac = false;
    Brelso::Tools::VideoShape shape{1280, 720, 25, 50, true, true, 2000};
};

bool parseSize(const char* text, Brelso::Tools::VideoShape& shape) {
    int width = 0;
    int height = 0;
    if (std::sscanf(text, "%dx%d", &width, &height) != 2) return false;
    if (width < 16 || height < 16 || width > 3840 || height > 2160) return false;
    shape.width = width;
    shape.height = height;
    return true;
}

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--aac") == 0) {
            options.aac = true;
        } else if (std::strcmp(arg, "--size") == 0 && i + 1 < argc) {
            if (!parseSize(argv[++i], options.shape)) return false;
        } else {
            char* end = nullptr;
            const long port = std::strtol(arg, &end, 10);
            if (*arg == '\0' || *end != '\0' || port < 1 || port > 65535) return false;
            options.port = static_cast<uint16_t>(port);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--aac] [--size WxH] [port]\n", argv[0]);
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    using namespace Brelso::Tools;
    LocalRtspServer server;
    const std::string audio = options.aac ? aacBranch(1, 48000, 2) : pcmuBranch(1);
    server.addMount({"/live", mediaLaunch({h264Branch(0, options.shape), audio})});
    const bool hevc = hasElement("x265enc") && hasElement("rtph265pay");
    if (hevc) server.addMount({"/live265", mediaLaunch({h265Branch(0, options.shape), audio})});
    if (!server.start(options.port)) {
        std::fprintf(stderr, "democam: %s\n", server.lastError().c_str());
        return 1;
    }
    std::printf("democam: serving %s (H.264 %dx%d@%d + %s)\n", server.url("/live").c_str(),
                options.shape.width, options.shape.height, options.shape.fps,
                options.aac ? "AAC" : "PCMU");
    if (hevc) std::printf("democam: serving %s (H.265)\n", server.url("/live265").c_str());
    std::fflush(stdout);

    while (!g_stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(100));

    server.stop();
    std::printf("democam: stopped\n");
    return 0;
}
