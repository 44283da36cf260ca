// What the tests hand to the decode library: a render target that keeps the last picture,
// and recorders for the decode and file-end callbacks. Waiting is bounded only to keep a
// broken build from hanging; no test depends on how fast anything is.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "KXPlaySdk.h"

namespace playtest {

class TestTarget {
public:
    TestTarget(int width, int height);
    KX_PLAY_HWND handle() { return &m_target; }
    void resize(int width, int height);

    int presented() const;
    // Waits until at least n pictures were presented; false when that never happens.
    bool waitPresented(int n) const;
    // Copy of the last picture (BGRA, width * 4 per row) and its size.
    std::vector<uint8_t> lastPicture(int& width, int& height) const;
    // B, G, R of the last picture at (x, y).
    void pixel(int x, int y, int& b, int& g, int& r) const;

private:
    static void getSize(void* ctx, int32_t* w, int32_t* h);
    static void present(void* ctx, const KX_PLAY_PICTURE* pic);

    KX_PLAY_RENDER_TARGET m_target{};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    int m_width;
    int m_height;
    int m_count = 0;
    std::vector<uint8_t> m_last;
    int m_lastW = 0;
    int m_lastH = 0;
};

class DecodeRecorder {
public:
    static void callback(int32_t port, const uint8_t* buf, int32_t size, const FRAME_INFO* info,
                         void* user);
    struct Entry {
        FRAME_INFO info;
        int32_t size;
        uint32_t checksum;
    };
    std::vector<Entry> video() const;
    std::vector<Entry> audio() const;
    bool waitVideo(size_t n) const;
    bool waitAudio(size_t n) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<Entry> m_video;
    std::vector<Entry> m_audio;
};

class EndRecorder {
public:
    static void callback(int32_t port, void* user);
    int count() const;
    bool waitEnd() const;
    int port() const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    int m_count = 0;
    int m_port = -1;
};

// Waits (bounded as above) until pred is true.
bool waitFor(const std::function<bool()>& pred);

}  // namespace playtest
