// Stream length from a session description: the first "t=" or "a=range:npt" line that gives
// a positive length wins; a line with zeros or an open range gives 0 (a live stream).
#pragma once

#include <cstdint>
#include <optional>

namespace kx::sdk {

// Reads a length from one SDP line (the reader may look past the line end, as into the rest
// of the text). Forms:
//   "t=<start> <stop>"                  length stop - start (seconds)
//   "a=range:npt=<start>-<end>"         length end - start; start "now" counts as 0;
//   "a=range:npt=-<end>"                length end
//   "a=range:npt=<start>-"              an open range: length 0
// where a time is seconds with an optional fraction, or hh:mm:ss with an optional fraction
// (npt only). White space may stand between the parts. Returns the length in microseconds
// (fractions beyond microseconds are cut off), or nothing when the line gives no length,
// including a range whose end lies before its start.
std::optional<uint64_t> ParseRangeLine(const char* line);

// Scans the SDP text for the stream length. Lines end at their first CR or LF; the next line
// begins after the whole run of CR and LF characters. A line is well-formed when it is blank
// or begins with a lower-case letter and "="; the scan stops at the first line that is not.
// The first line is not examined. Each line that gives a length sets `lengthMs` (milliseconds,
// fraction cut off); a positive length ends the scan. Lines giving no length change nothing.
void ScanSdpVideoLength(const char* sdp, uint64_t& lengthMs);

}  // namespace kx::sdk
