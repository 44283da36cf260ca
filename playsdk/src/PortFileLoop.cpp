// The file side of a port's thread: reading, decoding and showing each picture when its
// presentation time is due at the chosen speed.
#include <algorithm>

#include "Port.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace kx::play {
namespace {

// A picture more than this late moves the clock instead of being rushed after.
constexpr int64_t kMaxLateUs = 500000;
// A jump in presentation times (a recording across a pause of the camera) restarts the clock.
constexpr int64_t kMaxGapUs = 5000000;

}  // namespace

void Port::fileRestart(int64_t atUs, bool toStart) {
    if (m_source) m_source->seek(toStart ? INT64_MIN : atUs);
    m_video.flush();
    m_audio.flush();
    m_sound.clear();
    av_frame_unref(m_pending);
    m_hasPending = false;
    m_inputEnded = false;
    m_endReported = false;
    m_lastPtsUs = INT64_MIN;
    m_clock.reset();
    if (toStart) m_presenter.forgetPicture();
}

bool Port::fileStep(std::unique_lock<std::mutex>& lock) {
    if (!m_hasPending) {
        const int threads = m_threads;
        const bool playSound = m_threadSound && m_level == 0;
        const bool paceAudio = m_source && !m_source->hasVideo() && !m_freeRun;
        lock.unlock();
        bool got = m_video.isOpen() && m_video.receive(m_pending);
        bool ended = false;
        if (!got) {
            MediaPacket packet;
            if (m_inputEnded || !m_source || !m_source->read(packet)) {
                if (!m_inputEnded) {
                    m_inputEnded = true;
                    m_video.sendEnd();
                }
                got = m_video.isOpen() && m_video.receive(m_pending);
                ended = !got;
            } else if (packet.kind == MediaKind::Video) {
                if (m_video.prepare(packet, VideoDecoder::Mode::File, threads)) {
                    if (!m_video.send(packet)) {
                        std::lock_guard guard(m_mutex);
                        ++m_stats.decodeErrors;
                    }
                    got = m_video.receive(m_pending);
                } else {
                    std::lock_guard guard(m_mutex);
                    ++m_stats.undecodable;
                }
            } else {
                if (paceAudio && packet.ptsUs != INT64_MIN) {
                    lock.lock();
                    if (!m_clock.started()) m_clock.start(packet.ptsUs, nowUs());
                    const bool due = waitUntilDue(lock, m_clock.dueAt(packet.ptsUs));
                    lock.unlock();
                    if (!due) return false;
                }
                decodeAudio(packet, playSound);
            }
        }
        lock.lock();
        if (got) {
            m_hasPending = true;
            ++m_stats.decodedVideo;
        }
        if (ended && !m_endReported) {
            m_endReported = true;
            lock.unlock();
            m_presenter.reportEnd();
            lock.lock();
        }
        return got;
    }

    const int64_t pts = m_pending->pts == AV_NOPTS_VALUE ? m_lastPtsUs : m_pending->pts;
    const int64_t now = nowUs();
    const bool jump =
        m_lastPtsUs != INT64_MIN && (pts < m_lastPtsUs || pts - m_lastPtsUs > kMaxGapUs);
    if (!m_clock.started() || jump) m_clock.start(pts, now);
    if (!m_freeRun && !m_showOne) {
        const int64_t due = m_clock.dueAt(pts);
        if (now > due + kMaxLateUs) {
            m_clock.start(pts, now);
        } else if (due > now && !waitUntilDue(lock, due)) {
            return false;  // a command came first; the picture stays pending
        }
    }
    const int rate = m_frameRate;
    lock.unlock();
    m_presenter.presentVideo(m_pending, rate);
    av_frame_unref(m_pending);
    lock.lock();
    m_hasPending = false;
    if (pts != INT64_MIN) m_lastPtsUs = pts;
    if (m_showOne) {
        m_showOne = false;
        m_clock.reset();
    }
    return true;
}

}  // namespace kx::play
