/*
 * KXPlaySdk.h - the decode and playback library: decodes live streams delivered by the stream
 * library, plays ".qf" recordings and AVI files, draws pictures into a render target, plays
 * sound and writes JPEG snapshots.
 *
 * Ports
 * -----
 * A port is a non-negative integer naming one decoder. KX_PLAY_OpenStream, KX_PLAY_OpenFile
 * and KX_PLAY_OpenAviFile return a free port; each port has its own decode thread.
 * Times are 64-bit values in seconds.
 *
 * Results
 * -------
 * Two rules; each function says which it follows:
 * - Most functions return KX_PLAY_OK (0), or a port (0 or above), for success and
 *   KX_PLAY_FAIL (-1) for failure; they return no other negative value. Test with
 *       if (KX_PLAY_Play(port) == KX_PLAY_FAIL) ...
 * - KX_PLAY_Init and KX_PLAY_SetFillMode return KX_PLAY_TRUE (1) for success and
 *   KX_PLAY_FALSE (0) for failure:
 *       if (KX_PLAY_SetFillMode(port, 1) == KX_PLAY_FALSE) ...
 * A function taking a port returns its failure value for a port that is not open.
 *
 * Threads
 * -------
 * - Every function may be called from any thread (the player calls them from its window
 *   thread, and KX_PLAY_InputData from the stream library's session threads), also while the
 *   port's own thread runs. Calls on one port are serialised inside the library.
 * - KX_PLAY_InputData copies the data into a bounded per-port queue and returns at once; it
 *   never waits for decoding.
 * - Callbacks (decoded frame, file end) and the render target's functions are called on the
 *   port's own thread. Inside them the caller must not close or stop that port, nor call
 *   KX_PLAY_Cleanup (each waits for the port's thread; a close or stop from the port's own
 *   thread is refused with a negative result). They must not wait for the thread that calls
 *   KX_PLAY_Stop, a close or KX_PLAY_SetPlayWnd either. When KX_PLAY_Stop, a close or
 *   KX_PLAY_SetPlayWnd(port, NULL) returns, no callback or render call of that port is under
 *   way and none follows.
 *
 * Render target
 * -------------
 * The "window handle" handed to KX_PLAY_SetPlayWnd is a KX_PLAY_RENDER_TARGET owned by the
 * caller, which must stay valid until the port is stopped, closed or given another target.
 * The library converts each picture once to 32-bit BGRA (byte order B, G, R, A in memory), of
 * the target's current size, rotated as asked and either stretched to fill it or letterboxed
 * (black bars) to keep its shape, and hands it to fnPresent.
 *
 * Live ports
 * ----------
 * KX_PLAY_InputData takes what the stream library's data callback delivers, whatever its data
 * type: the inner part of a packaged frame (H.264, H.265, MPEG-4 part 2, AAC, G.711 mu-law and
 * A-law are decoded) or the raw private payload. Deliveries that cannot be decoded (the private
 * payload, G.722.1, damaged data) are counted and dropped; so are deliveries before
 * KX_PLAY_Play or after KX_PLAY_Stop. The result is 0 then too: negative only for a bad port
 * or bad arguments. A stream more than about a second behind drops to its newest key frame,
 * keeping the parameter sets delivered before it; a key frame it already starts with is kept.
 * H.265 NAL units are collected into whole pictures: a picture is decoded when the first NAL
 * unit of the next one arrives (one picture of delay; the H.265 decoder takes nothing less).
 * One delivery holds at most 8 MiB (a larger one is refused with a negative result).
 *
 * Files
 * -----
 * KX_PLAY_OpenFile tells an AVI file from a ".qf" recording by its content, whatever its name.
 * AVI files (KX_PLAY_OpenAviFile, KX_PLAY_GetAviFileTime and the AVI side of KX_PLAY_OpenFile)
 * are read only as AVI and only from a plain local file: another format, a playlist or a
 * network address is refused, whatever the name ends with.
 * In a ".qf" recording one packaged frame holds at most 8 MiB and one H.264 or H.265 picture (all
 * its NAL units together) at most 32 MiB, enough for a key picture of an 8K stream; anything larger
 * is damage, skipped like a bad length field, and play goes on at the next picture. KX_PLAY_Stop on
 * a file goes back to its start; KX_PLAY_Play plays it again. A seek after the end plays on and the
 * end callback comes again at the next end. KX_PLAY_GetPlayTime fails until the first picture has
 * been shown.
 *
 * Text
 * ----
 * Paths are NUL-terminated narrow texts in the platform's file-name encoding (UTF-8 here).
 */
#ifndef KX_PLAY_SDK_H
#define KX_PLAY_SDK_H

#include <stdint.h>

#include "KXVersion.h"

/* The release of this library (the project version, see KXVersion.h). */
#define KX_PLAY_VERSION_MAJOR KX_VERSION_MAJOR
#define KX_PLAY_VERSION_MINOR KX_VERSION_MINOR
#define KX_PLAY_VERSION_PATCH KX_VERSION_PATCH

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KX_PLAY_API __declspec(dllexport)
#else
#define KX_PLAY_API __attribute__((visibility("default")))
#endif

