// A render target standing in for a play window: counts the pictures the decode library
// presents to it and keeps the size of the last one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "KXPlaySdk.h"

class CountingRenderTarget {
public:
    CountingRenderTarget(int32_t nWidth = 160, int32_t nHeight = 120);
    CountingRenderTarget(const CountingRenderTarget&) = delete;
    CountingRenderTarget& operator=(const CountingRenderTarget&) = delete;

    KX_PLAY_HWND Handle() { return &m_target; }
    int64_t Presented() const { return m_nPresented.load(); }
    int32_t LastWidth() const { return m_nLastWidth.load(); }
    int32_t LastHeight() const { return m_nLastHeight.load(); }
    // Sum of the colour bytes of the leftmost pixel column of the last picture: 0 when that
    // column is black, as a letterbox bar is.
    int64_t LastLeftEdge() const { return m_nLastLeftEdge.load(); }
    // Waits until more than `nAbove` pictures were presented; false when `limit` passed first
    // (a guard against hanging, not a measure of speed).
    bool WaitForMoreThan(int64_t nAbove,
                         std::chrono::milliseconds limit = std::chrono::seconds(60)) const;

private:
    static void GetSize(void* pContext, int32_t* pWidth, int32_t* pHeight);
    static void Present(void* pContext, const KX_PLAY_PICTURE* pPicture);

    KX_PLAY_RENDER_TARGET m_target{};
    int32_t m_nWidth;
    int32_t m_nHeight;
    std::atomic<int64_t> m_nPresented{0};
    std::atomic<int32_t> m_nLastWidth{0};
    std::atomic<int32_t> m_nLastHeight{0};
    std::atomic<int64_t> m_nLastLeftEdge{0};
};
