#include "FramedSource.h"

namespace kx::media {

FramedSource::~FramedSource() = default;

void FramedSource::getNextFrame(uint8_t* to, unsigned maxSize, afterGettingFunc* afterGetting,
                                void* afterGettingClientData, onCloseFunc* onClose,
                                void* onCloseClientData) {
    if (m_isCurrentlyAwaitingData) return;  // one read at a time
    fTo = to;
    fMaxSize = maxSize;
    fFrameSize = 0;
    fNumTruncatedBytes = 0;
    fDurationInMicroseconds = 0;
    m_afterGetting = afterGetting;
    m_afterGettingClientData = afterGettingClientData;
    m_onClose = onClose;
    m_onCloseClientData = onCloseClientData;
    m_isCurrentlyAwaitingData = true;
    doGetNextFrame();
}

void FramedSource::stopGettingFrames() {
    m_isCurrentlyAwaitingData = false;
    m_afterGetting = nullptr;
    m_onClose = nullptr;
    doStopGettingFrames();
}

void FramedSource::afterGetting() {
    if (!m_isCurrentlyAwaitingData) return;
    m_isCurrentlyAwaitingData = false;
    afterGettingFunc* fn = m_afterGetting;
    if (fn != nullptr) {
        fn(m_afterGettingClientData, fFrameSize, fNumTruncatedBytes, fPresentationTime,
           fDurationInMicroseconds);
    }
}

void FramedSource::handleClosure() {
    m_isCurrentlyAwaitingData = false;
    onCloseFunc* fn = m_onClose;
    m_onClose = nullptr;
    m_afterGetting = nullptr;
    if (fn != nullptr) fn(m_onCloseClientData);
}

}  // namespace kx::media
