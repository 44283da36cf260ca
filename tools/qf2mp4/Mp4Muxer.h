// The MP4 file being written: streams, header, interleaved packets and the trailer, over
// libavformat's "mp4" muxer. Errors are kept as text for the one message the tool prints.
#pragma once

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kx::qf2mp4 {

class Mp4Muxer {
public:
    Mp4Muxer() = default;
    ~Mp4Muxer();
    Mp4Muxer(const Mp4Muxer&) = delete;
    Mp4Muxer& operator=(const Mp4Muxer&) = delete;

    bool open(const std::string& path);
    // A new stream with these parameters and time base; nullptr on failure.
    AVStream* addStream(const AVCodecParameters& par, AVRational timeBase);
    bool writeHeader();
    // Takes the packet's content; its time fields are in the stream's time base as given to
    // addStream (rescaled here to the one the muxer chose).
    bool write(AVPacket* packet, int streamIndex, AVRational timeBase);
    bool finish();
    // Closes and deletes an unfinished file.
    void discard();

    const std::string& error() const { return m_error; }

private:
    bool fail(const char* what, int code);

    AVFormatContext* m_ctx = nullptr;
    std::string m_path;
    bool m_headerWritten = false;
    std::string m_error;
};

std::string avErrorText(int code);

}  // namespace kx::qf2mp4
