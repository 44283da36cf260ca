// PayloaderPipeline: runs a GStreamer launch line to its end and keeps every buffer that
// reached each named appsink (for example the encoder's output and the RTP payloader's
// packets of the same stream, split with a tee), with the caps each sink saw last.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kx::media::test {

using Bytes = std::vector<uint8_t>;

struct PipelineResult {
    bool ok = false;
    std::string error;
    std::map<std::string, std::vector<Bytes>> buffers;  // by appsink name
    std::map<std::string, std::string> caps;            // by appsink name
};

// The launch line must end every branch in "appsink name=<name>"; the sinks are configured
// (no sync, unlimited queue) by this function.
PipelineResult runPipeline(const std::string& launch, const std::vector<std::string>& sinkNames);

bool hasElements(const std::vector<const char*>& factories);

// The value of one field of a caps string ("sizelength=(string)13" -> "13"), "" if absent.
std::string capsField(const std::string& caps, const std::string& field);

}  // namespace kx::media::test
