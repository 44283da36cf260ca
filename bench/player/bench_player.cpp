// bench_player: the whole player against ffplay. Encodes one 1080p25 H.264 stream once (ffmpeg,
// x264), serves it from bench_rtsp_server as one shared mount on 127.0.0.1, starts a virtual
// display (Xvfb) and measures in one run, on that same stream and display:
//   1. CPU seconds per stream-minute (utime + stime from /proc/<pid>/stat, all threads) of
//      BrelsoPlayer showing the stream in its four windows over TCP, against four
//      `ffplay -rtsp_transport tcp` processes, each with a window the size of one play window,
//      laid out in the same two-by-two grid; the same warm-up and window for both;
//   2. the player's resident memory after one minute and at the end of its run (two minutes;
//      ten with --long), with a sample every ten seconds.
//
//   bench_player [--long] [--window S] [--warmup S] [--memory-seconds S] [--size WxH]
//                [--encode-seconds S] [--bitrate KBIT] [--perf FILE] [--shot PREFIX]
//                [--baseline PROGRAM]
//
// --size resizes the player's main window (xdotool) before measuring; the ffplay windows get
// the play windows' size that follows from it. --perf records a call-graph profile of the
// player (perf record -g) for ten seconds after the CPU window. --shot writes a screenshot of
// the display at the end of each CPU window to PREFIX-player.png and PREFIX-ffplay.png.
// --baseline measures the CPU of another build of BrelsoPlayer (an earlier one, say) over the
// same warm-up and window, between the player and ffplay, and prints it against both.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchStream.h"
#include "BenchTable.h"
#include "ChildProcess.h"

