// bench_rtsp_server: the benchmark's camera. Serves one pre-encoded H.264 file in a loop, in
// real time, as one shared mount "/stream" of a GStreamer RTSP server on 127.0.0.1, so that
// every client of a run receives the very same packets and no encoder runs while measuring.
// Every access unit gets its frame number as an SEI message (see FrameTag.h).
//
//   bench_rtsp_server --file PATH.h264 [--fps 25] [--port 0] [--timeout 10] [--codec h265]
//
// With --codec h265 the file is H.265 and its access units go out untagged.
//
// Prints "port N" once listening, then serves until its standard input closes or it gets
// SIGINT/SIGTERM; prints "frames-pushed N" before it exits.
#include <glib-unix.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "AccessUnits.h"
#include "FrameTag.h"

namespace {

using Brelso::Bench::AccessUnit;

struct Options {
    std::string file;
    int fps = 25;
    int port = 0;
    int timeout = 10;
    bool hevc = false;
};

// Pushes the access units into the current mount pipeline's appsrc at the frame rate.
class FramePusher {
public:
    FramePusher(std::vector<AccessUnit> units, int fps, bool tag)
        : m_units(std::move(units)), m_fps(fps), m_tag(tag) {}
    ~FramePusher() { stop(); }

    void start() {
        m_thread = std::thread([this] { run(); });
    }
    void stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        setSource(nullptr);
    }
    // A new pipeline: it starts with the file's first (key) frame.
    void setSource(GstElement* source) {
        std::lock_guard lock(m_mutex);
        if (m_source) gst_object_unref(m_source);
        m_source = source ? GST_ELEMENT(gst_object_ref(source)) : nullptr;
        m_next = 0;
    }
    void dropSource(GstElement* source) {
        std::lock_guard lock(m_mutex);
        if (m_source == source) {
            gst_object_unref(m_source);
            m_source = nullptr;
        }
    }
    uint64_t pushed() const { return m_pushed; }

private:
    GstBuffer* tagged(const AccessUnit& unit, uint32_t number) const {
        if (!m_tag) {
            GstBuffer* buffer = gst_buffer_new_memdup(unit.bytes.data(), unit.bytes.size());
            GST_BUFFER_DURATION(buffer) = GST_SECOND / m_fps;
            return buffer;
        }
        const auto tag = Brelso::Bench::makeFrameTag(number);
        // The tag goes right after the delimiter (the unit's first NAL unit).
        size_t cut = 4;
        while (cut + 3 <= unit.bytes.size() &&
               !(unit.bytes[cut] == 0 && unit.bytes[cut + 1] == 0 && unit.bytes[cut + 2] == 1)) {
            ++cut;
        }
        if (cut > 0 && unit.bytes[cut - 1] == 0) --cut;
        static constexpr uint8_t kStart[4] = {0, 0, 0, 1};
        const size_t size = unit.bytes.size() + sizeof(kStart) + tag.size();
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        uint8_t* out = map.data;
        std::memcpy(out, unit.bytes.data(), cut);
        out += cut;
        std::memcpy(out, kStart, sizeof(kStart));
        out += sizeof(kStart);
        std::memcpy(out, tag.data(), tag.size());
        out += tag.size();
        std::memcpy(out, unit.bytes.data() + cut, unit.bytes.size() - cut);
        gst_buffer_unmap(buffer, &map);
        GST_BUFFER_DURATION(buffer) = GST_SECOND / m_fps;
        return buffer;
    }

    void pushOne() {
        std::lock_guard lock(m_mutex);
        if (!m_source) return;
        const AccessUnit& unit = m_units[m_next];
        m_next = (m_next + 1) % m_units.size();
        GstBuffer* buffer = tagged(unit, static_cast<uint32_t>(m_pushed & 0x0fffffff));
        GstFlowReturn flow = GST_FLOW_OK;
        g_signal_emit_by_name(m_source, "push-buffer", buffer, &flow);
        gst_buffer_unref(buffer);
        ++m_pushed;
    }

    void run() {
        const auto period = std::chrono::nanoseconds(1000000000LL / m_fps);
        auto next = std::chrono::steady_clock::now();
        while (!m_stop) {
            pushOne();
            next += period;
            const auto now = std::chrono::steady_clock::now();
            if (now - next > 5 * period) next = now;  // far behind (machine stalled): no burst
            std::this_thread::sleep_until(next);
        }
    }

