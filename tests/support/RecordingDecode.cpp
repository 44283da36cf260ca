#include "RecordingDecode.h"

#include <fstream>
#include <set>
#include <sstream>

#include "KXPackagedFrame.h"
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

// NAL unit type of an H.264 payload that starts with a start code.
int nalType(const std::vector<uint8_t>& b) {
    if (b.size() > 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1) return b[4] & 0x1F;
    if (b.size() > 3 && b[0] == 0 && b[1] == 0 && b[2] == 1) return b[3] & 0x1F;
    return -1;
}

}  // namespace

RecordingDecode decodeRecordedVideo(const std::vector<PackagedFrame>& frames, uint16_t dataType,
                                    const std::string& elementaryPath) {
    RecordingDecode result;
    std::set<uint64_t> h264Pictures;
    {
        std::ofstream out(elementaryPath, std::ios::binary | std::ios::trunc);
        for (const auto& frame : frames) {
            const auto& in = frame.inner;
            if (in.audio || in.dataType != dataType) continue;
            size_t skip = 0;
            if (dataType == KX_DATA_MPEG4) {
                if (in.payload.size() >= 4) skip = 4;
                result.pictures += vops(in.payload);
            } else {
                const int type = nalType(in.payload);
                if (type >= 1 && type <= 5) {
                    h264Pictures.insert(uint64_t{in.ptsSeconds} << 32 | in.ptsMicroseconds);
                }
            }
            out.write(reinterpret_cast<const char*>(in.payload.data() + skip),
                      static_cast<std::streamsize>(in.payload.size() - skip));
        }
    }
    if (dataType == KX_DATA_H264) result.pictures = h264Pictures.size();
    const std::string format = dataType == KX_DATA_MPEG4 ? "m4v" : "h264";
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
