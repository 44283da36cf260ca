// bench_stream: the stream library benchmark. Encodes one 1080p25 H.264 stream once (ffmpeg,
// x264), serves it from bench_rtsp_server as one shared mount on 127.0.0.1, and measures on
// that same stream, in one run:
//   1. client CPU per stream-minute: bench_rtsp_client (the library, one process holding all
//      sessions) against `ffmpeg -rtsp_transport tcp|udp -i URL -c copy -f null -` and
//      `gst-launch-1.0 rtspsrc location=URL protocols=tcp|udp ! fakesink` (one process per
//      session), over TCP and UDP, 1 and 32 sessions; CPU from /proc/<pid>/stat over the same
//      window after the same warm-up (the server's CPU is not counted); and the library one
//      process per session as well (tools/kxnetcli, the integrator's example, one process each)
//      against the same peer runs;
//   2. KX_NET_RealPlay time to return, return to first NAL unit / first key frame,
//      KX_NET_StopRealPlay time (median and p90, TCP and UDP);
//   3. frames lost (server frame numbers vs delivered pictures) at 32 and 64 TCP sessions and
//      at 64 UDP sessions;
//   4. resident memory per session and its slope over the 64-session run.
//
// --cpu-only runs and prints part 1 alone (about 10 minutes with the default windows).
//
//   bench_stream [--long] [--cpu-only] [--window S] [--multi-window S] [--memory-seconds S]
//   [--plays N]
//                [--sessions N] [--loss-sessions N] [--encode-seconds S] [--bitrate KBIT]
//                [--h265] [--kxnetcli PATH]
//
// kxnetcli is taken from this program's folder when it is there, else from the build tree
// (tools/kxnetcli/kxnetcli), unless --kxnetcli names it.
//
// --h265: the same CPU rows (1 session, TCP and UDP) for a 1080p25 H.265 stream (x265, about
// 3 Mbit/s unless --bitrate says otherwise); the other parts count H.264 frame tags and are
// left out.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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

struct Options {
    double window = 40;       // CPU window, 1 session (CPU time comes in 10-ms ticks)
    double multiWindow = 15;  // CPU window, many sessions
    double warmup = 5;
    double multiWarmup = 10;
    double memorySeconds = 60;
    int plays = 30;
    int sessions = 32;
    int lossSessions = 64;
    int encodeSeconds = 8;
    int bitrateKbit = 4000;
    bool hevc = false;
    bool cpuOnly = false;
    std::string kxnetcli;  // empty: found next to this program or in the build tree
};

using Output = std::map<std::string, std::string>;

Output parseOutput(const std::string& text) {
    Output values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto space = line.find(' ');
        if (space != std::string::npos) values[line.substr(0, space)] = line.substr(space + 1);
    }
    return values;
}

double number(const Output& values, const std::string& key) {
    const auto it = values.find(key);
    return it == values.end() ? -1 : std::atof(it->second.c_str());
}

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

struct CpuRun {
    double perStreamMinute = -1;  // CPU seconds per stream-minute
    int alive = 0;
    int sessions = 0;
    double serverPercent = 0;
    Output client;  // bench_rtsp_client's counts (ours only)
};

class Bench {
public:
    Bench(Options options, fs::path binDir, fs::path workDir)
        : m_options(std::move(options)), m_bin(std::move(binDir)), m_work(std::move(workDir)) {}

    bool prepare();
    int run(bool longRun);

private:
    std::string url() const { return "rtsp://127.0.0.1:" + std::to_string(m_port) + "/stream"; }
    CpuRun runOurs(bool tcp, int sessions, double warmup, double window);
    // One process per session: "ffmpeg", "gst" or "kxnetcli" (the library).
    CpuRun runPeer(const std::string& peer, bool tcp, int sessions, double warmup, double window);
    std::string kxnetcli() const;
    double serverCpu() const { return m_server->cpuSeconds().value_or(0); }

