#include "H264Stream.h"

#include <glib.h>

#include <algorithm>
#include <string>

namespace Brelso::Testing {

std::vector<Bytes> splitAnnexB(const Bytes& stream) {
    std::vector<Bytes> nals;
    const size_t size = stream.size();
    size_t start = std::string::npos;  // first byte of the current NAL unit
    size_t i = 0;
    while (i + 2 < size) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            if (start != std::string::npos) {
                size_t end = i;
                while (end > start && stream[end - 1] == 0) --end;  // zero of a 4-byte code
                nals.emplace_back(stream.begin() + start, stream.begin() + end);
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != std::string::npos && start < size)
        nals.emplace_back(stream.begin() + start, stream.end());
    return nals;
}

RtpPlan h264Plan(const std::vector<Bytes>& nals, int fps, bool loop, size_t maxPayload) {
    RtpPlan plan;
    plan.payloadType = 96;
    plan.intervalMs = static_cast<unsigned>(1000 / fps);
    plan.timestampStep = static_cast<uint32_t>(90000 / fps);
    plan.loop = loop;
    std::vector<RtpPayload> tick;
    for (const auto& nal : nals) {
        if (nal.empty()) continue;
        if (nal.size() <= maxPayload) {
            tick.push_back({nal, false});
        } else {
            const uint8_t indicator = static_cast<uint8_t>((nal[0] & 0xE0) | 28);
            const uint8_t type = static_cast<uint8_t>(nalType(nal));
            size_t offset = 1;
            while (offset < nal.size()) {
                const size_t chunk = std::min(maxPayload - 2, nal.size() - offset);
                uint8_t header = type;
                if (offset == 1) header |= 0x80;
                if (offset + chunk == nal.size()) header |= 0x40;
                RtpPayload fragment;
                fragment.bytes = {indicator, header};
                fragment.bytes.insert(fragment.bytes.end(), nal.begin() + static_cast<long>(offset),
                                      nal.begin() + static_cast<long>(offset + chunk));
                tick.push_back(std::move(fragment));
                offset += chunk;
            }
        }
        if (isSlice(nal)) {
            tick.back().marker = true;
            plan.ticks.push_back(std::move(tick));
            tick.clear();
        }
    }
    if (!tick.empty()) {
        tick.back().marker = true;
        plan.ticks.push_back(std::move(tick));
    }
    return plan;
}

std::string base64(const Bytes& data) {
    gchar* text = g_base64_encode(data.data(), data.size());
    std::string result(text);
    g_free(text);
    return result;
}

std::string spropParameterSets(const std::vector<Bytes>& nals) {
    const Bytes* sps = nullptr;
    const Bytes* pps = nullptr;
    for (const auto& nal : nals) {
        if (!sps && nalType(nal) == 7) sps = &nal;
        if (!pps && nalType(nal) == 8) pps = &nal;
    }
    if (!sps || !pps) return {};
    return base64(*sps) + "," + base64(*pps);
}

}  // namespace Brelso::Testing
