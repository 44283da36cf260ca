#include "CFrameWork.h"

#include <QDateTime>
#include <algorithm>
#include <string>

#include "MediaFileNames.h"
#include "NarrowText.h"
#include "StreamAddress.h"

// A typed address is narrow text: the splitter reads exactly what such a buffer holds.
static_assert(kStreamAddressMaxLength == kNarrowTextMaxLength);

namespace {

bool IsValidIndex(int nIndex) {
    return nIndex >= 0 && nIndex < CFrameWork::kWindowCount;
}

}  // namespace

CFrameWork::CFrameWork() = default;

CFrameWork::~CFrameWork() = default;

PlayWndInfo* CFrameWork::Current() {
    return IsValidIndex(m_nCurIndex) ? &m_stPlayInfo[m_nCurIndex] : nullptr;
}

int CFrameWork::FailOpen() {
    ClosePlay(m_nCurIndex);
    return 0;
}

int CFrameWork::OpenStream(const QString& strAddress, int bTcp) {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || strAddress.isEmpty()) return 0;

    std::string strNarrow;
    if (!ToNarrowText(strAddress, strNarrow)) return 0;
    const std::optional<StreamAddress> address = SplitStreamAddress(strNarrow);
    if (!address) return 0;

    // Whatever still plays here would go on feeding this window: close it first.
    if (pInfo->nPlayType != kPlayNone) ClosePlay(m_nCurIndex);

    pInfo->nPlayType = kPlayStream;
    pInfo->nPort = KX_PLAY_OpenStream();
    if (pInfo->nPort < 0) {
        ResetPlayInfo(m_nCurIndex);
        return 0;
    }
    const int32_t nPort = pInfo->nPort;
    if (KX_PLAY_SetPlayWnd(nPort, pInfo->hPlayWnd) < 0 ||
        KX_PLAY_SetDecCallBack(nPort, &CFrameWork::OnDecData, nullptr) < 0 ||
        KX_PLAY_Play(nPort) < 0) {
        return FailOpen();
    }

    pInfo->lLoginHandle =
        KX_NET_Login(address->strHost.c_str(), static_cast<uint16_t>(address->nPort),
                     address->strUser.c_str(), address->strPassword.c_str());
    if (pInfo->lLoginHandle < 0) return FailOpen();

    pInfo->lRealHandle =
        KX_NET_RealPlay(pInfo->lLoginHandle, 0, 0, bTcp, address->strPath.c_str(), 0);
    if (pInfo->lRealHandle < 0) return FailOpen();

    const int32_t lRealHandle = pInfo->lRealHandle;
    // The decode port travels as the data callback's user value.
    void* pPortValue = reinterpret_cast<void*>(static_cast<intptr_t>(nPort));
    if (KX_NET_SetRealDataCallBack(lRealHandle, &CFrameWork::OnRealData, pPortValue) == 0 ||
        KX_NET_SetRealPlayEndCallBack(lRealHandle, &CFrameWork::OnRealPlayEnd, this) == 0 ||
        KX_NET_SetRealPlayAutoReconnect(lRealHandle, &CFrameWork::OnReconnect, nullptr, 10) == 0) {
        return FailOpen();
    }
    return 1;
}

int CFrameWork::OpenFile(const QString& strPath) {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || strPath.isEmpty()) return 0;

    std::string strNarrow;
    if (!ToNarrowText(strPath, strNarrow)) return 0;

    if (pInfo->nPlayType != kPlayNone) ClosePlay(m_nCurIndex);

    pInfo->nPlayType = kPlayFile;
    // Only the lower-case extension marks an AVI file.
    if (strPath.endsWith(QStringLiteral(".avi"), Qt::CaseSensitive)) {
        pInfo->nFileType = kFileAvi;
        pInfo->nPort = KX_PLAY_OpenAviFile(strNarrow.c_str());
    } else {
        pInfo->nFileType = kFileRecording;
        pInfo->nPort = KX_PLAY_OpenFile(strNarrow.c_str());
    }
    if (pInfo->nPort < 0) {
        ResetPlayInfo(m_nCurIndex);
        return 0;
    }
    const int32_t nPort = pInfo->nPort;
    if (KX_PLAY_SetPlayWnd(nPort, pInfo->hPlayWnd) < 0 ||
        KX_PLAY_SetDecCallBack(nPort, &CFrameWork::OnDecData, this) < 0 ||
        KX_PLAY_SetFileEndCallBack(nPort, &CFrameWork::OnFilePlayEnd, this) < 0 ||
        KX_PLAY_Play(nPort) < 0) {
        return FailOpen();
    }

    int64_t llStart = 0;
    int64_t llEnd = 0;
    const int32_t nResult = pInfo->nFileType == kFileAvi
                                ? KX_PLAY_GetAviFileTime(strNarrow.c_str(), &llStart, &llEnd)
                                : KX_PLAY_GetFileTime(strNarrow.c_str(), &llStart, &llEnd);
    if (nResult >= 0 && llEnd >= llStart) {
        pInfo->llStartTime = llStart;
        pInfo->llEndTime = llEnd;
    }
    return 1;
}

