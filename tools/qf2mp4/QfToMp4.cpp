#include "QfToMp4.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <set>

extern "C" {
#include <libavutil/mathematics.h>
}

#include "AudioTrack.h"
#include "Mp4Muxer.h"
#include "QfScanner.h"
#include "VideoTrack.h"

namespace kx::qf2mp4 {
namespace {

using kx::frame::InnerFrame;
using kx::frame::QfScanner;

constexpr AVRational kVideoTimeBase{1, 90000};
constexpr int64_t kDefaultFrameTicks = 90000 / 25;
constexpr int64_t kProbeUs = 10 * 1000000;  // how far to look for the tracks' first frames

int64_t ptsUs(const InnerFrame& f) {
    return static_cast<int64_t>(f.ptsSec) * 1000000 + std::min<uint32_t>(f.ptsUsec, 999999);
}

const char* dataTypeName(uint16_t dataType) {
    switch (dataType) {
        case KX_DATA_H264:
            return "H.264";
        case KX_DATA_MPEG4:
            return "MPEG-4";
        case KX_DATA_AAC:
            return "AAC";
        case KX_DATA_PCMU:
            return "G.711 mu-law";
        case KX_DATA_PCMA:
            return "G.711 A-law";
        case KX_DATA_G7221:
            return "G.722.1";
        default:
            return "unknown";
    }
}

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// What the first seconds of the recording hold: the video codec with its first key access
// unit and its parameters (from that key access unit, or from a later one when the first
// lacks its decoder configuration), and the audio track made from the first audio frame.
struct Probe {
    const VideoCodec* video = nullptr;
    std::optional<int64_t> firstKeyUs;
    AVCodecParameters* videoPar = nullptr;  // owned; set once described
    std::string videoError;
    std::unique_ptr<AudioTrack> audio;
    std::string audioError;
    std::optional<int64_t> firstAudioUs;
    bool anyFrame = false;

    Probe() = default;
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    ~Probe() { avcodec_parameters_free(&videoPar); }

    void offerKey(const AccessUnit& au) {
        if (!firstKeyUs) firstKeyUs = au.ptsUs;
        if (videoPar != nullptr || ++keysTried > kMaxKeysTried) return;
        AVCodecParameters* par = avcodec_parameters_alloc();
        if (par != nullptr && describeVideo(*video, au, par, &videoError)) {
            videoPar = par;
        } else {
            avcodec_parameters_free(&par);
        }
    }
    bool videoDone() const { return videoPar != nullptr || keysTried >= kMaxKeysTried; }

    static constexpr int kMaxKeysTried = 16;
    int keysTried = 0;
};

void probe(QfScanner& scanner, Probe& p) {
    std::optional<AccessUnitAssembler> assembler;
    std::optional<int64_t> firstUs;
    bool audioTried = false;
    while (auto f = scanner.next()) {
        const InnerFrame& inner = f->inner;
        const int64_t us = ptsUs(inner);
        p.anyFrame = true;
        if (!firstUs) firstUs = us;
        if (p.video == nullptr && (p.video = findVideoCodec(inner.dataType)) != nullptr) {
            assembler.emplace(*p.video);
        }
        if (p.video != nullptr && inner.dataType == p.video->dataType && !p.videoDone()) {
            if (auto au = assembler->push(inner, us); au && au->key) p.offerKey(*au);
        }
        if (kx::frame::isAudioDataType(inner.dataType) && !audioTried) {
            audioTried = true;
            p.audio = AudioTrack::create(inner, &p.audioError);
            if (p.audio) p.firstAudioUs = us;
        }
        const bool late = us - *firstUs > kProbeUs;
        const bool videoKnown = p.video != nullptr ? p.videoDone() : late;
        if (videoKnown && (audioTried || late)) break;
    }
    if (p.video != nullptr && !p.videoDone()) {
        if (auto au = assembler->flush(); au && au->key) p.offerKey(*au);
    }
    if (p.video != nullptr && p.videoPar == nullptr && !p.firstKeyUs) {
        p.videoError = std::string("no ") + p.video->name + " key picture";
    }
}

class Converter {
public:
    Converter(ConversionReport& report, const ProgressFn& progress)
        : m_report(report), m_progress(progress) {}

