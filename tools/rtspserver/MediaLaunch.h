// Launch-string pieces for LocalRtspServer mounts: small, live, deterministic test sources
// with their RTP payloaders. Each piece is one branch; mediaLaunch() joins the branches into
// the "( ... )" bin a mount takes. Payloader names must be pay0, pay1, ... in branch order.
#pragma once

#include <string>
#include <vector>

namespace Brelso::Tools {

struct VideoShape {
    int width = 160;
    int height = 120;
    int fps = 15;
    int keyInterval = 15;  // frames between key frames
    bool clockOverlay = false;
    // Colour bars (SMPTE) with a ball moving along the lower part, instead of the ball alone.
    bool demoPicture = false;
    int bitrateKbps = 300;
};

// H.264 (x264, zero latency, baseline) with the parameter sets in the session description.
std::string h264Branch(int payIndex, const VideoShape& shape = {});
// H.265 (x265, zero latency, Main profile) with the parameter sets in the session description
// and in front of every key frame, small NAL units aggregated.
std::string h265Branch(int payIndex, const VideoShape& shape = {});
// G.711 mu-law / A-law, 8000 Hz mono, 20 ms packets.
std::string pcmuBranch(int payIndex);
std::string pcmaBranch(int payIndex);
// AAC (RFC 3640 hbr mode) at the given rate and channel count.
std::string aacBranch(int payIndex, int sampleRate = 16000, int channels = 2);

std::string mediaLaunch(const std::vector<std::string>& branches);

// True when the GStreamer element factory is installed.
bool hasElement(const char* factoryName);

}  // namespace Brelso::Tools
