// One decode port: a live stream fed by KX_PLAY_InputData, or a file played by the port
// itself. Each port runs one thread of its own, started at open and ended at close; the
// public operations only change shared state and wake that thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioDecoder.h"
#include "AudioOutput.h"
#include "FramePresenter.h"
#include "H264AccessUnit.h"
#include "KXPlaySdk.h"
#include "MediaSource.h"
#include "PacingClock.h"
#include "StreamInputQueue.h"
#include "VideoDecoder.h"

struct AVFrame;

namespace kx::play {

struct PortStats {
    uint64_t received = 0;     // deliveries accepted by InputData
    uint64_t undecodable = 0;  // deliveries of a kind no decoder here handles
    uint64_t dropped = 0;      // dropped by the queue (behind, waiting for a key frame)
    uint64_t decodedVideo = 0;
    uint64_t decodedAudio = 0;
    uint64_t presented = 0;
    uint64_t decodeErrors = 0;
    // Live: time the decoder took over the delivery that completed the last picture.
    int64_t lastPictureDecodeUs = 0;
};

class Port {
public:
    enum class Kind { Stream, File };

    // A live port, or a file port playing `source`.
    Port(int id, Kind kind, std::unique_ptr<MediaSource> source);
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    int id() const { return m_id; }
    Kind kind() const { return m_kind; }
    bool onOwnThread() const { return std::this_thread::get_id() == m_thread.get_id(); }
    // Ends the thread; afterwards no callback comes. Not from the port's own thread.
    void shutdown();

    int setRenderTarget(KX_PLAY_RENDER_TARGET* target);
    int setDecCallback(KX_PLAY_DecCallBack fn, void* user);
    int setFileEndCallback(KX_PLAY_FileEndCallBack fn, void* user);
    int play();
    int stop();
    int pause(bool pause);
    int setSpeed(int level);
    int speed() const;
    int setPlayTime(int64_t seconds);
    int playTime(int64_t& seconds) const;
    int openSound();
    int closeSound();
    int setVolume(int volume);
    int inputData(const uint8_t* data, uint32_t size);
    int resetBuffer();
    int setFillMode(int mode);
    int setRotate(int rotate);
    int capturePicture(const std::string& path);

    // Tuning for tests and measurements: decoder threads (0 = automatic) and, for files,
    // playing as fast as frames decode instead of at the pace of their times.
    void setDecodeThreads(int threads);
    void setFreeRun(bool freeRun);
    PortStats stats() const;
    // Deliveries waiting in the live queue.
    size_t queued() const;

private:
    void run();
    // Live: one delivery taken from the queue. File: one step of reading, decoding, showing.
    void liveDeliver(const std::vector<uint8_t>& delivery);
    void liveDecodeVideo(const MediaPacket& packet);
    bool fileStep(std::unique_lock<std::mutex>& lock);
    void fileRestart(int64_t atUs, bool toStart);
    void decodeAudio(const MediaPacket& packet, bool playSound);
    bool waitUntilDue(std::unique_lock<std::mutex>& lock, int64_t dueUs);
    bool commandPending() const;
    static int64_t nowUs();

    const int m_id;
    const Kind m_kind;
    std::unique_ptr<MediaSource> m_source;
    FramePresenter m_presenter;

    // Shared with the public operations, guarded by m_mutex.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_quit = false;
    bool m_playing = false;
    bool m_paused = false;
    int m_level = 0;
    bool m_levelChanged = false;
    bool m_seekPending = false;
    int64_t m_seekUs = 0;
    bool m_restartPending = false;  // stop: back to the start
    bool m_resetPending = false;    // live: flush the decoder
    bool m_soundOn = false;
    bool m_soundChanged = false;
    StreamInputQueue m_queue;
    PortStats m_stats;
    int m_threads = 0;
    bool m_freeRun = false;

    // The port's thread only.
    VideoDecoder m_video;
    AudioDecoder m_audio;
    AudioOutput m_sound;
    AVFrame* m_frame = nullptr;
    AVFrame* m_pending = nullptr;  // decoded, waiting for its time
    bool m_hasPending = false;
    PacingClock m_clock;
    bool m_inputEnded = false;
    bool m_endReported = false;
    bool m_showOne = false;  // a seek while paused shows its first picture
    int64_t m_lastPtsUs = INT64_MIN;
    int m_frameRate = 0;
    bool m_threadSound = false;
    std::vector<uint8_t> m_delivery;
    H264AccessUnit m_liveUnit;  // live H.265 NAL units collected into pictures

    std::thread m_thread;
};

}  // namespace kx::play
