#include "QfFileReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "BitstreamInfo.h"
#include "NalUnit.h"

namespace kx::play {
int64_t ptsToUs(const kx::frame::InnerFrame& f) {
    return static_cast<int64_t>(f.ptsSec) * 1000000 + std::min<uint32_t>(f.ptsUsec, 999999);
}

bool QfFileReader::open(const std::string& path) {
    if (!m_scanner.open(path)) return false;
    if (!index()) return false;
    return m_scanner.seekTo(0);
}

bool QfFileReader::index() {
    m_keys.clear();
    bool any = false;
    int64_t minUs = std::numeric_limits<int64_t>::max();
    int64_t maxUs = std::numeric_limits<int64_t>::min();
    int64_t prevVideoUs = -1;
    // Offset of a parameter set group waiting for its slice; UINT64_MAX when none is.
    uint64_t paramSetsAt = UINT64_MAX;
    std::vector<int64_t> deltas;
    while (auto f = m_scanner.next()) {
        any = true;
        const auto& in = f->inner;
        const int64_t us = ptsToUs(in);
        const bool video = kx::frame::isVideoDataType(in.dataType);
        if (video) m_hasVideo = true;
        if (video || !m_hasVideo) {
            minUs = std::min(minUs, us);
            maxUs = std::max(maxUs, us);
        }
        if (!video) continue;
        if (prevVideoUs >= 0 && us > prevVideoUs && deltas.size() < 64) {
            deltas.push_back(us - prevVideoUs);
        }
        prevVideoUs = us;
        if (in.dataType == KX_DATA_H264 || in.dataType == KX_DATA_H265) {
            const bool hevc = in.dataType == KX_DATA_H265;
            const int nal = hevc ? kx::frame::h265FirstNalType(in.payload, in.payloadSize)
                                 : kx::frame::h264FirstNalType(in.payload, in.payloadSize);
            const bool paramSet =
                hevc ? kx::frame::h265::isParameterSet(nal)
                     : (nal == kx::frame::h264::kSps || nal == kx::frame::h264::kPps);
            if (paramSet) {
                if (paramSetsAt == UINT64_MAX) paramSetsAt = f->offset;
                continue;
            }
            if (hevc ? kx::frame::h265::isVcl(nal) : kx::frame::h264::isVcl(nal)) {
                if (isKeyFrame(in.dataType, in.frameType, in.payload, in.payloadSize)) {
                    m_keys.push_back({paramSetsAt != UINT64_MAX ? paramSetsAt : f->offset, us});
                }
                paramSetsAt = UINT64_MAX;
            }
        } else if (mpeg4IsKey(in.payload, in.payloadSize)) {
            m_keys.push_back({f->offset, us});
        }
    }
    if (!any) return false;
    if (minUs <= maxUs) m_range = {minUs, maxUs};
    if (!deltas.empty()) {
        std::sort(deltas.begin(), deltas.end());
        const int64_t median = deltas[deltas.size() / 2];
        if (median > 0) m_frameRate = static_cast<int>((1000000 + median / 2) / median);
    }
    return true;
}

bool QfFileReader::emitUnit(const H264AccessUnit::Unit& unit, MediaPacket& packet) const {
    packet = MediaPacket{};
    packet.kind = MediaKind::Video;
    packet.dataType = m_accessUnit.hevc() ? KX_DATA_H265 : KX_DATA_H264;
    packet.ptsUs = unit.ptsUs;
    packet.key = unit.key;
    packet.data = unit.data;
    packet.size = unit.size;
    return true;
}

bool QfFileReader::read(MediaPacket& packet) {
    if (m_atEnd) return false;
    while (auto f = m_scanner.next()) {
        const auto& in = f->inner;
        const int64_t us = ptsToUs(in);
        if (in.dataType == KX_DATA_H264 || in.dataType == KX_DATA_H265) {
            const bool hevc = in.dataType == KX_DATA_H265;
            H264AccessUnit::Unit unit;
            if (hevc != m_accessUnit.hevc()) {
                // A recording holds one video codec; a switch starts over.
                m_accessUnit.clear();
                m_accessUnit.setHevc(hevc);
            }
            const bool key = isKeyFrame(in.dataType, in.frameType, in.payload, in.payloadSize);
            if (m_accessUnit.push(in.payload, in.payloadSize, us, key, unit)) {
                return emitUnit(unit, packet);
            }
            continue;
        }
        packet = MediaPacket{};
        packet.dataType = in.dataType;
        packet.ptsUs = us;
        packet.data = in.payload;
        packet.size = in.payloadSize;
        if (kx::frame::isVideoDataType(in.dataType)) {
            packet.kind = MediaKind::Video;
            packet.key = mpeg4IsKey(in.payload, in.payloadSize);
            packet.data = mpeg4SkipPrefix(packet.data, packet.size);
        } else {
            packet.kind = MediaKind::Audio;
            packet.channels = in.channels;
            packet.sampleRate = in.sampleRate;
            packet.key = true;
        }
        return true;
    }
    H264AccessUnit::Unit unit;
    if (m_accessUnit.flush(unit)) return emitUnit(unit, packet);
    m_atEnd = true;
    return false;
}

bool QfFileReader::seek(int64_t timeUs) {
    uint64_t offset = 0;
    const KeyPoint* best = nullptr;
    for (const auto& k : m_keys) {
        if (k.ptsUs <= timeUs && (best == nullptr || k.ptsUs > best->ptsUs)) best = &k;
    }
    if (best != nullptr) {
        offset = best->offset;
    } else if (!m_keys.empty()) {
        offset = m_keys.front().offset;
    }
    m_accessUnit.clear();
    m_atEnd = false;
    return m_scanner.seekTo(offset);
}

}  // namespace kx::play