    bool run(const std::string& input, const std::string& output) {
        std::error_code ec;
        if (std::filesystem::equivalent(input, output, ec)) {
            return fail("the output file is the input file");  // writing would destroy it
        }
        const uint64_t total = std::filesystem::file_size(input, ec);
        QfScanner scanner;
        if (ec || !scanner.open(input)) return fail("cannot read the input file");
        m_total = total;
        Probe p;
        probe(scanner, p);
        if (!p.anyFrame)
            return fail("no whole packaged frame: the file is empty or no .qf recording");
        if (!setUp(p, output)) return false;
        if (!scanner.open(input)) return fail("cannot read the input file again");
        if (!copyFrames(scanner)) return false;
        if (total > m_expectedOffset) noteDamage(m_expectedOffset, total - m_expectedOffset);
        if (!finishTracks()) return false;
        if (!m_muxer.finish()) return fail(m_muxer.error());
        m_report.outcome = m_report.damagedBytes > 0         ? ConversionReport::Outcome::Damaged
                           : !m_report.skippedTracks.empty() ? ConversionReport::Outcome::Partial
                                                             : ConversionReport::Outcome::Converted;
        return true;
    }

    void discard() { m_muxer.discard(); }

private:
    bool fail(const std::string& why) {
        m_report.outcome = ConversionReport::Outcome::Failed;
        if (m_report.error.empty()) m_report.error = why;
        return false;
    }

    void noteSkipped(const std::string& what) {
        if (m_skipped.insert(what).second) {
            if (!m_report.skippedTracks.empty()) m_report.skippedTracks += "; ";
            m_report.skippedTracks += what;
        }
    }

    void noteDamage(uint64_t at, uint64_t bytes) {
        if (m_report.damagedBytes == 0) m_report.firstDamageAt = at;
        m_report.damagedBytes += bytes;
    }

    bool setUp(Probe& p, const std::string& output) {
        if (!m_muxer.open(output)) return fail(m_muxer.error());
        if (p.video != nullptr && p.videoPar != nullptr) {
            AVStream* st = m_muxer.addStream(*p.videoPar, kVideoTimeBase);
            if (st == nullptr) return fail(m_muxer.error());
            m_videoStream = st->index;
            m_video = p.video;
            m_assembler.emplace(*p.video);
            m_startUs = *p.firstKeyUs;
            m_report.video = p.video->name;
        } else if (p.video != nullptr) {
            noteSkipped(std::string(p.video->name) + " video left out (" + p.videoError + ")");
        }
        if (p.audio) {
            AVStream* st = m_muxer.addStream(p.audio->parameters(), p.audio->timeBase());
            if (st == nullptr) return fail(m_muxer.error());
            m_audioStream = st->index;
            m_audio = std::move(p.audio);
            m_report.audio = m_audio->name();
            if (m_video == nullptr) m_startUs = *p.firstAudioUs;
        } else if (!p.audioError.empty()) {
            noteSkipped("audio left out (" + p.audioError + ")");
        }
        if (m_video == nullptr && m_audio == nullptr) {
            return fail("nothing in the recording can be written to MP4" +
                        (m_report.skippedTracks.empty() ? "" : ": " + m_report.skippedTracks));
        }
        if (!m_muxer.writeHeader()) return fail(m_muxer.error());
        return true;
    }

    bool copyFrames(QfScanner& scanner) {
        uint64_t frames = 0;
        while (auto f = scanner.next()) {
            if (f->offset > m_expectedOffset)
                noteDamage(m_expectedOffset, f->offset - m_expectedOffset);
            m_expectedOffset = f->offset + f->size;
            const InnerFrame& inner = f->inner;
            const int64_t us = ptsUs(inner);
            if (m_video != nullptr && inner.dataType == m_video->dataType) {
                if (auto au = m_assembler->push(inner, us); au && !writeVideo(*au)) return false;
            } else if (m_audio != nullptr && inner.dataType == m_audio->dataType()) {
                if (us >= m_startUs) {
                    if (!m_audio->push(inner, us - m_startUs, audioSink())) {
                        return fail(m_audio->error().empty() ? m_muxer.error() : m_audio->error());
                    }
                    ++m_report.audioFrames;
                }
            } else {
                noteSkipped(std::string(dataTypeName(inner.dataType)) + " frames left out");
            }
            if (m_progress) m_progress(m_expectedOffset, m_total, ++frames);
        }
        return true;
    }

