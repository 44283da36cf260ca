#include "H264DataSink.h"

#include <new>

#include "CLiveClient.h"
#include "CLog.h"
#include "NalUnit.h"
#include "SPropParameterSets.h"

namespace kx::sdk {
namespace {

// True when the slice NAL unit (without start code) is the first of its picture:
// first_mb_in_slice, the first Exp-Golomb value after the header, is 0 (the single bit 1).
bool FirstSliceOfPicture(const uint8_t* nal, size_t size) {
    return size >= 2 && (nal[1] & 0x80) != 0;
}

}  // namespace

using Brelso::Public::LOG_BUSINESS;
using Brelso::Public::LOG_ERROR;

H264DataSink* H264DataSink::createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                                      const char* sprop) {
    return CheckCreated(new (std::nothrow) H264DataSink(env, liveClient, sprop));
}

H264DataSink::H264DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                           const char* sprop)
    : DataSink(env, liveClient), m_szSPropParameterSets(sprop) {
    try {
        for (const auto& record : ParseSPropParameterSets(m_szSPropParameterSets)) {
            bool hasStartCode = false;
            const uint16_t type =
                ClassifyFrame(record.data(), static_cast<unsigned>(record.size()), hasStartCode);
            if (!hasStartCode) KeepParameterSet(type, record.data(), record.size());
        }
    } catch (...) {  // no memory for the records: the stream's own parameter sets may come
    }
}

void H264DataSink::KeepParameterSet(uint16_t frameType, const uint8_t* nal, size_t size) {
    // Only this NAL unit, should others follow it behind start codes.
    for (size_t i = 1; i + 2 < size; ++i) {
        if (nal[i] == 0 && nal[i + 1] == 0 && nal[i + 2] == 1) {
            size = nal[i - 1] == 0 ? i - 1 : i;
            break;
        }
    }
    if (frameType == KX_FRAME_SPS) m_startConfig.Set(0, KX_DATA_H264, KX_FRAME_SPS, nal, size);
    if (frameType == KX_FRAME_PPS) m_startConfig.Set(1, KX_DATA_H264, KX_FRAME_PPS, nal, size);
}

uint16_t H264DataSink::ClassifyFrame(const uint8_t* b, unsigned n, bool& hasStartCode) {
    return kx::frame::h264FrameType(b, n, hasStartCode);
}

void H264DataSink::SendParameterSets(uint32_t seconds, uint32_t microseconds) {
    const unsigned count = CountSPropRecords(m_szSPropParameterSets);
    if (count < 2) {
        KX_LOG(LOG_ERROR, "[%s]why has not sps pps, numSPropRecords:%d.\n",
               "H264DataSink::afterGettingFrame1", static_cast<int>(count));
        return;
    }
    const auto records = ParseSPropParameterSets(m_szSPropParameterSets);
    const auto& sps = records[0];
    const auto& pps = records[1];
    m_pLiveClient->InputVideoData(KX_DATA_H264, KX_FRAME_SPS, sps.data(),
                                  static_cast<uint32_t>(sps.size()), false, seconds, microseconds);
    m_pLiveClient->InputVideoData(KX_DATA_H264, KX_FRAME_PPS, pps.data(),
                                  static_cast<uint32_t>(pps.size()), false, seconds, microseconds);
    KX_LOG(LOG_BUSINESS, "[%s]has input sps pps, spsSize:%d, ppsSize:%d.\n",
           "H264DataSink::afterGettingFrame1", static_cast<int>(sps.size()),
           static_cast<int>(pps.size()));
    m_bSPropSent = 1;
}

void H264DataSink::afterGettingFrame1(unsigned n, int64_t seconds, int64_t microseconds) {
    m_pLiveClient->RefreshLastData();
    const auto sec = static_cast<uint32_t>(seconds);
    const auto usec = static_cast<uint32_t>(microseconds);
    if (m_bSPropSent == 0 && m_pLiveClient->HasRealDataCallBack()) {
        try {
            SendParameterSets(sec, usec);
        } catch (...) {  // no memory for the records: try with the next frame
        }
    }
    bool hasStartCode = false;
    const uint8_t* frame = m_pBuffer.get();
    const uint16_t frameType = ClassifyFrame(frame, n, hasStartCode);
    const unsigned skip = !hasStartCode ? 0 : (frame[2] == 1 ? 3 : 4);
    if (frameType == KX_FRAME_SPS || frameType == KX_FRAME_PPS) {
        KeepParameterSet(frameType, frame + skip, n - skip);
    }
    // A recording starts at a key picture's first slice, never in the middle of the picture.
    const bool pictureStart =
        frameType == KX_FRAME_IDR && FirstSliceOfPicture(frame + skip, n - skip);
    m_pLiveClient->InputVideoData(KX_DATA_H264, frameType, frame, n, hasStartCode, sec, usec,
                                  pictureStart, &m_startConfig);
    m_pLiveClient->UpdateCurrentTime(seconds, microseconds);
}

}  // namespace kx::sdk
