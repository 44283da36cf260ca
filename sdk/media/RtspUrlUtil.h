// Small text helpers of the RTSP client: control URLs and the Session header.
#pragma once

#include <string>

namespace kx::media {

// The URL of a control attribute: "" or "*" name the base itself; an absolute URL stands as
// it is; "/path" replaces the base's path; anything else is appended to the base with '/'.
std::string resolveControlUrl(const std::string& base, const std::string& control);

// The URL in the form GStreamer's URL parser splits as FindUserInfo does (common/address):
// an "@" inside the user information is percent-encoded (that parser ends it at the first
// "@"), and an empty password field is added when it names a user but no password
// ("rtsp://user@host/..." becomes "rtsp://user:@host/...": that parser refuses a user
// without a ':'). A URL without user information comes back unchanged.
std::string parsableUrl(const std::string& url);

// "Session: <id>[;timeout=<seconds>]". False when there is no id. Other parameters are
// skipped; *unknownParameters (when given) is set when there were any.
bool parseSessionHeader(const char* value, std::string& id, unsigned& timeoutSeconds,
                        bool* unknownParameters = nullptr);

}  // namespace kx::media
