// One video decoder (libavcodec). Live input is decoded NAL unit by NAL unit as it arrives,
// with slice threads; files are decoded access unit by access unit with frame threads.
#pragma once

#include <cstdint>

#include "MediaPacket.h"
#include "PacketBuffer.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace kx::play {

class VideoDecoder {
public:
    enum class Mode { Live, File };

    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens (or keeps) a decoder for this packet's codec. threads 0 chooses: for files by the
    // picture size (fileThreads), live streams as libavcodec chooses.
    bool prepare(const MediaPacket& packet, Mode mode, int threads);
    // Decoding threads for a file of width x height pictures on a machine of `cores`: one
    // thread decodes 1080p H.264 at a few hundred pictures a second, enough for the top speed
    // (8x) of a 25 fps recording, and frame threads cost some 7 % more CPU per picture in
    // hand-over; so one for pictures up to 1080p, one more for every further 1080p of picture
    // area, at most one per core. 0 (libavcodec's choice) when the size is unknown.
    static int fileThreads(int width, int height, unsigned cores);
    int threads() const;
    bool isOpen() const { return m_ctx != nullptr; }
    // Hands a packet to the decoder. Read every frame with receive() before the next send.
    bool send(const MediaPacket& packet);
    // Tells the decoder no more packets come, so it gives out what it holds.
    void sendEnd();
    // Next decoded picture, false when none is ready.
    bool receive(AVFrame* frame);
    // Forgets everything queued inside (a seek or a reset).
    void flush();
    void close();

private:
    AVCodecContext* m_ctx = nullptr;
    AVPacket* m_pkt = nullptr;
    PacketBuffer m_buffers;
    uint16_t m_dataType = 0;
    const AVCodecParameters* m_codecpar = nullptr;
};

}  // namespace kx::play
