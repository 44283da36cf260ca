#include "ResilienceHelpers.h"

#include <ctime>

#include "SdpText.h"

namespace Brelso::Resilience {

std::vector<Bytes> smallGop(uint8_t tag) {
    std::vector<Bytes> nals = {{0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0, 0x47, 0xFE, 0xC8},
                               {0x68, 0xCB, 0x83, 0xCB, 0x20}};
    Bytes idr(1800, tag);
    idr[0] = 0x65;
    nals.push_back(idr);
    for (int i = 0; i < 9; ++i) {
        Bytes slice(200 + static_cast<size_t>(i) * 7, tag);
        slice[0] = 0x41;
        slice[1] = static_cast<uint8_t>(i);
        nals.push_back(slice);
    }
    return nals;
}

std::string h264Sdp(bool withPcmu, const std::string& extraSessionLines) {
    std::vector<std::string> media = {Testing::sdpH264(0, Testing::spropParameterSets(smallGop()))};
    if (withPcmu) media.push_back(Testing::sdpMedia(1, "audio", 0, "PCMU/8000"));
    return Testing::sdpSession(media, extraSessionLines);
}

namespace {
void putLe32(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
}  // namespace

Bytes wholeFrame(const Bytes& inner, uint32_t wallClockSeconds) {
    Bytes frame(KX_PKT_START_MARKER, KX_PKT_START_MARKER + KX_PKT_MARKER_SIZE);
    putLe32(frame, wallClockSeconds);
    putLe32(frame, 0);
    putLe32(frame, static_cast<uint32_t>(inner.size()));
    frame.insert(frame.end(), inner.begin(), inner.end());
    frame.insert(frame.end(), KX_PKT_END_MARKER, KX_PKT_END_MARKER + KX_PKT_MARKER_SIZE);
    return frame;
}

bool isKeyFrame(const ApiTests::Delivered& delivered) {
    return delivered.dataType == KX_DATA_H264 && delivered.bytes.size() > KX_INNER_OFF_PAYLOAD &&
           Testing::readLe16(delivered.bytes.data() + KX_INNER_OFF_FRAME_TYPE) == KX_FRAME_IDR;
}

uint32_t wallClockNow() {
    return static_cast<uint32_t>(std::time(nullptr));
}

RecordedSpan checkRecording(const std::string& path,
                            const std::vector<ApiTests::Delivered>& delivered, size_t earliest,
                            size_t settled, uint32_t wallFrom, uint32_t wallTo) {
    RecordedSpan span;
    const Bytes file = Testing::readFile(path);
    std::vector<Testing::PackagedFrame> recorded;
    std::string error;
    EXPECT_TRUE(Testing::parsePackagedFrames(file, recorded, &error)) << path << ": " << error;
    if (recorded.empty()) {
        ADD_FAILURE() << path << " holds no frame";
        return span;
    }
    const Bytes firstInner(file.begin() + KX_PKT_OFF_INNER,
                           file.begin() + KX_PKT_OFF_INNER + recorded.front().length);
    span.first = delivered.size();
    for (size_t i = earliest; i < delivered.size(); ++i) {
        if (delivered[i].bytes == firstInner) {
            span.first = i;
            break;
        }
    }
    if (span.first == delivered.size()) {
        ADD_FAILURE() << path << ": the first recorded frame was not delivered after the start";
        return span;
    }
    EXPECT_TRUE(isKeyFrame(delivered[span.first])) << path << " does not begin with a key frame";
    for (size_t i = settled; i < span.first; ++i) {
        EXPECT_FALSE(isKeyFrame(delivered[i]))
            << path << ": key frame " << i << " was delivered after the start but not recorded";
    }
    span.count = recorded.size();
    if (span.first + span.count > delivered.size()) {
        ADD_FAILURE() << path << " holds more frames than were delivered";
        return span;
    }
    // Rebuild the expected file from the delivered inner parts; the wall clock of key frames
    // is taken from the file after checking it lies in the recording's time.
    Bytes expected;
    for (size_t i = 0; i < span.count; ++i) {
        const auto& d = delivered[span.first + i];
        uint32_t wall = 0;
        if (isKeyFrame(d)) {
            wall = recorded[i].wallClockSeconds;
            EXPECT_GE(wall, wallFrom) << "frame " << i;
            EXPECT_LE(wall, wallTo) << "frame " << i;
        }
        const Bytes whole = wholeFrame(d.bytes, wall);
        expected.insert(expected.end(), whole.begin(), whole.end());
    }
    EXPECT_EQ(expected.size(), file.size()) << path;
    EXPECT_TRUE(expected == file) << path << " differs from the delivered frames";
    return span;
}

}  // namespace Brelso::Resilience