/* Results; the values are fixed. */
#define KX_PLAY_OK 0      /* done (most functions) */
#define KX_PLAY_FAIL (-1) /* not done (most functions) */
#define KX_PLAY_TRUE 1    /* done (KX_PLAY_Init, KX_PLAY_SetFillMode) */
#define KX_PLAY_FALSE 0   /* not done (KX_PLAY_Init, KX_PLAY_SetFillMode) */

/* One decoded frame, as told to the decode callback. */
typedef struct FRAME_INFO {
    int32_t nWidth;     /* picture width in pixels (0 for audio) */
    int32_t nHeight;    /* picture height in pixels (0 for audio) */
    int32_t nType;      /* KX_PLAY_FRAME_VIDEO or KX_PLAY_FRAME_AUDIO */
    int32_t nStamp;     /* presentation time in milliseconds (its low 32 bits) */
    int32_t nFrameRate; /* frames per second as far as known, else 0 */
} FRAME_INFO;

#define KX_PLAY_FRAME_VIDEO 1
#define KX_PLAY_FRAME_AUDIO 2

/* A finished picture handed to a render target: 32-bit BGRA, top row first. */
typedef struct KX_PLAY_PICTURE {
    const uint8_t* pData; /* valid only during the call */
    int32_t nStride;      /* bytes per row */
    int32_t nWidth;
    int32_t nHeight;
} KX_PLAY_PICTURE;

typedef struct KX_PLAY_RENDER_TARGET {
    void* pContext;
    /* The size, in pixels, that pictures should have now (the window's client area).
     * Called on the port's thread before each picture is converted. */
    void (*fnGetSize)(void* pContext, int32_t* pWidth, int32_t* pHeight);
    /* Shows a picture. Called on the port's thread; copy what you keep. */
    void (*fnPresent)(void* pContext, const KX_PLAY_PICTURE* pPicture);
} KX_PLAY_RENDER_TARGET;

typedef KX_PLAY_RENDER_TARGET* KX_PLAY_HWND;

/* Per decoded frame: buffer holds the decoded picture (planar YUV 4:2:0) or sound (16-bit
 * PCM), valid only during the call. */
typedef void (*KX_PLAY_DecCallBack)(int32_t nPort, const uint8_t* pBuf, int32_t nSize,
                                    const FRAME_INFO* pFrameInfo, void* pUser);
/* Once, when a file has been shown to its last frame. */
typedef void (*KX_PLAY_FileEndCallBack)(int32_t nPort, void* pUser);

/* Ordinal 1. Initialise (nReserved: pass 0). KX_PLAY_TRUE when ready, KX_PLAY_FALSE on
 * failure. */
KX_PLAY_API int32_t KX_PLAY_Init(int32_t nReserved);
/* Ordinal 2. Close every port and release the library. */
KX_PLAY_API void KX_PLAY_Cleanup(void);

/* Ordinal 3. Open a ".qf" recording (or, detected by content, an AVI file): the port, or
 * KX_PLAY_FAIL. */
KX_PLAY_API int32_t KX_PLAY_OpenFile(const char* szPath);
/* Ordinal 4. Close a file port: KX_PLAY_OK, or KX_PLAY_FAIL (not a file port, or called on
 * the port's own thread). */
KX_PLAY_API int32_t KX_PLAY_CloseFile(int32_t nPort);
/* Ordinal 5. Open a live stream port fed by KX_PLAY_InputData: the port, or KX_PLAY_FAIL
 * (no port free). */
KX_PLAY_API int32_t KX_PLAY_OpenStream(void);
/* Ordinal 6. Close a stream port: KX_PLAY_OK, or KX_PLAY_FAIL (not a stream port, or called
 * on the port's own thread). */
KX_PLAY_API int32_t KX_PLAY_CloseStream(int32_t nPort);
/* Ordinal 7. Set (or clear, with NULL) the render target pictures go to. KX_PLAY_OK or
 * KX_PLAY_FAIL. */
KX_PLAY_API int32_t KX_PLAY_SetPlayWnd(int32_t nPort, KX_PLAY_HWND hWnd);
/* Ordinal 8. Start decoding and drawing. KX_PLAY_OK or KX_PLAY_FAIL. */
KX_PLAY_API int32_t KX_PLAY_Play(int32_t nPort);
/* Ordinal 9. Stop decoding and drawing; the port stays open. KX_PLAY_OK, or KX_PLAY_FAIL
 * (also when called on the port's own thread). */
KX_PLAY_API int32_t KX_PLAY_Stop(int32_t nPort);
/* Ordinal 10. bPause 1 pauses, 0 resumes. KX_PLAY_OK or KX_PLAY_FAIL. */
KX_PLAY_API int32_t KX_PLAY_Pause(int32_t nPort, int32_t bPause);
/* Ordinal 11. Speed 2^nLevel, nLevel -3..3 (files). KX_PLAY_OK, or KX_PLAY_FAIL (level out
 * of range). */
