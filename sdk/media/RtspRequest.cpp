#include "RtspRequest.h"

#include <glib.h>
#include <gst/rtsp/gstrtspdefs.h>
#include <gst/rtsp/gstrtspmessage.h>
#include <strings.h>

namespace kx::media {

namespace {

bool safeText(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// Fits inside a quoted-string without escapes.
bool quotable(const std::string& text) {
    return safeText(text) && text.find_first_of("\"\\") == std::string::npos;
}

}  // namespace

void RtspRequest::set(const std::string& name, const std::string& value) {
    for (RtspHeader& h : headers) {
        if (strcasecmp(h.name.c_str(), name.c_str()) == 0) {
            h.value = value;
            return;
        }
    }
    headers.push_back(RtspHeader{name, value});
}

std::string RtspRequest::serialize(const std::string& authorization) const {
    if (!safeText(method) || !safeText(uri) || !safeText(authorization) ||
        uri.find(' ') != std::string::npos || method.find(' ') != std::string::npos) {
        return {};
    }
    std::string out = method + " " + uri + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + "\r\n";
    for (const RtspHeader& h : headers) {
        if (!safeText(h.name) || !safeText(h.value)) return {};
        out += h.name + ": " + h.value + "\r\n";
    }
    if (!authorization.empty()) out += "Authorization: " + authorization + "\r\n";
    if (!body.empty()) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "\r\n";
    out += body;
    return out;
}

bool RtspAuthenticator::takeChallenge(const std::vector<std::string>& challenges,
                                      const std::string& user, const std::string& password) {
    if (challenges.empty() || !quotable(user) || !safeText(password)) return false;
    // GStreamer reads the challenge syntax (schemes, quoted parameters).
    GstRTSPMessage* message = nullptr;
    if (gst_rtsp_message_new_response(&message, GST_RTSP_STS_UNAUTHORIZED, nullptr, nullptr) !=
        GST_RTSP_OK) {
        return false;
    }
    for (const std::string& value : challenges) {
        gst_rtsp_message_add_header(message, GST_RTSP_HDR_WWW_AUTHENTICATE, value.c_str());
    }
    GstRTSPAuthCredential** credentials =
        gst_rtsp_message_parse_auth_credentials(message, GST_RTSP_HDR_WWW_AUTHENTICATE);
    gst_rtsp_message_free(message);
    if (credentials == nullptr) return false;
    Scheme scheme = Scheme::None;
    std::string realm, nonce, opaque, algorithm;
    for (GstRTSPAuthCredential** c = credentials; *c != nullptr; ++c) {
        if ((*c)->scheme == GST_RTSP_AUTH_DIGEST && scheme != Scheme::Digest) {
            std::string r, n, o, a;
            for (GstRTSPAuthParam** p = (*c)->params; p != nullptr && *p != nullptr; ++p) {
                const char* name = (*p)->name ? (*p)->name : "";
                const std::string value = (*p)->value ? (*p)->value : "";
                if (g_ascii_strcasecmp(name, "realm") == 0) r = value;
                if (g_ascii_strcasecmp(name, "nonce") == 0) n = value;
                if (g_ascii_strcasecmp(name, "opaque") == 0) o = value;
                if (g_ascii_strcasecmp(name, "algorithm") == 0) a = value;
            }
            const bool md5 = a.empty() || g_ascii_strcasecmp(a.c_str(), "MD5") == 0;
            if (md5 && !n.empty() && quotable(r) && quotable(n) && quotable(o)) {
                scheme = Scheme::Digest;
                realm = r;
                nonce = n;
                opaque = o;
                algorithm = a;
            }
        } else if ((*c)->scheme == GST_RTSP_AUTH_BASIC && scheme == Scheme::None) {
            scheme = Scheme::Basic;
        }
    }
    gst_rtsp_auth_credentials_free(credentials);
    if (scheme == Scheme::None) return false;
    m_scheme = scheme;
    m_user = user;
    m_password = password;
    m_realm = realm;
    m_nonce = nonce;
    m_opaque = opaque;
    m_algorithm = algorithm;
    return true;
}

std::string RtspAuthenticator::authorization(const std::string& method,
                                             const std::string& uri) const {
    if (m_scheme == Scheme::Basic) {
        const std::string pair = m_user + ":" + m_password;
        gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(pair.data()), pair.size());
        std::string value = std::string("Basic ") + encoded;
        g_free(encoded);
        return value;
    }
    if (m_scheme != Scheme::Digest || !quotable(uri)) return {};
    gchar* response = gst_rtsp_generate_digest_auth_response(
        m_algorithm.empty() ? nullptr : m_algorithm.c_str(), method.c_str(), m_realm.c_str(),
        m_user.c_str(), m_password.c_str(), uri.c_str(), m_nonce.c_str());
    if (response == nullptr) return {};
    std::string value = "Digest username=\"" + m_user + "\", realm=\"" + m_realm + "\", nonce=\"" +
                        m_nonce + "\", uri=\"" + uri + "\", response=\"" + response + "\"";
    g_free(response);
    if (!m_opaque.empty()) value += ", opaque=\"" + m_opaque + "\"";
    if (!m_algorithm.empty()) value += ", algorithm=" + m_algorithm;
    return value;
}

}  // namespace kx::media