    Options m_options;
    fs::path m_bin;
    fs::path m_work;
    std::unique_ptr<ChildProcess> m_server;
    int m_port = 0;
    double m_bitrate = 0;
};

bool Bench::prepare() {
    const fs::path stream = m_work / (m_options.hevc ? "stream.h265" : "stream.h264");
    auto served = encodeAndServe(m_bin / "bench_rtsp_server", stream, m_options.encodeSeconds,
                                 m_options.bitrateKbit, m_options.hevc);
    if (!served) return false;
    m_server = std::move(served->server);
    m_port = served->port;
    m_bitrate = served->bitrateMbit;
    return true;
}

CpuRun Bench::runOurs(bool tcp, int sessions, double warmup, double window) {
    CpuRun result;
    result.sessions = sessions;
    std::vector<std::string> argv = {(m_bin / "bench_rtsp_client").string(),
                                     "--port",
                                     std::to_string(m_port),
                                     "--sessions",
                                     std::to_string(sessions),
                                     "--seconds",
                                     std::to_string(static_cast<int>(warmup + window + 1)),
                                     "--warmup",
                                     std::to_string(static_cast<int>(warmup))};
    if (tcp) argv.push_back("--tcp");
    auto client = ChildProcess::start(argv, true, true);
    if (!client) return result;
    const auto playing = client->readLine(std::chrono::seconds(30 + sessions * 6));
    if (!playing || playing->rfind("playing", 0) != 0) {
        client->end(3s);
        return result;
    }
    sleepSeconds(warmup);
    const auto cpu0 = client->cpuSeconds();
    const double server0 = serverCpu();
    sleepSeconds(window);
    const auto cpu1 = client->cpuSeconds();
    result.serverPercent = (serverCpu() - server0) / window * 100;
    result.client = parseOutput(client->finish(std::chrono::seconds(60 + sessions)));
    result.alive = static_cast<int>(number(result.client, "started") -
                                    std::max(0.0, number(result.client, "silent")));
    if (cpu0 && cpu1) result.perStreamMinute = (*cpu1 - *cpu0) / (window / 60) / sessions;
    return result;
}

std::string Bench::kxnetcli() const {
    if (!m_options.kxnetcli.empty()) return m_options.kxnetcli;
    if (fs::exists(m_bin / "kxnetcli")) return (m_bin / "kxnetcli").string();
    return (m_bin / ".." / ".." / "tools" / "kxnetcli" / "kxnetcli").lexically_normal().string();
}

CpuRun Bench::runPeer(const std::string& peer, bool tcp, int sessions, double warmup,
                      double window) {
    CpuRun result;
    result.sessions = sessions;
    const std::string transport = tcp ? "tcp" : "udp";
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < sessions; ++i) {
        std::vector<std::string> argv;
        if (peer == "ffmpeg") {
            argv = {"ffmpeg", "-rtsp_transport", transport, "-i", url(), "-c", "copy", "-f", "null",
                    "-"};
        } else if (peer == "kxnetcli") {
            argv = {kxnetcli(), url()};
            if (tcp) argv.insert(argv.begin() + 1, "--tcp");
        } else {
            argv = {"gst-launch-1.0",         "rtspsrc", "location=" + url(),
                    "protocols=" + transport, "!",       "fakesink"};
        }
        if (auto child = ChildProcess::start(argv, false)) children.push_back(std::move(child));
    }
    sleepSeconds(warmup);
    const auto sum = [&] {
        double total = 0;
        for (const auto& child : children) total += child->cpuSeconds().value_or(0);
        return total;
    };
    const double cpu0 = sum();
    const double server0 = serverCpu();
    sleepSeconds(window);
    const double cpu1 = sum();
    result.serverPercent = (serverCpu() - server0) / window * 100;
    for (auto& child : children) result.alive += child->alive() ? 1 : 0;
    for (auto& child : children) child->signal(SIGINT);
    for (auto& child : children) child->end(5s);
    if (!children.empty()) result.perStreamMinute = (cpu1 - cpu0) / (window / 60) / sessions;
    return result;
}

