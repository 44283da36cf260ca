// Play state of one of the four play windows.
#pragma once

#include <atomic>
#include <cstdint>

#include "KXPlaySdk.h"

// A 32-bit field that a library thread reads or writes while the window thread works on the
// record: the end callbacks look records up by play type, port and play handle and set the
// end flag. Lock-free, so no lock is needed on either side.
using SharedInt32 = std::atomic<int32_t>;
static_assert(sizeof(SharedInt32) == sizeof(int32_t) && SharedInt32::is_always_lock_free);

// What plays in a window.
enum PlayType : int32_t { kPlayNone = -1, kPlayStream = 0, kPlayFile = 1 };
// For files: 0 the recording format (".qf") and every other non-AVI file, 1 AVI.
enum FileType : int32_t { kFileNone = -1, kFileRecording = 0, kFileAvi = 1 };

struct PlayWndInfo {
    KX_PLAY_HWND hPlayWnd = nullptr;  // render target of the window; set once by the window
    SharedInt32 nPlayType{kPlayNone};
    SharedInt32 nPort{-1};  // decode port of what plays
    int32_t bSound = 0;
    int32_t nVolume = 0;      // 0..100 as last set
    int32_t nRotate = 0;      // 0..3 = 0, 90, 180, 270 degrees
    int32_t bNoFill = 0;      // 1 when the picture keeps its shape (written by the panel)
    SharedInt32 bPlayEnd{0};  // set by an end callback, cleared by ClosePlay
    int32_t nFileType = kFileNone;
    int32_t bPause = 0;
    int64_t llStartTime = 0;  // time range of the open file, seconds
    int64_t llEndTime = 0;
    int32_t lLoginHandle = -1;
    SharedInt32 lRealHandle{-1};
    int32_t bRecord = 0;  // the live stream is being saved to a file

    // Every field but hPlayWnd back to its idle value.
    void Reset();
};