    AudioTrack::PacketSink audioSink() {
        return [this](AVPacket* pkt) {
            return m_muxer.write(pkt, m_audioStream, m_audio->timeBase());
        };
    }

    bool writeVideo(const AccessUnit& au) {
        if (!m_seenKey && !au.key) return true;  // undecodable until the first key picture
        m_seenKey = true;
        PacketPtr pkt(av_packet_alloc());
        if (!pkt || av_new_packet(pkt.get(), static_cast<int>(au.data.size())) < 0) {
            return fail("out of memory");
        }
        std::copy(au.data.begin(), au.data.end(), pkt->data);
        int64_t pts = av_rescale(au.ptsUs - m_startUs, kVideoTimeBase.den, 1000000) + m_shift;
        if (m_held && pts <= m_held->pts) {
            // Time went back (a camera's clock, files joined): the pictures go on one frame
            // interval later, keeping their own spacing from here.
            const int64_t step = m_lastDuration > 0 ? m_lastDuration : kDefaultFrameTicks;
            m_shift += m_held->pts + step - pts;
            pts = m_held->pts + step;
        }
        pkt->pts = pkt->dts = pts;
        pkt->flags = au.key ? AV_PKT_FLAG_KEY : 0;
        if (m_held) {
            m_lastDuration = pts - m_held->pts;
            m_held->duration = m_lastDuration;
            if (!writeHeldVideo()) return false;
        }
        m_held = std::move(pkt);
        return true;
    }

    bool writeHeldVideo() {
        const int64_t end = m_held->pts + m_held->duration;
        if (!m_muxer.write(m_held.get(), m_videoStream, kVideoTimeBase))
            return fail(m_muxer.error());
        ++m_report.videoSamples;
        m_report.durationUs = static_cast<uint64_t>(av_rescale(end, 1000000, kVideoTimeBase.den));
        m_held.reset();
        return true;
    }

    bool finishTracks() {
        if (m_video != nullptr) {
            if (auto au = m_assembler->flush(); au && !writeVideo(*au)) return false;
            if (m_held) {
                m_held->duration = m_lastDuration > 0 ? m_lastDuration : kDefaultFrameTicks;
                if (!writeHeldVideo()) return false;
            }
        }
        if (m_audio != nullptr && !m_audio->finish(audioSink())) {
            return fail(m_audio->error().empty() ? m_muxer.error() : m_audio->error());
        }
        if (m_report.videoSamples == 0 && m_report.audioFrames == 0) {
            return fail("no convertible frame");
        }
        return true;
    }

    ConversionReport& m_report;
    const ProgressFn& m_progress;
    Mp4Muxer m_muxer;
    const VideoCodec* m_video = nullptr;
    std::optional<AccessUnitAssembler> m_assembler;
    std::unique_ptr<AudioTrack> m_audio;
    int m_videoStream = -1;
    int m_audioStream = -1;
    int64_t m_startUs = 0;
    uint64_t m_expectedOffset = 0;
    uint64_t m_total = 0;
    bool m_seenKey = false;
    PacketPtr m_held;
    int64_t m_lastDuration = 0;
    int64_t m_shift = 0;  // added to the video times after time went back
    std::set<std::string> m_skipped;
};

}  // namespace

ConversionReport convertQfToMp4(const std::string& input, const std::string& output,
                                const ProgressFn& progress) {
    ConversionReport report;
    Converter converter(report, progress);
    if (!converter.run(input, output)) converter.discard();
    return report;
}

}  // namespace kx::qf2mp4
