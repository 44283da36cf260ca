/*
 * KXPackagedFrame.h - the packaged frame: the unit the stream library delivers to its data
 * callback and writes to ".qf" recording files, and the unit the decode library reads back.
 *
 * Layout (little-endian, no padding, fixed offsets):
 *
 *   offset  size  field
 *        0    11  start marker "QSMEDIA_STA" (no NUL)
 *       11     4  wall-clock seconds since 1970 (low 32 bits) for frame type 1, else 0
 *       15     4  always 0
 *       19     4  L: number of bytes from offset 23 up to the start of the end marker
 *       23     4  presentation time, seconds
 *       27     4  presentation time, microseconds
 *       31     2  data type   (KX_DATA_*)
 *       33     2  frame type  (KX_FRAME_*)
 *   video:
 *       35     .  00 00 00 01 when the frame arrived without a start code, then the frame
 *   audio:
 *       35     4  channel count
 *       39     4  sample rate in Hz
 *       43     .  the frame
 *   23 + L    11  end marker "QSMEDIA_END" (no NUL)
 *
 * A whole packaged frame is L + 34 bytes. The data callback receives the "inner part": a
 * pointer to offset 23 and the length L. A ".qf" recording file is a plain sequence of whole
 * packaged frames starting at a key frame, with no file header.
 *
 * H.265 (KX_DATA_H265) is packaged exactly as H.264: one NAL unit per frame, 00 00 00 01 put
 * in front when it came without a start code, the frame type from its NAL unit type. The
 * parameter sets of the session description come first, once, in the order VPS, SPS, PPS.
 *
 * The raw private payload (KX_DATA_PRIVATE) is never packaged: the data callback receives the
 * RTP payload unchanged, and it is never recorded.
 */
#ifndef KX_PACKAGED_FRAME_H
#define KX_PACKAGED_FRAME_H

/* Data types: the 16-bit codec code of a packaged frame and the data callback's data type. */
#define KX_DATA_H264 1     /* H.264 video, one NAL unit per frame */
#define KX_DATA_MPEG4 2    /* MPEG-4 part 2 video */
#define KX_DATA_AAC 9      /* AAC audio, one access unit per frame */
#define KX_DATA_PCMU 13    /* G.711 mu-law audio */
#define KX_DATA_PCMA 14    /* G.711 A-law audio */
#define KX_DATA_PRIVATE 16 /* raw private video payload, unpackaged */
#define KX_DATA_G7221 17   /* G.722.1 audio, one RTP payload per frame */
#define KX_DATA_H265 18    /* H.265 (HEVC) video, one NAL unit per frame */

/* Frame types: the 16-bit frame type field. */
#define KX_FRAME_OTHER 0 /* audio, MPEG-4, or an H.264/H.265 NAL unit that carried a start code */
#define KX_FRAME_IDR 1   /* the key frame: H.264 IDR slice; H.265 IRAP slice (NAL types 16-21) */
#define KX_FRAME_NOSTART \
    2                  /* H.264/H.265 NAL unit that arrived without a start code, no other kind */
#define KX_FRAME_SPS 3 /* H.264/H.265 sequence parameter set */
#define KX_FRAME_PPS 4 /* H.264/H.265 picture parameter set */
#define KX_FRAME_VPS 5 /* H.265 video parameter set */

#define KX_PKT_START_MARKER "QSMEDIA_STA"
#define KX_PKT_END_MARKER "QSMEDIA_END"
#define KX_PKT_MARKER_SIZE 11

#define KX_PKT_OFF_WALLCLOCK 11
#define KX_PKT_OFF_RESERVED 15
#define KX_PKT_OFF_LENGTH 19
#define KX_PKT_OFF_INNER 23 /* start of the part handed to the data callback */
#define KX_PKT_OFF_PTS_SEC 23
#define KX_PKT_OFF_PTS_USEC 27
#define KX_PKT_OFF_DATA_TYPE 31
#define KX_PKT_OFF_FRAME_TYPE 33
#define KX_PKT_OFF_PAYLOAD 35 /* video payload; audio: channel count */
#define KX_PKT_OFF_CHANNELS 35
#define KX_PKT_OFF_SAMPLE_RATE 39
#define KX_PKT_OFF_AUDIO_PAYLOAD 43

/* Offsets inside the inner part (relative to KX_PKT_OFF_INNER). */
#define KX_INNER_OFF_PTS_SEC 0
#define KX_INNER_OFF_PTS_USEC 4
#define KX_INNER_OFF_DATA_TYPE 8
#define KX_INNER_OFF_FRAME_TYPE 10
#define KX_INNER_OFF_PAYLOAD 12
#define KX_INNER_OFF_CHANNELS 12
#define KX_INNER_OFF_SAMPLE_RATE 16
#define KX_INNER_OFF_AUDIO_PAYLOAD 20

/* Bytes a whole packaged frame adds around its inner part (markers, time fields, L). */
#define KX_PKT_OVERHEAD 34

#endif /* KX_PACKAGED_FRAME_H */
