// Where decoded output of a port goes: the render target (converted pictures), the decode
// callback, the file-end callback, and the last picture kept for snapshots. The port's thread
// calls the "present" side; the setters may be called from any thread and, once they return,
// no call to what they replaced is under way or follows.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioDecoder.h"
#include "KXPlaySdk.h"
#include "PictureConverter.h"

struct AVFrame;
struct SwsContext;

namespace kx::play {

class FramePresenter {
public:
    explicit FramePresenter(int port);
    ~FramePresenter();
    FramePresenter(const FramePresenter&) = delete;
    FramePresenter& operator=(const FramePresenter&) = delete;

    // Any thread.
    void setTarget(KX_PLAY_RENDER_TARGET* target);
    void setDecCallback(KX_PLAY_DecCallBack fn, void* user);
    void setFileEndCallback(KX_PLAY_FileEndCallBack fn, void* user);
    void setRotate(int rotate);
    void setKeepShape(bool keepShape);
    // Output on or off (play / stop). Turning it off waits for a call under way.
    void setEnabled(bool enabled);
    int snapshot(const std::string& path);
    // Presentation time of the picture shown last; false before the first one.
    bool shownTime(int64_t& ptsUs) const;
    void forgetPicture();
    // True when a decode callback wants audio blocks.
    bool wantsAudio() const;

    // The port's thread.
    void presentVideo(AVFrame* frame, int frameRate);
    void deliverAudio(const PcmBlock& block);
    void reportEnd();

    uint64_t presentedCount() const { return m_presented.load(); }

private:
    void callDecoded(AVFrame* frame, int frameRate);

    // Takes m_mutex, unless this thread already holds it: a callback may change the settings
    // of its own port (or take a snapshot) without waiting for itself.
    class SettingsLock {
    public:
        explicit SettingsLock(const FramePresenter& p);

    private:
        std::unique_lock<std::mutex> m_lock;
    };
    // Marks the port's thread as inside an outside function while m_mutex is held.
    class CallbackScope {
    public:
        explicit CallbackScope(FramePresenter& p);
        ~CallbackScope();
        CallbackScope(const CallbackScope&) = delete;
        CallbackScope& operator=(const CallbackScope&) = delete;

    private:
        FramePresenter& m_p;
        std::lock_guard<std::mutex> m_lock;
    };

    const int m_port;
    mutable std::mutex m_mutex;  // held while any outside function is called
    std::atomic<std::thread::id> m_callbackThread{};
    bool m_enabled = false;
    KX_PLAY_RENDER_TARGET* m_target = nullptr;
    KX_PLAY_DecCallBack m_decFn = nullptr;
    void* m_decUser = nullptr;
    KX_PLAY_FileEndCallBack m_endFn = nullptr;
    void* m_endUser = nullptr;
    std::atomic<int> m_rotate{0};
    std::atomic<bool> m_keepShape{false};

    PictureConverter m_converter;
    std::vector<uint8_t> m_i420;
    SwsContext* m_i420Sws = nullptr;
    AVFrame* m_last = nullptr;  // last picture shown, a reference into the decoder's pool
    std::atomic<int64_t> m_shownUs{INT64_MIN};
    std::atomic<uint64_t> m_presented{0};
};

}  // namespace kx::play
