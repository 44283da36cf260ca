// qf2mp4 on real recordings: the stream library records a stream of the real RTSP server, the
// tool converts it, and ffprobe reads the MP4 file back (codecs, decoded pictures, duration).
// Damaged and empty recordings: every whole frame converted, a distinct exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "KXRtspSdk.h"
#include "NalUnit.h"
#include "QfScanner.h"
#include "TestMedia.h"
#include "TestRtspServer.h"

namespace {

using Brelso::Testing::TempDir;
using Brelso::Testing::TestRtspServer;
using namespace std::chrono_literals;

bool intraVop(const uint8_t* p, size_t n) {
    for (size_t i = 0; i + 4 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6)
            return (p[i + 4] >> 6) == 0;
    }
    return false;
}

// Counts the key pictures the data callback receives (distinct presentation times) and, when
// asked, writes every delivered frame as a whole packaged frame to a ".qf" file of its own.
struct Delivery {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<int64_t> keys;
    std::ofstream* copy = nullptr;

    static void onData(int32_t, uint32_t type, uint8_t* inner, uint32_t size, void* user) {
        auto* self = static_cast<Delivery*>(user);
        const auto frame = kx::frame::parseInner(inner, size);
        if (!frame) return;
        const bool key = type == KX_DATA_MPEG4 ? intraVop(frame->payload, frame->payloadSize)
                                               : frame->frameType == KX_FRAME_IDR;
        std::lock_guard lock(self->mutex);
        if (key) self->keys.insert(int64_t{frame->ptsSec} * 1000000 + frame->ptsUsec);
        if (self->copy != nullptr && !self->keys.empty()) {
            const uint8_t head[12] = {0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      static_cast<uint8_t>(size),
                                      static_cast<uint8_t>(size >> 8),
                                      static_cast<uint8_t>(size >> 16),
                                      static_cast<uint8_t>(size >> 24)};
            self->copy->write(KX_PKT_START_MARKER, KX_PKT_MARKER_SIZE);
            self->copy->write(reinterpret_cast<const char*>(head), sizeof head);
            self->copy->write(reinterpret_cast<const char*>(inner), size);
            self->copy->write(KX_PKT_END_MARKER, KX_PKT_MARKER_SIZE);
        }
        self->changed.notify_all();
    }
    bool waitFor(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 60s, [&] { return keys.size() >= count; });
    }
};

// Records a mount to `path` through the public API until `keys` key pictures have arrived.
// The MPEG-4 file mount is recorded from its delivered frames (fromCallback), the bytes the
// library would write.
void record(uint16_t port, const std::string& mount, const std::string& path, size_t keys,
            bool fromCallback = false) {
    ASSERT_EQ(KX_NET_Init(0, 0, 0), 1);
    const int32_t login = KX_NET_Login("127.0.0.1", port, "", "");
    const int32_t handle = KX_NET_RealPlay(login, 0, 0, 1, mount.c_str(), 0);
    EXPECT_GE(handle, 0);
    Delivery delivery;
    std::ofstream copy;
    if (fromCallback) {
        copy.open(path, std::ios::binary | std::ios::trunc);
        delivery.copy = &copy;
    }
    const bool recording = fromCallback || KX_NET_SaveRealData(handle, path.c_str()) == 1;
    if (handle >= 0 && recording &&
        KX_NET_SetRealDataCallBack(handle, Delivery::onData, &delivery) == 1) {
        EXPECT_TRUE(delivery.waitFor(keys));
        EXPECT_EQ(KX_NET_SetRealDataCallBack(handle, nullptr, nullptr), 1);
        if (!fromCallback) {
            EXPECT_EQ(KX_NET_StopSaveRealData(handle), 1);
        }
    } else {
        ADD_FAILURE() << "cannot record " << mount;
    }
    KX_NET_Cleanup();
}

// H.264 and H.265: coded slices; MPEG-4: every frame.
bool isPicture(const kx::frame::InnerFrame& in) {
    if (in.dataType == KX_DATA_H264) {
        return kx::frame::h264::isVcl(kx::frame::h264FirstNalType(in.payload, in.payloadSize));
    }
    if (in.dataType == KX_DATA_H265) {
        return kx::frame::h265::isVcl(kx::frame::h265FirstNalType(in.payload, in.payloadSize));
    }
    return true;
}

// What a recording holds: its video pictures (distinct presentation times of picture frames
// from the first key picture on) and its audio frames from there on.
struct Expected {
    std::set<int64_t> pictures;
    int audioFrames = 0;
    double durationSeconds() const {
        if (pictures.size() < 2) return 0;
        const double span = static_cast<double>(*pictures.rbegin() - *pictures.begin()) / 1e6;
        return span + frameInterval();
    }
    double frameInterval() const {
        return static_cast<double>(*pictures.rbegin() - *pictures.begin()) / 1e6 /
               static_cast<double>(pictures.size() - 1);
    }
};

