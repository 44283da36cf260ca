#include "TestMedia.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace Brelso::Testing {

TempDir::TempDir() {
    GError* error = nullptr;
    gchar* path = g_dir_make_tmp("kxtest-XXXXXX", &error);
    if (!path) {
        std::string message = error ? error->message : "unknown error";
        if (error) g_error_free(error);
        throw std::runtime_error("cannot create a temporary folder: " + message);
    }
    m_path = path;
    g_free(path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

bool runProgram(const std::vector<std::string>& argv, std::string* output) {
    std::vector<gchar*> args;
    for (const auto& arg : argv) args.push_back(const_cast<gchar*>(arg.c_str()));
    args.push_back(nullptr);
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint status = 0;
    const gboolean spawned = g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH,
                                          nullptr, nullptr, &out, &err, &status, nullptr);
    if (output) *output = std::string(out ? out : "") + (err ? err : "");
    g_free(out);
    g_free(err);
    return spawned && g_spawn_check_wait_status(status, nullptr);
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

namespace {

// "ffmpeg ... -f lavfi -i testsrc=size=WxH:rate=FPS": the start of every command that makes
// test video.
std::vector<std::string> testVideoInput(int width, int height, int fps) {
    return {"ffmpeg",
            "-nostdin",
            "-v",
            "error",
            "-y",
            "-f",
            "lavfi",
            "-i",
            "testsrc=size=" + std::to_string(width) + "x" + std::to_string(height) +
                ":rate=" + std::to_string(fps)};
}

std::vector<std::string> videoEncoderArgs(int fps, int keyInterval) {
    return {"-c:v",         "libx264",
            "-preset",      "ultrafast",
            "-tune",        "zerolatency",
            "-profile:v",   "baseline",
            "-pix_fmt",     "yuv420p",
            "-g",           std::to_string(keyInterval),
            "-bf",          "0",
            "-x264-params", "slices=1:sliced-threads=0:repeat-headers=1:scenecut=0",
            "-threads",     "1",
            "-r",           std::to_string(fps)};
}

}  // namespace

bool generateH264Stream(const std::string& path, int frames, int fps, int keyInterval, int width,
                        int height) {
    std::vector<std::string> argv = testVideoInput(width, height, fps);
    argv.insert(argv.end(), {"-frames:v", std::to_string(frames)});
    for (auto& arg : videoEncoderArgs(fps, keyInterval)) argv.push_back(arg);
    argv.insert(argv.end(), {"-f", "h264", path});
    return runProgram(argv);
}

bool generateMp4Video(const std::string& path, int frames, int fps, int keyInterval) {
    std::vector<std::string> argv = testVideoInput(160, 120, fps);
    argv.insert(argv.end(), {"-frames:v", std::to_string(frames)});
    for (auto& arg : videoEncoderArgs(fps, keyInterval)) argv.push_back(arg);
    argv.insert(argv.end(), {"-f", "mp4", path});
    return runProgram(argv);
}

bool generateH265Stream(const std::string& path, int frames, int fps, int keyInterval, int width,
                        int height) {
    std::vector<std::string> argv = testVideoInput(width, height, fps);
    const std::string gop = std::to_string(keyInterval);
    argv.insert(argv.end(),
                {"-frames:v", std::to_string(frames), "-c:v", "libx265", "-preset", "ultrafast",
                 "-pix_fmt", "yuv420p", "-r", std::to_string(fps), "-x265-params",
                 "log-level=error:bframes=0:scenecut=0:repeat-headers=1:keyint=" + gop +
                     ":min-keyint=" + gop,
                 "-f", "hevc", path});
    return runProgram(argv);
}

bool remuxH265ToMp4(const std::string& h265Path, const std::string& mp4Path, int fps) {
    return runProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "hevc", "-framerate",
                       std::to_string(fps), "-i", h265Path, "-c", "copy", "-f", "mp4", mp4Path});
}

bool remuxH264ToMp4(const std::string& h264Path, const std::string& mp4Path, int fps) {
    return runProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "h264", "-framerate",
                       std::to_string(fps), "-i", h264Path, "-c", "copy", "-f", "mp4", mp4Path});
}

bool generateMpeg4Video(const std::string& path, int frames, int fps) {
    std::vector<std::string> argv = testVideoInput(160, 120, fps);
    argv.insert(argv.end(), {"-frames:v", std::to_string(frames), "-c:v", "mpeg4", "-g",
                             std::to_string(fps), "-bf", "0", "-b:v", "300k", "-f", "mp4", path});
    return runProgram(argv);
}

bool generateMp4Recording(const std::string& path, int seconds) {
    std::vector<std::string> argv = testVideoInput(160, 120, 15);
    argv.insert(argv.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000", "-t",
                             std::to_string(seconds)});
    for (auto& arg : videoEncoderArgs(15, 15)) argv.push_back(arg);
    argv.insert(argv.end(), {"-c:a", "aac", "-ac", "1", "-use_editlist", "0", "-f", "mp4", path});
    return runProgram(argv);
}

}  // namespace Brelso::Testing
