/*
 * KXRtspSdk.h - the stream library: RTSP real-time play of network cameras and video servers.
 *
 * Overview
 * --------
 * The library keeps login records (KX_NET_Login only stores an address and credentials) and
 * play sessions (KX_NET_RealPlay opens one RTSP session per play). Each session runs on its
 * own thread: it sends OPTIONS, DESCRIBE, SETUP and PLAY, receives RTP over UDP or inside the
 * RTSP TCP connection, packages every frame (see KXPackagedFrame.h), hands the packaged frame
 * to the data callback and, on request, writes it to a ".qf" recording file. A session keeps
 * itself alive: a GET_PARAMETER heartbeat at half the server's session timeout when the server
 * supports it, and a complete reconnection whenever no frame arrived for 15 seconds (without
 * limit and without any callback). For a recorded stream whose session description gives a
 * length, the end callback is called at the end of the play range and the session stops
 * itself.
 *
 * Results
 * -------
 * Every export returns KX_NET_OK (1) for success and KX_NET_FAIL (0) for failure, except
 * KX_NET_Login and KX_NET_RealPlay (a handle, or KX_NET_INVALID_HANDLE, -1) and
 * KX_NET_GetVideoLength (a length, or KX_NET_NO_LENGTH, -3). Compare results with these names:
 *     if (KX_NET_SaveRealData(play, name) == KX_NET_FAIL) ...
 *     if (KX_NET_Login(host, port, user, password) == KX_NET_INVALID_HANDLE) ...
 * Before KX_NET_Init, and after KX_NET_Cleanup, every export returns its failure value at
 * once (KX_NET_INVALID_HANDLE or KX_NET_FAIL; KX_NET_GetVideoLength returns 0 then). No C++
 * exception crosses this boundary.
 *
 * Handles
 * -------
 * Login handles start at 1000, play handles at 1000000; each kind counts up by one per issued
 * handle and starts over only after KX_NET_Cleanup and a new KX_NET_Init. A handle stays valid
 * until KX_NET_StopRealPlay, KX_NET_Logout (which also destroys every session of that login)
 * or KX_NET_Cleanup releases it.
 *
 * Threads
 * -------
 * - Any thread may call the exports. All exports except KX_NET_Init and KX_NET_Cleanup are
 *   serialised by one library mutex, held for the whole call. KX_NET_Init and KX_NET_Cleanup
 *   take no lock: the caller must not run them at the same time as any other export.
 * - Calls that may block while holding the library mutex (every other export waits meanwhile):
 *   KX_NET_RealPlay (the start wait, at most 5 seconds), KX_NET_SeekAndPlay (at most 5 seconds),
 *   KX_NET_StopRealPlay, KX_NET_Logout and KX_NET_Cleanup (they wait for session threads to end,
 *   which is prompt). All other exports return without waiting on the network.
 * - The data callback and the end callback of a session are called on that session's own
 *   thread, never on the caller's thread, and never at the same time as each other for the
 *   same session. The callback's own mutex is held during the call.
 * - Inside a callback the caller must NOT call any KX_NET_* function. Stopping that session,
 *   logging out its login or cleaning up waits for the thread the callback runs on; setting that
 *   session's callbacks waits for the callback's own mutex; and any other export waits for the
 *   library mutex, which another thread may hold while it waits for this session's thread to
 *   end. Each of these deadlocks. A callback should hand its data on and return quickly: it
 *   delays the session's network work.
 * - When KX_NET_SetRealDataCallBack or KX_NET_SetRealPlayEndCallBack returns, no call of the
 *   previous callback is under way and none will be made afterwards.
 *
 * Text
 * ----
 * All texts are NUL-terminated narrow texts in the platform's file-name encoding (UTF-8 here),
 * owned by the caller; the library copies what it keeps. Texts that do not fit the library's
 * fixed fields are refused with the export's failure value, never cut.
 *
 * Logging
 * -------
 * KX_NET_Init's third argument is a mask of log levels (1 error, 2 warning, 4 call, 8 config,
 * 16 performance, 32 business, 64 detail, 128 package); 0 writes nothing. Lines go to daily
 * files "D:/log/NetSdk_YYYY-MM-DD.log" relative to the working directory, only when the folder
 * "D:/log" exists. Passwords are never written to the log.
 */
#ifndef KX_RTSP_SDK_H
#define KX_RTSP_SDK_H

#include <stdint.h>

#include "KXPackagedFrame.h"
#include "KXVersion.h"

/* The release of this library (the project version, see KXVersion.h). */
#define KX_NET_VERSION_MAJOR KX_VERSION_MAJOR
#define KX_NET_VERSION_MINOR KX_VERSION_MINOR
#define KX_NET_VERSION_PATCH KX_VERSION_PATCH

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KX_NET_API __declspec(dllexport)
#else
#define KX_NET_API __attribute__((visibility("default")))
#endif