    std::vector<AccessUnit> m_units;
    int m_fps;
    bool m_tag;
    std::mutex m_mutex;
    GstElement* m_source = nullptr;
    size_t m_next = 0;
    std::atomic<uint64_t> m_pushed{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

FramePusher* g_pusher = nullptr;
GMainLoop* g_loop = nullptr;

void onUnprepared(GstRTSPMedia* media, gpointer source) {
    (void)media;
    g_pusher->dropSource(static_cast<GstElement*>(source));
    gst_object_unref(static_cast<GstElement*>(source));
}

void onMediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer) {
    GstElement* element = gst_rtsp_media_get_element(media);
    GstElement* source = gst_bin_get_by_name_recurse_up(GST_BIN(element), "src");
    gst_object_unref(element);
    if (!source) return;
    g_pusher->setSource(source);
    g_signal_connect(media, "unprepared", G_CALLBACK(onUnprepared), source);  // owns the ref
}

void onNewSession(GstRTSPClient*, GstRTSPSession* session, gpointer timeout) {
    gst_rtsp_session_set_timeout(session, GPOINTER_TO_UINT(timeout));
}

void onClientConnected(GstRTSPServer*, GstRTSPClient* client, gpointer timeout) {
    g_signal_connect(client, "new-session", G_CALLBACK(onNewSession), timeout);
}

gboolean cleanupSessions(gpointer pool) {
    gst_rtsp_session_pool_cleanup(static_cast<GstRTSPSessionPool*>(pool));
    return G_SOURCE_CONTINUE;
}

gboolean quitLoop(gpointer) {
    g_main_loop_quit(g_loop);
    return G_SOURCE_REMOVE;
}

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--file") {
            options.file = value;
        } else if (name == "--fps") {
            options.fps = std::atoi(value);
        } else if (name == "--port") {
            options.port = std::atoi(value);
        } else if (name == "--timeout") {
            options.timeout = std::atoi(value);
        } else if (name == "--codec") {
            options.hevc = std::string(value) == "h265";
        } else {
            return false;
        }
    }
    return !options.file.empty() && options.fps > 0 && options.fps <= 120 && options.port >= 0 &&
           options.port < 65536 && options.timeout > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc % 2 == 0 || !parseArguments(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s --file PATH.h264 [--fps 25] [--port 0] [--timeout 10] "
                     "[--codec h265]\n",
                     argv[0]);
        return 2;
    }
    gst_init(nullptr, nullptr);
    auto units = Brelso::Bench::readAccessUnits(options.file, options.hevc);
    if (units.empty() || !units.front().key) {
        std::fprintf(stderr, "%s: no access units (with delimiters, key frame first)\n",
                     options.file.c_str());
        return 1;
    }
    FramePusher pusher(std::move(units), options.fps, !options.hevc);
    g_pusher = &pusher;

    GstRTSPServer* server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, "127.0.0.1");
    gst_rtsp_server_set_service(server, std::to_string(options.port).c_str());
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    const std::string launch =
        "( appsrc name=src is-live=true do-timestamp=true format=time max-bytes=8000000 "
        "caps=video/x-" +
        std::string(options.hevc ? "h265" : "h264") +
        ",stream-format=byte-stream,alignment=au,framerate=" + std::to_string(options.fps) +
        (options.hevc ? "/1 ! h265parse ! rtph265pay name=pay0 pt=96 mtu=1400 )"
                      : "/1 ! h264parse ! rtph264pay name=pay0 pt=96 mtu=1400 )");
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    g_signal_connect(factory, "media-configure", G_CALLBACK(onMediaConfigure), nullptr);
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
    gst_rtsp_mount_points_add_factory(mounts, "/stream", factory);
    g_object_unref(mounts);
    g_signal_connect(server, "client-connected", G_CALLBACK(onClientConnected),
                     GUINT_TO_POINTER(static_cast<unsigned>(options.timeout)));
    if (gst_rtsp_server_attach(server, nullptr) == 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", options.port);
        return 1;
    }
    GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(server);
    g_timeout_add(1000, cleanupSessions, pool);

    g_loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGINT, quitLoop, nullptr);
    g_unix_signal_add(SIGTERM, quitLoop, nullptr);
    // Standard input closing (the benchmark driver ended) stops the server too.
    std::thread stdinWatch([] {
        char buffer[256];
        while (std::fread(buffer, 1, sizeof(buffer), stdin) > 0) {
        }
        g_idle_add(quitLoop, nullptr);
    });
    stdinWatch.detach();

    pusher.start();
    std::printf("port %d\n", gst_rtsp_server_get_bound_port(server));
    std::fflush(stdout);
    g_main_loop_run(g_loop);
    pusher.stop();
    std::printf("frames-pushed %llu\n", static_cast<unsigned long long>(pusher.pushed()));
    std::fflush(stdout);
    g_object_unref(pool);
    g_object_unref(server);
    g_main_loop_unref(g_loop);
    return 0;
}
