#include "RtspUrl.h"

#include <cstdio>
#include <cstring>

namespace kx::sdk {

bool BuildRtspUrl(const LoginParams& login, uint16_t portOffset, const char* path, char* out,
                  size_t outSize) {
    if (out == nullptr || outSize == 0) return false;
    std::memset(out, 0, outSize);
    if (path == nullptr || login.szHost[0] == '\0' || login.nPort > 65534) return false;

    std::string url = "rtsp://";
    if (login.szUserName[0] != '\0') {
        url += login.szUserName;
        if (login.szPassword[0] != '\0') {
            url += ':';
            url += login.szPassword;
        }
        url += '@';
    }
    url += login.szHost;
    if (login.nPort > 0) {
        char port[16];
        const uint32_t sum = static_cast<uint32_t>(login.nPort) + portOffset;
        std::snprintf(port, sizeof port, ":%u", sum);
        url += port;
    }
    url += path;
    if (url.size() + 1 > outSize) return false;
    // A line break or other control character would end the request line of every request.
    for (const char c : url) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    }
    std::memcpy(out, url.data(), url.size());
    return true;
}

std::string MaskRtspUrl(const char* url) {
    if (url == nullptr) return {};
    std::string text(url);
    const size_t schemeEnd = text.find("://");
    const size_t authority = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
    const size_t at = text.rfind('@');
    if (at == std::string::npos || at < authority) return text;
    const size_t colon = text.find(':', authority);
    if (colon == std::string::npos || colon > at) return text;  // user name only
    text.replace(colon + 1, at - colon - 1, "***");
    return text;
}

std::string MaskRtspUrlsInText(const char* text) {
    if (text == nullptr) return {};
    std::string out;
    const char* p = text;
    while (const char* start = std::strstr(p, "rtsp://")) {
        out.append(p, start);
        const char* end = start + std::strcspn(start, " \t\r\n\"'<>");
        out += MaskRtspUrl(std::string(start, end).c_str());
        p = end;
    }
    out += p;
    return out;
}

}  // namespace kx::sdk
