// Session descriptions for ScriptedRtspServer. Each media section gets "a=control:trackN".
#pragma once

#include <string>
#include <vector>

namespace Brelso::Testing {

// "v=0 ... t=0 0" followed by the media sections; extraSessionLines (each ending in "\r\n")
// go before the media, e.g. "a=range:npt=0-30\r\n".
std::string sdpSession(const std::vector<std::string>& media,
                       const std::string& extraSessionLines = "");

// "m=<medium> 0 RTP/AVP <pt>", "a=rtpmap:<pt> <rtpmap>", "a=fmtp:<pt> <fmtp>" when given,
// "a=control:track<track>".
std::string sdpMedia(int track, const std::string& medium, int payloadType,
                     const std::string& rtpmap, const std::string& fmtp = "");

// H.264 video at 90 kHz with packetization-mode=1 and the given sprop-parameter-sets.
std::string sdpH264(int track, const std::string& spropParameterSets, int payloadType = 96);

}  // namespace Brelso::Testing
