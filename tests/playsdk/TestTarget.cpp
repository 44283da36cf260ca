#include "TestTarget.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace playtest {
namespace {
constexpr auto kHangGuard = std::chrono::seconds(30);
}

TestTarget::TestTarget(int width, int height) : m_width(width), m_height(height) {
    m_target.pContext = this;
    m_target.fnGetSize = &TestTarget::getSize;
    m_target.fnPresent = &TestTarget::present;
}

void TestTarget::resize(int width, int height) {
    std::lock_guard lock(m_mutex);
    m_width = width;
    m_height = height;
}

void TestTarget::getSize(void* ctx, int32_t* w, int32_t* h) {
    auto* self = static_cast<TestTarget*>(ctx);
    std::lock_guard lock(self->m_mutex);
    *w = self->m_width;
    *h = self->m_height;
}

void TestTarget::present(void* ctx, const KX_PLAY_PICTURE* pic) {
    auto* self = static_cast<TestTarget*>(ctx);
    std::lock_guard lock(self->m_mutex);
    self->m_last.resize(static_cast<size_t>(pic->nWidth) * 4 * pic->nHeight);
    for (int y = 0; y < pic->nHeight; ++y) {
        std::memcpy(self->m_last.data() + static_cast<size_t>(y) * pic->nWidth * 4,
                    pic->pData + static_cast<size_t>(y) * pic->nStride,
                    static_cast<size_t>(pic->nWidth) * 4);
    }
    self->m_lastW = pic->nWidth;
    self->m_lastH = pic->nHeight;
    ++self->m_count;
    self->m_cv.notify_all();
}

int TestTarget::presented() const {
    std::lock_guard lock(m_mutex);
    return m_count;
}

bool TestTarget::waitPresented(int n) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, kHangGuard, [&] { return m_count >= n; });
}

std::vector<uint8_t> TestTarget::lastPicture(int& width, int& height) const {
    std::lock_guard lock(m_mutex);
    width = m_lastW;
    height = m_lastH;
    return m_last;
}

void TestTarget::pixel(int x, int y, int& b, int& g, int& r) const {
    std::lock_guard lock(m_mutex);
    const uint8_t* p = m_last.data() + (static_cast<size_t>(y) * m_lastW + x) * 4;
    b = p[0];
    g = p[1];
    r = p[2];
}

void DecodeRecorder::callback(int32_t, const uint8_t* buf, int32_t size, const FRAME_INFO* info,
                              void* user) {
    auto* self = static_cast<DecodeRecorder*>(user);
    uint32_t sum = 0;
    for (int32_t i = 0; i < size; i += 97) sum = sum * 31 + buf[i];
    std::lock_guard lock(self->m_mutex);
    Entry e{*info, size, sum};
    if (info->nType == KX_PLAY_FRAME_VIDEO) {
        self->m_video.push_back(e);
    } else {
        self->m_audio.push_back(e);
    }
    self->m_cv.notify_all();
}

std::vector<DecodeRecorder::Entry> DecodeRecorder::video() const {
    std::lock_guard lock(m_mutex);
    return m_video;
}

std::vector<DecodeRecorder::Entry> DecodeRecorder::audio() const {
    std::lock_guard lock(m_mutex);
    return m_audio;
}

bool DecodeRecorder::waitVideo(size_t n) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, kHangGuard, [&] { return m_video.size() >= n; });
}

bool DecodeRecorder::waitAudio(size_t n) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, kHangGuard, [&] { return m_audio.size() >= n; });
}

void DecodeRecorder::clear() {
    std::lock_guard lock(m_mutex);
    m_video.clear();
    m_audio.clear();
}

void EndRecorder::callback(int32_t port, void* user) {
    auto* self = static_cast<EndRecorder*>(user);
    std::lock_guard lock(self->m_mutex);
    ++self->m_count;
    self->m_port = port;
    self->m_cv.notify_all();
}

int EndRecorder::count() const {
    std::lock_guard lock(m_mutex);
    return m_count;
}

int EndRecorder::port() const {
    std::lock_guard lock(m_mutex);
    return m_port;
}

bool EndRecorder::waitEnd() const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, kHangGuard, [&] { return m_count > 0; });
}

bool waitFor(const std::function<bool()>& pred) {
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace playtest
