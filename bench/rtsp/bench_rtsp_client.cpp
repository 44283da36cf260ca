// bench_rtsp_client: the benchmark's client of the stream library, through its public C API
// only (as an integrator uses it). Two modes:
//
//   bench_rtsp_client --port P [--path /stream] [--tcp] --sessions N --seconds S [--warmup W]
//       N sessions of the same stream in this one process. Prints "playing" when every
//       KX_NET_RealPlay returned, plays S seconds, samples its own resident memory every
//       second, stops every session and prints its counts ("key value" lines).
//   bench_rtsp_client --port P [--path /stream] [--tcp] --latency N
//       Keeps one session playing (so the server's pipeline stays up) and times N further
//       plays: KX_NET_RealPlay until it returns, from there to the first delivered NAL unit
//       and to the first key frame, and KX_NET_StopRealPlay.
//
// Exit status 0 when every session played, 1 otherwise, 2 for a usage error.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "FrameCounter.h"
#include "KXRtspSdk.h"

namespace {

using Brelso::Bench::FrameCounter;
using Clock = std::chrono::steady_clock;

struct Options {
    int port = 0;
    std::string path = "/stream";
    bool tcp = false;
    int sessions = 0;
    double seconds = 20;
    double warmup = 5;
    int latencyPlays = 0;
};

void onData(int32_t, uint32_t dataType, uint8_t* buffer, uint32_t size, void* user) {
    static_cast<FrameCounter*>(user)->onData(dataType, buffer, size);
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long total = 0, resident = 0;
    statm >> total >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void printList(const char* key, const std::vector<double>& values) {
    std::printf("%s", key);
    for (double v : values) std::printf(" %.3f", v);
    std::printf("\n");
}

// Least-squares slope of y over x.
double slope(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    if (x.size() < 2) return 0;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

int runLoad(int32_t login, const Options& options) {
    std::vector<std::unique_ptr<FrameCounter>> counters;
    std::vector<int32_t> handles;
    const long baseline = residentKb();
    long oneSession = 0;
    int failed = 0;
    for (int i = 0; i < options.sessions; ++i) {
        const int32_t handle =
            KX_NET_RealPlay(login, 0, 0, options.tcp ? 1 : 0, options.path.c_str(), 0);
        if (handle < 0) {
            ++failed;
            continue;
        }
        counters.push_back(std::make_unique<FrameCounter>());
        KX_NET_SetRealDataCallBack(handle, onData, counters.back().get());
        handles.push_back(handle);
        if (handles.size() == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            oneSession = residentKb();
        }
    }
    std::printf("playing %zu\n", handles.size());
    std::fflush(stdout);

    const auto start = Clock::now();
    std::vector<double> times, rss;
    for (int s = 1; s <= static_cast<int>(options.seconds); ++s) {
        std::this_thread::sleep_until(start + std::chrono::seconds(s));
        times.push_back(s);
        rss.push_back(static_cast<double>(residentKb()));
    }
    for (int32_t handle : handles) KX_NET_StopRealPlay(handle);

    uint64_t delivered = 0, expected = 0, lost = 0, maxLost = 0, bytes = 0;
    int withLoss = 0, silent = 0;
    for (const auto& counter : counters) {
        delivered += counter->delivered();
        expected += counter->expected();
        lost += counter->lost();
        bytes += counter->bytes();
        maxLost = std::max(maxLost, counter->lost());
        if (counter->lost() > 0) ++withLoss;
        if (counter->delivered() == 0 && counter->bytes() == 0) ++silent;
    }
    // Memory figures from the samples after the warm-up.
    std::vector<double> steadyTimes, steadyRss;
    for (size_t i = 0; i < times.size(); ++i) {
        if (times[i] >= options.warmup) {
            steadyTimes.push_back(times[i]);
            steadyRss.push_back(rss[i]);
        }
    }
    const double n = static_cast<double>(std::max<size_t>(handles.size(), 1));
    std::printf("sessions %d\nstarted %zu\nstart-failed %d\nsilent %d\n", options.sessions,
                handles.size(), failed, silent);
    std::printf("frames-delivered %llu\nframes-expected %llu\nframes-lost %llu\n",
                static_cast<unsigned long long>(delivered),
                static_cast<unsigned long long>(expected), static_cast<unsigned long long>(lost));
    std::printf("sessions-with-loss %d\nmax-lost-per-session %llu\nbytes %llu\n", withLoss,
                static_cast<unsigned long long>(maxLost), static_cast<unsigned long long>(bytes));
    std::printf("rss-baseline-kb %ld\n", baseline);
    printList("rss-kb", rss);
    if (!steadyRss.empty()) {
        double sum = 0;
        for (double v : steadyRss) sum += v;
        const double mean = sum / static_cast<double>(steadyRss.size());
        std::printf("rss-steady-first-kb %.0f\nrss-steady-last-kb %.0f\n", steadyRss.front(),
                    steadyRss.back());
        std::printf("rss-per-session-kb %.1f\n", (mean - static_cast<double>(baseline)) / n);
        // What each further session adds, without the one-time cost of the first.
        if (handles.size() > 1) {
            std::printf("rss-one-session-kb %ld\nrss-per-added-session-kb %.1f\n", oneSession,
                        (mean - static_cast<double>(oneSession)) / (n - 1));
        }
        std::printf("rss-slope-kb-per-min %.2f\n", slope(steadyTimes, steadyRss) * 60.0);
    }
    std::fflush(stdout);
    return failed == 0 && silent == 0 ? 0 : 1;
}

std::vector<double> stats(std::vector<double> values) {
    if (values.empty()) return {0, 0};
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        const size_t i = static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
        return values[std::min(i, values.size() - 1)];
    };
    return {at(0.5), at(0.9)};
}

int runLatency(int32_t login, const Options& options) {
    const int tcp = options.tcp ? 1 : 0;
    const int32_t anchor = KX_NET_RealPlay(login, 0, 0, tcp, options.path.c_str(), 0);
    if (anchor < 0) return 1;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::vector<double> play, first, key, stop;
    int failed = 0;
    // Plays start at random points of the stream's key frame interval (else every play would
    // begin just after the key frame that ended the previous one's wait).
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause(0, 999);
    for (int i = 0; i < options.latencyPlays; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        FrameCounter counter;
        const auto t0 = Clock::now();
        const int32_t handle = KX_NET_RealPlay(login, 0, 0, tcp, options.path.c_str(), 0);
        const auto t1 = Clock::now();
        if (handle < 0) {
            ++failed;
            continue;
        }
        KX_NET_SetRealDataCallBack(handle, onData, &counter);
        const bool gotData = counter.waitFirstData(std::chrono::seconds(5));
        const bool gotKey = counter.waitFirstKey(std::chrono::seconds(5));
        const auto t2 = Clock::now();
        KX_NET_StopRealPlay(handle);
        const auto t3 = Clock::now();
        play.push_back(msBetween(t0, t1));
        if (gotData) first.push_back(msBetween(t1, counter.firstDataTime()));
        if (gotKey) key.push_back(msBetween(t1, counter.firstKeyTime()));
        if (!gotData || !gotKey) ++failed;
        stop.push_back(msBetween(t2, t3));
    }
    KX_NET_StopRealPlay(anchor);
    printList("realplay-ms", play);
    printList("first-data-ms", first);
    printList("first-key-ms", key);
    printList("stop-ms", stop);
    for (const auto& [name, values] :
         {std::pair{"realplay", play}, {"first-data", first}, {"first-key", key}, {"stop", stop}}) {
        const auto s = stats(values);
        std::printf("%s-median-ms %.3f\n%s-p90-ms %.3f\n", name, s[0], name, s[1]);
    }
    std::printf("plays %zu\nplay-failed %d\n", play.size(), failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--tcp") {
            options.tcp = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (name == "--port") {
            options.port = std::atoi(value);
        } else if (name == "--path") {
            options.path = value;
        } else if (name == "--sessions") {
            options.sessions = std::atoi(value);
        } else if (name == "--seconds") {
            options.seconds = std::atof(value);
        } else if (name == "--warmup") {
            options.warmup = std::atof(value);
        } else if (name == "--latency") {
            options.latencyPlays = std::atoi(value);
        } else {
            return false;
        }
    }
    return options.port > 0 && options.port < 65535 &&
           (options.sessions > 0 || options.latencyPlays > 0) && options.sessions <= 1024 &&
           options.latencyPlays <= 10000 && options.seconds >= 0 && options.seconds <= 86400;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s --port P [--path /stream] [--tcp] (--sessions N --seconds S "
                     "[--warmup W] | --latency N)\n",
                     argv[0]);
        return 2;
    }
    if (KX_NET_Init(0, 0, 0) != 1) return 1;
    const int32_t login = KX_NET_Login("127.0.0.1", static_cast<uint16_t>(options.port), "", "");
    const int result =
        options.latencyPlays > 0 ? runLatency(login, options) : runLoad(login, options);
    KX_NET_Logout(login);
    KX_NET_Cleanup();
    return result;
}
