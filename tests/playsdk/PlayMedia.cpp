#include "PlayMedia.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>

#include "BitstreamInfo.h"
#include "NalUnit.h"
#include "PackagedFrame.h"
#include "QfFileReader.h"
#include "VideoDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace playtest {
namespace {

struct WorkDir {
    std::string path;
    WorkDir() {
        char tmpl[] = "/tmp/playsdk_tests_XXXXXX";
        const char* made = mkdtemp(tmpl);
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        path = made;
    }
    ~WorkDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

int64_t toUs(int64_t ts, AVRational tb) {
    return av_rescale_q(ts, tb, AVRational{1, 1000000});
}

void addVideo(Clip& clip, uint16_t dataType, uint16_t frameType, const uint8_t* data, size_t n,
              int64_t ptsUs) {
    Delivery d;
    d.dataType = dataType;
    d.frameType = frameType;
    d.ptsUs = ptsUs;
    d.packaged.resize(kx::frame::packagedVideoSize(n, false));
    kx::frame::VideoFrameInfo info;
    info.dataType = dataType;
    info.frameType = frameType;
    info.hasStartCode = false;
    info.ptsSec = static_cast<uint32_t>(ptsUs / 1000000);
    info.ptsUsec = static_cast<uint32_t>(ptsUs % 1000000);
    info.wallClockSec = 1700000000;
    kx::frame::writeVideo(d.packaged.data(), info, data, n);
    clip.frames.push_back(std::move(d));
}

void addAudio(Clip& clip, uint16_t dataType, int rate, int channels, const uint8_t* data, size_t n,
              int64_t ptsUs) {
    Delivery d;
    d.dataType = dataType;
    d.ptsUs = ptsUs;
    d.packaged.resize(kx::frame::packagedAudioSize(n));
    kx::frame::AudioFrameInfo info;
    info.dataType = dataType;
    info.channels = static_cast<uint32_t>(channels);
    info.sampleRate = static_cast<uint32_t>(rate);
    info.ptsSec = static_cast<uint32_t>(ptsUs / 1000000);
    info.ptsUsec = static_cast<uint32_t>(ptsUs % 1000000);
    kx::frame::writeAudio(d.packaged.data(), info, data, n);
    clip.frames.push_back(std::move(d));
}

// Splits an Annex B access unit into NAL units (without their start codes).
std::vector<std::pair<const uint8_t*, size_t>> splitNals(const uint8_t* p, size_t n) {
    std::vector<size_t> starts;  // offsets of NAL headers
    std::vector<size_t> codes;   // offsets of the start codes in front of them
    for (size_t i = 0; i + 2 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            codes.push_back(i > 0 && p[i - 1] == 0 ? i - 1 : i);
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<std::pair<const uint8_t*, size_t>> out;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? codes[k + 1] : n;
        if (end > starts[k]) out.emplace_back(p + starts[k], end - starts[k]);
    }
    return out;
}

// Reads every packet of the first stream of a file.
template <typename F>
bool forEachPacket(const std::string& path, F&& f) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
    if (avformat_find_stream_info(fmt, nullptr) < 0) {
        avformat_close_input(&fmt);
        return false;
    }
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
        const AVStream* st = fmt->streams[pkt->stream_index];
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        f(*pkt, toUs(ts, st->time_base), st->codecpar);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return true;
}

}  // namespace

const std::string& workDir() {
    static WorkDir dir;
    return dir.path;
}

bool runFfmpeg(const std::string& args) {
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args;
    return std::system(cmd.c_str()) == 0;
}

Clip makeVideo(const std::string& name, const std::string& codec, const std::string& filter,
               double seconds, int fps, int gop, uint32_t basePtsSec,
               const std::string& extraEncoderArgs) {
    const std::string file = workDir() + "/" + name + ".ts";
    std::string enc;
    if (codec == "h265") {
        enc =
            "-c:v libx265 -preset ultrafast -pix_fmt yuv420p -x265-params "
            "log-level=error:bframes=0:"
            "scenecut=0:keyint=" +
            std::to_string(gop) + ":min-keyint=" + std::to_string(gop);
    } else if (codec == "h264") {
        enc = "-c:v libx264 -preset ultrafast -bf 0 -g " + std::to_string(gop) + " -keyint_min " +
              std::to_string(gop) + " -sc_threshold 0 -pix_fmt yuv420p";
    } else {
        enc = "-c:v mpeg4 -bf 0 -q:v 4 -g " + std::to_string(gop);
    }
    const std::string args = "-f lavfi -i \"" + filter + "\" -t " + std::to_string(seconds) +
                             " -r " + std::to_string(fps) + " " + enc + " " + extraEncoderArgs +
                             " -f mpegts " + file;
    if (!runFfmpeg(args)) throw std::runtime_error("ffmpeg failed: " + args);
    Clip clip;
    int64_t first = AV_NOPTS_VALUE;
    const bool ok =
        forEachPacket(file, [&](const AVPacket& pkt, int64_t us, const AVCodecParameters* par) {
            if (first == AV_NOPTS_VALUE) first = us;
            const int64_t pts = us - first + int64_t{basePtsSec} * 1000000;
            clip.width = par->width;
            clip.height = par->height;
            ++clip.videoFrames;
            if (codec == "h264" || codec == "h265") {
                const bool hevc = codec == "h265";
                for (const auto& [nal, n] : splitNals(pkt.data, static_cast<size_t>(pkt.size))) {
                    // Access unit delimiters do not travel over RTP.
                    if (hevc ? kx::frame::h265NalType(nal, n) == kx::frame::h265::kAud
                             : kx::frame::h264NalType(nal, n) == kx::frame::h264::kAud) {
                        continue;
                    }
                    bool start = false;
                    const uint16_t ft = hevc ? kx::frame::h265FrameType(nal, n, start)
                                             : kx::frame::h264FrameType(nal, n, start);
                    addVideo(clip, hevc ? KX_DATA_H265 : KX_DATA_H264, ft, nal, n, pts);
                }
            } else {
                addVideo(clip, KX_DATA_MPEG4, KX_FRAME_OTHER, pkt.data,
                         static_cast<size_t>(pkt.size), pts);
            }
        });
    if (!ok) throw std::runtime_error("cannot read " + file);
    return clip;
}