namespace {

using Brelso::Bench::BenchTable;
using Brelso::Bench::ChildProcess;
using Brelso::Bench::encodeAndServe;
using Brelso::Bench::format;
using Brelso::Bench::loadAverage;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The main window as the player opens it, and the height its toolbar and control panel take
// from it; the rest is the video panel, split into two rows and two columns.
constexpr int kPlayerWidth = 1000;
constexpr int kPlayerHeight = 720;
constexpr int kPanelsHeight = 124;
constexpr int kWindows = 4;

struct Options {
    double window = 30;
    double warmup = 15;
    double memorySeconds = 120;
    double memoryFirst = 60;
    int width = kPlayerWidth;
    int height = kPlayerHeight;
    int encodeSeconds = 8;
    int bitrateKbit = 4000;
    std::string perfFile;
    std::string shotPrefix;
    std::string baseline;
};

void sleepSeconds(double seconds) {
    if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Resident memory in KiB; -1 once the process is gone.
long residentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Runs a helper program to its end; true when it exited with 0.
bool runToEnd(const std::vector<std::string>& argv, std::chrono::seconds timeout,
              std::string* output = nullptr) {
    auto child = ChildProcess::start(argv, output != nullptr, true);
    if (!child) return false;
    const std::string text = child->finish(timeout);
    if (output != nullptr) *output = text;
    return child->exitStatus() == 0;
}

struct Phase {
    double cpuSeconds = -1;  // over the window, all processes of the phase
    int alive = 0;
    long rssKb = 0;  // at the end of the window, all processes
};

class Bench {
public:
    Bench(Options options, fs::path binDir, fs::path workDir)
        : m_options(std::move(options)), m_bin(std::move(binDir)), m_work(std::move(workDir)) {}

    bool prepare();
    int run();

private:
    std::string url() const { return "rtsp://127.0.0.1:" + std::to_string(m_port) + "/stream"; }
    int tileWidth() const { return m_options.width / 2; }
    int tileHeight() const { return (m_options.height - kPanelsHeight) / 2; }
    bool startDisplay();
    bool resizePlayer(pid_t pid);
    void screenshot(const std::string& name) const;
    double cpuOf(const std::vector<std::unique_ptr<ChildProcess>>& children) const;
    // The player's CPU window, then (for the player of this build) its memory run.
    Phase runPlayer(const std::string& program, bool memory);
    Phase runFfplay();

    Options m_options;
    fs::path m_bin;
    fs::path m_work;
    std::unique_ptr<ChildProcess> m_server;
    std::unique_ptr<ChildProcess> m_display;
    std::string m_displayName;
    int m_port = 0;
    double m_bitrate = 0;
    std::vector<std::pair<double, long>> m_memory;  // seconds since start, KiB
};

bool Bench::prepare() {
    auto served =
        encodeAndServe(m_bin / ".." / "rtsp" / "bench_rtsp_server", m_work / "stream.h264",
                       m_options.encodeSeconds, m_options.bitrateKbit, false);
    if (!served) return false;
    m_server = std::move(served->server);
    m_port = served->port;
    m_bitrate = served->bitrateMbit;
    return m_port > 0 && startDisplay();
}

bool Bench::startDisplay() {
    // Xvfb picks a free display number itself and writes it to the descriptor given.
    const std::string screen =
        format("%dx%dx24", std::max(1920, m_options.width), std::max(1080, m_options.height));
    m_display = ChildProcess::start(
        {"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, true,
        false);
    if (!m_display) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return false;
    }
    const auto line = m_display->readLine(20s);
    if (!line || line->empty()) {
        std::fprintf(stderr, "Xvfb did not report its display\n");
        return false;
    }
    m_displayName = ":" + *line;
    const fs::path runtime = m_work / "runtime";
    fs::create_directories(runtime);
    chmod(runtime.c_str(), 0700);
    // Every program started from here on shows on that display and keeps its settings in the
    // work folder; none has a sound card.
    setenv("DISPLAY", m_displayName.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("XDG_CONFIG_HOME", (m_work / "config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    return true;
}

bool Bench::resizePlayer(pid_t pid) {
    std::string ids;
    if (!runToEnd({"xdotool", "search", "--sync", "--onlyvisible", "--pid", std::to_string(pid)},
                  30s, &ids)) {
        return false;
    }
    std::istringstream lines(ids);
    std::string id;
    bool resized = false;
    while (lines >> id) {
        resized = runToEnd({"xdotool", "windowsize", id, std::to_string(m_options.width),
                            std::to_string(m_options.height)},
                           10s) ||
                  resized;
    }
    return resized;
}

void Bench::screenshot(const std::string& name) const {
    if (m_options.shotPrefix.empty()) return;
    const std::string file = m_options.shotPrefix + "-" + name + ".png";
    runToEnd({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "x11grab",
              "-video_size", format("%dx%d", m_options.width, m_options.height), "-i",
              m_displayName, "-frames:v", "1", file},
             30s);
}

double Bench::cpuOf(const std::vector<std::unique_ptr<ChildProcess>>& children) const {
    double total = 0;
    for (const auto& child : children) total += child->cpuSeconds().value_or(0);
    return total;
}

Phase Bench::runPlayer(const std::string& program, bool memory) {
    Phase result;
    std::vector<std::string> argv = {program};
    for (int i = 0; i < kWindows; ++i) argv.insert(argv.end(), {"--open-tcp", url()});
    std::vector<std::unique_ptr<ChildProcess>> player;
    const auto started = std::chrono::steady_clock::now();
    const auto since = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    if (auto child = ChildProcess::start(argv, false, true)) player.push_back(std::move(child));
    if (player.empty()) return result;
    const pid_t pid = player[0]->pid();
    if ((m_options.width != kPlayerWidth || m_options.height != kPlayerHeight) &&
        !resizePlayer(pid)) {
        std::fprintf(stderr, "the player's window could not be resized\n");
    }
    sleepSeconds(m_options.warmup - since());
    const double cpu0 = cpuOf(player);
    sleepSeconds(m_options.window);
    result.cpuSeconds = cpuOf(player) - cpu0;
    result.rssKb = residentKb(pid);
    screenshot(memory ? "player" : "baseline");
    if (memory && !m_options.perfFile.empty()) {
        std::fprintf(stderr, "profiling the player for 10 s into %s ...\n",
                     m_options.perfFile.c_str());
        runToEnd({"perf", "record", "-q", "-g", "-p", std::to_string(pid), "-o", m_options.perfFile,
                  "--", "sleep", "10"},
                 60s);
    }
    // Memory: a sample every ten seconds up to the end of the run.
    for (double next = 10; memory && next <= m_options.memorySeconds + 0.1; next += 10) {
        sleepSeconds(next - since());
        const long kb = residentKb(pid);
        if (kb < 0) break;
        m_memory.emplace_back(next, kb);
    }
    result.alive = player[0]->alive() ? 1 : 0;
    player[0]->end(5s);
    return result;
}

Phase Bench::runFfplay() {
    Phase result;
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < kWindows; ++i) {
        const std::vector<std::string> argv = {"ffplay",
                                               "-hide_banner",
                                               "-loglevel",
                                               "error",
                                               "-rtsp_transport",
                                               "tcp",
                                               "-an",
                                               "-noborder",
                                               "-x",
                                               std::to_string(tileWidth()),
                                               "-y",
                                               std::to_string(tileHeight()),
                                               "-left",
                                               std::to_string(i % 2 * tileWidth()),
                                               "-top",
                                               std::to_string(i / 2 * tileHeight()),
                                               url()};
        if (auto child = ChildProcess::start(argv, false, true))
            children.push_back(std::move(child));
    }
    sleepSeconds(m_options.warmup);
    const double cpu0 = cpuOf(children);
    sleepSeconds(m_options.window);
    result.cpuSeconds = cpuOf(children) - cpu0;
    for (auto& child : children) {
        result.alive += child->alive() ? 1 : 0;
        result.rssKb += std::max(0L, residentKb(child->pid()));
    }
    screenshot("ffplay");
    for (auto& child : children) child->signal(SIGTERM);
    for (auto& child : children) child->end(5s);
    return result;
}

std::string perStreamMinute(const Phase& phase, double window) {
    return phase.cpuSeconds < 0 ? "n/a" : format("%.3f", phase.cpuSeconds / (window / 60) / 4);
}

int Bench::run() {
    std::printf(
        "Player benchmark: 1920x1080 25 fps H.264 (x264 main, GOP 25, no B), %.2f Mbit/s,\n"
        "one shared mount of bench_rtsp_server on %s, shown four times over TCP\n",
        m_bitrate, url().c_str());
    std::printf("display %s (Xvfb); player window %dx%d, play windows %dx%d\n",
                m_displayName.c_str(), m_options.width, m_options.height, tileWidth(),
                tileHeight());
    std::printf("machine: %u cores; load average (1/5/15 min) at start: %s\n\n",
                std::thread::hardware_concurrency(), loadAverage().c_str());
    std::fflush(stdout);

    std::fprintf(stderr, "player: four windows, %.0f s ...\n", m_options.memorySeconds);
    const Phase player =
        runPlayer((m_bin / ".." / ".." / "player" / "ui" / "BrelsoPlayer").string(), true);
    sleepSeconds(2);  // the server drops the sessions
    Phase baseline;
    if (!m_options.baseline.empty()) {
        // A build without --open-tcp reopens the four windows from its settings instead.
        const fs::path settings = m_work / "config" / "Brelso" / "BrelsoPlayer.conf";
        fs::create_directories(settings.parent_path());
        std::ofstream out(settings);
        for (int i = 0; i < kWindows; ++i) {
            out << "[window" << i << "]\nsource=" << url() << "\ntcp=1\ntype=stream\n\n";
        }
        out << "[windows]\ncurrent=0\n";
        out.close();
        std::fprintf(stderr, "baseline player %s, %.0f s ...\n", m_options.baseline.c_str(),
                     m_options.warmup + m_options.window);
        baseline = runPlayer(m_options.baseline, false);
        sleepSeconds(2);
    }
    std::fprintf(stderr, "ffplay: four processes, %.0f s ...\n",
                 m_options.warmup + m_options.window);
    const Phase ffplay = runFfplay();
    const std::string loadAfter = loadAverage();

    std::printf("1. CPU seconds per stream-minute (lower is better), %.0f s window after %.0f s\n",
                m_options.window, m_options.warmup);
    BenchTable cpu({"", "CPU s / stream-min", "CPU %", "running", "RSS"});
    const auto row = [&](const char* name, const Phase& phase, int processes) {
        cpu.addRow({name, perStreamMinute(phase, m_options.window),
                    phase.cpuSeconds < 0
                        ? "n/a"
                        : format("%.1f", phase.cpuSeconds / m_options.window * 100),
                    format("%d/%d", phase.alive, processes),
                    format("%.0f MB", static_cast<double>(phase.rssKb) / 1024)});
    };
    row("BrelsoPlayer, one process, four windows", player, 1);
    if (!m_options.baseline.empty()) row("baseline BrelsoPlayer (--baseline)", baseline, 1);
    row("ffplay, four processes", ffplay, kWindows);
    std::printf("%s", cpu.render().c_str());
    const bool cpuValid = player.cpuSeconds > 0 && ffplay.cpuSeconds > 0 && player.alive == 1 &&
                          ffplay.alive == kWindows;
    const double ratio = cpuValid ? player.cpuSeconds / ffplay.cpuSeconds : -1;
    std::printf("   ratio player / ffplay: %s (target <= 1.00: %s)\n",
                cpuValid ? format("%.2f", ratio).c_str() : "n/a",
                cpuValid && ratio <= 1.0 ? "met" : "MISSED");
    if (!m_options.baseline.empty() && baseline.cpuSeconds > 0 && baseline.alive == 1 && cpuValid) {
        std::printf("   baseline / ffplay: %.2f; player / baseline: %.2f\n",
                    baseline.cpuSeconds / ffplay.cpuSeconds,
                    player.cpuSeconds / baseline.cpuSeconds);
    }
    std::printf("\n");

    std::printf("2. Resident memory of the player (MB), every 10 s:");
    long first = -1;
    for (size_t i = 0; i < m_memory.size(); ++i) {
        const auto& [seconds, kb] = m_memory[i];
        std::printf("%s %.1f", i % 12 == 0 ? "\n  " : "", static_cast<double>(kb) / 1024);
        if (first < 0 && seconds >= m_options.memoryFirst) first = kb;
    }
    const long last = m_memory.empty() ? -1 : m_memory.back().second;
    const double memoryRatio =
        first > 0 && last > 0 ? static_cast<double>(last) / static_cast<double>(first) : -1;
    std::printf("\n   at %.0f s: %.1f MB; at %.0f s: %.1f MB; ratio %s (target within 5 %%: %s)\n",
                m_options.memoryFirst, static_cast<double>(first) / 1024,
                m_memory.empty() ? 0 : m_memory.back().first, static_cast<double>(last) / 1024,
                memoryRatio < 0 ? "n/a" : format("%.3f", memoryRatio).c_str(),
                memoryRatio > 0 && memoryRatio <= 1.05 && memoryRatio >= 0.95 ? "met" : "MISSED");
    std::printf("load average at end: %s\n", loadAfter.c_str());
    return cpuValid ? 0 : 1;
}

bool parseSize(const std::string& text, int& width, int& height) {
    return std::sscanf(text.c_str(), "%dx%d", &width, &height) == 2 && width >= 400 &&
           height >= kPanelsHeight + 100 && width <= 7680 && height <= 4320;
}

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--long") {
            options.memorySeconds = 600;
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string text = argv[++i];
        if (name == "--size") {
            if (!parseSize(text, options.width, options.height)) return false;
            continue;
        }
        if (name == "--perf") {
            options.perfFile = fs::absolute(text).string();
            continue;
        }
        if (name == "--baseline") {
            options.baseline = fs::absolute(text).string();
            continue;
        }
        if (name == "--shot") {
            options.shotPrefix = fs::absolute(text).string();
            continue;
        }
        const double value = std::atof(text.c_str());
        if (value <= 0) return false;
        if (name == "--window") {
            options.window = value;
        } else if (name == "--warmup") {
            options.warmup = value;
        } else if (name == "--memory-seconds") {
            options.memorySeconds = value;
        } else if (name == "--encode-seconds") {
            options.encodeSeconds = static_cast<int>(value);
        } else if (name == "--bitrate") {
            options.bitrateKbit = static_cast<int>(value);
        } else {
            return false;
        }
    }
    // The memory run covers the CPU window and reaches past the first sample.
    options.memorySeconds = std::max(
        {options.memorySeconds, options.warmup + options.window, options.memoryFirst + 10});
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s [--long] [--window S] [--warmup S] [--memory-seconds S] "
                     "[--size WxH] [--encode-seconds S] [--bitrate KBIT] [--perf FILE] "
                     "[--shot PREFIX] [--baseline PROGRAM]\n",
                     argv[0]);
        return 2;
    }
    return Brelso::Bench::runBench("bench_player",
                                   [&](const fs::path& binDir, const fs::path& work) {
                                       Bench bench(options, binDir, work);
                                       return bench.prepare() ? bench.run() : 1;
                                   });
}
