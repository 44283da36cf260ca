// Reads an AVI file (or any container libavformat recognises by its content) through
// libavformat: the best video stream and the best audio stream.
#pragma once

#include <cstdint>
#include <string>

#include "MediaSource.h"

struct AVFormatContext;
struct AVPacket;

namespace kx::play {

class AviReader : public MediaSource {
public:
    AviReader();
    ~AviReader() override;
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    bool open(const std::string& path);
    // Start and end of the file in microseconds.
    bool timeRange(int64_t& startUs, int64_t& endUs) const;

    bool read(MediaPacket& packet) override;
    bool seek(int64_t timeUs) override;
    bool hasVideo() const override { return m_video >= 0; }
    int frameRate() const override;

private:
    AVFormatContext* m_fmt = nullptr;
    AVPacket* m_pkt = nullptr;
    int m_video = -1;
    int m_audio = -1;
};

}  // namespace kx::play
