// Test media for the decode library, made at test time with the ffmpeg program and packed
// into deliveries (inner parts of packaged frames) and ".qf" recordings with the shared
// packaging code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace playtest {

// A folder of its own for the test program, removed at exit.
const std::string& workDir();
// Runs the ffmpeg program with these arguments (quietly); true on success.
bool runFfmpeg(const std::string& args);

// One frame as the stream library would deliver it.
struct Delivery {
    uint16_t dataType = 0;
    uint16_t frameType = 0;
    int64_t ptsUs = 0;
    std::vector<uint8_t> packaged;  // the whole packaged frame (L + 34 bytes)
    const uint8_t* inner() const { return packaged.data() + 23; }
    uint32_t innerSize() const { return static_cast<uint32_t>(packaged.size() - 34); }
};

struct Clip {
    std::vector<Delivery> frames;  // in delivery order
    int videoFrames = 0;           // pictures (access units) in it
    int width = 0;
    int height = 0;
};

// Video from a generated elementary stream: codec "h264", "h265" or "mpeg4"; `filter` is a
// lavfi source description. H.264 and H.265 NAL units are packaged one per frame, without
// start codes, with the frame types the stream library gives them. gop = frames per key frame.
Clip makeVideo(const std::string& name, const std::string& codec, const std::string& filter,
               double seconds, int fps, int gop, uint32_t basePtsSec,
               const std::string& extraEncoderArgs = "");
// Audio: "aac" (access units), "mulaw" or "alaw" (20 ms frames).
Clip makeAudio(const std::string& name, const std::string& codec, int sampleRate, int channels,
               double seconds, uint32_t basePtsSec);
// Frames of both in presentation order (video first on equal times).
Clip interleave(const Clip& video, const Clip& audio);

// Writes whole packaged frames one after another.
std::string writeQf(const std::string& name, const Clip& clip);
std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool fileExists(const std::string& path);
std::vector<std::string> listDir(const std::string& dir);

// A standard test clip: 320x240, 25 fps, key frame every 25 frames, four seconds.
const Clip& standardH264();
const std::string& standardQf();  // standardH264 with AAC, as a ".qf" file

// A ".qf" recording's H.264 video as file playback decodes it: read in access units by the
// decode library's reader, decoded with frame threads.
struct QfDecode {
    bool opened = false;
    int slicePictures = 0;  // pictures in the file, by presentation time of their slices
    int slices = 0;         // slice NAL units in the file
    int units = 0;          // access units the reader gave out
    int pictures = 0;       // pictures the decoder gave out
    int damaged = 0;        // of those, pictures with decoding errors
};
QfDecode decodeQfVideo(const std::string& path);

// Decodes a JPEG file; false when it is not one. Gives its size and the BGRA colour at (x, y).
bool decodeJpeg(const std::string& path, int& width, int& height);

}  // namespace playtest