/* The results of the exports; the values are fixed. */
#define KX_NET_OK 1                /* done */
#define KX_NET_FAIL 0              /* not done (unknown handle, refused argument, ...) */
#define KX_NET_INVALID_HANDLE (-1) /* KX_NET_Login, KX_NET_RealPlay: no handle issued */
#define KX_NET_NO_LENGTH (-3)      /* KX_NET_GetVideoLength: no length known, or unknown handle */

/*
 * Data callback. Called on the session's thread for every packaged frame, and for every raw
 * payload of data type KX_DATA_PRIVATE.
 *   lRealHandle  the play handle
 *   dwDataType   the data type (KX_DATA_*), always below 65536
 *   pBuffer      packaged frames: the inner part (offset 23 of the packaged frame, see
 *                KXPackagedFrame.h); KX_DATA_PRIVATE: the RTP payload unchanged.
 *                Valid only during the call: the session reuses the buffer for the next frame.
 *   dwBufSize    bytes at pBuffer (the length L of a packaged frame)
 *   pUser        the user value given with the callback, unchanged
 * Frames packaged before a callback is set are delivered to no one.
 */
typedef void (*RealDataCallBack)(int32_t lRealHandle, uint32_t dwDataType, uint8_t* pBuffer,
                                 uint32_t dwBufSize, void* pUser);

/*
 * End callback. Called once on the session's thread when a recorded stream of known length
 * has played to its end; the session then stops itself (KX_NET_StopRealPlay returns 0 for it,
 * and its handle answers the other exports until its login is released).
 */
typedef void (*RealPlayEndCallBack)(int32_t lRealHandle, void* pUser);

/* Accepted by KX_NET_SetRealPlayAutoReconnect and never called: sessions reconnect by
 * themselves without announcing it. */
typedef void (*AutoReconnectCallBack)(int32_t lRealHandle, void* pUser);

/*
 * KX_NET_Init: create the library instance. nReserved1 and nReserved2 are stored and not
 * interpreted (pass 0). nLogLevelMask: the log levels to write, 0 for none.
 * Returns KX_NET_OK when initialised, also when it already was (the arguments are then
 * ignored), and KX_NET_FAIL when the instance cannot be created. Takes no lock.
 */
KX_NET_API int32_t KX_NET_Init(int32_t nReserved1, int32_t nReserved2, int32_t nLogLevelMask);

/*
 * KX_NET_Cleanup: release every login and session (stopping sessions and waiting for their
 * threads) and the instance; afterwards every export behaves as before KX_NET_Init.
 * Does nothing when not initialised. Takes no lock. Not to be called inside a callback.
 */
KX_NET_API void KX_NET_Cleanup(void);

/*
 * KX_NET_Login: store a login record. Sends nothing to the server.
 *   szHost      at most 15 characters (a dotted IPv4 address); may be empty (then every
 *               KX_NET_RealPlay of this login fails)
 *   nPort       1 to 65534
 *   szUserName  at most 49 characters; empty for none
 *   szPassword  at most 49 characters; empty for none
 * Returns the login handle (1000 or above), or KX_NET_INVALID_HANDLE when a text is null or
 * too long, the port is 0 or 65535, memory runs out, or the library is not initialised.
 */
KX_NET_API int32_t KX_NET_Login(const char* szHost, uint16_t nPort, const char* szUserName,
                                const char* szPassword);

/*
 * KX_NET_Logout: destroy every session of the login (whatever its state; stopping it and
 * waiting for its thread), then the login record. Returns KX_NET_OK when released,
 * KX_NET_FAIL for an unknown handle. Not to be called inside a callback of one of its sessions.
 */
KX_NET_API int32_t KX_NET_Logout(int32_t lLoginHandle);

/*
 * KX_NET_RealPlay: open a real-time play of "rtsp://[user[:password]@]host:port+nPortOffset"
 * followed by szPath (which carries its own leading "/").
 *   nReserved        not interpreted (pass 0)
 *   bUseTcp          non-zero: RTP inside the RTSP TCP connection; else RTP over UDP
 *   szPath           the path, appended unchanged; the whole address must fit 255 characters
 *   bForceMulticast  non-zero: ask for multicast when the transport is unspecified
 * Blocks (holding the library mutex) until PLAY succeeded, the start failed (an error reply,
 * an unusable session description, no playable media), or 5 seconds passed without an
 * answer, which counts as started: the session then goes on in the background and reconnects
 * if the server never answers.
 * Returns the play handle (1000000 or above), or KX_NET_INVALID_HANDLE on failure (unknown
 * login handle, empty host, address too long, null path, start failed).
 */
KX_NET_API int32_t KX_NET_RealPlay(int32_t lLoginHandle, uint16_t nPortOffset, int32_t nReserved,
                                   int32_t bUseTcp, const char* szPath, int32_t bForceMulticast);

