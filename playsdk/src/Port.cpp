#include "Port.h"

#include <algorithm>
#include <chrono>

#include "BitstreamInfo.h"
#include "InputLimits.h"
#include "PackagedFrame.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace kx::play {
namespace {

constexpr uint32_t kMaxDelivery = kMaxFrameBytes;

bool startsWithStartCode(const uint8_t* p, size_t n) {
    return (n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1) ||
           (n >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1);
}

// A delivery is a packaged inner part only when its header makes sense; anything else (the
// raw private payload, damaged data) is not decoded.
bool plausible(const kx::frame::InnerFrame& f) {
    if (kx::frame::isVideoDataType(f.dataType)) {
        return startsWithStartCode(f.payload, f.payloadSize);
    }
    return f.channels >= 1 && f.channels <= 8 && f.sampleRate >= 1000 && f.sampleRate <= 384000 &&
           f.payloadSize > 0;
}

}  // namespace

Port::Port(int id, Kind kind, std::unique_ptr<MediaSource> source)
    : m_id(id), m_kind(kind), m_source(std::move(source)), m_presenter(id) {
    m_frame = av_frame_alloc();
    m_pending = av_frame_alloc();
    if (m_source) m_frameRate = m_source->frameRate();
    m_thread = std::thread([this] { run(); });
}

Port::~Port() {
    shutdown();
    av_frame_free(&m_frame);
    av_frame_free(&m_pending);
}

void Port::shutdown() {
    if (!m_thread.joinable() || onOwnThread()) return;
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_presenter.setEnabled(false);
}

int64_t Port::nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int Port::setRenderTarget(KX_PLAY_RENDER_TARGET* target) {
    m_presenter.setTarget(target);
    return 0;
}

int Port::setDecCallback(KX_PLAY_DecCallBack fn, void* user) {
    m_presenter.setDecCallback(fn, user);
    return 0;
}

int Port::setFileEndCallback(KX_PLAY_FileEndCallBack fn, void* user) {
    if (m_kind != Kind::File) return -1;
    m_presenter.setFileEndCallback(fn, user);
    return 0;
}

int Port::play() {
    m_presenter.setEnabled(true);
    {
        std::lock_guard lock(m_mutex);
        m_playing = true;
    }
    m_wake.notify_all();
    return 0;
}

int Port::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_playing = false;
        m_paused = false;
        if (m_kind == Kind::File) {
            m_restartPending = true;
            m_seekPending = false;
        } else {
            m_queue.clear();
            m_resetPending = true;
        }
    }
    m_wake.notify_all();
    m_presenter.setEnabled(false);  // waits for a picture or callback under way
    return 0;
}

int Port::pause(bool pause) {
    {
        std::lock_guard lock(m_mutex);
        m_paused = pause;
    }
    m_wake.notify_all();
    return 0;
}

int Port::setSpeed(int level) {
    if (level < PacingClock::kMinLevel || level > PacingClock::kMaxLevel) return -1;
    {
        std::lock_guard lock(m_mutex);
        m_level = level;
        m_levelChanged = true;
    }
    m_wake.notify_all();
    return 0;
}

int Port::speed() const {
    std::lock_guard lock(m_mutex);
    return m_level;
}

int Port::setPlayTime(int64_t seconds) {
    if (m_kind != Kind::File) return -1;
    if (seconds < 0 || seconds > INT64_MAX / 1000000) return -1;
    {
        std::lock_guard lock(m_mutex);
        m_seekPending = true;
        m_seekUs = seconds * 1000000;
    }
    m_wake.notify_all();
    return 0;
}

int Port::playTime(int64_t& seconds) const {
    int64_t us = 0;
    if (!m_presenter.shownTime(us)) return -1;
    seconds = us >= 0 ? us / 1000000 : -((-us + 999999) / 1000000);
    return 0;
}

int Port::openSound() {
    {
        std::lock_guard lock(m_mutex);
        m_soundOn = true;
        m_soundChanged = true;
    }
    m_wake.notify_all();
    return 0;
}

int Port::closeSound() {
    {
        std::lock_guard lock(m_mutex);
        m_soundOn = false;
        m_soundChanged = true;
    }
    m_wake.notify_all();
    return 0;
}

int Port::setVolume(int volume) {
    if (volume < 0 || volume > 100) return -1;
    m_sound.setVolume(volume);
    return 0;
}

