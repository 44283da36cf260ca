#include "FramePresenter.h"

#include <cstring>

#include "SnapshotWriter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace kx::play {
namespace {

int32_t stampMs(int64_t ptsUs) {
    if (ptsUs == AV_NOPTS_VALUE) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ptsUs / 1000)));
}

}  // namespace

FramePresenter::SettingsLock::SettingsLock(const FramePresenter& p) {
    if (p.m_callbackThread.load() != std::this_thread::get_id()) {
        m_lock = std::unique_lock<std::mutex>(p.m_mutex);
    }
}

FramePresenter::CallbackScope::CallbackScope(FramePresenter& p) : m_p(p), m_lock(p.m_mutex) {
    m_p.m_callbackThread = std::this_thread::get_id();
}

FramePresenter::CallbackScope::~CallbackScope() {
    m_p.m_callbackThread = std::thread::id();
}

FramePresenter::FramePresenter(int port) : m_port(port), m_last(av_frame_alloc()) {}

FramePresenter::~FramePresenter() {
    av_frame_free(&m_last);
    sws_freeContext(m_i420Sws);
}

void FramePresenter::setTarget(KX_PLAY_RENDER_TARGET* target) {
    SettingsLock lock(*this);
    m_target = target;
}

void FramePresenter::setDecCallback(KX_PLAY_DecCallBack fn, void* user) {
    SettingsLock lock(*this);
    m_decFn = fn;
    m_decUser = user;
}

void FramePresenter::setFileEndCallback(KX_PLAY_FileEndCallBack fn, void* user) {
    SettingsLock lock(*this);
    m_endFn = fn;
    m_endUser = user;
}

void FramePresenter::setRotate(int rotate) {
    m_rotate = rotate & 3;
}

void FramePresenter::setKeepShape(bool keepShape) {
    m_keepShape = keepShape;
}

void FramePresenter::setEnabled(bool enabled) {
    SettingsLock lock(*this);
    m_enabled = enabled;
}

bool FramePresenter::shownTime(int64_t& ptsUs) const {
    const int64_t v = m_shownUs.load();
    if (v == INT64_MIN) return false;
    ptsUs = v;
    return true;
}

bool FramePresenter::wantsAudio() const {
    SettingsLock lock(*this);
    return m_enabled && m_decFn != nullptr;
}

void FramePresenter::forgetPicture() {
    SettingsLock lock(*this);
    if (m_last != nullptr) av_frame_unref(m_last);
}

int FramePresenter::snapshot(const std::string& path) {
    AVFrame* copy = av_frame_alloc();
    if (copy == nullptr) return -1;
    {
        SettingsLock lock(*this);
        if (m_last == nullptr || m_last->buf[0] == nullptr || av_frame_ref(copy, m_last) < 0) {
            av_frame_free(&copy);
            return -1;
        }
    }
    const int rc = writeJpeg(copy, m_rotate.load(), path);
    av_frame_free(&copy);
    return rc;
}

void FramePresenter::callDecoded(AVFrame* frame, int frameRate) {
    const int w = frame->width;
    const int h = frame->height;
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    const size_t ySize = static_cast<size_t>(w) * h;
    const size_t cSize = static_cast<size_t>(cw) * ch;
    if (m_i420.size() < ySize + 2 * cSize) m_i420.resize(ySize + 2 * cSize);
    uint8_t* planes[4] = {m_i420.data(), m_i420.data() + ySize, m_i420.data() + ySize + cSize,
                          nullptr};
    int strides[4] = {w, cw, cw, 0};
    if (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) {
        const int heights[3] = {h, ch, ch};
        const int widths[3] = {w, cw, cw};
        for (int p = 0; p < 3; ++p) {
            for (int y = 0; y < heights[p]; ++y) {
                std::memcpy(planes[p] + static_cast<size_t>(y) * strides[p],
                            frame->data[p] + static_cast<size_t>(y) * frame->linesize[p],
                            static_cast<size_t>(widths[p]));
            }
        }
    } else {
        m_i420Sws =
            sws_getCachedContext(m_i420Sws, w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                                 AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (m_i420Sws == nullptr ||
            sws_scale(m_i420Sws, frame->data, frame->linesize, 0, h, planes, strides) <= 0) {
            return;
        }
    }
    FRAME_INFO info{};
    info.nWidth = w;
    info.nHeight = h;
    info.nType = KX_PLAY_FRAME_VIDEO;
    info.nStamp = stampMs(frame->pts);
    info.nFrameRate = frameRate;
    m_decFn(m_port, m_i420.data(), static_cast<int32_t>(ySize + 2 * cSize), &info, m_decUser);
}

void FramePresenter::presentVideo(AVFrame* frame, int frameRate) {
    CallbackScope scope(*this);
    if (!m_enabled) return;
    m_shownUs = frame->pts == AV_NOPTS_VALUE ? 0 : frame->pts;
    if (m_last != nullptr) {
        av_frame_unref(m_last);
        av_frame_ref(m_last, frame);
    }
    if (m_decFn != nullptr) callDecoded(frame, frameRate);
    if (m_target != nullptr && m_target->fnPresent != nullptr) {
        int32_t w = 0;
        int32_t h = 0;
        if (m_target->fnGetSize != nullptr) m_target->fnGetSize(m_target->pContext, &w, &h);
        BgraPicture pic;
        if (w > 0 && h > 0 &&
            m_converter.convert(frame, w, h, m_rotate.load(), m_keepShape.load(), pic)) {
            KX_PLAY_PICTURE out{pic.data, pic.stride, pic.width, pic.height};
            m_target->fnPresent(m_target->pContext, &out);
        }
    }
    ++m_presented;
}

void FramePresenter::deliverAudio(const PcmBlock& block) {
    CallbackScope scope(*this);
    if (!m_enabled || m_decFn == nullptr) return;
    FRAME_INFO info{};
    info.nType = KX_PLAY_FRAME_AUDIO;
    info.nStamp = stampMs(block.ptsUs);
    m_decFn(m_port, block.data, static_cast<int32_t>(block.size), &info, m_decUser);
}

void FramePresenter::reportEnd() {
    CallbackScope scope(*this);
    if (!m_enabled || m_endFn == nullptr) return;
    m_endFn(m_port, m_endUser);
}

}  // namespace kx::play