std::string cell(double value, const char* pattern = "%.3f") {
    return value < 0 ? "n/a" : format(pattern, value);
}

int Bench::run(bool longRun) {
    const std::string loadBefore = loadAverage();
    std::printf(
        "Stream library benchmark: 1920x1080 25 fps %s, GOP 25, no B), "
        "%.2f Mbit/s,\none shared mount of bench_rtsp_server on %s\n",
        m_options.hevc ? "H.265 (x265" : "H.264 (x264 main", m_bitrate, url().c_str());
    std::printf("machine: %u cores; load average (1/5/15 min) at start: %s\n\n",
                std::thread::hardware_concurrency(), loadBefore.c_str());
    std::fflush(stdout);

    // 1. CPU
    struct Column {
        bool tcp;
        int sessions;
    };
    const std::vector<Column> columns =
        m_options.hevc
            ? std::vector<Column>{{true, 1}, {false, 1}}
            : std::vector<Column>{
                  {true, 1}, {false, 1}, {true, m_options.sessions}, {false, m_options.sessions}};
    const std::vector<std::string> peers = {"ours", "kxnetcli", "ffmpeg", "gst"};
    std::map<std::string, std::vector<CpuRun>> cpu;
    CpuRun ours32Tcp;
    for (const auto& column : columns) {
        const bool multi = column.sessions > 1;
        const double warmup = multi ? m_options.multiWarmup : m_options.warmup;
        const double window = multi ? m_options.multiWindow : m_options.window;
        for (const auto& peer : peers) {
            std::fprintf(stderr, "cpu: %s %s x%d ...\n", peer.c_str(), column.tcp ? "TCP" : "UDP",
                         column.sessions);
            CpuRun r = peer == "ours" ? runOurs(column.tcp, column.sessions, warmup, window)
                                      : runPeer(peer, column.tcp, column.sessions, warmup, window);
            if (peer == "ours" && multi && column.tcp) ours32Tcp = r;
            cpu[peer].push_back(r);
            sleepSeconds(2);  // let the server drop the sessions
        }
    }

    // 2. start and stop times
    std::map<bool, Output> latency;
    for (bool tcp : {true, false}) {
        if (m_options.hevc || m_options.cpuOnly) break;
        std::fprintf(stderr, "latency: %s, %d plays ...\n", tcp ? "TCP" : "UDP", m_options.plays);
        std::vector<std::string> argv = {(m_bin / "bench_rtsp_client").string(), "--port",
                                         std::to_string(m_port), "--latency",
                                         std::to_string(m_options.plays)};
        if (tcp) argv.push_back("--tcp");
        if (auto client = ChildProcess::start(argv, true, true)) {
            latency[tcp] =
                parseOutput(client->finish(std::chrono::seconds(30 + 12 * m_options.plays)));
        }
        sleepSeconds(2);
    }

    // 3 + 4. loss and memory with many TCP sessions, then loss with as many UDP sessions
    const bool cpuRowsOnly = m_options.hevc || m_options.cpuOnly;
    const double memorySeconds = cpuRowsOnly ? 0 : longRun ? 600 : m_options.memorySeconds;
    const double udpLossSeconds = m_options.multiWarmup + m_options.multiWindow;
    CpuRun many;
    CpuRun manyUdp;
    if (!cpuRowsOnly) {
        std::fprintf(stderr, "loss and memory: %d TCP sessions for %.0f s ...\n",
                     m_options.lossSessions, memorySeconds);
        many = runOurs(true, m_options.lossSessions, 10, memorySeconds - 10);
        sleepSeconds(2);
        std::fprintf(stderr, "loss: %d UDP sessions for %.0f s ...\n", m_options.lossSessions,
                     udpLossSeconds);
        manyUdp =
            runOurs(false, m_options.lossSessions, m_options.multiWarmup, m_options.multiWindow);
    }
    const std::string loadAfter = loadAverage();

    // Report
    std::printf("1. Client CPU seconds per stream-minute (lower is better)\n");
    std::printf(
        "   same stream, same window per column (%.0f s after %.0f s warm-up for 1 session, "
        "%.0f s after %.0f s for %d);\n   the library both ways: bench_rtsp_client, ONE process "
        "holding all sessions, and kxnetcli, one process per session;\n   peers = one process "
        "per session\n",
        m_options.window, m_options.warmup, m_options.multiWindow, m_options.multiWarmup,
        m_options.sessions);
    std::vector<std::string> header = {"client"};
    for (const auto& column : columns) {
        header.push_back(format("%s x%d", column.tcp ? "TCP" : "UDP", column.sessions));
    }
    BenchTable cpuTable(header);
    const std::map<std::string, std::string> names = {
        {"ours", "KXRtspSdk, one process (bench_rtsp_client)"},
        {"kxnetcli", "KXRtspSdk, process per session (kxnetcli)"},
        {"ffmpeg", "ffmpeg -c copy -f null"},
        {"gst", "gst-launch-1.0 rtspsrc ! fakesink"}};
    // A client run one process per session cannot cost a quarter of what one such process
    // costs alone: its processes did not receive the stream (they could not connect, or
    // stalled), and the figure is left out of the ratios.
    const auto idle = [&](const std::string& peer, size_t i) {
        if (peer == "ours" || columns[i].sessions == 1) return false;
        for (size_t j = 0; j < columns.size(); ++j) {
            const double alone = cpu[peer][j].perStreamMinute;
            if (columns[j].sessions == 1 && columns[j].tcp == columns[i].tcp && alone > 0) {
                return cpu[peer][i].perStreamMinute < alone / 4;
            }
        }
        return false;
    };
    for (const auto& peer : peers) {
        std::vector<std::string> row = {names.at(peer)};
        for (size_t i = 0; i < cpu[peer].size(); ++i) {
            const CpuRun& r = cpu[peer][i];
            std::string text = cell(r.perStreamMinute);
            if (r.alive < r.sessions) text += format(" (%d/%d alive)", r.alive, r.sessions);
            if (idle(peer, i)) text += " (idle?)";
            row.push_back(text);
        }
        cpuTable.addRow(row);
    }
    std::vector<std::string> ratioRow = {"ratio one process / best peer (target <= 0.50)"};
    std::vector<std::string> perProcessRow = {"ratio kxnetcli / best peer (target <= 0.50)"};
    std::vector<std::string> percentRow = {"one process, % of one core per stream"};
    std::vector<std::string> serverRow = {"server CPU % during one process (not counted)"};
    bool cpuMet = true;
    for (size_t i = 0; i < columns.size(); ++i) {
        double best = -1;
        for (const char* peer : {"ffmpeg", "gst"}) {
            const double v = cpu[peer][i].perStreamMinute;
            if (v > 0 && !idle(peer, i) && (best < 0 || v < best)) best = v;
        }
        const auto ratioOf = [&](const char* peer) {
            const double v = idle(peer, i) ? -1 : cpu[peer][i].perStreamMinute;
            const double ratio = v >= 0 && best > 0 ? v / best : -1;
            if (ratio < 0 || ratio > 0.5) cpuMet = false;
            return ratio;
        };
        ratioRow.push_back(cell(ratioOf("ours"), "%.2f"));
        perProcessRow.push_back(cell(ratioOf("kxnetcli"), "%.2f"));
        const double ours = cpu["ours"][i].perStreamMinute;
        percentRow.push_back(cell(ours < 0 ? -1 : ours / 60 * 100, "%.2f"));
        serverRow.push_back(cell(cpu["ours"][i].serverPercent, "%.1f"));
    }
    cpuTable.addRow(ratioRow);
    cpuTable.addRow(perProcessRow);
    cpuTable.addRow(percentRow);
    cpuTable.addRow(serverRow);
    std::printf("%s\n", cpuTable.render().c_str());
    if (m_options.hevc || m_options.cpuOnly) {
        std::printf("Target: CPU <= 0.5 x best peer: %s\nload average at end: %s\n",
                    cpuMet ? "met" : "MISSED", loadAfter.c_str());
        return 0;
    }

    std::printf(
        "2. Start and stop times, ms (%d plays each, loopback, one other session "
        "playing)\n",
        m_options.plays);
    BenchTable timeTable({"", "TCP median", "TCP p90", "UDP median", "UDP p90", "target"});
    const std::vector<std::pair<std::string, std::string>> timeRows = {
        {"realplay", "KX_NET_RealPlay call -> return"},
        {"first-data", "return -> first delivered NAL unit"},
        {"first-key", "return -> first key frame (GOP 1 s, random start)"},
        {"stop", "KX_NET_StopRealPlay"}};
    for (const auto& [key, label] : timeRows) {
        std::vector<std::string> row = {label};
        for (bool tcp : {true, false}) {
            row.push_back(cell(number(latency[tcp], key + "-median-ms"), "%.2f"));
            row.push_back(cell(number(latency[tcp], key + "-p90-ms"), "%.2f"));
        }
        row.push_back(key == "realplay"     ? "median <= 10"
                      : key == "stop"       ? "median <= 5"
                      : key == "first-data" ? "TCP median <= 20"
                                            : "-");
        timeTable.addRow(row);
    }
    std::printf("%s", timeTable.render().c_str());
    for (bool tcp : {true, false}) {
        if (number(latency[tcp], "play-failed") > 0) {
            std::printf("  %s: %.0f plays failed or got no frame\n", tcp ? "TCP" : "UDP",
                        number(latency[tcp], "play-failed"));
        }
    }
    std::printf("\n");

    std::printf(
        "3. Frames lost (server frame numbers vs delivered pictures, each session from its "
        "first to its last picture)\n");
    BenchTable lossTable({"transport", "sessions", "seconds", "started", "pictures expected",
                          "delivered", "lost", "lost %", "sessions with loss", "target"});
    const auto lostShare = [](const CpuRun& r) {
        const double expected = number(r.client, "frames-expected");
        return expected > 0 ? 100 * number(r.client, "frames-lost") / expected : -1;
    };
    for (const auto* r : {&ours32Tcp, &many, &manyUdp}) {
        const bool tcp = r != &manyUdp;
        const double seconds = r == &many      ? memorySeconds
                               : r == &manyUdp ? udpLossSeconds
                                               : m_options.multiWarmup + m_options.multiWindow;
        lossTable.addRow({tcp ? "TCP" : "UDP", std::to_string(r->sessions),
                          format("%.0f", seconds + 1), cell(number(r->client, "started"), "%.0f"),
                          cell(number(r->client, "frames-expected"), "%.0f"),
                          cell(number(r->client, "frames-delivered"), "%.0f"),
                          cell(number(r->client, "frames-lost"), "%.0f"),
                          cell(lostShare(*r), "%.3f"),
                          cell(number(r->client, "sessions-with-loss"), "%.0f"),
                          r->sessions < 64 ? "-"
                          : tcp            ? "0"
                                           : "<= 0.1 %"});
    }
    std::printf("%s", lossTable.render().c_str());
    std::printf(
        "  client CPU with %d TCP sessions: %.3f s per stream-minute (%.1f%% of one core "
        "in all); server %.0f%%\n\n",
        many.sessions, many.perStreamMinute, many.perStreamMinute * many.sessions / 60 * 100,
        many.serverPercent);

    std::printf(
        "4. Resident memory of bench_rtsp_client (%d TCP sessions, %.0f s, sampled every "
        "second after 10 s)\n",
        many.sessions, memorySeconds);
    BenchTable memoryTable({"baseline (no session)", "1 session", "first sample", "last sample",
                            "per session", "per added session", "slope (process)",
                            "slope per session", "target"});
    const double slope = number(many.client, "rss-slope-kb-per-min");
    memoryTable.addRow({cell(number(many.client, "rss-baseline-kb") / 1024, "%.1f MB"),
                        cell(number(many.client, "rss-one-session-kb") / 1024, "%.1f MB"),
                        cell(number(many.client, "rss-steady-first-kb") / 1024, "%.1f MB"),
                        cell(number(many.client, "rss-steady-last-kb") / 1024, "%.1f MB"),
                        cell(number(many.client, "rss-per-session-kb"), "%.0f KB"),
                        cell(number(many.client, "rss-per-added-session-kb"), "%.0f KB"),
                        format("%.1f KB/min", slope),
                        format("%.2f KB/min", slope / std::max(1, many.sessions)), "flat"});
    std::printf("%s\n", memoryTable.render().c_str());

    std::printf(
        "Targets: CPU <= 0.5 x best peer: %s; first frame over TCP median <= 20 ms: %s; zero "
        "loss at %d TCP sessions: %s; at most 0.1 %% lost at %d UDP sessions: %s; RealPlay "
        "median <= 10 ms: %s; stop median <= 5 ms: %s\n",
        cpuMet ? "met" : "MISSED",
        number(latency[true], "first-data-median-ms") >= 0 &&
                number(latency[true], "first-data-median-ms") <= 20
            ? "met"
            : "MISSED",
        many.sessions,
        number(many.client, "frames-lost") == 0 && many.alive == many.sessions ? "met" : "MISSED",
        manyUdp.sessions,
        lostShare(manyUdp) >= 0 && lostShare(manyUdp) <= 0.1 && manyUdp.alive == manyUdp.sessions
            ? "met"
            : "MISSED",
        number(latency[true], "realplay-median-ms") <= 10 &&
                number(latency[false], "realplay-median-ms") <= 10
            ? "met"
            : "MISSED",
        number(latency[true], "stop-median-ms") <= 5 &&
                number(latency[false], "stop-median-ms") <= 5
            ? "met"
            : "MISSED");
    std::printf("load average at end: %s\n", loadAfter.c_str());
    return 0;
}

