// qf2mp4: turns a ".qf" recording into an MP4 file that any player reads. Video is copied
// (H.264, MPEG-4), AAC is copied and G.711 is encoded to AAC; the time stamps are the
// recording's presentation times, starting at 0 with the first key picture.
//
//   qf2mp4 [--quiet] input.qf output.mp4
//
// Exit status:
//   0  converted
//   1  nothing written: the input cannot be read, is empty or holds nothing convertible, or
//      the output cannot be written (a partly written output file is removed)
//   2  wrong arguments
//   3  the input is damaged (cut frames, stray bytes, a cut end): the MP4 file holds every
//      whole frame, and a message tells how many bytes were skipped and where damage began
//   4  converted without a track the MP4 file cannot hold (G.722.1 audio, video without its
//      decoder configuration): a message names it
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "KXVersion.h"
#include "Progress.h"
#include "QfToMp4.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitDamaged = 3;
constexpr int kExitPartial = 4;

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: qf2mp4 [--quiet] input.qf output.mp4\n"
                 "Writes the recording input.qf as an MP4 file (video copied, audio as AAC);\n"
                 "an existing output file is replaced.\n"
                 "Exit status: 0 converted, 1 nothing written, 2 wrong arguments,\n"
                 "3 damaged input: every whole frame converted, 4 a track left out.\n");
}

}  // namespace

int main(int argc, char** argv) {
    bool quiet = false;
    const char* paths[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return kExitConverted;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("qf2mp4 %s\n", KX_VERSION_STRING);
            return kExitConverted;
        }
        if (std::strcmp(argv[i], "--quiet") == 0 || std::strcmp(argv[i], "-q") == 0) {
            quiet = true;
        } else if (count < 2 && argv[i][0] != '\0') {
            paths[count++] = argv[i];
        } else {
            usage(stderr);
            return kExitUsage;
        }
    }
    if (count != 2) {
        usage(stderr);
        return kExitUsage;
    }

    av_log_set_level(AV_LOG_ERROR);  // FFmpeg's notes stay out of the tool's few lines
    using namespace kx::qf2mp4;
    std::unique_ptr<Progress> progress;
    const auto report =
        convertQfToMp4(paths[0], paths[1], [&](uint64_t done, uint64_t total, uint64_t frames) {
            if (quiet) return;
            if (!progress) progress = std::make_unique<Progress>(total);
            progress->update(done, frames);
        });
    if (progress) progress->finish();

    if (report.outcome == ConversionReport::Outcome::Failed) {
        std::fprintf(stderr, "qf2mp4: %s: %s\n", paths[0], report.error.c_str());
        return kExitFailed;
    }
    if (!report.skippedTracks.empty()) {
        std::fprintf(stderr, "qf2mp4: %s: %s\n", paths[0], report.skippedTracks.c_str());
    }
    if (!quiet) {
        std::printf("%s: %llu video pictures (%s), %llu audio frames (%s), %.3f s\n", paths[1],
                    static_cast<unsigned long long>(report.videoSamples),
                    report.video.empty() ? "none" : report.video.c_str(),
                    static_cast<unsigned long long>(report.audioFrames),
                    report.audio.empty() ? "none" : report.audio.c_str(),
                    static_cast<double>(report.durationUs) / 1e6);
    }
    if (report.outcome == ConversionReport::Outcome::Damaged) {
        std::fprintf(stderr,
                     "qf2mp4: %s: damaged: %llu bytes skipped (first at offset %llu); every whole "
                     "frame was converted\n",
                     paths[0], static_cast<unsigned long long>(report.damagedBytes),
                     static_cast<unsigned long long>(report.firstDamageAt));
        return kExitDamaged;
    }
    return report.outcome == ConversionReport::Outcome::Partial ? kExitPartial : kExitConverted;
}
