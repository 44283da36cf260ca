#include "StreamUrl.h"

#include <cstdlib>

bool parseStreamUrl(const std::string& text, StreamUrl& url, std::string* error) {
    auto fail = [&](const char* message) {
        *error = message;
        return false;
    };
    const std::string scheme = "rtsp://";
    if (text.compare(0, scheme.size(), scheme) != 0)
        return fail("the address must begin with rtsp://");
    std::string rest = text.substr(scheme.size());

    const auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    url.path = slash == std::string::npos ? std::string() : rest.substr(slash);

    // The credentials end at the last "@" of the authority: a password may contain "@".
    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string credentials = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const auto colon = credentials.find(':');
        url.user = credentials.substr(0, colon);
        if (colon != std::string::npos) url.password = credentials.substr(colon + 1);
    }

    const auto colon = authority.rfind(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
        const std::string portText = authority.substr(colon + 1);
        char* end = nullptr;
        const long port = std::strtol(portText.c_str(), &end, 10);
        if (portText.empty() || *end != '\0' || port < 1 || port > 65534) {
            return fail("the port must be a number from 1 to 65534");
        }
        url.port = static_cast<uint16_t>(port);
    }
    if (url.host.empty()) return fail("the address has no host");
    return true;
}
