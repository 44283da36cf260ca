// Small looks into compressed video: where a decoder can start, and where an H.264 access
// unit begins. Only as much of the bitstream is read as these questions need.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx::play {

// The first NAL unit of an Annex B chunk: its header byte offset, or -1 without start code.
long firstNalOffset(const uint8_t* data, size_t size);

// H.264 NAL unit type of the first NAL unit in an Annex B chunk, -1 when there is none.
int h264FirstNalType(const uint8_t* data, size_t size);

// True when the chunk (Annex B, one or more NAL units) holds an IDR slice or a sequence
// parameter set, so a decoder can start with it.
bool h264IsKey(const uint8_t* data, size_t size);

// True when an MPEG-4 part 2 frame is an intra VOP or carries the stream headers.
bool mpeg4IsKey(const uint8_t* data, size_t size);

// The packaging puts 00 00 00 01 in front of every MPEG-4 frame, although the frame starts
// with a start code of its own; the decoder would read 00 00 01 00 from the two and miss the
// frame's start code. Returns the frame without that prefix (the data itself when absent).
const uint8_t* mpeg4SkipPrefix(const uint8_t* data, size_t& size);

// True when the H.265 chunk (Annex B, one or more NAL units) holds an IRAP slice or a video
// parameter set before any other slice, so a decoder can start with it.
bool h265IsKey(const uint8_t* data, size_t size);

// True when a decoder can start at this packaged video frame.
bool isKeyFrame(uint16_t dataType, uint16_t frameType, const uint8_t* data, size_t size);

// The kind of parameter set a packaged video frame is (its NAL unit type: H.264 7 or 8, H.265
// 32, 33 or 34), 0 when it is none.
uint8_t parameterSetKind(uint16_t dataType, uint16_t frameType, const uint8_t* data, size_t size);

// True when the H.264 chunk starts a new access unit after `previousWasVcl`: an access unit
// delimiter, SEI or parameter set after a slice, or a slice whose first macroblock is 0.
bool h264StartsAccessUnit(const uint8_t* data, size_t size, bool previousWasVcl);

// True when the first NAL unit of the chunk is a coded slice (types 1 to 5).
bool h264IsVcl(const uint8_t* data, size_t size);

// What the start of a coded slice says about the picture it belongs to, as far as it can be
// read without the parameter sets.
struct H264SliceStart {
    int nalType = 0;         // 1 to 5
    bool reference = false;  // nal_ref_idc != 0
    uint32_t firstMb = 0;    // first_mb_in_slice
    uint32_t ppsId = 0;      // pic_parameter_set_id
};

// Reads the start of the slice the chunk begins with; false when it is no coded slice or
// too short to tell.
bool h264ReadSliceStart(const uint8_t* data, size_t size, H264SliceStart& out);

// True when slice `next`, following slice `previous`, begins another picture: its first
// macroblock is 0 or not past the previous one, or the two differ in kind (IDR or not),
// reference or picture parameter set.
bool h264NewPicture(const H264SliceStart& previous, const H264SliceStart& next);

// The same two questions for H.265: a parameter set, delimiter or prefix SEI after a slice,
// or a slice with first_slice_segment_in_pic_flag set, begins an access unit.
bool h265StartsAccessUnit(const uint8_t* data, size_t size, bool previousWasVcl);
bool h265IsVcl(const uint8_t* data, size_t size);

// True when the first NAL unit of the H.265 chunk is a VPS, SPS or PPS.
bool h265IsParameterSet(const uint8_t* data, size_t size);

}  // namespace kx::play
