#include "RtspUrl.h"

#include <cstdio>
#include <cstring>

namespace kx::sdk {
namespace {

bool HasControlCharacter(const char* text) {
    for (; *text != '\0'; ++text) {
        if (static_cast<unsigned char>(*text) < 0x20 || *text == 0x7F) return true;
    }
    return false;
}

// User name and password go into the address percent-encoded, every byte but letters, digits
// and "-._~": a password may hold "@", ":", "/" or "%", and the address is read back
// (FindUserInfo, then the RTSP layer's URL parser, which decodes them) to exactly the bytes
// the login gave.
void AppendEncoded(std::string& url, const char* text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (; *text != '\0'; ++text) {
        const auto c = static_cast<unsigned char>(*text);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 0x0F];
        }
    }
}

}  // namespace

bool BuildRtspUrl(const LoginParams& login, uint16_t portOffset, const char* path, char* out,
                  size_t outSize) {
    if (out == nullptr || outSize == 0) return false;
    std::memset(out, 0, outSize);
    if (path == nullptr || login.szHost[0] == '\0' || login.nPort > 65534) return false;
    // A line break or other control character would end the request line of every request;
    // in a user name or password it is no text a camera takes either.
    if (HasControlCharacter(login.szUserName) || HasControlCharacter(login.szPassword)) {
        return false;
    }

    std::string url = "rtsp://";
    if (login.szUserName[0] != '\0') {
        AppendEncoded(url, login.szUserName);
        if (login.szPassword[0] != '\0') {
            url += ':';
            AppendEncoded(url, login.szPassword);
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
    if (HasControlCharacter(url.c_str())) return false;
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
