// CLiveClient: packaging of received frames and their delivery to the data callback.
// Session thread; no allocation per frame (the packet buffer only grows).
#include <ctime>
#include <new>

#include "CLiveClient.h"
#include "CLog.h"
#include "PackagedFrame.h"

namespace kx::sdk {

using Brelso::Public::LOG_ERROR;

bool CLiveClient::EnsureDataBuf(size_t size, const char* caller) {
    if (m_pDataBuf && size <= static_cast<size_t>(m_nDataBufSize)) return true;
    m_pDataBuf.reset();
    m_nDataBufSize = 0;
    m_pDataBuf.reset(new (std::nothrow) uint8_t[size]);
    if (!m_pDataBuf) {
        KX_LOG(LOG_ERROR, "[%s] m_pDataBuf is NULL\n", caller);
        return false;
    }
    m_nDataBufSize = static_cast<int32_t>(size);
    return true;
}

void CLiveClient::InputVideoData(uint16_t dataType, uint16_t frameType, const uint8_t* frame,
                                 uint32_t n, bool hasStartCode, uint32_t seconds,
                                 uint32_t microseconds, bool keyFrame,
                                 const StreamStartConfig* startConfig) {
    if (!EnsureDataBuf(static_cast<size_t>(n) + 50, "CLiveClient::InputVideoData")) return;
    kx::frame::VideoFrameInfo info;
    info.dataType = dataType;
    info.frameType = frameType;
    info.hasStartCode = hasStartCode;
    info.ptsSec = seconds;
    info.ptsUsec = microseconds;
    info.wallClockSec = frameType == KX_FRAME_IDR ? static_cast<uint32_t>(std::time(nullptr)) : 0;
    const size_t total = kx::frame::writeVideo(m_pDataBuf.get(), info, frame, n);
    SaveRealData(m_pDataBuf.get(), total, keyFrame, startConfig, seconds, microseconds);
    DeliverPackaged(dataType, kx::frame::innerLength(m_pDataBuf.get()));
}

void CLiveClient::InputAudioData(uint32_t n, uint32_t channels, uint32_t sampleRate,
                                 uint16_t dataType, const uint8_t* frame, uint32_t seconds,
                                 uint32_t microseconds) {
    if (!m_bSoundOn || n == 0) return;
    if (!EnsureDataBuf(static_cast<size_t>(n) + 54, "CLiveClient::InputAudioData")) return;
    kx::frame::AudioFrameInfo info;
    info.dataType = dataType;
    info.channels = channels;
    info.sampleRate = sampleRate;
    info.ptsSec = seconds;
    info.ptsUsec = microseconds;
    const size_t total = kx::frame::writeAudio(m_pDataBuf.get(), info, frame, n);
    SaveRealData(m_pDataBuf.get(), total, false);
    DeliverPackaged(dataType, kx::frame::innerLength(m_pDataBuf.get()));
}

void CLiveClient::DeliverPackaged(uint16_t dataType, uint32_t innerLength) {
    std::lock_guard<std::mutex> lock(m_mtxRealData);
    if (RealDataCallBack fn = m_fnRealData.load()) {
        fn(m_nRealHandle, dataType, m_pDataBuf.get() + KX_PKT_OFF_INNER, innerLength,
           m_pRealDataUser);
    }
}

void CLiveClient::DeliverRawData(uint32_t dataType, uint8_t* data, uint32_t n) {
    std::lock_guard<std::mutex> lock(m_mtxRealData);
    if (RealDataCallBack fn = m_fnRealData.load()) {
        fn(m_nRealHandle, dataType, data, n, m_pRealDataUser);
    }
}

}  // namespace kx::sdk
