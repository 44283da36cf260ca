#include "RtspUrlUtil.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "StreamAddress.h"

namespace kx::media {

namespace {
std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}
}  // namespace

std::string parsableUrl(const std::string& url) {
    const std::optional<UserInfoSpan> info = FindUserInfo(url);
    if (!info) return url;
    std::string userInfo = url.substr(info->begin, info->at - info->begin);
    // The URL parser takes the first "@" as the end of the user information: one inside the
    // password is handed to it encoded (it decodes it again).
    for (size_t at = userInfo.find('@'); at != std::string::npos; at = userInfo.find('@', at)) {
        userInfo.replace(at, 1, "%40");
    }
    if (userInfo.find(':') == std::string::npos) userInfo += ':';
    return url.substr(0, info->begin) + userInfo + url.substr(info->at);
}

std::string resolveControlUrl(const std::string& base, const std::string& control) {
    const std::string c = trim(control);
    if (c.empty() || c == "*") return base;
    const size_t scheme = c.find("://");
    if (scheme != std::string::npos && scheme > 0) {
        bool alpha = true;
        for (size_t i = 0; i < scheme; ++i) {
            if (!std::isalpha(static_cast<unsigned char>(c[i]))) alpha = false;
        }
        if (alpha) return c;
    }
    if (c[0] == '/') {
        const size_t s = base.find("://");
        const size_t pathStart = s == std::string::npos ? std::string::npos : base.find('/', s + 3);
        return (pathStart == std::string::npos ? base : base.substr(0, pathStart)) + c;
    }
    if (!base.empty() && base.back() == '/') return base + c;
    return base + "/" + c;
}

bool parseSessionHeader(const char* value, std::string& id, unsigned& timeoutSeconds,
                        bool* unknownParameters) {
    if (value == nullptr) return false;
    const std::string v(value);
    const size_t semi = v.find(';');
    id = trim(v.substr(0, semi));
    if (id.empty()) return false;
    size_t pos = semi;
    while (pos != std::string::npos) {
        const size_t next = v.find(';', pos + 1);
        const std::string param =
            trim(v.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1));
        if (strncasecmp(param.c_str(), "timeout", 7) == 0) {
            size_t eq = param.find('=');
            if (eq != std::string::npos) {
                const std::string num = trim(param.substr(eq + 1));
                bool ok = !num.empty() && num.size() <= 9;
                for (char ch : num) {
                    if (ch < '0' || ch > '9') ok = false;
                }
                if (ok)
                    timeoutSeconds = static_cast<unsigned>(std::strtoul(num.c_str(), nullptr, 10));
            }
        } else if (!param.empty() && unknownParameters != nullptr) {
            *unknownParameters = true;
        }
        pos = next;
    }
    return true;
}

}  // namespace kx::media
