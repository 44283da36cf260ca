// MediaSession: the SDP text parsed with GstSDPMessage into a session and its subsessions.
#include "MediaSession.h"

#include <gst/sdp/gstsdpmessage.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "MediaSessionImpl.h"
#include "NptRange.h"
#include "UsageEnvironment.h"

namespace kx::media {

namespace {

struct StaticPayload {
    unsigned char pt;
    const char* codec;
    unsigned rate;
    unsigned channels;
};

// RFC 3551 static payload types that need no a=rtpmap.
constexpr StaticPayload kStaticPayloads[] = {
    {0, "PCMU", 8000, 1},   {3, "GSM", 8000, 1},    {4, "G723", 8000, 1},   {5, "DVI4", 8000, 1},
    {6, "DVI4", 16000, 1},  {7, "LPC", 8000, 1},    {8, "PCMA", 8000, 1},   {9, "G722", 8000, 1},
    {10, "L16", 44100, 2},  {11, "L16", 44100, 1},  {12, "QCELP", 8000, 1}, {13, "CN", 8000, 1},
    {14, "MPA", 90000, 1},  {15, "G728", 8000, 1},  {16, "DVI4", 11025, 1}, {17, "DVI4", 22050, 1},
    {18, "G729", 8000, 1},  {25, "CELB", 90000, 1}, {26, "JPEG", 90000, 1}, {28, "NV", 90000, 1},
    {31, "H261", 90000, 1}, {32, "MPV", 90000, 1},  {33, "MP2T", 90000, 1}, {34, "H263", 90000, 1},
};

std::string toUpper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string toLower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// "<pt> <rest>": the rest when the payload type matches.
bool attributeForPayload(const char* value, unsigned pt, std::string& rest) {
    if (value == nullptr) return false;
    char* end = nullptr;
    const unsigned long n = std::strtoul(value, &end, 10);
    if (end == value || n != pt) return false;
    rest = trim(end);
    return true;
}

bool parseUnsigned(const std::string& s, unsigned& out) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    out = static_cast<unsigned>(std::strtoul(s.c_str(), nullptr, 10));
    return true;
}

void parseRtpmap(const std::string& text, SubsessionDescription& s) {
    // "H264/90000" or "MPEG4-GENERIC/44100/2"
    const size_t slash1 = text.find('/');
    s.codec = toUpper(trim(text.substr(0, slash1)));
    if (slash1 == std::string::npos) return;
    const size_t slash2 = text.find('/', slash1 + 1);
    unsigned rate = 0;
    if (parseUnsigned(
            trim(text.substr(
                slash1 + 1, slash2 == std::string::npos ? std::string::npos : slash2 - slash1 - 1)),
            rate)) {
        s.clockRate = rate;
    }
    if (slash2 != std::string::npos) {
        unsigned ch = 0;
        if (parseUnsigned(trim(text.substr(slash2 + 1)), ch) && ch > 0) s.channels = ch;
    }
}

void parseFmtp(const std::string& text, SubsessionDescription& s) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t semi = text.find(';', pos);
        if (semi == std::string::npos) semi = text.size();
        const std::string item = trim(text.substr(pos, semi - pos));
        pos = semi + 1;
        if (item.empty()) continue;
        const size_t eq = item.find('=');  // Base64 values contain '=': split at the first
        std::string name = toLower(trim(item.substr(0, eq)));
        std::string value = eq == std::string::npos ? "" : trim(item.substr(eq + 1));
        if (!name.empty()) s.fmtp[name] = value;
    }
}

bool parseRangeAttribute(const char* value, bool& has, double& start, double& end) {
    NptRange r;
    if (value == nullptr || !r.parse(value)) return false;
    has = true;
    start = r.start;
    end = r.end < 0 ? 0.0 : r.end;
    return true;
}

}  // namespace

MediaSession::MediaSession(UsageEnvironment& env) : Medium(env), m_impl(std::make_unique<Impl>()) {}

MediaSession::~MediaSession() {
    // Subsessions close their sources first.
    m_subsessions.clear();
}

