// NAL units of H.264 and H.265: their types, the frame type the packaging gives each one,
// and where an access unit begins. The one place that reads NAL unit headers; the stream
// library's sinks, the decode library and the tests all ask here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx::frame {

namespace h264 {
constexpr int kIdr = 5;
constexpr int kSei = 6;
constexpr int kSps = 7;
constexpr int kPps = 8;
constexpr int kAud = 9;
constexpr bool isVcl(int type) {
    return type >= 1 && type <= 5;
}
}  // namespace h264

namespace h265 {
constexpr int kBlaWLp = 16;  // first IRAP type
constexpr int kRsvIrap23 = 23;
constexpr int kVps = 32;
constexpr int kSps = 33;
constexpr int kPps = 34;
constexpr int kAud = 35;
constexpr int kEos = 36;
constexpr int kEob = 37;
constexpr int kFd = 38;
constexpr int kPrefixSei = 39;
constexpr int kSuffixSei = 40;
constexpr int kAp = 48;    // RTP aggregation packet
constexpr int kFu = 49;    // RTP fragmentation unit
constexpr int kPaci = 50;  // RTP payload content information
constexpr bool isVcl(int type) {
    return type >= 0 && type <= 31;
}
// Intra random access point pictures (BLA, IDR, CRA): where a decoder can start.
constexpr bool isIrap(int type) {
    return type >= 16 && type <= 21;
}
constexpr bool isParameterSet(int type) {
    return type == kVps || type == kSps || type == kPps;
}
}  // namespace h265

// Length of a start code (00 00 00 01 or 00 00 01) at the very start of data: 4, 3 or 0.
size_t leadingStartCode(const uint8_t* data, size_t size);

// Offset of the first NAL unit header of an Annex B chunk (zero bytes, then 00 00 01), or -1
// when the chunk does not begin that way.
long firstNalOffset(const uint8_t* data, size_t size);

// Type of the NAL unit whose header starts at nal: -1 when the header does not fit.
int h264NalType(const uint8_t* nal, size_t size);
int h265NalType(const uint8_t* nal, size_t size);

// Type of the first NAL unit of an Annex B chunk, -1 when there is none.
int h264FirstNalType(const uint8_t* data, size_t size);
int h265FirstNalType(const uint8_t* data, size_t size);

// The packaged frame type (KX_FRAME_*) of one received NAL unit, and whether it carried its
// own start code. H.264: IDR 1, SPS 3, PPS 4. H.265: IRAP slices 1, SPS 3, PPS 4, VPS 5.
// Anything else: 0 with a start code, 2 without.
uint16_t h264FrameType(const uint8_t* frame, size_t n, bool& hasStartCode);
uint16_t h265FrameType(const uint8_t* frame, size_t n, bool& hasStartCode);

// Whether the NAL unit at nal (header first, no start code) begins a new access unit when it
// follows a coded slice of the current one: a parameter set, delimiter or prefix SEI, or a
// slice that is the first of its picture.
bool h264BeginsAccessUnit(const uint8_t* nal, size_t size);
bool h265BeginsAccessUnit(const uint8_t* nal, size_t size);

}  // namespace kx::frame
