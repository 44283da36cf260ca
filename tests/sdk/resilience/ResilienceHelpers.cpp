#include "ResilienceHelpers.h"

#include <algorithm>
#include <ctime>

#include "SdpText.h"

namespace Brelso::Resilience {

std::vector<Bytes> smallGop(uint8_t tag) {
    std::vector<Bytes> nals = {{0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0, 0x47, 0xFE, 0xC8},
                               {0x68, 0xCB, 0x83, 0xCB, 0x20}};
    Bytes idr(1800, tag);
    idr[0] = 0x65;
    idr[1] = 0x88;  // first_mb_in_slice 0: the first slice of its picture
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

namespace {

uint16_t frameTypeOf(const Testing::PackagedFrame& frame) {
    return frame.inner.audio ? 0 : frame.inner.frameType;
}

Bytes innerOf(const Bytes& file, size_t offset, uint32_t length) {
    return Bytes(file.begin() + static_cast<long>(offset + KX_PKT_OFF_INNER),
                 file.begin() + static_cast<long>(offset + KX_PKT_OFF_INNER + length));
}

}  // namespace

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
    Bytes expected;
    size_t offset = 0;  // of recorded[i] in the file
    size_t j = earliest;
    bool started = false;
    for (size_t i = 0; i < recorded.size();) {
        const Bytes inner = innerOf(file, offset, recorded[i].length);
        if (started && j < delivered.size() && delivered[j].bytes == inner) {
            uint32_t wall = 0;
            if (isKeyFrame(delivered[j])) {
                wall = recorded[i].wallClockSeconds;
                EXPECT_GE(wall, wallFrom) << "frame " << i;
                EXPECT_LE(wall, wallTo) << "frame " << i;
            }
            const Bytes whole = wholeFrame(inner, wall);
            expected.insert(expected.end(), whole.begin(), whole.end());
            offset += recorded[i].length + KX_PKT_OVERHEAD;
            ++i;
            ++j;
            continue;
        }
        // A start: SPS and PPS, then the key frame they were written for.
        size_t k = i;
        size_t keyOffset = offset;
        while (k < recorded.size() && frameTypeOf(recorded[k]) != KX_FRAME_IDR) {
            keyOffset += recorded[k].length + KX_PKT_OVERHEAD;
            ++k;
        }
        if (k != i + 2 || k == recorded.size()) {
            ADD_FAILURE() << path << ": frame " << i
                          << " is neither the next delivered frame nor SPS, PPS and a key frame";
            return span;
        }
        const auto& key = recorded[k].inner;
        EXPECT_EQ(frameTypeOf(recorded[i]), KX_FRAME_SPS) << path << " frame " << i;
        EXPECT_EQ(frameTypeOf(recorded[i + 1]), KX_FRAME_PPS) << path << " frame " << i + 1;
        for (size_t c = i; c < k; ++c) {
            EXPECT_EQ(recorded[c].inner.ptsSeconds, key.ptsSeconds) << path << " frame " << c;
            EXPECT_EQ(recorded[c].inner.ptsMicroseconds, key.ptsMicroseconds);
            EXPECT_EQ(recorded[c].wallClockSeconds, 0u);
        }
        const Bytes keyInner = innerOf(file, keyOffset, recorded[k].length);
        const size_t from = j;
        while (j < delivered.size() && delivered[j].bytes != keyInner) ++j;
        if (j == delivered.size()) {
            ADD_FAILURE() << path << ": the key frame of frame " << k
                          << " was not delivered where the recording could start";
            return span;
        }
        // No key frame went unrecorded before this start.
        for (size_t d = std::max(from, started ? from : settled); d < j; ++d) {
            EXPECT_FALSE(isKeyFrame(delivered[d]))
                << path << ": key frame " << d << " was delivered but not recorded";
        }
        if (started) {
            ++span.resumed;
        } else {
            span.first = j;
        }
        started = true;
        for (size_t c = i; c < k; ++c) {
            const Bytes whole = wholeFrame(innerOf(file, offset, recorded[c].length), 0);
            expected.insert(expected.end(), whole.begin(), whole.end());
            offset += recorded[c].length + KX_PKT_OVERHEAD;
        }
        i = k;
    }
    span.end = j;
    EXPECT_EQ(expected.size(), file.size()) << path;
    EXPECT_TRUE(expected == file) << path << " differs from the delivered frames";
    return span;
}

}  // namespace Brelso::Resilience
