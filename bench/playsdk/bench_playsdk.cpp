// Measures the decode library (H.264, or H.265 with --codec h265): CPU per picture decoding a
// file at top speed against `ffmpeg -threads N -f null` on the same file (decode only, and
// with render targets), live latency from KX_PLAY_InputData to presentation beside the port's
// decode time of the same pictures, CPU for four live 1080p25 streams and resident memory per
// port. Media is generated with the ffmpeg program at start.
// Options: --seconds S (clip length, 10), --threads N (ffmpeg's, 2), --lib-threads N (the
// library's, 0 = its own choice), --live-threads N (the live port's, 0 = its own choice), --parts
// tlc, --codec h264|h265, --dir, --source.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KXPlaySdk.h"
#include "NalUnit.h"
#include "PackagedFrame.h"
#include "PortTable.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double cpuOf(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Pictures per second of wall time and per second of CPU time (the latter is what counts on
// a machine shared with other work).
struct Rate {
    double wall = 0;
    double cpu = 0;
    void keepBest(const Rate& r) {
        wall = std::max(wall, r.wall);
        cpu = std::max(cpu, r.cpu);
    }
};

struct Delivery {
    std::vector<uint8_t> packaged;
    int64_t ptsUs = 0;
    bool lastOfPicture = false;
};

struct Clip {
    std::vector<Delivery> frames;
    std::vector<std::vector<uint8_t>> accessUnits;  // Annex B, for the bare decoder
    int pictures = 0;
};

bool run(const std::string& cmd) {
    return std::system(cmd.c_str()) == 0;
}

// H.265 instead of H.264 (--codec h265).
bool g_hevc = false;

Clip loadClip(const std::string& ts) {
    Clip clip;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, ts.c_str(), nullptr, nullptr) < 0) return clip;
    avformat_find_stream_info(fmt, nullptr);
    AVPacket* pkt = av_packet_alloc();
    int64_t first = AV_NOPTS_VALUE;
    while (av_read_frame(fmt, pkt) >= 0) {
        const AVStream* st = fmt->streams[pkt->stream_index];
        const int64_t us = av_rescale_q(pkt->pts, st->time_base, AVRational{1, 1000000});
        if (first == AV_NOPTS_VALUE) first = us;
        const int64_t pts = us - first + 100 * 1000000LL;
        clip.accessUnits.emplace_back(pkt->data, pkt->data + pkt->size);
        ++clip.pictures;
        // NAL units without their start codes, packaged as the stream library does.
        std::vector<std::pair<size_t, size_t>> nals;
        const uint8_t* p = pkt->data;
        const size_t n = static_cast<size_t>(pkt->size);
        std::vector<size_t> starts, codes;
        for (size_t i = 0; i + 2 < n; ++i) {
            if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
                codes.push_back(i > 0 && p[i - 1] == 0 ? i - 1 : i);
                starts.push_back(i + 3);
                i += 2;
            }
        }
        for (size_t k = 0; k < starts.size(); ++k) {
            const size_t end = k + 1 < starts.size() ? codes[k + 1] : n;
            const uint8_t* nal = p + starts[k];
            const size_t size = end > starts[k] ? end - starts[k] : 0;
            const bool delimiter = g_hevc
                                       ? kx::frame::h265NalType(nal, size) == kx::frame::h265::kAud
                                       : kx::frame::h264NalType(nal, size) == kx::frame::h264::kAud;
            if (delimiter || size == 0) continue;
            kx::frame::VideoFrameInfo info;
            bool startCode = false;
            info.dataType = g_hevc ? KX_DATA_H265 : KX_DATA_H264;
            info.frameType = g_hevc ? kx::frame::h265FrameType(nal, size, startCode)
                                    : kx::frame::h264FrameType(nal, size, startCode);
            info.ptsSec = static_cast<uint32_t>(pts / 1000000);
            info.ptsUsec = static_cast<uint32_t>(pts % 1000000);
            Delivery d;
            d.ptsUs = pts;
            d.packaged.resize(kx::frame::packagedVideoSize(end - starts[k], false));
            kx::frame::writeVideo(d.packaged.data(), info, p + starts[k], end - starts[k]);
            clip.frames.push_back(std::move(d));
        }
        if (!clip.frames.empty()) clip.frames.back().lastOfPicture = true;
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return clip;
}

