// The play controller: the play state of the four play windows, binding the stream library
// (network streams) to the decode library (decoding, drawing, sound, files).
//
// Threads: every operation runs on the window thread. The stream library's calls that wait on
// the network (starting a play, seeking, and closing while another such call is under way) run
// on the controller's stream worker; their results come back to the window thread as queued
// events, and every change of the records is made there. The stream library calls OnRealData and
// OnRealPlayEnd on the thread of the play; the decode library calls OnDecData and
// OnFilePlayEnd on a thread of its own. The data callback touches only the decode library;
// the end callbacks only set bPlayEnd of the matching record, which the window thread polls
// and clears through ClosePlay. No lock is taken.
//
// Results: 1 for success (also where there is nothing to do), 0 for failure.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "KXPlaySdk.h"
#include "KXRtspSdk.h"
#include "PlayWndInfo.h"
#include "StreamWorker.h"

struct StreamAddress;

class CFrameWork {
public:
    static constexpr int kWindowCount = 4;

    CFrameWork();
    virtual ~CFrameWork();
    CFrameWork(const CFrameWork&) = delete;
    CFrameWork& operator=(const CFrameWork&) = delete;

    // Opens the RTSP address in the current window: splits it, opens a decode port drawing
    // into the window, logs in and starts the real-time play (blocks until the stream has
    // started or failed to start). A failed open leaves the window idle.
    int OpenStream(const QString& strAddress, int bTcp);
    // Result of an open that runs on the stream worker: 1 playing, 0 failed.
    using OpenDone = std::function<void(int nResult)>;
    // The same open for window nIndex without waiting: the address is checked and the decode
    // port opened at once (0 when either fails, fnDone is then never called); login and start
    // run on the stream worker. The window is "opening" until the result arrives; fnDone then
    // gets it on the window thread. Closing the window or opening something else into it
    // meanwhile cancels the request: its late result is closed, not shown, and fnDone is not
    // called.
    int BeginOpenStream(int nIndex, const QString& strAddress, int bTcp, OpenDone fnDone);
    // Whether a stream is being opened in window nIndex.
    bool IsOpening(int nIndex) const;
    // Waits for every call handed to the stream worker and handles its results; for the
    // program's end, after the windows have been closed.
    void Drain();
    // Opens a ".qf" recording, or an AVI file when the path ends in ".avi", in the current
    // window and starts playing it.
    int OpenFile(const QString& strPath);
    // The same in window nIndex; the current window stays as it is.
    int OpenFileIn(int nIndex, const QString& strPath);
    // Closes what plays in window nIndex (a running recording is completed first) and cancels
    // an open under way there. A stream is closed on the stream worker while that is busy; the
    // window gets no picture of it after this returns. 0 for an index outside 0..3.
    int ClosePlay(int nIndex);
    // Every field of record nIndex but its window back to idle; other indices are ignored.
    void ResetPlayInfo(int nIndex);

    // Pause / resume of a file; 1 without effect for streams and idle windows.
    int Pause();
    // Sound of the decode port on (at volume 100) or off.
    int Sound();
    // Volume 0..100 while sound is on; 0 turns the sound flag off.
    int SetVolume(int nVolume);
    // Writes the picture shown now to a new JPEG file named by local time in the snapshot
    // folder; strPath receives its path. 0, strPath empty, when no file was written.
    int Snapshot(QString& strPath);
    // Starts recording the stream to a new ".qf" file named by local time (strPath receives
    // its path) or stops the running recording (strPath empty). 0 for files, idle windows
    // and a recording that could not be started. While the stream worker is busy and fnLater
    // is given, the start runs after the worker's calls instead of waiting for them: the
    // result is 1 with strPath empty, and fnLater gets the path (empty when the recording
    // could not start) on the window thread.
    using RecordDone = std::function<void(const QString& strPath)>;
    int Record(QString& strPath, RecordDone fnLater = {});

    // File length and position in seconds; 0 when no file is open.
    int GetFileLength();
    int GetFilePlayTime();
    // Continues the file from nPos seconds (1 up to its length).
    int SetFilePlayTime(int nPos);
    // Stream length and position in seconds; 0 when no stream is open.
    int GetStreamLength();
    int GetStreamPlayTime();
    // Continues a recorded stream from nPos seconds (0 up to its length). The seek runs on the
    // stream worker: 1 means it was handed over; a refused seek shows in the play time.
    int SetStreamPlayTime(int nPos);

    // Rotation 0..3 (clamped) = 0, 90, 180, 270 degrees; 0 when nothing is open.
    int SetRotate(int nRotate);
    int GetRotate();
    int GetNoFill();

    // Callbacks registered with the libraries.
    static void OnRealData(int32_t lRealHandle, uint32_t dwDataType, uint8_t* pBuffer,
                           uint32_t dwBufSize, void* pUserData);
    static void OnRealPlayEnd(int32_t lRealHandle, void* pUserData);
    static void OnReconnect(int32_t lRealHandle, void* pUserData);
    static void OnDecData(int32_t hHandle, const uint8_t* pBuf, int32_t nSize,
                          const FRAME_INFO* pFrameInfo, void* pDecParam);
    static void OnFilePlayEnd(int32_t nPort, void* pUserData);

    int32_t m_nCurIndex = 0;                 // current play window, written by the windows
    PlayWndInfo m_stPlayInfo[kWindowCount];  // one record per play window
    QString m_strSnapPath;                   // empty: the desktop directory
    QString m_strRecordPath;                 // empty: the desktop directory
    // What plays in each window as it was opened: the address (with its TCP choice) or the
    // file path; empty while idle.
    QString m_strSource[kWindowCount];
    int m_bSourceTcp[kWindowCount] = {};

private:
    struct StreamHandles {
        int32_t lLogin = -1;
        int32_t lReal = -1;
    };
    struct PendingOpen {
        uint64_t nTicket = 0;
        int32_t nPort = -1;
        QString strAddress;
        int bTcp = 0;
        OpenDone fnDone;
    };

    PlayWndInfo* Current();
    // A decode port drawing into hWnd and playing; -1 when it cannot be opened.
    static int32_t OpenDecodePort(KX_PLAY_HWND hWnd);
    static void CloseDecodePort(int32_t nPort);
    // Login, start and callbacks of a real play feeding nPort; any thread. Everything acquired
    // is released again when a step fails.
    StreamHandles StartRealPlay(const StreamAddress& address, int bTcp, int32_t nPort);
    static void StopStream(int32_t lReal, int32_t lLogin, int32_t nPort, bool bRecording);
    void FinishOpen(int nIndex, uint64_t nTicket, int32_t nPort, StreamHandles handles);
    void CancelOpen(int nIndex);

    std::optional<PendingOpen> m_pending[kWindowCount];
    uint64_t m_nNextTicket = 1;
    // Stream times as last read, shown while the worker may hold the stream library.
    int m_nStreamLength[kWindowCount] = {};
    int m_nStreamTime[kWindowCount] = {};
    StreamWorker m_worker;  // last member: its thread ends before the records go away
};

// The single play controller of the program: a static object, constructed on first use and
// destroyed at program end.
CFrameWork& GetFrameWork();
