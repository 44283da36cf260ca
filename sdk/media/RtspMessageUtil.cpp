#include "RtspMessageUtil.h"

#include <cstring>

namespace kx::media {

namespace rtsp {

char* newString(const std::string& s) {
    char* out = new char[s.size() + 1];
    std::memcpy(out, s.data(), s.size());
    out[s.size()] = '\0';
    return out;
}

char* newString(const uint8_t* data, size_t size) {
    char* out = new char[size + 1];
    if (size > 0) std::memcpy(out, data, size);
    out[size] = '\0';
    return out;
}

// The body of a message: GStreamer keeps a terminating NUL that it counts in the size.
void messageBody(GstRTSPMessage* msg, const uint8_t*& data, size_t& size) {
    guint8* body = nullptr;
    guint len = 0;
    data = nullptr;
    size = 0;
    if (gst_rtsp_message_get_body(msg, &body, &len) != GST_RTSP_OK || body == nullptr) return;
    if (len > 0 && body[len - 1] == '\0') --len;
    data = body;
    size = len;
}

std::string headerValues(GstRTSPMessage* msg, GstRTSPHeaderField field) {
    // Comma-separated headers come split into several entries.
    std::string joined;
    for (gint i = 0;; ++i) {
        gchar* value = nullptr;
        if (gst_rtsp_message_get_header(msg, field, &value, i) != GST_RTSP_OK) break;
        if (value == nullptr) continue;
        if (!joined.empty()) joined += ", ";
        joined += value;
    }
    return joined;
}

const char* firstHeader(GstRTSPMessage* msg, GstRTSPHeaderField field) {
    gchar* value = nullptr;
    if (gst_rtsp_message_get_header(msg, field, &value, 0) != GST_RTSP_OK) return nullptr;
    return value;
}

}  // namespace rtsp

}  // namespace kx::media
