#include "H265DataSink.h"

#include <glib.h>

#include <cstring>
#include <new>
#include <string>

#include "CLiveClient.h"
#include "CLog.h"
#include "H265RTPSource.h"
#include "NalUnit.h"

namespace kx::sdk {

using Brelso::Public::LOG_BUSINESS;
using Brelso::Public::LOG_ERROR;

namespace {
constexpr const char* kWhere = "H265DataSink::afterGettingFrame1";

bool isBase64(const std::string& s) {
    if (s.empty() || s.size() % 4 == 1) return false;
    size_t pad = 0;
    for (char c : s) {
        if (c == '=') {
            ++pad;
        } else if (pad > 0 || !(g_ascii_isalnum(c) || c == '+' || c == '/')) {
            return false;
        }
    }
    return pad <= 2;
}
}  // namespace

H265DataSink* H265DataSink::createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                                      const char* spropVps, const char* spropSps,
                                      const char* spropPps) {
    return CheckCreated(new (std::nothrow)
                            H265DataSink(env, liveClient, spropVps, spropSps, spropPps));
}

H265DataSink::H265DataSink(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                           const char* spropVps, const char* spropSps, const char* spropPps)
    : DataSink(env, liveClient),
      m_szSPropVps(spropVps),
      m_szSPropSps(spropSps),
      m_szSPropPps(spropPps) {
    using namespace kx::frame;
    try {
        // Only a description whose parameter sets are all sound is kept for recordings.
        std::vector<std::vector<uint8_t>> vps, sps, pps;
        if (DecodeParameterSets(spropVps, h265::kVps, vps) &&
            DecodeParameterSets(spropSps, h265::kSps, sps) &&
            DecodeParameterSets(spropPps, h265::kPps, pps)) {
            for (const auto& set : vps) KeepParameterSet(KX_FRAME_VPS, set.data(), set.size());
            for (const auto& set : sps) KeepParameterSet(KX_FRAME_SPS, set.data(), set.size());
            for (const auto& set : pps) KeepParameterSet(KX_FRAME_PPS, set.data(), set.size());
        }
    } catch (...) {  // no memory for the records: the stream's own parameter sets may come
    }
}

void H265DataSink::KeepParameterSet(uint16_t frameType, const uint8_t* nal, size_t size) {
    if (frameType == KX_FRAME_VPS) m_startConfig.Set(0, KX_DATA_H265, KX_FRAME_VPS, nal, size);
    if (frameType == KX_FRAME_SPS) m_startConfig.Set(1, KX_DATA_H265, KX_FRAME_SPS, nal, size);
    if (frameType == KX_FRAME_PPS) m_startConfig.Set(2, KX_DATA_H265, KX_FRAME_PPS, nal, size);
}

bool H265DataSink::DecodeParameterSets(const char* text, int nalType,
                                       std::vector<std::vector<uint8_t>>& out) {
    if (text == nullptr || text[0] == '\0') return true;
    bool allGood = true;
    const char* p = text;
    while (true) {
        const char* comma = std::strchr(p, ',');
        const std::string piece(p, comma == nullptr ? std::strlen(p) : size_t(comma - p));
        bool good = false;
        if (isBase64(piece)) {
            gsize size = 0;
            guchar* bytes = g_base64_decode(piece.c_str(), &size);
            // A parameter set is a NAL unit of its type with something after the header.
            if (bytes != nullptr && size > 2 && (bytes[0] & 0x80) == 0 &&
                kx::frame::h265NalType(bytes, size) == nalType) {
                out.emplace_back(bytes, bytes + size);
                good = true;
            }
            g_free(bytes);
        }
        allGood = allGood && good;
        if (comma == nullptr) break;
        p = comma + 1;
    }
    return allGood;
}

