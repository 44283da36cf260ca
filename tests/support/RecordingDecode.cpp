#include "RecordingDecode.h"

#include <fstream>
#include <set>
#include <sstream>

#include "KXPackagedFrame.h"
#include "NalUnit.h"
#include "TestMedia.h"

namespace Brelso::Testing {

namespace {

bool hasStartCode(const std::vector<uint8_t>& b, size_t at, uint8_t code) {
    return at + 3 < b.size() && b[at] == 0 && b[at + 1] == 0 && b[at + 2] == 1 && b[at + 3] == code;
}

size_t vops(const std::vector<uint8_t>& b) {
    size_t n = 0;
    for (size_t i = 0; i + 3 < b.size(); ++i) n += hasStartCode(b, i, 0xB6) ? 1 : 0;
    return n;
}

// Whether a payload that starts with a start code holds a coded slice.
bool isSlice(const std::vector<uint8_t>& b, uint16_t dataType) {
    if (dataType == KX_DATA_H265) {
        return kx::frame::h265::isVcl(kx::frame::h265FirstNalType(b.data(), b.size()));
    }
    return kx::frame::h264::isVcl(kx::frame::h264FirstNalType(b.data(), b.size()));
}

}  // namespace

RecordingDecode decodeRecordedVideo(const std::vector<PackagedFrame>& frames, uint16_t dataType,
                                    const std::string& elementaryPath) {
    RecordingDecode result;
    auto isVideo = [&](const PackagedFrame& frame) {
        return !frame.inner.audio && frame.inner.dataType == dataType;
    };
    auto pts = [](const PackagedFrame& frame) {
        return uint64_t{frame.inner.ptsSeconds} << 32 | frame.inner.ptsMicroseconds;
    };
    // A recording stops whenever its caller says so, often in the middle of a picture (between
    // the slices of a key picture and the parameter sets repeated among them), which a decoder
    // rightly reports. The last picture is left out unless it is the only one.
    bool lastSeen = false;
    bool cutLast = false;
    uint64_t lastPicture = 0;
    for (auto it = frames.rbegin(); it != frames.rend() && !cutLast; ++it) {
        if (!isVideo(*it)) continue;
        if (!lastSeen) lastPicture = pts(*it);
        lastSeen = true;
        cutLast = pts(*it) != lastPicture;
    }
    std::set<uint64_t> h264Pictures;
    {
        std::ofstream out(elementaryPath, std::ios::binary | std::ios::trunc);
        for (const auto& frame : frames) {
            const auto& in = frame.inner;
            if (!isVideo(frame) || (cutLast && pts(frame) == lastPicture)) continue;
            size_t skip = 0;
            if (dataType == KX_DATA_MPEG4) {
                if (in.payload.size() >= 4) skip = 4;
                result.pictures += vops(in.payload);
            } else {
                if (isSlice(in.payload, dataType)) {
                    h264Pictures.insert(pts(frame));
                }
            }
            out.write(reinterpret_cast<const char*>(in.payload.data() + skip),
                      static_cast<std::streamsize>(in.payload.size() - skip));
        }
    }
    if (dataType != KX_DATA_MPEG4) result.pictures = h264Pictures.size();
    const std::string format = dataType == KX_DATA_MPEG4  ? "m4v"
                               : dataType == KX_DATA_H265 ? "hevc"
                                                          : "h264";
    std::string output;
    result.ran = runProgram({"ffprobe", "-v", "error", "-f", format, "-select_streams", "v:0",
                             "-show_entries", "frame=pict_type", "-of", "csv=p=0", elementaryPath},
                            &output);
    result.output = output;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        if (const size_t comma = line.find(','); comma != std::string::npos) line.resize(comma);
        if (line != "I" && line != "P" && line != "B" && line != "S") {
            ++result.errors;
            continue;
        }
        if (result.decoded == 0) result.firstPicture = line;
        ++result.decoded;
    }
    return result;
}

}  // namespace Brelso::Testing
