// media_bench: measures the RTSP/RTP layer on one stream.
//
//   media_bench serve <file.mp4> <port>          serves the H.264 file on
//   rtsp://127.0.0.1:<port>/file media_bench play [--tcp] <url> <seconds>     receives every
//   subsession for that long, then
//                                                prints frames, bytes and the CPU time used
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LocalRtspServer.h"
#include "MediaSession.h"
#include "MediaSink.h"
#include "RTPSource.h"
#include "RTSPClient.h"
#include "UsageEnvironment.h"

using namespace kx::media;

namespace {

volatile std::sig_atomic_t g_stop = 0;

class CountingSink : public MediaSink {
public:
    explicit CountingSink(UsageEnvironment& env) : MediaSink(env), m_buffer(4u << 20) {}
    uint64_t frames = 0;
    uint64_t bytes = 0;

protected:
    bool continuePlaying() override {
        if (fSource == nullptr) return false;
        fSource->getNextFrame(m_buffer.data(), static_cast<unsigned>(m_buffer.size()), &after, this,
                              &onSourceClosure, this);
        return true;
    }

private:
    static void after(void* p, unsigned size, unsigned, timeval, unsigned) {
        auto* self = static_cast<CountingSink*>(p);
        ++self->frames;
        self->bytes += size;
        self->continuePlaying();
    }
    std::vector<uint8_t> m_buffer;
};

struct Player {
    UsageEnvironment* env;
    RTSPClient* client = nullptr;
    MediaSession* session = nullptr;
    std::vector<CountingSink*> sinks;
    size_t next = 0;
    bool tcp = false;
    std::atomic<char> watch{0};
};
Player* g_player = nullptr;

void setupNext();

void afterSetup(RTSPClient*, int code, char* text) {
    delete[] text;
    MediaSubsession& sub = *g_player->session->subsessions()[g_player->next - 1];
    if (code == 0) {
        auto* sink = new CountingSink(*g_player->env);
        g_player->sinks.push_back(sink);
        sink->startPlaying(*sub.readSource(), nullptr, nullptr);
    }
    setupNext();
}

void afterPlay(RTSPClient*, int code, char* text) {
    delete[] text;
    if (code != 0) {
        std::fprintf(stderr, "PLAY failed: %d\n", code);
        g_player->watch = 1;
    }
}

void setupNext() {
    auto& subs = g_player->session->subsessions();
    while (g_player->next < subs.size()) {
        MediaSubsession& sub = *subs[g_player->next++];
        if (!sub.initiate()) continue;
        if (sub.rtpSource()->getReceiveBufferSize() < 4194304) {
            sub.rtpSource()->setReceiveBufferTo(4194304);
        }
        g_player->client->sendSetupCommand(sub, &afterSetup, false, g_player->tcp);
        return;
    }
    g_player->client->sendPlayCommand(*g_player->session, &afterPlay);
}

void afterDescribe(RTSPClient*, int code, char* text) {
    if (code != 0) {
        std::fprintf(stderr, "DESCRIBE failed: %d %s\n", code, text ? text : "");
        delete[] text;
        g_player->watch = 1;
        return;
    }
    g_player->session = MediaSession::createNew(*g_player->env, text);
    delete[] text;
    if (g_player->session == nullptr) {
        g_player->watch = 1;
        return;
    }
    setupNext();
}

void afterOptions(RTSPClient* c, int code, char* text) {
    delete[] text;
    if (code != 0) {
        std::fprintf(stderr, "OPTIONS failed: %d\n", code);
        g_player->watch = 1;
        return;
    }
    c->sendDescribeCommand(&afterDescribe);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

int play(bool tcp, const char* url, int seconds) {
    TaskScheduler scheduler;
    UsageEnvironment env(scheduler);
    Player player;
    player.env = &env;
    player.tcp = tcp;
    g_player = &player;
    player.client = new RTSPClient(env, url);
    player.client->sendOptionsCommand(&afterOptions);
    scheduler.scheduleDelayedTask(
        int64_t(seconds) * 1000000, [](void*) { g_player->watch = 1; }, nullptr);
    const double cpu0 = cpuSeconds();
    scheduler.doEventLoop(&player.watch);
    const double cpu = cpuSeconds() - cpu0;
    uint64_t frames = 0, bytes = 0;
    for (CountingSink* s : player.sinks) {
        frames += s->frames;
        bytes += s->bytes;
        Medium::close(s);
    }
    Medium::close(player.session);
    Medium::close(player.client);
    std::printf("frames=%llu bytes=%llu cpu_seconds=%.3f cpu_percent=%.3f\n",
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(bytes),
                cpu, 100.0 * cpu / seconds);
    return frames > 0 ? 0 : 3;
}

int serve(const char* file, int port) {
    Brelso::Tools::LocalRtspServer server;
    server.addMount({"/file", std::string("( filesrc location=\"") + file +
                                  "\" ! qtdemux ! h264parse ! rtph264pay name=pay0 pt=96 )"});
    if (!server.start(static_cast<uint16_t>(port))) {
        std::fprintf(stderr, "%s\n", server.lastError().c_str());
        return 1;
    }
    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::printf("%s\n", server.url("/file").c_str());
    std::fflush(stdout);
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "serve") == 0) return serve(argv[2], std::atoi(argv[3]));
    if (argc >= 4 && std::strcmp(argv[1], "play") == 0) {
        const bool tcp = std::strcmp(argv[2], "--tcp") == 0;
        if (argc != (tcp ? 5 : 4)) return 2;
        return play(tcp, argv[tcp ? 3 : 2], std::atoi(argv[tcp ? 4 : 3]));
    }
    std::fprintf(stderr,
                 "usage: media_bench serve <file.mp4> <port> | play [--tcp] <url> <seconds>\n");
    return 2;
}
