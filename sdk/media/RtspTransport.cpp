#include "RtspTransport.h"

#include <strings.h>

#include "RtspWireReader.h"

namespace kx::media {

namespace {

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool parseNumber(const std::string& text, long high, int& value) {
    if (text.empty() || text.size() > 6) return false;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > high) return false;
    value = static_cast<int>(v);
    return true;
}

// "a" or "a-b"; both within 0..high (ports: 1..high). A single value leaves the second
// unset (-1 for channels, 0 for ports).
bool parseRange(const std::string& text, long high, bool zeroAllowed, int& first, int& second) {
    const size_t dash = text.find('-');
    int a = 0;
    int b = 0;
    if (!parseNumber(trim(text.substr(0, dash)), high, a)) return false;
    if (dash == std::string::npos) {
        b = zeroAllowed ? -1 : 0;
    } else if (!parseNumber(trim(text.substr(dash + 1)), high, b)) {
        return false;
    }
    if (!zeroAllowed && (a == 0 || (dash != std::string::npos && b == 0))) return false;
    first = a;
    second = b;
    return true;
}

bool parseSsrc(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 8) return false;
    uint32_t v = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return false;
        v = (v << 4) | static_cast<uint32_t>(digit);
    }
    value = v;
    return true;
}

}  // namespace

bool parseTransport(const std::string& text, RtspTransport& out, unsigned* deviations) {
    out = RtspTransport{};
    const std::string first = text.substr(0, text.find(','));
    bool haveProtocol = false;
    size_t index = 0;
    size_t pos = 0;
    while (pos <= first.size()) {
        size_t next = first.find(';', pos);
        if (next == std::string::npos) next = first.size();
        const std::string item = trim(first.substr(pos, next - pos));
        pos = next + 1;
        if (item.empty()) continue;
        const size_t eq = item.find('=');
        const std::string name = trim(item.substr(0, eq));
        const std::string value = eq == std::string::npos ? "" : trim(item.substr(eq + 1));
        if (strncasecmp(name.c_str(), "RTP/", 4) == 0 && eq == std::string::npos) {
            if (haveProtocol) continue;
            haveProtocol = true;
            if (index > 0 && deviations != nullptr) *deviations |= kDeviationTransportOrder;
            // RTP/AVP, RTP/AVP/UDP, RTP/AVP/TCP, RTP/AVPF/TCP ...
            const size_t slash = name.rfind('/');
            out.tcp = slash > 3 && strcasecmp(name.c_str() + slash + 1, "TCP") == 0;
        } else if (strcasecmp(name.c_str(), "multicast") == 0) {
            out.multicast = true;
        } else if (strcasecmp(name.c_str(), "unicast") == 0) {
            out.multicast = false;
        } else if (strcasecmp(name.c_str(), "destination") == 0) {
            out.destination = value.substr(0, 255);
        } else if (strcasecmp(name.c_str(), "source") == 0) {
            out.source = value.substr(0, 255);
        } else if (strcasecmp(name.c_str(), "interleaved") == 0) {
            parseRange(value, 255, true, out.interleavedMin, out.interleavedMax);
        } else if (strcasecmp(name.c_str(), "client_port") == 0) {
            parseRange(value, 65535, false, out.clientPortMin, out.clientPortMax);
        } else if (strcasecmp(name.c_str(), "server_port") == 0) {
            parseRange(value, 65535, false, out.serverPortMin, out.serverPortMax);
        } else if (strcasecmp(name.c_str(), "port") == 0) {
            parseRange(value, 65535, false, out.portMin, out.portMax);
        } else if (strcasecmp(name.c_str(), "ssrc") == 0) {
            out.hasSsrc = parseSsrc(value, out.ssrc);
        }
        ++index;
    }
    return haveProtocol;
}

}  // namespace kx::media
