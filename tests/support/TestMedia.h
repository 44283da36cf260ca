// Test media made at test time: a temporary folder that removes itself, and media files
// written by the ffmpeg program (H.264 elementary streams, MP4 recordings of a known length).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Brelso::Testing {

// A fresh folder under the system's temporary folder, removed with its content on
// destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs a program (searched in PATH) and waits for it. True when it exited with 0; its
// output goes to *output when given.
bool runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

std::vector<uint8_t> readFile(const std::string& path);

// An H.264 Annex B stream of a test pattern: one slice per picture, no B-frames, a key frame
// every keyInterval pictures, SPS and PPS in front of every key frame.
bool generateH264Stream(const std::string& path, int frames, int fps = 15, int keyInterval = 15,
                        int width = 160, int height = 120);

// An MP4 recording (H.264 test pattern + AAC sine) of about `seconds` seconds, written
// without an edit list so its session description gives a range starting at 0.
bool generateMp4Recording(const std::string& path, int seconds);

// Copies an H.264 Annex B stream unchanged into an MP4 file (pictures at fps).
bool remuxH264ToMp4(const std::string& h264Path, const std::string& mp4Path, int fps = 15);

// An MP4 holding MPEG-4 part 2 video of a test pattern (FFmpeg's encoder).
bool generateMpeg4Video(const std::string& path, int frames, int fps = 15);

// An H.265 Annex B stream of a test pattern (libx265): one slice per picture, no B-frames,
// an IRAP picture every keyInterval pictures with VPS, SPS and PPS in front of it.
bool generateH265Stream(const std::string& path, int frames, int fps = 15, int keyInterval = 15,
                        int width = 320, int height = 240);
// Copies an H.265 Annex B stream unchanged into an MP4 file (pictures at fps).
bool remuxH265ToMp4(const std::string& h265Path, const std::string& mp4Path, int fps = 15);

// An MP4 holding only H.264 video (same settings as generateH264Stream).
bool generateMp4Video(const std::string& path, int frames, int fps = 15, int keyInterval = 15);

}  // namespace Brelso::Testing