// A render target that asks for a fixed size and throws the pictures away.
struct DiscardTarget {
    KX_PLAY_RENDER_TARGET target{};
    int width;
    int height;
    std::atomic<int> count{0};
    std::function<void()> onPresent;
    DiscardTarget(int w, int h) : width(w), height(h) {
        target.pContext = this;
        target.fnGetSize = [](void* c, int32_t* w2, int32_t* h2) {
            *w2 = static_cast<DiscardTarget*>(c)->width;
            *h2 = static_cast<DiscardTarget*>(c)->height;
        };
        target.fnPresent = [](void* c, const KX_PLAY_PICTURE*) {
            auto* self = static_cast<DiscardTarget*>(c);
            ++self->count;
            if (self->onPresent) self->onPresent();
        };
    }
};

struct EndWait {
    std::mutex m;
    std::condition_variable cv;
    bool ended = false;
    static void callback(int32_t, void* u) {
        auto* self = static_cast<EndWait*>(u);
        std::lock_guard lock(self->m);
        self->ended = true;
        self->cv.notify_all();
    }
    void wait() {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return ended; });
    }
};

Rate libraryFps(const std::string& qf, int threads, int width, int height, int pictures,
                bool decCallback) {
    const int port = KX_PLAY_OpenFile(qf.c_str());
    auto p = kx::play::PortTable::instance().get(port);
    p->setDecodeThreads(threads);
    p->setFreeRun(true);
    DiscardTarget target(width, height);
    EndWait end;
    std::atomic<int> decoded{0};
    if (width > 0) KX_PLAY_SetPlayWnd(port, &target.target);
    if (decCallback) {
        KX_PLAY_SetDecCallBack(
            port,
            [](int32_t, const uint8_t*, int32_t, const FRAME_INFO* info, void* u) {
                if (info->nType == KX_PLAY_FRAME_VIDEO) ++*static_cast<std::atomic<int>*>(u);
            },
            &decoded);
    }
    KX_PLAY_SetFileEndCallBack(port, &EndWait::callback, &end);
    const auto t0 = Clock::now();
    const double c0 = cpuOf(RUSAGE_SELF);
    KX_PLAY_Play(port);
    end.wait();
    const double s = secondsSince(t0);
    const double c = cpuOf(RUSAGE_SELF) - c0;
    KX_PLAY_Stop(port);
    KX_PLAY_CloseFile(port);
    const int shown = width > 0 ? target.count.load() : decoded.load();
    if (shown != pictures) {
        std::printf("  (warning: %d of %d pictures presented)\n", shown, pictures);
    }
    return {pictures / s, pictures / c};
}