int CFrameWork::ClosePlay(int nIndex) {
    if (!IsValidIndex(nIndex)) return 0;
    PlayWndInfo& info = m_stPlayInfo[nIndex];
    if (info.nPlayType == kPlayStream) {
        // Complete the recording before the play goes away, so the file ends cleanly.
        if (info.bRecord) KX_NET_StopSaveRealData(info.lRealHandle);
        // The play's thread has ended when this returns: no delivery reaches the port after.
        KX_NET_StopRealPlay(info.lRealHandle);
        KX_NET_Logout(info.lLoginHandle);
        KX_PLAY_Stop(info.nPort);
        KX_PLAY_CloseStream(info.nPort);
    } else if (info.nPlayType == kPlayFile) {
        KX_PLAY_Stop(info.nPort);
        if (info.nFileType == kFileAvi) {
            KX_PLAY_CloseAviFile(info.nPort);
        } else {
            KX_PLAY_CloseFile(info.nPort);
        }
    } else {
        return 1;
    }
    ResetPlayInfo(nIndex);
    return 1;
}

void CFrameWork::ResetPlayInfo(int nIndex) {
    if (IsValidIndex(nIndex)) m_stPlayInfo[nIndex].Reset();
}

int CFrameWork::Pause() {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr) return 0;
    if (pInfo->nPlayType != kPlayFile) return 1;
    if (KX_PLAY_Pause(pInfo->nPort, pInfo->bPause ? 0 : 1) < 0) return 0;
    pInfo->bPause = pInfo->bPause ? 0 : 1;
    return 1;
}

int CFrameWork::Sound() {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr) return 0;
    if (pInfo->nPlayType == kPlayNone) return 1;
    if (pInfo->bSound) {
        if (KX_PLAY_CloseSound(pInfo->nPort) < 0) return 0;
        pInfo->nVolume = 0;
    } else {
        if (KX_PLAY_OpenSound(pInfo->nPort) < 0) return 0;
        if (KX_PLAY_SetVolume(pInfo->nPort, 100) < 0) return 0;
        pInfo->nVolume = 100;
    }
    pInfo->bSound = pInfo->bSound ? 0 : 1;
    return 1;
}

int CFrameWork::SetVolume(int nVolume) {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr) return 0;
    if (pInfo->nPlayType == kPlayNone || !pInfo->bSound) return 1;
    nVolume = std::clamp(nVolume, 0, 100);
    if (KX_PLAY_SetVolume(pInfo->nPort, nVolume) < 0) return 0;
    pInfo->nVolume = nVolume;
    if (nVolume == 0) pInfo->bSound = 0;
    return 1;
}

int CFrameWork::Snapshot(QString& strPath) {
    strPath.clear();
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType == kPlayNone) return 0;
    const QString strFile =
        MediaFileNames::SnapshotPath(m_strSnapPath, QDateTime::currentDateTime());
    std::string strNarrow;
    if (strFile.isEmpty() || !ToNarrowText(strFile, strNarrow)) return 0;
    // No picture yet, or the file could not be written: nothing to show the user.
    if (KX_PLAY_CapturePicture(pInfo->nPort, strNarrow.c_str(), 0) < 0) return 0;
    strPath = strFile;
    return 1;
}

