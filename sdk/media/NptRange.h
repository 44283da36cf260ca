// NptRange: an RTSP/SDP "npt=" range ("npt=now-", "npt=0-10.22", "npt=1:02:03.5-").
#pragma once

namespace kx::media {

struct NptRange {
    double start = 0.0;  // "now" and a missing start read as 0
    double end = -1.0;   // -1 when open
    bool startIsNow = false;

    // Parses text such as "npt=5.0214-10.2214" (leading "npt=" or "npt:" with optional white
    // space; anything after a ';' ignored). False when it is not an npt range.
    bool parse(const char* text);
};

// One npt time: seconds ("12.5") or hours:minutes:seconds ("0:01:02.5"); false otherwise.
bool parseNptTime(const char* begin, const char* end, double& seconds);

}  // namespace kx::media
