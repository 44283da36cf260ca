#include "SdpText.h"

namespace Brelso::Testing {

std::string sdpSession(const std::vector<std::string>& media,
                       const std::string& extraSessionLines) {
    std::string text =
        "v=0\r\n"
        "o=- 1 1 IN IP4 127.0.0.1\r\n"
        "s=Scripted\r\n"
        "c=IN IP4 0.0.0.0\r\n"
        "t=0 0\r\n" +
        extraSessionLines;
    for (const auto& section : media) text += section;
    return text;
}

std::string sdpMedia(int track, const std::string& medium, int payloadType,
                     const std::string& rtpmap, const std::string& fmtp) {
    const std::string pt = std::to_string(payloadType);
    std::string text =
        "m=" + medium + " 0 RTP/AVP " + pt + "\r\n" + "a=rtpmap:" + pt + " " + rtpmap + "\r\n";
    if (!fmtp.empty()) text += "a=fmtp:" + pt + " " + fmtp + "\r\n";
    return text + "a=control:track" + std::to_string(track) + "\r\n";
}

std::string sdpH264(int track, const std::string& spropParameterSets, int payloadType) {
    std::string fmtp = "packetization-mode=1";
    if (!spropParameterSets.empty()) fmtp += ";sprop-parameter-sets=" + spropParameterSets;
    return sdpMedia(track, "video", payloadType, "H264/90000", fmtp);
}

}  // namespace Brelso::Testing
