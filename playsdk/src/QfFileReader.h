// Reads a ".qf" recording: whole packaged frames one after another, no header. Damaged
// parts (cut frames, inserted bytes, a wrong length) are skipped up to the next whole frame.
// On open the file is walked once to index its key frames and its time range.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "H264AccessUnit.h"
#include "InputLimits.h"
#include "MediaSource.h"
#include "PackagedFrame.h"
#include "QfScanner.h"

namespace kx::play {

// The sliding-window reader shared with the other readers of recordings.
using QfScanner = kx::frame::QfScanner;
static_assert(QfScanner::kMaxInner == kMaxFrameBytes, "one bound for a packaged frame");

struct QfTimeRange {
    int64_t firstUs = 0;
    int64_t lastUs = 0;
};

class QfFileReader : public MediaSource {
public:
    // Opens and indexes the file; false when it cannot be read or holds no whole frame.
    bool open(const std::string& path);
    QfTimeRange timeRange() const { return m_range; }

    bool read(MediaPacket& packet) override;
    bool seek(int64_t timeUs) override;
    bool hasVideo() const override { return m_hasVideo; }
    int frameRate() const override { return m_frameRate; }

private:
    struct KeyPoint {
        uint64_t offset;
        int64_t ptsUs;
    };
    bool index();
    bool emitUnit(const H264AccessUnit::Unit& unit, MediaPacket& packet) const;

    QfScanner m_scanner;
    std::vector<KeyPoint> m_keys;
    QfTimeRange m_range;
    bool m_hasVideo = false;
    int m_frameRate = 0;
    H264AccessUnit m_accessUnit;
    bool m_atEnd = false;
};

int64_t ptsToUs(const kx::frame::InnerFrame& f);

}  // namespace kx::play