/*
 * KX_NET_StopRealPlay: stop a playing session (TEARDOWN, the session's thread is ended and
 * waited for) and destroy it. Returns KX_NET_OK when stopped and removed; KX_NET_FAIL for an
 * unknown handle or a session that already stopped itself at the end of its stream (it stays
 * until logout).
 * Not to be called inside a callback of that session.
 */
KX_NET_API int32_t KX_NET_StopRealPlay(int32_t lRealHandle);

/*
 * KX_NET_SetRealPlayEndCallBack: set (or clear, with a null callback) the end callback and its
 * user value. Returns KX_NET_OK when stored, KX_NET_FAIL for an unknown handle. Waits for a
 * running end callback of the session to return; not to be called inside that callback.
 */
KX_NET_API int32_t KX_NET_SetRealPlayEndCallBack(int32_t lRealHandle, RealPlayEndCallBack fnPlayEnd,
                                                 void* pUser);

/*
 * KX_NET_SetRealPlayAutoReconnect: accepted for compatibility; sessions always reconnect by
 * themselves. No argument is looked at, the handle included. Returns KX_NET_OK when
 * initialised, KX_NET_FAIL when not.
 */
KX_NET_API int32_t KX_NET_SetRealPlayAutoReconnect(int32_t lRealHandle,
                                                   AutoReconnectCallBack fnReconnect, void* pUser,
                                                   int32_t nReserved);

/*
 * KX_NET_SetRealDataCallBack: set (or clear, with a null callback) the data callback and its
 * user value; may be called while frames flow. Returns KX_NET_OK when stored, KX_NET_FAIL
 * for an unknown handle. Waits for a running data callback of the session to return; not to
 * be called inside that callback.
 */
KX_NET_API int32_t KX_NET_SetRealDataCallBack(int32_t lRealHandle, RealDataCallBack fnRealData,
                                              void* pUser);

/*
 * KX_NET_SaveRealData: start recording to szFileName (created or emptied; at most 255
 * characters). A recording already running is completed and closed first. The file receives
 * whole packaged frames from the next key frame on (H.264: an IDR slice; H.265: an IRAP slice;
 * MPEG-4: an intra-coded VOP), so that it decodes from its first frame: in front of that key
 * frame come the latest parameter sets of its stream (H.264: SPS, frame type 3, then PPS, frame
 * type 4; H.265: VPS, frame type 5, SPS, PPS; MPEG-4: the VOS/VOL headers, frame type 0), from the
 * session description or the stream, whichever came last, with the key frame's presentation time.
 * These extra frames go to the file only, never to the data callback. After a reconnection the file
 * goes on the same way at the next key frame. Returns KX_NET_OK when the file was opened,
 * KX_NET_FAIL otherwise (unknown handle, null or too long name, file cannot be created).
 */
KX_NET_API int32_t KX_NET_SaveRealData(int32_t lRealHandle, const char* szFileName);

/*
 * KX_NET_StopSaveRealData: complete and close the recording. Returns KX_NET_OK, also when
 * nothing was being recorded; KX_NET_FAIL for an unknown handle.
 */
KX_NET_API int32_t KX_NET_StopSaveRealData(int32_t lRealHandle);

/*
 * KX_NET_OpenSound / KX_NET_CloseSound: switch the session's audio on or off. While off,
 * audio frames are neither delivered nor recorded. On when a session starts.
 * Returns KX_NET_OK, or KX_NET_FAIL for an unknown handle.
 */
KX_NET_API int32_t KX_NET_OpenSound(int32_t lRealHandle);
KX_NET_API int32_t KX_NET_CloseSound(int32_t lRealHandle);

/*
 * KX_NET_GetVideoLength: the stream's length in milliseconds (low 32 bits) as its session
 * description gave it; 0 for a live stream; KX_NET_NO_LENGTH when no length is known or the
 * handle is unknown; 0 when not initialised.
 */
KX_NET_API int32_t KX_NET_GetVideoLength(int32_t lRealHandle);

/*
 * KX_NET_SeekAndPlay: continue a recorded stream from nPosition milliseconds (0 up to its
 * length). Sends a PLAY with that start and waits (at most 5 seconds, holding the library
 * mutex) for the reply. Returns KX_NET_OK when the server accepted it, KX_NET_FAIL otherwise
 * (unknown handle, position out of range, refused, no answer).
 */
KX_NET_API int32_t KX_NET_SeekAndPlay(int32_t lRealHandle, int32_t nPosition);

/*
 * KX_NET_GetCurrentTime: the current play position in milliseconds (low 32 bits), advanced by
 * the presentation times of the H.264 and H.265 frames; 0 for an unknown handle or when not
 * initialised.
 */
KX_NET_API int32_t KX_NET_GetCurrentTime(int32_t lRealHandle);

#ifdef __cplusplus
}
#endif

#endif /* KX_RTSP_SDK_H */
