// FrameStats: what the data callback saw, per data type. The callback (on the session's
// thread) adds frames; the main thread takes snapshots to print rates. Guarded by one mutex.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

struct TypeStats {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t keyFrames = 0;      // H.264 IDR slices
    uint64_t parameterSets = 0;  // H.264 SPS and PPS
    uint32_t channels = 0;       // audio: from the packaged frame
    uint32_t sampleRate = 0;     // audio: from the packaged frame
    uint64_t malformed = 0;      // inner parts too short for their header
};

class FrameStats {
public:
    // Records one callback call: the data type and the inner part of the packaged frame (for
    // the private type: the raw payload).
    void add(uint32_t dataType, const uint8_t* buffer, uint32_t size);
    std::map<uint32_t, TypeStats> snapshot() const;

private:
    mutable std::mutex m_mutex;
    std::map<uint32_t, TypeStats> m_types;
};

// "H.264", "PCMU", ... or "type N".
std::string dataTypeName(uint32_t dataType);
bool isAudioType(uint32_t dataType);
