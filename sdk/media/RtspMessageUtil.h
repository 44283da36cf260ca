// Small helpers for GstRTSPMessage as the RTSP client reads it.
#pragma once

#include <gst/rtsp/gstrtspmessage.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx::media::rtsp {

// A copy of the text in a new[] array, as response handlers receive it.
char* newString(const std::string& s);
char* newString(const uint8_t* data, size_t size);
// The body of a message without the terminating NUL GStreamer counts in its size.
void messageBody(GstRTSPMessage* msg, const uint8_t*& data, size_t& size);
// Every entry of a header GStreamer split at its commas, joined with ", ".
std::string headerValues(GstRTSPMessage* msg, GstRTSPHeaderField field);
const char* firstHeader(GstRTSPMessage* msg, GstRTSPHeaderField field);

}  // namespace kx::media::rtsp
