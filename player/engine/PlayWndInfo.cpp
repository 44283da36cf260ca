#include "PlayWndInfo.h"

void PlayWndInfo::Reset() {
    nPlayType = kPlayNone;
    nPort = -1;
    bSound = 0;
    nVolume = 0;
    nRotate = 0;
    bNoFill = 0;
    bPlayEnd = 0;
    nFileType = kFileNone;
    bPause = 0;
    llStartTime = 0;
    llEndTime = 0;
    lLoginHandle = -1;
    lRealHandle = -1;
    bRecord = 0;
}