bool parseArguments(int argc, char** argv, Options& options, bool& longRun) {
    bool bitrateGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--long") {
            longRun = true;
            continue;
        }
        if (name == "--h265") {
            options.hevc = true;
            if (!bitrateGiven) options.bitrateKbit = 3000;
            continue;
        }
        if (name == "--cpu-only") {
            options.cpuOnly = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        if (name == "--kxnetcli") {
            options.kxnetcli = argv[++i];
            continue;
        }
        const double value = std::atof(argv[++i]);
        if (value <= 0) return false;
        if (name == "--window") {
            options.window = value;
        } else if (name == "--multi-window") {
            options.multiWindow = value;
        } else if (name == "--memory-seconds") {
            options.memorySeconds = std::max(value, 15.0);
        } else if (name == "--plays") {
            options.plays = static_cast<int>(value);
        } else if (name == "--sessions") {
            options.sessions = static_cast<int>(value);
        } else if (name == "--loss-sessions") {
            options.lossSessions = static_cast<int>(value);
        } else if (name == "--encode-seconds") {
            options.encodeSeconds = static_cast<int>(value);
        } else if (name == "--bitrate") {
            options.bitrateKbit = static_cast<int>(value);
            bitrateGiven = true;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool longRun = false;
    if (!parseArguments(argc, argv, options, longRun)) {
        std::fprintf(
            stderr,
            "usage: %s [--long] [--cpu-only] [--window S] [--multi-window S] [--memory-seconds S] "
            "[--plays N] [--sessions N] [--loss-sessions N] [--encode-seconds S] "
            "[--bitrate KBIT] [--h265] [--kxnetcli PATH]\n",
            argv[0]);
        return 2;
    }
    return Brelso::Bench::runBench("bench_stream",
                                   [&](const fs::path& binDir, const fs::path& work) {
                                       Bench bench(options, binDir, work);
                                       return bench.prepare() ? bench.run(longRun) : 1;
                                   });
}
