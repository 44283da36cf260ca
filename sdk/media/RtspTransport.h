// The Transport header of a SETUP reply, read in any parameter order.
#pragma once

#include <cstdint>
#include <string>

namespace kx::media {

struct RtspTransport {
    bool tcp = false;        // RTP/AVP/TCP: interleaved in the RTSP connection
    bool multicast = false;  // "multicast" (else unicast)
    std::string destination;
    std::string source;
    int interleavedMin = -1;  // channels 0..255, -1 when not given
    int interleavedMax = -1;
    int clientPortMin = 0;  // ports 1..65535, 0 when not given
    int clientPortMax = 0;
    int serverPortMin = 0;
    int serverPortMax = 0;
    int portMin = 0;  // multicast "port="
    int portMax = 0;
    bool hasSsrc = false;
    uint32_t ssrc = 0;
};

// Reads the first transport of the header (several are separated by commas). Parameters may
// come in any order, names in any case; unknown ones are skipped, malformed values ignored.
// False when no RTP transport protocol is named. Sets kDeviationTransportOrder in
// *deviations when the protocol is not the first item.
bool parseTransport(const std::string& text, RtspTransport& out, unsigned* deviations = nullptr);

}  // namespace kx::media
