#include "RtspMessageUtil.h"

#include <cstring>

namespace kx::media::rtsp {

char* newString(const std::string& s) {
    return newString(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

char* newString(const uint8_t* data, size_t size) {
    char* out = new char[size + 1];
    if (size > 0) std::memcpy(out, data, size);
    out[size] = '\0';
    return out;
}

}  // namespace kx::media::rtsp
