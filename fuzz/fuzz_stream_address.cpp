// Stream addresses as a user types them, through every reader of addresses: the splitter of
// the player and the command-line receiver, the log form of the stream library, and the
// address the library builds from the split parts and hands to the RTSP layer's URL parser.
// That last way must give back exactly the user name, password and host that were split.
#include <gst/rtsp/gstrtspurl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "RtspUrl.h"
#include "RtspUrlUtil.h"
#include "StreamAddress.h"

namespace {

bool fits(const std::string& text, size_t bufferSize) {
    return text.size() < bufferSize && text.find('\0') == std::string::npos;
}

bool plainHost(const std::string& host) {
    if (host.empty()) return false;
    for (const char c : host) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-')) {
            return false;
        }
    }
    return true;
}

// The stream library's way: a login of the split parts, its address, the URL parser.
void throughTheLibrary(const StreamAddress& address) {
    kx::sdk::LoginParams login;
    if (!fits(address.strHost, sizeof login.szHost) ||
        !fits(address.strUser, sizeof login.szUserName) ||
        !fits(address.strPassword, sizeof login.szPassword) || address.nPort < 1 ||
        address.nPort > 65534) {
        return;
    }
    std::memcpy(login.szHost, address.strHost.c_str(), address.strHost.size() + 1);
    std::memcpy(login.szUserName, address.strUser.c_str(), address.strUser.size() + 1);
    std::memcpy(login.szPassword, address.strPassword.c_str(), address.strPassword.size() + 1);
    login.nPort = static_cast<uint16_t>(address.nPort);
    char url[kx::sdk::kRtspUrlSize];
    if (!kx::sdk::BuildRtspUrl(login, 0, address.strPath.c_str(), url, sizeof url)) return;
    (void)kx::sdk::MaskRtspUrl(url);
    GstRTSPUrl* parsed = nullptr;
    if (gst_rtsp_url_parse(kx::media::parsableUrl(url).c_str(), &parsed) != GST_RTSP_OK ||
        parsed == nullptr) {
        if (plainHost(address.strHost) && address.strPath[0] == '/') __builtin_trap();
        return;
    }
    if (plainHost(address.strHost) && address.strPath[0] == '/') {
        const std::string user = parsed->user ? parsed->user : "";
        const std::string password = parsed->passwd ? parsed->passwd : "";
        const std::string host = parsed->host ? parsed->host : "";
        if (user != address.strUser || host != address.strHost) __builtin_trap();
        if (!address.strUser.empty() && password != address.strPassword) __builtin_trap();
    }
    gst_rtsp_url_free(parsed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1024) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)FindUserInfo(text);
    (void)kx::sdk::MaskRtspUrl(text.c_str());
    (void)kx::sdk::MaskRtspUrlsInText(text.c_str());
    GstRTSPUrl* parsed = nullptr;
    if (gst_rtsp_url_parse(kx::media::parsableUrl(text.c_str()).c_str(), &parsed) == GST_RTSP_OK) {
        gst_rtsp_url_free(parsed);
    }
    const std::optional<StreamAddress> address = SplitStreamAddress(text);
    if (!address) return 0;
    if (address->nPattern < 1 || address->nPattern > 6 || address->strHost.empty() ||
        address->strPath.empty()) {
        __builtin_trap();
    }
    // A user name or password is only ever split out of user information.
    if (!address->strUser.empty() && !FindUserInfo(text)) __builtin_trap();
    throughTheLibrary(*address);
    return 0;
}