int Port::inputData(const uint8_t* data, uint32_t size) {
    if (m_kind != Kind::Stream) return -1;
    if (data == nullptr || size == 0 || size > kMaxDelivery) return -1;
    const auto f = kx::frame::parseInner(data, size);
    std::unique_lock lock(m_mutex);
    if (!f || !plausible(*f) || f->dataType == KX_DATA_G7221) {
        ++m_stats.undecodable;  // the raw private payload, G.722.1, or damaged data
        return 0;
    }
    if (!m_playing) {
        ++m_stats.dropped;
        return 0;
    }
    StreamInputQueue::Meta meta;
    meta.ptsUs = static_cast<int64_t>(f->ptsSec) * 1000000 + f->ptsUsec;
    meta.video = kx::frame::isVideoDataType(f->dataType);
    meta.key = meta.video && isKeyFrame(f->dataType, f->frameType, f->payload, f->payloadSize);
    meta.parameterSet = parameterSetKind(f->dataType, f->frameType, f->payload, f->payloadSize);
    ++m_stats.received;
    const bool queued = m_queue.push(data, size, meta);
    lock.unlock();
    if (queued) m_wake.notify_all();
    return 0;
}

int Port::resetBuffer() {
    {
        std::lock_guard lock(m_mutex);
        if (m_kind == Kind::Stream) {
            m_queue.clear();
            m_resetPending = true;
        }
    }
    m_wake.notify_all();
    return 0;
}

int Port::setFillMode(int mode) {
    if (mode != 0 && mode != 1) return -1;
    m_presenter.setKeepShape(mode == 1);
    return 0;
}

int Port::setRotate(int rotate) {
    if (rotate < 0 || rotate > 3) return -1;
    m_presenter.setRotate(rotate);
    return 0;
}

int Port::capturePicture(const std::string& path) {
    return m_presenter.snapshot(path);
}

void Port::setDecodeThreads(int threads) {
    std::lock_guard lock(m_mutex);
    m_threads = std::max(0, threads);
}

void Port::setFreeRun(bool freeRun) {
    {
        std::lock_guard lock(m_mutex);
        m_freeRun = freeRun;
    }
    m_wake.notify_all();
}

PortStats Port::stats() const {
    std::lock_guard lock(m_mutex);
    PortStats s = m_stats;
    s.dropped += m_queue.dropped();
    s.presented = m_presenter.presentedCount();
    return s;
}

size_t Port::queued() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

bool Port::commandPending() const {
    return m_quit || m_seekPending || m_restartPending || m_resetPending || m_levelChanged ||
           m_soundChanged || !m_playing || m_paused;
}

bool Port::waitUntilDue(std::unique_lock<std::mutex>& lock, int64_t dueUs) {
    using namespace std::chrono;
    const auto deadline = steady_clock::time_point(microseconds(dueUs));
    while (!commandPending()) {
        if (m_wake.wait_until(lock, deadline) == std::cv_status::timeout) {
            return !commandPending();
        }
    }
    return false;
}

void Port::decodeAudio(const MediaPacket& packet, bool playSound) {
    if (!m_audio.prepare(packet)) {
        std::lock_guard lock(m_mutex);
        ++m_stats.undecodable;
        return;
    }
    if (!m_audio.send(packet)) {
        std::lock_guard lock(m_mutex);
        ++m_stats.decodeErrors;
    }
    PcmBlock block;
    while (m_audio.receive(block)) {
        {
            std::lock_guard lock(m_mutex);
            ++m_stats.decodedAudio;
        }
        m_presenter.deliverAudio(block);
        if (playSound) m_sound.play(block.data, block.size, block.channels, block.sampleRate);
    }
}

void Port::run() {
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (m_soundChanged) {
            m_soundChanged = false;
            m_threadSound = m_soundOn;
            if (!m_threadSound) {
                lock.unlock();
                m_sound.close();
                lock.lock();
            }
            continue;
        }
        if (m_kind == Kind::Stream) {
            if (m_resetPending) {
                m_resetPending = false;
                lock.unlock();
                m_video.flush();
                m_liveUnit.clear();
                m_audio.flush();
                m_sound.clear();
                lock.lock();
                continue;
            }
            StreamInputQueue::Meta meta;
            if (!m_playing || !m_queue.pop(m_delivery, meta)) {
                m_wake.wait(lock);
                continue;
            }
            lock.unlock();
            liveDeliver(m_delivery);
            lock.lock();
            continue;
        }
        const int64_t now = nowUs();
        if (m_restartPending || m_seekPending) {
            const bool toStart = m_restartPending;
            const int64_t at = m_seekUs;
            m_restartPending = m_seekPending = false;
            m_showOne = !toStart && m_paused;
            lock.unlock();
            fileRestart(at, toStart);
            lock.lock();
            continue;
        }
        if (m_levelChanged) {
            m_levelChanged = false;
            m_clock.setLevel(m_level, now);
            if (m_level != 0) {
                lock.unlock();
                m_sound.clear();
                lock.lock();
            }
            continue;
        }
        if (m_paused && !m_clock.paused()) m_clock.pause(now);
        if (!m_paused && m_clock.paused()) m_clock.resume(now);
        const bool finished = m_inputEnded && m_endReported && !m_hasPending;
        if (!m_playing || (m_paused && !m_showOne) || finished) {
            m_wake.wait(lock);
            continue;
        }
        fileStep(lock);
    }
}

}  // namespace kx::play
