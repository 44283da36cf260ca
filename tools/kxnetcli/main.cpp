// kxnetcli: plays one RTSP address through the stream library, the way an integrator uses it,
// and prints what arrives.
//
//   kxnetcli [--tcp] [--seconds N] [--log MASK] rtsp://[user:pass@]host[:port]/path
//
//   --tcp        carry RTP inside the RTSP connection (default: UDP)
//   --seconds N  stop after N seconds (default: run until Ctrl-C)
//   --log MASK   log level mask for KX_NET_Init (default 0: no log). Lines go to
//                "D:/log/NetSdk_<date>.log" below the working folder, if that folder exists.
//
// Exit status: 0 when frames arrived, 1 when the play could not be started, 2 for a usage
// error, 3 when the play started but no frame arrived. When a play with --tcp cannot be
// started, the same address is tried once over UDP: if that plays, the server does not offer
// RTP over TCP, and the tool says so.
//
// The sequence is the library's documented one: KX_NET_Init, KX_NET_Login (only stores the
// address), KX_NET_RealPlay (blocks until PLAY succeeded or failed, at most 5 s),
// KX_NET_SetRealDataCallBack; at the end KX_NET_StopRealPlay, KX_NET_Logout, KX_NET_Cleanup.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "FrameStats.h"
#include "KXRtspSdk.h"
#include "StreamUrl.h"

namespace {

// Set by the signal handler; the main loop polls it. Nothing else is done in the handler:
// stopping the play must happen on an ordinary thread.
volatile std::sig_atomic_t g_stopRequested = 0;

void onSignal(int) {
    g_stopRequested = 1;
}

struct Options {
    bool tcp = false;
    long seconds = 0;  // 0: until Ctrl-C
    int32_t logMask = 0;
    std::string url;
};

void printUsage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--tcp] [--seconds N] [--log MASK] "
                 "rtsp://[user:pass@]host[:port]/path\n",
                 program);
}

bool parseNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 0);
    return *text != '\0' && *end == '\0' && value >= low && value <= high;
}

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        long value = 0;
        if (std::strcmp(arg, "--tcp") == 0) {
            options.tcp = true;
        } else if (std::strcmp(arg, "--seconds") == 0 && i + 1 < argc) {
            if (!parseNumber(argv[++i], 1, 86400 * 365, value)) return false;
            options.seconds = value;
        } else if (std::strcmp(arg, "--log") == 0 && i + 1 < argc) {
            if (!parseNumber(argv[++i], 0, 255, value)) return false;
            options.logMask = static_cast<int32_t>(value);
        } else if (arg[0] != '-' && options.url.empty()) {
            options.url = arg;
        } else {
            return false;
        }
    }
    return !options.url.empty();
}

// The data callback: runs on the session's own thread for every frame. It only counts; it
// must return quickly and must not call KX_NET_StopRealPlay, KX_NET_Logout or KX_NET_Cleanup.
void onRealData(int32_t /*realHandle*/, uint32_t dataType, uint8_t* buffer, uint32_t size,
                void* user) {
    static_cast<FrameStats*>(user)->add(dataType, buffer, size);
}

