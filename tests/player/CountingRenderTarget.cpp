#include "CountingRenderTarget.h"

#include "TestWait.h"

CountingRenderTarget::CountingRenderTarget(int32_t nWidth, int32_t nHeight)
    : m_nWidth(nWidth), m_nHeight(nHeight) {
    m_target.pContext = this;
    m_target.fnGetSize = &CountingRenderTarget::GetSize;
    m_target.fnPresent = &CountingRenderTarget::Present;
}

bool CountingRenderTarget::WaitForMoreThan(int64_t nAbove, std::chrono::milliseconds limit) const {
    return WaitUntil([&] { return Presented() > nAbove; }, limit);
}

void CountingRenderTarget::GetSize(void* pContext, int32_t* pWidth, int32_t* pHeight) {
    const auto* pThis = static_cast<const CountingRenderTarget*>(pContext);
    *pWidth = pThis->m_nWidth;
    *pHeight = pThis->m_nHeight;
}

void CountingRenderTarget::Present(void* pContext, const KX_PLAY_PICTURE* pPicture) {
    auto* pThis = static_cast<CountingRenderTarget*>(pContext);
    pThis->m_nLastWidth = pPicture->nWidth;
    pThis->m_nLastHeight = pPicture->nHeight;
    int64_t nLeftEdge = 0;
    for (int32_t y = 0; y < pPicture->nHeight; ++y) {
        const uint8_t* pPixel = pPicture->pData + static_cast<ptrdiff_t>(y) * pPicture->nStride;
        nLeftEdge += pPixel[0] + pPixel[1] + pPixel[2];
    }
    pThis->m_nLastLeftEdge = nLeftEdge;
    ++pThis->m_nPresented;
}
