// Stream addresses: building "rtsp://[user[:password]@]host[:port]path" from a login, and the
// form of an address that may be written to the log (password hidden).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "CLoginClient.h"

namespace kx::sdk {

// Size of every stream address buffer, the NUL included.
constexpr size_t kRtspUrlSize = 256;

// Writes the stream address of a login into out (outSize bytes, zero-filled first). User name
// and password are percent-encoded (all but letters, digits and "-._~"). The port
// written is the 32-bit sum of the login's port and portOffset (not reduced to 16 bits); a
// port of 0 writes none. Returns false, leaving out empty, when the host is empty, the port is
// above 65534, the path is null, the address would not fit outSize including its NUL, or it
// holds a control character (such as a line break).
bool BuildRtspUrl(const LoginParams& login, uint16_t portOffset, const char* path, char* out,
                  size_t outSize);

// The address with its password replaced by "***" (everything from the first ':' after the
// scheme up to the last '@' when the address has user information). Null gives "".
std::string MaskRtspUrl(const char* url);

// A text with every "rtsp://" address in it in its log form (a server may echo the address
// it was asked for, credentials included, in its replies). An address runs up to white space
// or a quote. Null gives "".
std::string MaskRtspUrlsInText(const char* text);

}  // namespace kx::sdk