// Prints a line per data type the first time it appears (its stream information), then one
// line per second with the frame rates of the last second.
class Reporter {
public:
    void report(const std::map<uint32_t, TypeStats>& now, double elapsedSeconds,
                int32_t positionMs) {
        for (const auto& [type, stats] : now) {
            if (m_previous.count(type)) continue;
            if (isAudioType(type)) {
                std::printf("stream: audio %s, %u channel(s), %u Hz\n", dataTypeName(type).c_str(),
                            stats.channels, stats.sampleRate);
            } else {
                std::printf("stream: %s %s\n", type == KX_DATA_PRIVATE ? "raw" : "video",
                            dataTypeName(type).c_str());
            }
        }
        std::printf("[%6.1f s, position %d.%03d s]", elapsedSeconds, positionMs / 1000,
                    positionMs % 1000);
        if (now.empty()) std::printf(" no frames yet");
        for (const auto& [type, stats] : now) {
            const TypeStats before = m_previous.count(type) ? m_previous.at(type) : TypeStats{};
            std::printf("  %s: %llu frames (%llu/s, %.1f kB/s", dataTypeName(type).c_str(),
                        static_cast<unsigned long long>(stats.frames),
                        static_cast<unsigned long long>(stats.frames - before.frames),
                        static_cast<double>(stats.bytes - before.bytes) / 1000.0);
            if (type == KX_DATA_H264) {
                std::printf(", %llu IDR", static_cast<unsigned long long>(stats.keyFrames));
            }
            if (type == KX_DATA_H265) {
                std::printf(", %llu IRAP", static_cast<unsigned long long>(stats.keyFrames));
            }
            if (stats.malformed) {
                std::printf(", %llu malformed", static_cast<unsigned long long>(stats.malformed));
            }
            std::printf(")");
        }
        std::printf("\n");
        std::fflush(stdout);
        m_previous = now;
    }

private:
    std::map<uint32_t, TypeStats> m_previous;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) {
        printUsage(argv[0]);
        return 2;
    }
    StreamUrl url;
    std::string error;
    if (!parseStreamUrl(options.url, url, &error)) {
        std::fprintf(stderr, "kxnetcli: %s\n", error.c_str());
        return 2;
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    if (KX_NET_Init(0, 0, options.logMask) != KX_NET_OK) {
        std::fprintf(stderr, "kxnetcli: KX_NET_Init failed\n");
        return 1;
    }

    // Login stores the address and credentials; nothing is sent yet.
    const int32_t login =
        KX_NET_Login(url.host.c_str(), url.port, url.user.c_str(), url.password.c_str());
    if (login == KX_NET_INVALID_HANDLE) {
        std::fprintf(stderr,
                     "kxnetcli: KX_NET_Login refused the address (host at most 15 "
                     "characters, user name and password at most 49)\n");
        KX_NET_Cleanup();
        return 1;
    }

    std::printf("kxnetcli: playing %s://%s:%u%s over %s\n", "rtsp", url.host.c_str(), url.port,
                url.path.c_str(), options.tcp ? "TCP" : "UDP");
    std::fflush(stdout);
    const int32_t play = KX_NET_RealPlay(login, 0, 0, options.tcp ? 1 : 0, url.path.c_str(), 0);
    if (play == KX_NET_INVALID_HANDLE && options.tcp) {
        // The library reports only that the start failed. Playing the same address over UDP
        // tells a server without RTP over TCP apart from other failures (the reason itself is
        // in the library's log at "error").
        const int32_t probe = KX_NET_RealPlay(login, 0, 0, 0, url.path.c_str(), 0);
        if (probe != KX_NET_INVALID_HANDLE) {
            KX_NET_StopRealPlay(probe);
            std::fprintf(stderr,
                         "kxnetcli: the server does not offer RTP over TCP; try without --tcp\n");
            KX_NET_Logout(login);
            KX_NET_Cleanup();
            return 1;
        }
    }
    if (play == KX_NET_INVALID_HANDLE) {
        std::fprintf(stderr, "kxnetcli: KX_NET_RealPlay failed\n");
        KX_NET_Logout(login);
        KX_NET_Cleanup();
        return 1;
    }
    std::printf("kxnetcli: play handle %d; KX_NET_GetVideoLength = %d\n", play,
                KX_NET_GetVideoLength(play));

    // Frames packaged before this call are delivered to no one.
    FrameStats stats;
    KX_NET_SetRealDataCallBack(play, onRealData, &stats);

    Reporter reporter;
    const auto start = std::chrono::steady_clock::now();
    auto nextReport = start + std::chrono::seconds(1);
    while (!g_stopRequested) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = std::chrono::steady_clock::now();
        if (now < nextReport) continue;
        nextReport += std::chrono::seconds(1);
        const double elapsed = std::chrono::duration<double>(now - start).count();
        // The play position follows the presentation times of the H.264 frames.
        reporter.report(stats.snapshot(), elapsed, KX_NET_GetCurrentTime(play));
        if (options.seconds > 0 && elapsed >= static_cast<double>(options.seconds) - 0.01) break;
    }

    // Stop delivery first, then the play, the login and the library.
    KX_NET_SetRealDataCallBack(play, nullptr, nullptr);
    KX_NET_StopRealPlay(play);
    KX_NET_Logout(login);
    KX_NET_Cleanup();

    uint64_t frames = 0;
    for (const auto& [type, typeStats] : stats.snapshot()) frames += typeStats.frames;
    std::printf("kxnetcli: stopped after %llu frames\n", static_cast<unsigned long long>(frames));
    return frames > 0 ? 0 : 3;
}
