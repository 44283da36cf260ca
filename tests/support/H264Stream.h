// H.264 elementary-stream helpers for tests: splitting Annex B byte streams into NAL units,
// the RTP packets a camera would send for them (RFC 6184 single NAL unit and FU-A), and the
// "sprop-parameter-sets" text of a session description.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "NalUnit.h"
#include "RtpPlan.h"

namespace Brelso::Testing {

using Bytes = std::vector<uint8_t>;

// NAL units of an Annex B stream, without their start codes.
std::vector<Bytes> splitAnnexB(const Bytes& stream);

inline int nalType(const Bytes& nal) {
    return kx::frame::h264NalType(nal.data(), nal.size());
}
inline bool isSlice(const Bytes& nal) {
    return kx::frame::h264::isVcl(nalType(nal));
}

// One tick per picture (each slice ends a picture: the generated streams have one slice per
// picture), the NAL units before it in the same tick; NAL units above maxPayload bytes are
// split into FU-A fragments. The marker is set on the last packet of each tick.
RtpPlan h264Plan(const std::vector<Bytes>& nals, int fps, bool loop, size_t maxPayload = 1200);

std::string base64(const Bytes& data);
// "<SPS base64>,<PPS base64>" from the first SPS and PPS among the NAL units; empty if either
// is missing.
std::string spropParameterSets(const std::vector<Bytes>& nals);

}  // namespace Brelso::Testing