KX_PLAY_API int32_t KX_PLAY_SetSpeed(int32_t nPort, int32_t nLevel);
/* Ordinal 12. The speed level into *pLevel: KX_PLAY_OK, or KX_PLAY_FAIL (pLevel NULL). */
KX_PLAY_API int32_t KX_PLAY_GetSpeed(int32_t nPort, int32_t* pLevel);
/* Ordinal 14. Continue a file from llTime (seconds, same scale as KX_PLAY_GetFileTime), at
 * the key frame at or before it. KX_PLAY_OK, or KX_PLAY_FAIL (not a file port, negative
 * time). */
KX_PLAY_API int32_t KX_PLAY_SetPlayTime(int32_t nPort, int64_t llTime);
/* Ordinal 15. The time of the picture shown now into *pTime: KX_PLAY_OK, or KX_PLAY_FAIL
 * (pTime NULL, no picture shown yet). */
KX_PLAY_API int32_t KX_PLAY_GetPlayTime(int32_t nPort, int64_t* pTime);
/* Ordinal 16. Start and end time of a ".qf" file (or an AVI file), in seconds: KX_PLAY_OK,
 * or KX_PLAY_FAIL (a pointer NULL, the file unreadable or of another kind). */
KX_PLAY_API int32_t KX_PLAY_GetFileTime(const char* szPath, int64_t* pStart, int64_t* pEnd);
/* Ordinal 17 / 18. Sound output of the port (a machine without a sound device still plays
 * pictures). KX_PLAY_OK or KX_PLAY_FAIL. */
KX_PLAY_API int32_t KX_PLAY_OpenSound(int32_t nPort);
KX_PLAY_API int32_t KX_PLAY_CloseSound(int32_t nPort);
/* Ordinal 19. One delivery of the stream library's data callback, any data type. Copies the
 * data and returns at once. KX_PLAY_OK, also when the delivery is dropped; KX_PLAY_FAIL for
 * a port that is not a stream port, a NULL or empty buffer, or one too large. */
KX_PLAY_API int32_t KX_PLAY_InputData(int32_t nPort, const uint8_t* pBuf, uint32_t nSize);
/* Ordinal 20. Set (or clear, with NULL) the decode callback. KX_PLAY_OK or KX_PLAY_FAIL. */
KX_PLAY_API int32_t KX_PLAY_SetDecCallBack(int32_t nPort, KX_PLAY_DecCallBack fnDec, void* pUser);
/* Ordinal 21. nMode 0 stretches pictures to fill the window, 1 keeps their shape.
 * KX_PLAY_TRUE when taken, KX_PLAY_FALSE on failure (unknown port, other mode). */
KX_PLAY_API int32_t KX_PLAY_SetFillMode(int32_t nPort, int32_t nMode);
/* Ordinal 22. Volume 0..100. KX_PLAY_OK, or KX_PLAY_FAIL (out of range). */
KX_PLAY_API int32_t KX_PLAY_SetVolume(int32_t nPort, int32_t nVolume);
/* Ordinal 26. Write the picture shown now as a JPEG file (nReserved: pass 0). KX_PLAY_OK, or
 * KX_PLAY_FAIL when there is no picture yet or the file cannot be written; no partial file
 * is left. */
KX_PLAY_API int32_t KX_PLAY_CapturePicture(int32_t nPort, const char* szPath, int32_t nReserved);
/* Ordinal 28 / 29 / 30. AVI files, as KX_PLAY_OpenFile, KX_PLAY_CloseFile and
 * KX_PLAY_GetFileTime do for ".qf" files (the port or KX_PLAY_FAIL; KX_PLAY_OK or
 * KX_PLAY_FAIL). */
KX_PLAY_API int32_t KX_PLAY_OpenAviFile(const char* szPath);
KX_PLAY_API int32_t KX_PLAY_CloseAviFile(int32_t nPort);
KX_PLAY_API int32_t KX_PLAY_GetAviFileTime(const char* szPath, int64_t* pStart, int64_t* pEnd);
/* Ordinal 32. The stream source was repositioned: flush queue and decoder. KX_PLAY_OK or
 * KX_PLAY_FAIL. */
KX_PLAY_API int32_t KX_PLAY_ResetBuffer(int32_t nPort);
/* Ordinal 34. Set (or clear, with NULL) the file end callback: KX_PLAY_OK, or KX_PLAY_FAIL
 * (not a file port). */
KX_PLAY_API int32_t KX_PLAY_SetFileEndCallBack(int32_t nPort, KX_PLAY_FileEndCallBack fnEnd,
                                               void* pUser);
/* Ordinal 36. Rotation 0..3 = 0, 90, 180, 270 degrees clockwise. KX_PLAY_OK, or
 * KX_PLAY_FAIL (out of range). */
KX_PLAY_API int32_t KX_PLAY_SetRotate(int32_t nPort, int32_t nRotate);

#ifdef __cplusplus
}
#endif

#endif /* KX_PLAY_SDK_H */