Rate ffmpegFps(const std::string& ts, int threads, int pictures) {
    const auto t0 = Clock::now();
    const double c0 = cpuOf(RUSAGE_CHILDREN);
    run("ffmpeg -nostdin -hide_banner -loglevel error -threads " + std::to_string(threads) +
        " -i " + ts + " -f null -");
    const double s = secondsSince(t0);
    return {pictures / s, pictures / (cpuOf(RUSAGE_CHILDREN) - c0)};
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

double median(std::vector<double> v) {
    return percentile(std::move(v), 0.5);
}

// Bare single-threaded decoding times of the pictures, for comparison with the live latency.
std::vector<double> bareDecodeMs(const Clip& clip) {
    const AVCodec* codec = avcodec_find_decoder(g_hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 1;
    avcodec_open2(ctx, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<double> times;
    for (const auto& au : clip.accessUnits) {
        av_new_packet(pkt, static_cast<int>(au.size()));
        std::memcpy(pkt->data, au.data(), au.size());
        const auto t0 = Clock::now();
        avcodec_send_packet(ctx, pkt);
        while (avcodec_receive_frame(ctx, frame) >= 0) av_frame_unref(frame);
        times.push_back(secondsSince(t0) * 1000);
        av_packet_unref(pkt);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return times;
}

// Feeds a live port in real time (25 pictures a second) for `seconds`.
void feedLive(int port, const Clip& clip, double seconds,
              std::map<int64_t, Clock::time_point>* inputTimes, std::mutex* timesMutex) {
    const auto start = Clock::now();
    const int64_t firstPts = clip.frames.front().ptsUs;
    const int64_t clipUs = clip.pictures * 40000LL;
    for (int64_t loop = 0;; ++loop) {
        for (const auto& d : clip.frames) {
            const int64_t mediaUs = d.ptsUs - firstPts + loop * clipUs;
            if (mediaUs > seconds * 1e6) return;
            std::this_thread::sleep_until(start + std::chrono::microseconds(mediaUs));
            std::vector<uint8_t> copy;
            const uint8_t* inner = d.packaged.data() + 23;
            uint32_t size = static_cast<uint32_t>(d.packaged.size() - 34);
            if (loop > 0) {
                // Later loops continue the presentation times.
                copy.assign(inner, inner + size);
                const int64_t pts = d.ptsUs + loop * clipUs;
                const uint32_t sec = static_cast<uint32_t>(pts / 1000000);
                const uint32_t usec = static_cast<uint32_t>(pts % 1000000);
                std::memcpy(copy.data(), &sec, 4);
                std::memcpy(copy.data() + 4, &usec, 4);
                inner = copy.data();
            }
            if (inputTimes != nullptr && d.lastOfPicture) {
                std::lock_guard lock(*timesMutex);
                (*inputTimes)[(d.ptsUs + loop * clipUs) / 1000] = Clock::now();
            }
            KX_PLAY_InputData(port, inner, size);
        }
    }
}

// Live latency of one stream shown in a w x h target: from KX_PLAY_InputData of a picture's
// last NAL unit to its decode callback, and to its presentation.
struct Latency {
    std::vector<double> toCallback;
    std::vector<double> toPresent;
    std::vector<double> decode;        // the port's decoder, for the same pictures
    std::vector<double> beyondDecode;  // latency less decoding, picture by picture
};

Latency liveLatency(const Clip& clip, int width, int height, double seconds, int threads) {
    struct Ctx {
        std::mutex m;
        std::map<int64_t, Clock::time_point> inputs;
        int64_t stamp = -1;
        double decodeMs = 0;
        std::shared_ptr<kx::play::Port> port;
        Latency result;
        double record(std::vector<double>& into, int64_t ms) {
            auto it = inputs.find(ms);
            if (it == inputs.end()) return -1;
            into.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - it->second).count());
            return into.back();
        }
    } ctx;
    const int port = KX_PLAY_OpenStream();
    ctx.port = kx::play::PortTable::instance().get(port);
    ctx.port->setDecodeThreads(threads);
    DiscardTarget target(width, height);
    target.onPresent = [&] {
        std::lock_guard lock(ctx.m);
        const double ms = ctx.record(ctx.result.toPresent, ctx.stamp);
        if (ms >= 0) {
            ctx.result.decode.push_back(ctx.decodeMs);
            ctx.result.beyondDecode.push_back(ms - ctx.decodeMs);
        }
    };
    KX_PLAY_SetPlayWnd(port, &target.target);
    KX_PLAY_SetDecCallBack(
        port,
        [](int32_t, const uint8_t*, int32_t, const FRAME_INFO* info, void* u) {
            if (info->nType != KX_PLAY_FRAME_VIDEO) return;
            auto* c = static_cast<Ctx*>(u);
            const double decodeMs = c->port->stats().lastPictureDecodeUs / 1000.0;
            std::lock_guard lock(c->m);
            c->decodeMs = decodeMs;
            c->stamp = static_cast<uint32_t>(info->nStamp);
            c->record(c->result.toCallback, c->stamp);
        },
        &ctx);
    KX_PLAY_Play(port);
    feedLive(port, clip, seconds, &ctx.inputs, &ctx.m);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    KX_PLAY_Stop(port);
    KX_PLAY_CloseStream(port);
    return ctx.result;
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double cpuSeconds() {
    return cpuOf(RUSAGE_SELF);
}

}  // namespace

int main(int argc, char** argv) {
    int threads = 2;      // ffmpeg's, and the library's in the row that says so
    int libThreads = 0;   // the library's own choice
    int liveThreads = 0;  // the same, for the live port

    double seconds = 10;
    std::string dir = "/tmp/bench_playsdk";
    std::string parts = "tlc";  // t throughput, l latency, c four streams
    std::string source = "testsrc2=size=1920x1080:rate=25";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--threads")) threads = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--lib-threads")) libThreads = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--live-threads")) liveThreads = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
        if (!std::strcmp(argv[i], "--parts")) parts = argv[i + 1];
        if (!std::strcmp(argv[i], "--source")) source = argv[i + 1];
        if (!std::strcmp(argv[i], "--codec")) g_hevc = !std::strcmp(argv[i + 1], "h265");
    }
    av_log_set_level(AV_LOG_ERROR);
    KX_PLAY_Init(0);
    run("mkdir -p " + dir);
    const std::string name = g_hevc ? "1080p_h265" : "1080p";
    const std::string ts = dir + "/" + name + ".ts";
    const std::string qf = dir + "/" + name + ".qf";
    // H.265 at about 3 Mbit/s, H.264 at 4 Mbit/s; a key frame every two seconds, no B-frames.
    const std::string encoder =
        g_hevc ? " -c:v libx265 -preset veryfast -b:v 3M -x265-params "
                 "log-level=error:keyint=50:min-keyint=50:bframes=0:scenecut=0 -pix_fmt yuv420p "
               : " -c:v libx264 -preset veryfast -b:v 4M -g 50 -bf 0 -pix_fmt yuv420p ";
    if (access(ts.c_str(), R_OK) != 0) {
        std::printf("generating a 1080p25 %s clip (%g s)...\n", g_hevc ? "H.265" : "H.264",
                    seconds);
        if (!run("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \"" + source +
                 "\" -t " + std::to_string(seconds) + encoder + "-f mpegts " + ts)) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
    }
    const std::string ts720 = dir + "/" + name + "_720.ts";
    if (parts.find('l') != std::string::npos && access(ts720.c_str(), R_OK) != 0) {
        std::printf("generating a 720p25 clip...\n");
        if (!run("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \"" + source +
                 "\" -t " + std::to_string(std::min(seconds, 10.0)) + " -vf scale=1280:720" +
                 encoder + "-f mpegts " + ts720)) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
    }
    const Clip clip = loadClip(ts);
    const Clip clip720 = parts.find('l') != std::string::npos ? loadClip(ts720) : Clip{};
    {
        std::ofstream out(qf, std::ios::binary | std::ios::trunc);
        for (const auto& d : clip.frames) {
            out.write(reinterpret_cast<const char*>(d.packaged.data()),
                      static_cast<std::streamsize>(d.packaged.size()));
        }
    }
    std::printf(
        "clip: %d pictures 1920x1080, %zu NAL deliveries; ffmpeg threads %d, library threads "
        "%s\n\n",
        clip.pictures, clip.frames.size(), threads,
        libThreads == 0 ? "its own choice" : std::to_string(libThreads).c_str());

    // 1. Throughput: CPU per picture against ffmpeg decoding the same file (ratio = ours /
    // ffmpeg's, at most 1.0 is the aim), and wall-clock rate.
    if (parts.find('t') != std::string::npos) {
        struct Case {
            std::string what;
            int w, h;
            bool callback;
            int threads;
            Rate best;
        };
        const std::string forced = " (" + std::to_string(threads) + " threads)";
        Case cases[] = {{"decode callback only (decode)", 0, 0, true, libThreads, {}},
                        {"960x540 BGRA target", 960, 540, false, libThreads, {}},
                        {"960x540 BGRA target" + forced, 960, 540, false, threads, {}},
                        {"1920x1080 BGRA target", 1920, 1080, false, libThreads, {}},
                        {"1920x1080 target + decode callback", 1920, 1080, true, libThreads, {}}};
        Rate ff;
        for (int r = 0; r < 3; ++r) {
            ff.keepBest(ffmpegFps(ts, threads, clip.pictures));
            for (auto& c : cases) {
                c.best.keepBest(libraryFps(qf, c.threads, c.w, c.h, clip.pictures, c.callback));
            }
        }
        std::printf("throughput, %d pictures (best of 3): CPU per picture, ratio to ffmpeg\n",
                    clip.pictures);
        std::printf("  ffmpeg -threads %d -i FILE -f null -      : %6.2f ms CPU  %7.1f fps\n",
                    threads, 1000 / ff.cpu, ff.wall);
        for (const auto& c : cases) {
            std::printf("  library, %-34s: %6.2f ms CPU  %7.1f fps   CPU ratio %.2f\n",
                        c.what.c_str(), 1000 / c.best.cpu, c.best.wall, ff.cpu / c.best.cpu);
        }
        std::printf("\n");
    }

    // 2. Live latency, next to the bare decode time of the same pictures.
    if (parts.find('l') != std::string::npos) {
        struct LatencyCase {
            const Clip* clip;
            const char* what;
            int w, h;
        };
        const LatencyCase cases[] = {{&clip720, "1280x720 to 640x360", 640, 360},
                                     {&clip, "1920x1080 to 960x540", 960, 540}};
        std::printf(
            "live latency, one stream at 25 pictures/s (InputData of a picture's last NAL unit "
            "to fnPresent)\n");
        for (const auto& c : cases) {
            const Latency l = liveLatency(*c.clip, c.w, c.h, std::min(seconds, 10.0), liveThreads);
            const std::vector<double> bare = bareDecodeMs(*c.clip);
            const double med = median(l.toPresent);
            const double dec = median(l.decode);
            std::printf(
                "  %-21s: latency median %5.2f ms, p90 %5.2f ms (%zu pictures); to the decode "
                "callback %5.2f ms\n",
                c.what, med, percentile(l.toPresent, 0.9), l.toPresent.size(),
                median(l.toCallback));
            std::printf(
                "  %-21s  decode in the port median %5.2f ms, p90 %5.2f ms (bare decoder "
                "alone %5.2f ms)\n",
                "", dec, percentile(l.decode, 0.9), median(bare));
            std::printf(
                "  %-21s  latency - decode: median %+.2f ms, p90 %+.2f ms (target: median "
                "within +2 ms)\n",
                "", median(l.beyondDecode), percentile(l.beyondDecode, 0.9));
        }
        std::printf("\n");
    }

    // 3. Four live streams: CPU and memory.
    if (parts.find('c') != std::string::npos) {
        const long rssBefore = residentKb();
        std::vector<int> ports;
        std::vector<std::unique_ptr<DiscardTarget>> targets;
        for (int i = 0; i < 4; ++i) {
            ports.push_back(KX_PLAY_OpenStream());
            targets.push_back(std::make_unique<DiscardTarget>(960, 540));
            KX_PLAY_SetPlayWnd(ports.back(), &targets.back()->target);
            KX_PLAY_SetDecCallBack(
                ports.back(), [](int32_t, const uint8_t*, int32_t, const FRAME_INFO*, void*) {},
                nullptr);
            KX_PLAY_Play(ports.back());
        }
        const double cpu0 = cpuSeconds();
        const auto t0 = Clock::now();
        std::vector<std::thread> feeders;
        for (int p : ports) {
            feeders.emplace_back([&, p] { feedLive(p, clip, seconds, nullptr, nullptr); });
        }
        for (auto& f : feeders) f.join();
        // Let the last deliveries through before taking the numbers (at most a second).
        for (int k = 0; k < 100; ++k) {
            bool empty = true;
            for (int p : ports)
                empty = empty && kx::play::PortTable::instance().get(p)->queued() == 0;
            if (empty) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const double wall = secondsSince(t0);
        const double cpu = cpuSeconds() - cpu0;
        const long rssDuring = residentKb();
        int presented = 0;
        for (auto& t : targets) presented += t->count.load();
        uint64_t dropped = 0, errors = 0, received = 0, decoded = 0;
        for (int p : ports) {
            const auto st = kx::play::PortTable::instance().get(p)->stats();
            dropped += st.dropped;
            errors += st.decodeErrors;
            received += st.received;
            decoded += st.decodedVideo;
        }
        for (int p : ports) {
            KX_PLAY_Stop(p);
            KX_PLAY_CloseStream(p);
        }
        std::printf("four live 1080p25 streams, 960x540 targets, %.0f s\n", wall);
        std::printf("  CPU %.0f%% of one core (%.2f cores of %u); %d of %d pictures presented\n",
                    100 * cpu / wall, cpu / wall, std::thread::hardware_concurrency(), presented,
                    static_cast<int>(4 * 25 * seconds));
        std::printf(
            "  deliveries %llu, dropped %llu, decode errors %llu, pictures decoded %llu\n",
            static_cast<unsigned long long>(received), static_cast<unsigned long long>(dropped),
            static_cast<unsigned long long>(errors), static_cast<unsigned long long>(decoded));
        std::printf("  resident memory: %.1f MiB per port\n",
                    (rssDuring - rssBefore) / 4.0 / 1024.0);
    }
    KX_PLAY_Cleanup();
    return 0;
}
