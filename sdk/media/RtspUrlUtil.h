// Small text helpers of the RTSP client: control URLs and the Session header.
#pragma once

#include <string>

namespace kx::media {

// The URL of a control attribute: "" or "*" name the base itself; an absolute URL stands as
// it is; "/path" replaces the base's path; anything else is appended to the base with '/'.
std::string resolveControlUrl(const std::string& base, const std::string& control);

// The URL with an empty password field added when its user information names a user but no
// password ("rtsp://user@host/..." becomes "rtsp://user:@host/..."): the URL parser refuses a
// user without a ':'. Any other URL comes back unchanged.
std::string withPasswordField(const std::string& url);

// "Session: <id>[;timeout=<seconds>]". False when there is no id. Other parameters are
// skipped; *unknownParameters (when given) is set when there were any.
bool parseSessionHeader(const char* value, std::string& id, unsigned& timeoutSeconds,
                        bool* unknownParameters = nullptr);

}  // namespace kx::media
