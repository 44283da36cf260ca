#include "QfFileReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "BitstreamInfo.h"
#include "NalUnit.h"

namespace kx::play {
namespace {

constexpr size_t kReadChunk = 1u << 20;
constexpr size_t kMaxFrame = QfScanner::kMaxInner + KX_PKT_OVERHEAD;
constexpr size_t kMaxWindow = 2 * kMaxFrame;

}  // namespace

int64_t ptsToUs(const kx::frame::InnerFrame& f) {
    return static_cast<int64_t>(f.ptsSec) * 1000000 + std::min<uint32_t>(f.ptsUsec, 999999);
}

bool QfScanner::open(const std::string& path) {
    m_file.reset(std::fopen(path.c_str(), "rb"));
    if (!m_file) return false;
    m_buf.resize(kReadChunk);
    m_begin = m_end = 0;
    m_bufOffset = 0;
    m_eof = false;
    return true;
}

bool QfScanner::seekTo(uint64_t offset) {
    if (!m_file) return false;
    if (fseeko(m_file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    m_begin = m_end = 0;
    m_bufOffset = offset;
    m_eof = false;
    return true;
}

bool QfScanner::fill() {
    if (m_eof) return false;
    size_t avail = m_end - m_begin;
    if (avail >= kMaxWindow) {
        // No whole frame starts in the first part: it cannot be longer than kMaxFrame.
        const size_t drop = avail - kMaxFrame;
        m_begin += drop;
        avail -= drop;
    }
    if (m_begin > 0) {
        std::memmove(m_buf.data(), m_buf.data() + m_begin, avail);
        m_bufOffset += m_begin;
        m_begin = 0;
        m_end = avail;
    }
    if (m_buf.size() - m_end < kReadChunk / 2) {
        m_buf.resize(
            std::min(kMaxWindow + kReadChunk, std::max(m_buf.size() * 2, m_end + kReadChunk)));
    }
    const size_t got = std::fread(m_buf.data() + m_end, 1, m_buf.size() - m_end, m_file.get());
    if (got == 0) {
        m_eof = true;
        return false;
    }
    m_end += got;
    return true;
}

std::optional<QfScanner::Frame> QfScanner::next() {
    if (!m_file) return std::nullopt;
    for (;;) {
        const auto hit = kx::frame::scanNext(m_buf.data() + m_begin, m_end - m_begin, 0, kMaxInner);
        if (hit) {
            Frame f;
            f.offset = m_bufOffset + m_begin + hit->offset;
            f.inner = hit->frame;
            m_begin += hit->offset + hit->size;
            return f;
        }
        if (!fill()) {
            m_begin = m_end;
            return std::nullopt;
        }
    }
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
