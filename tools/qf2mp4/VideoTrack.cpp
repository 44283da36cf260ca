#include "VideoTrack.h"

#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/bsf.h>
}

namespace kx::qf2mp4 {
namespace {

// Adding a codec is one row here (and its data type in KXPackagedFrame.h).
const VideoCodec kVideoCodecs[] = {
    {KX_DATA_H264,
     AV_CODEC_ID_H264,
     "H.264",
     Framing::NalUnits,
     KeyRule::FrameTypeKey,
     {0, 0x1F, 1, 5}},
    {KX_DATA_MPEG4, AV_CODEC_ID_MPEG4, "MPEG-4", Framing::WholeFrames, KeyRule::Mpeg4Vop, {}},
    {KX_DATA_H265,
     AV_CODEC_ID_HEVC,
     "H.265",
     Framing::NalUnits,
     KeyRule::FrameTypeKey,
     {1, 0x3F, 0, 31}},
};

// Far above any real picture (an 8K key picture is a few MiB).
constexpr size_t kMaxAccessUnitBytes = 64u << 20;

// The first byte after the start code of an Annex B NAL unit, or -1.
int nalHeaderByte(const uint8_t* p, size_t n) {
    for (size_t i = 0; i + 3 < n && i < 4; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return p[i + 3];
    }
    return -1;
}

// MPEG-4 part 2: the coding type of the first video object plane (start code 00 00 01 B6).
bool hasIntraVop(const uint8_t* p, size_t n) {
    for (size_t i = 0; i + 4 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6) {
            return (p[i + 4] >> 6) == 0;
        }
    }
    return false;
}

struct BsfDeleter {
    void operator()(AVBSFContext* c) const { av_bsf_free(&c); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

PacketPtr packetOf(const AccessUnit& au) {
    PacketPtr pkt(av_packet_alloc());
    if (!pkt || av_new_packet(pkt.get(), static_cast<int>(au.data.size())) < 0) return nullptr;
    std::memcpy(pkt->data, au.data.data(), au.data.size());
    pkt->flags = au.key ? AV_PKT_FLAG_KEY : 0;
    return pkt;
}

// The decoder configuration (parameter sets, or MPEG-4's headers before the first plane),
// split off the access unit by FFmpeg's extract_extradata filter.
bool extractExtradata(AVCodecID id, const AccessUnit& key, AVCodecParameters* par) {
    const AVBitStreamFilter* filter = av_bsf_get_by_name("extract_extradata");
    AVBSFContext* raw = nullptr;
    if (filter == nullptr || av_bsf_alloc(filter, &raw) < 0) return false;
    std::unique_ptr<AVBSFContext, BsfDeleter> bsf(raw);
    bsf->par_in->codec_id = id;
    if (av_bsf_init(bsf.get()) < 0) return false;
    PacketPtr pkt = packetOf(key);
    if (!pkt || av_bsf_send_packet(bsf.get(), pkt.get()) < 0) return false;
    if (av_bsf_receive_packet(bsf.get(), pkt.get()) < 0) return false;
    size_t size = 0;
    const uint8_t* data = av_packet_get_side_data(pkt.get(), AV_PKT_DATA_NEW_EXTRADATA, &size);
    if (data == nullptr || size == 0) return false;
    par->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr) return false;
    std::memcpy(par->extradata, data, size);
    par->extradata_size = static_cast<int>(size);
    return true;
}

// The picture size, by decoding the key access unit.
bool decodePictureSize(AVCodecID id, const AccessUnit& key, AVCodecParameters* par) {
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (decoder == nullptr) return false;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> ctx(avcodec_alloc_context3(decoder));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), par) < 0) return false;
    ctx->thread_count = 1;
    if (avcodec_open2(ctx.get(), decoder, nullptr) < 0) return false;
    PacketPtr pkt = packetOf(key);
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    if (!pkt || !frame) return false;
    avcodec_send_packet(ctx.get(), pkt.get());
    avcodec_send_packet(ctx.get(), nullptr);
    while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
        if (frame->width > 0 && frame->height > 0) {
            par->width = frame->width;
            par->height = frame->height;
            par->sample_aspect_ratio = frame->sample_aspect_ratio;
            return true;
        }
    }
    return false;
}

}  // namespace

const VideoCodec* findVideoCodec(uint16_t dataType) {
    for (const VideoCodec& codec : kVideoCodecs) {
        if (codec.dataType == dataType) return &codec;
    }
    return nullptr;
}

bool AccessUnitAssembler::isPicture(const kx::frame::InnerFrame& frame) const {
    if (m_codec.framing == Framing::WholeFrames) return true;
    const int header = nalHeaderByte(frame.payload, frame.payloadSize);
    if (header < 0) return false;
    const int type = (header >> m_codec.nalType.shift) & m_codec.nalType.mask;
    return type >= m_codec.nalType.firstPicture && type <= m_codec.nalType.lastPicture;
}

bool AccessUnitAssembler::isKey(const kx::frame::InnerFrame& frame) const {
    switch (m_codec.keyRule) {
        case KeyRule::FrameTypeKey:
            return frame.frameType == KX_FRAME_IDR;
        case KeyRule::Mpeg4Vop:
            return hasIntraVop(frame.payload, frame.payloadSize);
    }
    return false;
}

std::optional<AccessUnit> AccessUnitAssembler::push(const kx::frame::InnerFrame& frame,
                                                    int64_t ptsUs) {
    const bool picture = isPicture(frame);
    std::optional<AccessUnit> done;
    // A picture is complete when a frame of another presentation time arrives; NAL units
    // without a picture (parameter sets, SEI) go with the picture that follows them.
    if (m_hasPicture && (m_codec.framing == Framing::WholeFrames || ptsUs != m_open.ptsUs)) {
        done = std::move(m_open);
        m_open = AccessUnit{};
        m_hasPicture = false;
    }
    if (m_open.data.size() + frame.payloadSize > kMaxAccessUnitBytes) {
        // NAL units that never complete a picture (a damaged or crafted file): dropped, so
        // memory stays bounded.
        m_open = AccessUnit{};
        m_hasPicture = false;
    }
    if (picture && !m_hasPicture) {
        m_open.ptsUs = ptsUs;
        m_hasPicture = true;
    }
    m_open.key = m_open.key || isKey(frame);
    const size_t skip = kx::frame::addedStartCodeSize(frame);
    m_open.data.insert(m_open.data.end(), frame.payload + skip, frame.payload + frame.payloadSize);
    return done;
}

std::optional<AccessUnit> AccessUnitAssembler::flush() {
    if (!m_hasPicture) return std::nullopt;
    m_hasPicture = false;
    AccessUnit done = std::move(m_open);
    m_open = AccessUnit{};
    return done;
}

bool describeVideo(const VideoCodec& codec, const AccessUnit& key, AVCodecParameters* par,
                   std::string* error) {
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = codec.codecId;
    if (!extractExtradata(codec.codecId, key, par)) {
        *error =
            std::string("no ") + codec.name + " decoder configuration before the first picture";
        return false;
    }
    if (!decodePictureSize(codec.codecId, key, par)) {
        *error = std::string("the first ") + codec.name + " key picture does not decode";
        return false;
    }
    return true;
}

}  // namespace kx::qf2mp4
