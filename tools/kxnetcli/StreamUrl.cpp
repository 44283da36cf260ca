#include "StreamUrl.h"

#include "StreamAddress.h"

bool parseStreamUrl(const std::string& text, StreamUrl& url, std::string* error) {
    auto fail = [&](const char* message) {
        *error = message;
        return false;
    };
    const std::optional<StreamAddress> address = SplitStreamAddress(text);
    if (!address) return fail("the address must read rtsp://[user[:password]@]host[:port]/path");
    // KX_NET_Login takes ports from 1 to 65534.
    if (address->nPort < 1 || address->nPort > 65534) {
        return fail("the port must be a number from 1 to 65534");
    }
    url.user = address->strUser;
    url.password = address->strPassword;
    url.host = address->strHost;
    url.port = static_cast<uint16_t>(address->nPort);
    url.path = address->strPath;
    return true;
}