void H265DataSink::SendParameterSets(uint32_t seconds, uint32_t microseconds) {
    using namespace kx::frame;
    std::vector<std::vector<uint8_t>> vps, sps, pps;
    const bool good = DecodeParameterSets(m_szSPropVps, h265::kVps, vps) &&
                      DecodeParameterSets(m_szSPropSps, h265::kSps, sps) &&
                      DecodeParameterSets(m_szSPropPps, h265::kPps, pps);
    if (!good) {
        // Damaged parameter sets are never handed on; the stream's own come with the key frames.
        vps.clear();
        sps.clear();
        pps.clear();
        KX_LOG(LOG_ERROR, "[%s]bad sprop-vps/sps/pps, parameter sets dropped.\n", kWhere);
    } else if (vps.empty() || sps.empty() || pps.empty()) {
        KX_LOG(LOG_ERROR, "[%s]why has not vps sps pps, vps:%d, sps:%d, pps:%d.\n", kWhere,
               static_cast<int>(vps.size()), static_cast<int>(sps.size()),
               static_cast<int>(pps.size()));
    }
    const auto send = [&](const std::vector<std::vector<uint8_t>>& sets, uint16_t frameType) {
        for (const auto& set : sets) {
            m_pLiveClient->InputVideoData(KX_DATA_H265, frameType, set.data(),
                                          static_cast<uint32_t>(set.size()), false, seconds,
                                          microseconds);
        }
    };
    send(vps, KX_FRAME_VPS);
    send(sps, KX_FRAME_SPS);
    send(pps, KX_FRAME_PPS);
    if (!vps.empty() || !sps.empty() || !pps.empty()) {
        KX_LOG(LOG_BUSINESS, "[%s]has input vps sps pps, vpsSize:%d, spsSize:%d, ppsSize:%d.\n",
               kWhere, vps.empty() ? 0 : static_cast<int>(vps[0].size()),
               sps.empty() ? 0 : static_cast<int>(sps[0].size()),
               pps.empty() ? 0 : static_cast<int>(pps[0].size()));
    }
    m_bSPropSent = 1;
}

void H265DataSink::ReportSourceDamage() {
    const auto* source = dynamic_cast<const kx::media::H265RTPSource*>(fSource);
    if (source == nullptr || source->damagedCount() == m_nDamageSeen) return;
    KX_LOG(LOG_ERROR, "[%s] RealHandle:%d, dropped %d damaged NAL units: %s.\n", kWhere,
           static_cast<int>(m_pLiveClient->RealHandle()),
           static_cast<int>(source->damagedCount() - m_nDamageSeen), source->lastDamage());
    m_nDamageSeen = source->damagedCount();
}

void H265DataSink::afterGettingFrame1(unsigned n, int64_t seconds, int64_t microseconds) {
    m_pLiveClient->RefreshLastData();
    ReportSourceDamage();
    const auto sec = static_cast<uint32_t>(seconds);
    const auto usec = static_cast<uint32_t>(microseconds);
    bool hasStartCode = false;
    const uint16_t frameType = kx::frame::h265FrameType(m_pBuffer.get(), n, hasStartCode);
    const size_t header = kx::frame::leadingStartCode(m_pBuffer.get(), n);
    if (n < header + 3 || (m_pBuffer[header] & 0x80) != 0) {
        // Too short for a header and a byte, or the forbidden bit set: not a NAL unit.
        KX_LOG(LOG_ERROR, "[%s] RealHandle:%d, dropped a frame that is no NAL unit, size:%d.\n",
               kWhere, static_cast<int>(m_pLiveClient->RealHandle()), static_cast<int>(n));
        return;
    }
    if (m_bSPropSent == 0 && m_pLiveClient->HasRealDataCallBack()) {
        try {
            SendParameterSets(sec, usec);
        } catch (...) {  // no memory for the records: try with the next frame
        }
    }
    if (frameType == KX_FRAME_VPS || frameType == KX_FRAME_SPS || frameType == KX_FRAME_PPS) {
        KeepParameterSet(frameType, m_pBuffer.get() + header, n - header);
    }
    m_pLiveClient->InputVideoData(KX_DATA_H265, frameType, m_pBuffer.get(), n, hasStartCode, sec,
                                  usec, frameType == KX_FRAME_IDR, &m_startConfig);
    m_pLiveClient->UpdateCurrentTime(seconds, microseconds);
}

}  // namespace kx::sdk
