// Small helpers of the RTSP client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx::media::rtsp {

// A copy of the text in a new[] array, as response handlers receive it.
char* newString(const std::string& s);
char* newString(const uint8_t* data, size_t size);

}  // namespace kx::media::rtsp
