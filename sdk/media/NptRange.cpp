#include "NptRange.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kx::media {

namespace {

bool parseDecimal(const std::string& s, double& out) {
    if (s.empty()) return false;
    bool digits = false;
    bool dot = false;
    for (char c : s) {
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    if (!digits) return false;
    out = std::strtod(s.c_str(), nullptr);
    return std::isfinite(out);
}

std::string trim(const char* begin, const char* end) {
    while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n'))
        --end;
    return std::string(begin, end);
}

}  // namespace

bool parseNptTime(const char* begin, const char* end, double& seconds) {
    const std::string s = trim(begin, end);
    const size_t c1 = s.find(':');
    if (c1 == std::string::npos) return parseDecimal(s, seconds);
    const size_t c2 = s.find(':', c1 + 1);
    if (c2 == std::string::npos) return false;
    double h = 0, m = 0, sec = 0;
    const std::string hs = s.substr(0, c1), ms = s.substr(c1 + 1, c2 - c1 - 1);
    if (hs.find('.') != std::string::npos || ms.find('.') != std::string::npos) return false;
    if (!parseDecimal(hs, h) || !parseDecimal(ms, m) || !parseDecimal(s.substr(c2 + 1), sec)) {
        return false;
    }
    seconds = h * 3600 + m * 60 + sec;
    return std::isfinite(seconds);
}

bool NptRange::parse(const char* text) {
    if (text == nullptr) return false;
    while (*text == ' ' || *text == '\t') ++text;
    if (strncasecmp(text, "npt", 3) != 0) return false;
    text += 3;
    while (*text == ' ') ++text;
    if (*text != '=' && *text != ':') return false;
    ++text;
    const char* stop = std::strchr(text, ';');
    if (stop == nullptr) stop = text + std::strlen(text);
    const char* dash = static_cast<const char*>(std::memchr(text, '-', size_t(stop - text)));
    if (dash == nullptr) return false;
    NptRange r;
    const std::string first = trim(text, dash);
    if (first.empty() || strcasecmp(first.c_str(), "now") == 0) {
        r.startIsNow = !first.empty();
        r.start = 0.0;
    } else if (!parseNptTime(first.data(), first.data() + first.size(), r.start)) {
        return false;
    }
    const std::string second = trim(dash + 1, stop);
    if (!second.empty()) {
        double e = 0;
        if (!parseNptTime(second.data(), second.data() + second.size(), e)) return false;
        r.end = e;
    }
    *this = r;
    return true;
}

}  // namespace kx::media
