// Splitting "rtsp://[user[:password]@]host[:port]/path" into the parts KX_NET_Login and
// KX_NET_RealPlay take, by the rules of SplitStreamAddress (common/address).
#pragma once

#include <cstdint>
#include <string>

struct StreamUrl {
    std::string user;
    std::string password;
    std::string host;
    uint16_t port = 554;
    std::string path;  // with its leading "/", or empty
};

// False with *error set when the text is not such an address.
bool parseStreamUrl(const std::string& text, StreamUrl& url, std::string* error);