MediaSession* MediaSession::createNew(UsageEnvironment& env, const char* sdpDescription) {
    if (sdpDescription == nullptr) {
        env.setResultMsg("no SDP description");
        return nullptr;
    }
    const size_t len = std::strlen(sdpDescription);
    if (len == 0) {
        env.setResultMsg("empty SDP description");
        return nullptr;
    }
    GstSDPMessage* sdp = nullptr;
    if (gst_sdp_message_new(&sdp) != GST_SDP_OK) {
        env.setResultMsg("cannot allocate an SDP message");
        return nullptr;
    }
    if (gst_sdp_message_parse_buffer(reinterpret_cast<const guint8*>(sdpDescription),
                                     static_cast<guint>(len), sdp) != GST_SDP_OK) {
        gst_sdp_message_free(sdp);
        env.setResultMsg("the SDP description cannot be parsed");
        return nullptr;
    }
    auto* session = new MediaSession(env);
    Impl& si = *session->m_impl;
    if (const char* control = gst_sdp_message_get_attribute_val(sdp, "control")) {
        si.control = trim(control);
    }
    parseRangeAttribute(gst_sdp_message_get_attribute_val(sdp, "range"), si.hasRange, si.rangeStart,
                        si.rangeEnd);

    const guint mediaCount = gst_sdp_message_medias_len(sdp);
    for (guint i = 0; i < mediaCount; ++i) {
        const GstSDPMedia* media = gst_sdp_message_get_media(sdp, i);
        if (media == nullptr) continue;
        std::unique_ptr<MediaSubsession> sub(new MediaSubsession(*session));
        MediaSubsession::Impl& s = *sub->m_impl;
        if (const char* m = gst_sdp_media_get_media(media)) s.medium = m;
        if (const char* proto = gst_sdp_media_get_proto(media)) {
            s.transportProfile = proto;
            const std::string upper = toUpper(proto);
            if (upper.rfind("RTP/", 0) != 0) s.protocol = upper.substr(0, upper.find('/'));
        }
        unsigned pt = 0;
        if (gst_sdp_media_formats_len(media) > 0) {
            const char* fmt = gst_sdp_media_get_format(media, 0);
            unsigned v = 0;
            if (fmt != nullptr && parseUnsigned(fmt, v) && v <= 127) pt = v;
        }
        s.payloadFormat = static_cast<unsigned char>(pt);
        for (const StaticPayload& sp : kStaticPayloads) {
            if (sp.pt == pt) {
                s.codec = sp.codec;
                s.clockRate = sp.rate;
                s.channels = sp.channels;
            }
        }
        std::string rest;
        for (guint k = 0;; ++k) {
            const char* v = gst_sdp_media_get_attribute_val_n(media, "rtpmap", k);
            if (v == nullptr) break;
            if (attributeForPayload(v, pt, rest)) {
                parseRtpmap(rest, s);
                break;
            }
        }
        for (guint k = 0;; ++k) {
            const char* v = gst_sdp_media_get_attribute_val_n(media, "fmtp", k);
            if (v == nullptr) break;
            if (attributeForPayload(v, pt, rest)) {
                parseFmtp(rest, s);
                break;
            }
        }
        if (const char* control = gst_sdp_media_get_attribute_val(media, "control")) {
            s.control = trim(control);
        }
        parseRangeAttribute(gst_sdp_media_get_attribute_val(media, "range"), s.hasRange,
                            s.rangeStart, s.rangeEnd);
        session->m_subsessions.push_back(std::move(sub));
    }
    gst_sdp_message_free(sdp);
    return session;
}

double MediaSession::playStartTime() const {
    return m_impl->hasRange ? m_impl->rangeStart : 0.0;
}
double MediaSession::playEndTime() const {
    return m_impl->hasRange ? m_impl->rangeEnd : 0.0;
}
const char* MediaSession::controlPath() const {
    return m_impl->control.c_str();
}

MediaSubsession* MediaSubsessionIterator::next() {
    auto& list = m_session.subsessions();
    if (m_next >= list.size()) return nullptr;
    return list[m_next++].get();
}

}  // namespace kx::media
