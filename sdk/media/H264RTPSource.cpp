#include "H264RTPSource.h"

#include <glib.h>

#include <cstring>
#include <string>

namespace kx::media {

namespace {
constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;
}  // namespace

H264RTPSource* H264RTPSource::createNew(UsageEnvironment& env, unsigned char payloadFormat,
                                        unsigned clockRate) {
    return new H264RTPSource(env, payloadFormat, clockRate);
}

void H264RTPSource::resetDepacketizer() {
    m_inFragment = false;
    frames().abort();
}

void H264RTPSource::processPayload(const RtpHeader& header, bool lossBefore) {
    const uint8_t* p = header.payload;
    const size_t size = header.payloadSize;
    if (lossBefore && m_inFragment) {
        // Fragments of the NAL unit being joined are missing.
        resetDepacketizer();
    }
    if (size < 1) return;
    const uint8_t nalType = p[0] & 0x1F;
    if (nalType != kFuA && m_inFragment) {
        // The end fragment never came.
        resetDepacketizer();
    }
    if (nalType >= 1 && nalType <= 23) {
        emitFrame(p, size, presentationTimeOf(header.timestamp));
        return;
    }
    if (nalType == kStapA) {
        const struct timeval pts = presentationTimeOf(header.timestamp);
        size_t offset = 1;
        while (offset + 2 <= size) {
            const size_t nalSize = (size_t(p[offset]) << 8) | p[offset + 1];
            offset += 2;
            if (nalSize == 0 || nalSize > size - offset) break;  // malformed rest: dropped
            emitFrame(p + offset, nalSize, pts);
            offset += nalSize;
        }
        return;
    }
    if (nalType == kFuA) {
        if (size < 2) return;
        const uint8_t fuHeader = p[1];
        const bool start = (fuHeader & 0x80) != 0;
        const bool end = (fuHeader & 0x40) != 0;
        if (start) {
            if (m_inFragment) resetDepacketizer();
            FrameQueue& q = frames();
            q.begin();
            const uint8_t nalHeader = static_cast<uint8_t>((p[0] & 0xE0) | (fuHeader & 0x1F));
            if (!q.append(&nalHeader, 1) || !q.append(p + 2, size - 2)) {
                m_inFragment = false;
                return;
            }
            m_inFragment = true;
            m_fragmentTimestamp = header.timestamp;
        } else {
            if (!m_inFragment) return;  // the start was lost: skip to the next NAL unit
            if (header.timestamp != m_fragmentTimestamp) {
                resetDepacketizer();
                return;
            }
            if (!frames().append(p + 2, size - 2)) {
                m_inFragment = false;
                return;
            }
        }
        if (end) {
            m_inFragment = false;
            frames().commit(presentationTimeOf(header.timestamp));
        }
        return;
    }
    // STAP-B, MTAP and FU-B belong to the interleaved mode, which is not offered in SETUP;
    // types 0, 30 and 31 are undefined.
}

SPropRecord* parseSPropParameterSets(const char* sPropParameterSetsStr, unsigned& numSPropRecords) {
    numSPropRecords = 0;
    if (sPropParameterSetsStr == nullptr || *sPropParameterSetsStr == '\0') return nullptr;
    std::string text(sPropParameterSetsStr);
    unsigned count = 1;
    for (char c : text) count += (c == ',');
    auto* records = new SPropRecord[count];
    size_t begin = 0;
    for (unsigned i = 0; i < count; ++i) {
        size_t end = text.find(',', begin);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(begin, end - begin);
        begin = end + 1;
        // g_base64_decode does not validate: check the alphabet first.
        bool valid = !part.empty();
        for (char c : part) {
            if (!(g_ascii_isalnum(c) || c == '+' || c == '/' || c == '=')) valid = false;
        }
        if (!valid) continue;
        gsize len = 0;
        guchar* bytes = g_base64_decode(part.c_str(), &len);
        if (bytes != nullptr && len > 0) {
            records[i].sPropBytes = new unsigned char[len];
            std::memcpy(records[i].sPropBytes, bytes, len);
            records[i].sPropLength = static_cast<unsigned>(len);
        }
        g_free(bytes);
    }
    numSPropRecords = count;
    return records;
}

}  // namespace kx::media