int CFrameWork::Record(QString& strPath) {
    strPath.clear();
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayStream) return 0;
    if (pInfo->bRecord) {
        KX_NET_StopSaveRealData(pInfo->lRealHandle);
        pInfo->bRecord = 0;
        return 1;
    }
    const QString strFile =
        MediaFileNames::RecordingPath(m_strRecordPath, QDateTime::currentDateTime());
    std::string strNarrow;
    if (strFile.isEmpty() || !ToNarrowText(strFile, strNarrow)) return 0;
    // A recording that could not start is not shown as running.
    if (KX_NET_SaveRealData(pInfo->lRealHandle, strNarrow.c_str()) == 0) return 0;
    pInfo->bRecord = 1;
    strPath = strFile;
    return 1;
}

int CFrameWork::GetFileLength() {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayFile) return 0;
    return static_cast<int32_t>(pInfo->llEndTime - pInfo->llStartTime);
}

int CFrameWork::GetFilePlayTime() {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayFile) return 0;
    int64_t llTime = 0;
    if (KX_PLAY_GetPlayTime(pInfo->nPort, &llTime) < 0) return 0;
    return static_cast<int32_t>(llTime - pInfo->llStartTime);
}

int CFrameWork::SetFilePlayTime(int nPos) {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayFile) return 0;
    if (nPos <= 0 || nPos > GetFileLength()) return 0;
    return KX_PLAY_SetPlayTime(pInfo->nPort, pInfo->llStartTime + nPos) < 0 ? 0 : 1;
}

int CFrameWork::GetStreamLength() {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayStream) return 0;
    return KX_NET_GetVideoLength(pInfo->lRealHandle) / 1000;
}

int CFrameWork::GetStreamPlayTime() {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayStream) return 0;
    return KX_NET_GetCurrentTime(pInfo->lRealHandle) / 1000;
}

int CFrameWork::SetStreamPlayTime(int nPos) {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayStream) return 0;
    // Bounded by the length in seconds, so the position in milliseconds fits 32 bits.
    if (nPos < 0 || nPos > GetStreamLength()) return 0;
    if (KX_NET_SeekAndPlay(pInfo->lRealHandle, nPos * 1000) == 0) return 0;
    KX_PLAY_ResetBuffer(pInfo->nPort);
    return 1;
}

int CFrameWork::SetRotate(int nRotate) {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType == kPlayNone) return 0;
    nRotate = std::clamp(nRotate, 0, 3);
    if (KX_PLAY_SetRotate(pInfo->nPort, nRotate) < 0) return 0;
    pInfo->nRotate = nRotate;
    return 1;
}

int CFrameWork::GetRotate() {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType == kPlayNone) return 0;
    return pInfo->nRotate;
}

int CFrameWork::GetNoFill() {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType == kPlayNone) return 0;
    return pInfo->bNoFill;
}

void CFrameWork::OnRealData(int32_t /*lRealHandle*/, uint32_t /*dwDataType*/, uint8_t* pBuffer,
                            uint32_t dwBufSize, void* pUserData) {
    KX_PLAY_InputData(static_cast<int32_t>(reinterpret_cast<intptr_t>(pUserData)), pBuffer,
                      dwBufSize);
}

void CFrameWork::OnRealPlayEnd(int32_t lRealHandle, void* pUserData) {
    if (pUserData == nullptr) return;
    auto* pThis = static_cast<CFrameWork*>(pUserData);
    for (PlayWndInfo& info : pThis->m_stPlayInfo) {
        if (info.nPlayType == kPlayStream && info.lRealHandle == lRealHandle) info.bPlayEnd = 1;
    }
}

void CFrameWork::OnReconnect(int32_t /*lRealHandle*/, void* /*pUserData*/) {}

void CFrameWork::OnDecData(int32_t /*hHandle*/, const uint8_t* /*pBuf*/, int32_t /*nSize*/,
                           const FRAME_INFO* /*pFrameInfo*/, void* /*pDecParam*/) {}

void CFrameWork::OnFilePlayEnd(int32_t nPort, void* pUserData) {
    if (pUserData == nullptr) return;
    auto* pThis = static_cast<CFrameWork*>(pUserData);
    for (PlayWndInfo& info : pThis->m_stPlayInfo) {
        if (info.nPlayType == kPlayFile && info.nPort == nPort) info.bPlayEnd = 1;
    }
}

CFrameWork& GetFrameWork() {
    static CFrameWork s_FrameWork;
    return s_FrameWork;
}