Expected expectedOf(const std::string& qf) {
    Expected e;
    kx::frame::QfScanner scanner;
    EXPECT_TRUE(scanner.open(qf));
    bool started = false;
    int64_t start = 0;
    std::vector<int64_t> audio;
    while (auto f = scanner.next()) {
        const auto& in = f->inner;
        const int64_t us = int64_t{in.ptsSec} * 1000000 + in.ptsUsec;
        if (kx::frame::isVideoDataType(in.dataType)) {
            const bool key = in.dataType == KX_DATA_MPEG4 ? intraVop(in.payload, in.payloadSize)
                                                          : in.frameType == KX_FRAME_IDR;
            if (!started && key) {
                started = true;
                start = us;
            }
            if (started && isPicture(in)) e.pictures.insert(us);
        } else if (in.dataType == KX_DATA_AAC) {
            audio.push_back(us);
        }
    }
    for (int64_t us : audio) e.audioFrames += started && us >= start ? 1 : 0;
    return e;
}

// Runs qf2mp4 and returns its exit status.
int runQf2Mp4(const std::string& in, const std::string& out) {
    const std::string command =
        std::string(QF2MP4_PROGRAM) + " --quiet '" + in + "' '" + out + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ffprobe's "key=value" lines for one stream.
std::map<std::string, std::string> probeStream(const std::string& file, const char* stream,
                                               bool countFrames) {
    std::vector<std::string> argv = {"ffprobe",
                                     "-v",
                                     "error",
                                     "-select_streams",
                                     stream,
                                     "-show_entries",
                                     "stream=codec_name,nb_read_frames,nb_read_packets,duration",
                                     "-of",
                                     "default=noprint_wrappers=1"};
    if (countFrames) argv.push_back("-count_frames");  // decodes the whole stream
    argv.push_back("-count_packets");
    argv.push_back(file);
    std::string output;
    EXPECT_TRUE(Brelso::Testing::runProgram(argv, &output)) << output;
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (const auto eq = line.find('='); eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

struct StreamCase {
    const char* name;
    const char* mount;  // empty: the MPEG-4 file mount
    const char* videoCodec;
    const char* audioCodec;  // nullptr: no audio track
    bool copiedAudio;        // AAC copied: one MP4 sample per recorded frame
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class Qf2Mp4 : public ::testing::TestWithParam<StreamCase> {
protected:
    void recordCase(const StreamCase& c, const std::string& qf) {
        TestRtspServer server;
        if (c.mount[0] != '\0') {
            server.addLiveMounts();
        } else {
            ASSERT_TRUE(Brelso::Testing::generateMpeg4Video(m_dir.file("v.mp4"), 150));
            server.addMpeg4FileMount("/m4v", m_dir.file("v.mp4"));
        }
        ASSERT_TRUE(server.start());
        const bool mpeg4 = c.mount[0] == '\0';
        record(server.port(), mpeg4 ? "/m4v" : c.mount, qf, 4, mpeg4);
    }
    TempDir m_dir;
};

TEST_P(Qf2Mp4, RecordingConvertsWithItsCodecsPicturesAndDuration) {
    const StreamCase& c = GetParam();
    const std::string qf = m_dir.file("rec.qf");
    const std::string mp4 = m_dir.file("rec.mp4");
    recordCase(c, qf);
    const Expected expected = expectedOf(qf);
    ASSERT_GT(expected.pictures.size(), 20u);

    ASSERT_EQ(runQf2Mp4(qf, mp4), 0);
    auto video = probeStream(mp4, "v:0", true);
    EXPECT_EQ(video["codec_name"], c.videoCodec);
    EXPECT_EQ(video["nb_read_frames"], std::to_string(expected.pictures.size()));
    EXPECT_NEAR(std::stod(video["duration"]), expected.durationSeconds(), expected.frameInterval());

    auto audio = probeStream(mp4, "a:0", true);
    if (c.audioCodec == nullptr) {
        EXPECT_TRUE(audio.empty());
        return;
    }
    EXPECT_EQ(audio["codec_name"], c.audioCodec);
    EXPECT_GT(std::stoi(audio["nb_read_frames"]), 0);  // it decodes
    if (c.copiedAudio) {
        EXPECT_EQ(audio["nb_read_packets"], std::to_string(expected.audioFrames));
    } else {
        // Encoded audio lasts as long as the pictures, within a few AAC frames.
        EXPECT_NEAR(std::stod(audio["duration"]), expected.durationSeconds(), 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Qf2Mp4,
    ::testing::Values(StreamCase{"H264Aac", TestRtspServer::kH264Aac, "h264", "aac", true},
                      StreamCase{"H264Pcmu", TestRtspServer::kH264Pcmu, "h264", "aac", false},
                      StreamCase{"H265Pcmu", TestRtspServer::kH265Pcmu, "hevc", "aac", false},
                      StreamCase{"Mpeg4", "", "mpeg4", nullptr, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Damaged recordings: how the file is spoiled, and the exit status that says so.
struct DamageCase {
    const char* name;
    void (*spoil)(std::vector<uint8_t>& bytes);
    int exitStatus;
    bool written;  // an MP4 file with every whole frame
    bool video;    // with its video track
};

// Every packaged frame except H.264 parameter sets: pictures no decoder can configure.
void dropParameterSets(std::vector<uint8_t>& b) {
    std::vector<uint8_t> kept;
    size_t from = 0;
    while (auto hit = kx::frame::scanNext(b.data(), b.size(), from)) {
        const uint16_t type = hit->frame.frameType;
        if (hit->frame.dataType != KX_DATA_H264 || (type != KX_FRAME_SPS && type != KX_FRAME_PPS)) {
            kept.insert(kept.end(), b.begin() + static_cast<long>(hit->offset),
                        b.begin() + static_cast<long>(hit->offset + hit->size));
        }
        from = hit->offset + hit->size;
    }
    b.swap(kept);
}

const DamageCase kDamageCases[] = {
    {"Empty", [](std::vector<uint8_t>& b) { b.clear(); }, 1, false, false},
    {"NoFrameAtAll", [](std::vector<uint8_t>& b) { std::fill(b.begin(), b.end(), 0x5A); }, 1, false,
     false},
    {"CutInTheLastFrame", [](std::vector<uint8_t>& b) { b.resize(b.size() - 7); }, 3, true, true},
    {"FrameStartOverwrittenInTheMiddle",
     [](std::vector<uint8_t>& b) {
         const std::string marker = KX_PKT_START_MARKER;
         const auto at = std::search(b.begin() + static_cast<long>(b.size() / 2), b.end(),
                                     marker.begin(), marker.end());
         std::fill(at, at + static_cast<long>(marker.size()), 0);
     },
     3, true, true},
    {"NoParameterSets", dropParameterSets, 4, true, false},
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

class Qf2Mp4Damaged : public ::testing::TestWithParam<DamageCase> {};

TEST_P(Qf2Mp4Damaged, ConvertsEveryWholeFrameAndSaysSo) {
    const DamageCase& c = GetParam();
    TempDir dir;
    const std::string qf = dir.file("rec.qf");
    {
        TestRtspServer server;
        server.addLiveMounts();
        ASSERT_TRUE(server.start());
        record(server.port(), TestRtspServer::kH264Aac, qf, 3);
    }
    std::vector<uint8_t> bytes = Brelso::Testing::readFile(qf);
    c.spoil(bytes);
    std::ofstream(qf, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    // Never written over itself: the recording stays as it is.
    EXPECT_EQ(runQf2Mp4(qf, qf), 1);
    EXPECT_EQ(Brelso::Testing::readFile(qf), bytes);

    const std::string mp4 = dir.file("rec.mp4");
    EXPECT_EQ(runQf2Mp4(qf, mp4), c.exitStatus);
    ASSERT_EQ(std::filesystem::exists(mp4), c.written);
    if (!c.written) return;
    if (!c.video) {
        EXPECT_TRUE(probeStream(mp4, "v:0", false).empty());
        EXPECT_EQ(probeStream(mp4, "a:0", false)["codec_name"], "aac");
        return;
    }
    // Every whole picture left in the file is a sample of the MP4 file.
    const Expected expected = expectedOf(qf);
    EXPECT_EQ(probeStream(mp4, "v:0", false)["nb_read_packets"],
              std::to_string(expected.pictures.size()));
}

// Two recordings joined: time goes back in the middle, and the second goes on after the first.
TEST(Qf2Mp4Joined, TimeGoingBackContinuesAfterThePicturesBefore) {
    TempDir dir;
    const std::string qf = dir.file("rec.qf");
    {
        TestRtspServer server;
        server.addLiveMounts();
        ASSERT_TRUE(server.start());
        record(server.port(), TestRtspServer::kH264Aac, qf, 3);
    }
    const Expected once = expectedOf(qf);
    ASSERT_GT(once.pictures.size(), 10u);
    std::vector<uint8_t> bytes = Brelso::Testing::readFile(qf);
    std::ofstream joined(dir.file("joined.qf"), std::ios::binary);
    for (int i = 0; i < 2; ++i) {
        joined.write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
    }
    joined.close();
    const std::string mp4 = dir.file("joined.mp4");
    ASSERT_EQ(runQf2Mp4(dir.file("joined.qf"), mp4), 0);
    auto video = probeStream(mp4, "v:0", false);
    EXPECT_EQ(video["nb_read_packets"], std::to_string(2 * once.pictures.size()));
    EXPECT_NEAR(std::stod(video["duration"]), 2 * once.durationSeconds(), 2 * once.frameInterval());
}

INSTANTIATE_TEST_SUITE_P(Files, Qf2Mp4Damaged, ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