Clip makeAudio(const std::string& name, const std::string& codec, int sampleRate, int channels,
               double seconds, uint32_t basePtsSec) {
    const std::string src =
        "-f lavfi -i \"sine=frequency=440:sample_rate=" + std::to_string(sampleRate) + "\" -ac " +
        std::to_string(channels) + " -t " + std::to_string(seconds) + " ";
    Clip clip;
    const int64_t base = int64_t{basePtsSec} * 1000000;
    if (codec == "aac") {
        const std::string file = workDir() + "/" + name + ".m4a";
        if (!runFfmpeg(src + "-c:a aac -b:a 64k -f mp4 " + file)) {
            throw std::runtime_error("ffmpeg aac failed");
        }
        int64_t first = AV_NOPTS_VALUE;
        forEachPacket(file, [&](const AVPacket& pkt, int64_t us, const AVCodecParameters*) {
            if (first == AV_NOPTS_VALUE) first = us;
            addAudio(clip, KX_DATA_AAC, sampleRate, channels, pkt.data,
                     static_cast<size_t>(pkt.size), us - first + base);
        });
        return clip;
    }
    const std::string file = workDir() + "/" + name + "." + codec;
    if (!runFfmpeg(src + "-f " + codec + " " + file)) throw std::runtime_error("ffmpeg g711");
    const auto bytes = readFile(file);
    const size_t frame = static_cast<size_t>(sampleRate / 50 * channels);  // 20 ms
    const uint16_t type = codec == "mulaw" ? KX_DATA_PCMU : KX_DATA_PCMA;
    for (size_t off = 0, k = 0; off + frame <= bytes.size(); off += frame, ++k) {
        addAudio(clip, type, sampleRate, channels, bytes.data() + off, frame,
                 base + static_cast<int64_t>(k) * 20000);
    }
    return clip;
}

Clip interleave(const Clip& video, const Clip& audio) {
    Clip out = video;
    out.frames.clear();
    size_t a = 0;
    for (const auto& v : video.frames) {
        while (a < audio.frames.size() && audio.frames[a].ptsUs < v.ptsUs) {
            out.frames.push_back(audio.frames[a++]);
        }
        out.frames.push_back(v);
    }
    while (a < audio.frames.size()) out.frames.push_back(audio.frames[a++]);
    return out;
}

std::string writeQf(const std::string& name, const Clip& clip) {
    std::vector<uint8_t> bytes;
    for (const auto& d : clip.frames) {
        bytes.insert(bytes.end(), d.packaged.begin(), d.packaged.end());
    }
    const std::string path = workDir() + "/" + name;
    writeFile(path, bytes);
    return path;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    return names;
}

const Clip& standardH264() {
    static const Clip clip =
        makeVideo("standard", "h264", "testsrc=size=320x240:rate=25", 4.0, 25, 25, 1000);
    return clip;
}

const std::string& standardQf() {
    static const std::string path = [] {
        const Clip audio = makeAudio("standard_aac", "aac", 48000, 2, 4.0, 1000);
        return writeQf("standard.qf", interleave(standardH264(), audio));
    }();
    return path;
}

bool decodeJpeg(const std::string& path, int& width, int& height) {
    const auto bytes = readFile(path);
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    bool ok = false;
    if (avcodec_open2(ctx, codec, nullptr) >= 0) {
        AVPacket* pkt = av_packet_alloc();
        av_new_packet(pkt, static_cast<int>(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), pkt->data);
        AVFrame* frame = av_frame_alloc();
        if (avcodec_send_packet(ctx, pkt) >= 0 && avcodec_receive_frame(ctx, frame) >= 0) {
            width = frame->width;
            height = frame->height;
            ok = true;
        }
        av_frame_free(&frame);
        av_packet_free(&pkt);
    }
    avcodec_free_context(&ctx);
    return ok;
}

QfDecode decodeQfVideo(const std::string& path) {
    QfDecode result;
    {
        kx::play::QfScanner scanner;
        if (!scanner.open(path)) return result;
        std::set<int64_t> times;
        while (auto f = scanner.next()) {
            if (f->inner.dataType != KX_DATA_H264) continue;
            if (!kx::play::h264IsVcl(f->inner.payload, f->inner.payloadSize)) continue;
            ++result.slices;
            times.insert(kx::play::ptsToUs(f->inner));
        }
        result.slicePictures = static_cast<int>(times.size());
    }
    kx::play::QfFileReader reader;
    if (!reader.open(path)) return result;
    result.opened = true;
    kx::play::VideoDecoder decoder;
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                       [](AVFrame* f) { av_frame_free(&f); });
    auto drain = [&] {
        while (decoder.receive(frame.get())) {
            ++result.pictures;
            if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
                ++result.damaged;
            }
            av_frame_unref(frame.get());
        }
    };
    kx::play::MediaPacket packet;
    while (reader.read(packet)) {
        if (packet.kind != kx::play::MediaKind::Video) continue;
        ++result.units;
        if (!decoder.prepare(packet, kx::play::VideoDecoder::Mode::File, 2)) continue;
        if (decoder.send(packet)) drain();
    }
    if (decoder.isOpen()) {
        decoder.sendEnd();
        drain();
    }
    return result;
}

}  // namespace playtest
