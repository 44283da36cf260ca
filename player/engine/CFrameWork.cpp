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

int32_t CFrameWork::OpenDecodePort(KX_PLAY_HWND hWnd) {
    const int32_t nPort = KX_PLAY_OpenStream();
    if (nPort == KX_PLAY_FAIL) return -1;
    if (KX_PLAY_SetPlayWnd(nPort, hWnd) == KX_PLAY_FAIL ||
        KX_PLAY_SetDecCallBack(nPort, &CFrameWork::OnDecData, nullptr) == KX_PLAY_FAIL ||
        KX_PLAY_Play(nPort) == KX_PLAY_FAIL) {
        CloseDecodePort(nPort);
        return -1;
    }
    return nPort;
}

void CFrameWork::CloseDecodePort(int32_t nPort) {
    KX_PLAY_Stop(nPort);
    KX_PLAY_CloseStream(nPort);
}

CFrameWork::StreamHandles CFrameWork::StartRealPlay(const StreamAddress& address, int bTcp,
                                                    int32_t nPort) {
    StreamHandles handles;
    handles.lLogin = KX_NET_Login(address.strHost.c_str(), static_cast<uint16_t>(address.nPort),
                                  address.strUser.c_str(), address.strPassword.c_str());
    if (handles.lLogin == KX_NET_INVALID_HANDLE) return {};
    handles.lReal = KX_NET_RealPlay(handles.lLogin, 0, 0, bTcp, address.strPath.c_str(), 0);
    // The decode port travels as the data callback's user value.
    void* pPortValue = reinterpret_cast<void*>(static_cast<intptr_t>(nPort));
    if (handles.lReal == KX_NET_INVALID_HANDLE ||
        KX_NET_SetRealDataCallBack(handles.lReal, &CFrameWork::OnRealData, pPortValue) ==
            KX_NET_FAIL ||
        KX_NET_SetRealPlayEndCallBack(handles.lReal, &CFrameWork::OnRealPlayEnd, this) ==
            KX_NET_FAIL ||
        KX_NET_SetRealPlayAutoReconnect(handles.lReal, &CFrameWork::OnReconnect, nullptr, 10) ==
            KX_NET_FAIL) {
        if (handles.lReal != KX_NET_INVALID_HANDLE) KX_NET_StopRealPlay(handles.lReal);
        KX_NET_Logout(handles.lLogin);
        return {};
    }
    return handles;
}

void CFrameWork::StopStream(int32_t lReal, int32_t lLogin, int32_t nPort, bool bRecording) {
    // Complete the recording before the play goes away, so the file ends cleanly.
    if (bRecording) KX_NET_StopSaveRealData(lReal);
    // The play's thread has ended when this returns: no delivery reaches the port after.
    KX_NET_StopRealPlay(lReal);
    KX_NET_Logout(lLogin);
    CloseDecodePort(nPort);
}

int CFrameWork::OpenStream(const QString& strAddress, int bTcp) {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || strAddress.isEmpty()) return 0;

    std::string strNarrow;
    if (!ToNarrowText(strAddress, strNarrow)) return 0;
    const std::optional<StreamAddress> address = SplitStreamAddress(strNarrow);
    if (!address) return 0;

    // Whatever still plays here would go on feeding this window: close it first.
    CancelOpen(m_nCurIndex);
    if (pInfo->nPlayType != kPlayNone) ClosePlay(m_nCurIndex);

    const int32_t nPort = OpenDecodePort(pInfo->hPlayWnd);
    if (nPort < 0) return 0;
    const StreamHandles handles = StartRealPlay(*address, bTcp, nPort);
    if (handles.lReal < 0) {
        CloseDecodePort(nPort);
        return 0;
    }
    pInfo->nPort = nPort;
    pInfo->lLoginHandle = handles.lLogin;
    pInfo->lRealHandle = handles.lReal;
    pInfo->nPlayType = kPlayStream;
    m_strSource[m_nCurIndex] = strAddress;
    m_bSourceTcp[m_nCurIndex] = bTcp ? 1 : 0;
    return 1;
}

int CFrameWork::BeginOpenStream(int nIndex, const QString& strAddress, int bTcp, OpenDone fnDone) {
    if (!IsValidIndex(nIndex) || strAddress.isEmpty()) return 0;
    std::string strNarrow;
    if (!ToNarrowText(strAddress, strNarrow)) return 0;
    std::optional<StreamAddress> address = SplitStreamAddress(strNarrow);
    if (!address) return 0;

    CancelOpen(nIndex);
    PlayWndInfo& info = m_stPlayInfo[nIndex];
    if (info.nPlayType != kPlayNone) ClosePlay(nIndex);

    const int32_t nPort = OpenDecodePort(info.hPlayWnd);
    if (nPort < 0) return 0;
    const uint64_t nTicket = m_nNextTicket++;
    m_pending[nIndex] = PendingOpen{nTicket, nPort, strAddress, bTcp ? 1 : 0, std::move(fnDone)};
    m_worker.Post([this, nIndex, nTicket, nPort, bTcp, address = std::move(*address)] {
        const StreamHandles handles = StartRealPlay(address, bTcp, nPort);
        m_worker.PostResult([this, nIndex, nTicket, nPort, handles] {
            FinishOpen(nIndex, nTicket, nPort, handles);
        });
    });
    return 1;
}

void CFrameWork::FinishOpen(int nIndex, uint64_t nTicket, int32_t nPort, StreamHandles handles) {
    std::optional<PendingOpen>& pending = m_pending[nIndex];
    if (!pending || pending->nTicket != nTicket) {
        // Cancelled meanwhile: the play is closed, never shown.
        if (handles.lReal >= 0) {
            m_worker.Post(
                [handles, nPort] { StopStream(handles.lReal, handles.lLogin, nPort, false); });
        } else {
            CloseDecodePort(nPort);
        }
        return;
    }
    const OpenDone fnDone = std::move(pending->fnDone);
    int nResult = 0;
    if (handles.lReal >= 0) {
        PlayWndInfo& info = m_stPlayInfo[nIndex];
        info.nPort = nPort;
        info.lLoginHandle = handles.lLogin;
        info.lRealHandle = handles.lReal;
        info.nPlayType = kPlayStream;
        m_strSource[nIndex] = pending->strAddress;
        m_bSourceTcp[nIndex] = pending->bTcp;
        nResult = 1;
    } else {
        CloseDecodePort(nPort);
    }
    pending.reset();
    if (fnDone) fnDone(nResult);
}

void CFrameWork::CancelOpen(int nIndex) {
    if (!IsValidIndex(nIndex) || !m_pending[nIndex]) return;
    // From now on the port draws nowhere; it is closed when the late result arrives.
    KX_PLAY_SetPlayWnd(m_pending[nIndex]->nPort, nullptr);
    m_pending[nIndex].reset();
}

bool CFrameWork::IsOpening(int nIndex) const {
    return IsValidIndex(nIndex) && m_pending[nIndex].has_value();
}

void CFrameWork::Drain() {
    m_worker.Drain();
}

int CFrameWork::OpenFile(const QString& strPath) {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || strPath.isEmpty()) return 0;

    std::string strNarrow;
    if (!ToNarrowText(strPath, strNarrow)) return 0;

    CancelOpen(m_nCurIndex);
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
    if (pInfo->nPort == KX_PLAY_FAIL) {
        ResetPlayInfo(m_nCurIndex);
        return 0;
    }
    const int32_t nPort = pInfo->nPort;
    if (KX_PLAY_SetPlayWnd(nPort, pInfo->hPlayWnd) == KX_PLAY_FAIL ||
        KX_PLAY_SetDecCallBack(nPort, &CFrameWork::OnDecData, this) == KX_PLAY_FAIL ||
        KX_PLAY_SetFileEndCallBack(nPort, &CFrameWork::OnFilePlayEnd, this) == KX_PLAY_FAIL ||
        KX_PLAY_Play(nPort) == KX_PLAY_FAIL) {
        ClosePlay(m_nCurIndex);
        return 0;
    }

    int64_t llStart = 0;
    int64_t llEnd = 0;
    const int32_t nResult = pInfo->nFileType == kFileAvi
                                ? KX_PLAY_GetAviFileTime(strNarrow.c_str(), &llStart, &llEnd)
                                : KX_PLAY_GetFileTime(strNarrow.c_str(), &llStart, &llEnd);
    if (nResult == KX_PLAY_OK && llEnd >= llStart) {
        pInfo->llStartTime = llStart;
        pInfo->llEndTime = llEnd;
    }
    m_strSource[m_nCurIndex] = strPath;
    return 1;
}

int CFrameWork::OpenFileIn(int nIndex, const QString& strPath) {
    if (!IsValidIndex(nIndex)) return 0;
    const int32_t nCurrent = m_nCurIndex;
    m_nCurIndex = nIndex;
    const int nResult = OpenFile(strPath);
    m_nCurIndex = nCurrent;
    return nResult;
}

int CFrameWork::ClosePlay(int nIndex) {
    if (!IsValidIndex(nIndex)) return 0;
    CancelOpen(nIndex);
    PlayWndInfo& info = m_stPlayInfo[nIndex];
    if (info.nPlayType == kPlayStream) {
        const int32_t lReal = info.lRealHandle;
        const int32_t lLogin = info.lLoginHandle;
        const int32_t nPort = info.nPort;
        const bool bRecording = info.bRecord != 0;
        if (m_worker.Idle()) {
            StopStream(lReal, lLogin, nPort, bRecording);
        } else {
            // The stream library may be held by a call of the worker for seconds: the stream
            // is stopped after it, and draws nowhere from now on.
            KX_PLAY_SetPlayWnd(nPort, nullptr);
            m_worker.Post([=] { StopStream(lReal, lLogin, nPort, bRecording); });
        }
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
    if (!IsValidIndex(nIndex)) return;
    m_stPlayInfo[nIndex].Reset();
    m_nStreamLength[nIndex] = 0;
    m_nStreamTime[nIndex] = 0;
    m_strSource[nIndex].clear();
    m_bSourceTcp[nIndex] = 0;
}

int CFrameWork::Pause() {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr) return 0;
    if (pInfo->nPlayType != kPlayFile) return 1;
    if (KX_PLAY_Pause(pInfo->nPort, pInfo->bPause ? 0 : 1) == KX_PLAY_FAIL) return 0;
    pInfo->bPause = pInfo->bPause ? 0 : 1;
    return 1;
}

int CFrameWork::Sound() {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr) return 0;
    if (pInfo->nPlayType == kPlayNone) return 1;
    if (pInfo->bSound) {
        if (KX_PLAY_CloseSound(pInfo->nPort) == KX_PLAY_FAIL) return 0;
        pInfo->nVolume = 0;
    } else {
        if (KX_PLAY_OpenSound(pInfo->nPort) == KX_PLAY_FAIL) return 0;
        if (KX_PLAY_SetVolume(pInfo->nPort, 100) == KX_PLAY_FAIL) return 0;
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
    if (KX_PLAY_SetVolume(pInfo->nPort, nVolume) == KX_PLAY_FAIL) return 0;
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
    if (KX_PLAY_CapturePicture(pInfo->nPort, strNarrow.c_str(), 0) == KX_PLAY_FAIL) return 0;
    strPath = strFile;
    return 1;
}

int CFrameWork::Record(QString& strPath, RecordDone fnLater) {
    strPath.clear();
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayStream) return 0;
    const int32_t lReal = pInfo->lRealHandle;
    const bool bLater = fnLater && !m_worker.Idle();
    if (pInfo->bRecord) {
        if (bLater) {
            m_worker.Post([lReal] { KX_NET_StopSaveRealData(lReal); });
        } else {
            KX_NET_StopSaveRealData(lReal);
        }
        pInfo->bRecord = 0;
        return 1;
    }
    const QString strFile =
        MediaFileNames::RecordingPath(m_strRecordPath, QDateTime::currentDateTime());
    std::string strNarrow;
    if (strFile.isEmpty() || !ToNarrowText(strFile, strNarrow)) return 0;
    if (bLater) {
        const int nIndex = m_nCurIndex;
        m_worker.Post([this, nIndex, lReal, strFile, strNarrow, fnLater] {
            const bool bStarted = KX_NET_SaveRealData(lReal, strNarrow.c_str()) == KX_NET_OK;
            m_worker.PostResult([this, nIndex, lReal, strFile, fnLater, bStarted] {
                PlayWndInfo& info = m_stPlayInfo[nIndex];
                // The play may have been closed meanwhile; its recording went with it.
                const bool bSamePlay = info.nPlayType == kPlayStream && info.lRealHandle == lReal;
                if (bSamePlay) info.bRecord = bStarted ? 1 : 0;
                fnLater(bSamePlay && bStarted ? strFile : QString());
            });
        });
        return 1;
    }
    // A recording that could not start is not shown as running.
    if (KX_NET_SaveRealData(pInfo->lRealHandle, strNarrow.c_str()) == KX_NET_FAIL) return 0;
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
    if (KX_PLAY_GetPlayTime(pInfo->nPort, &llTime) == KX_PLAY_FAIL) return 0;
    return static_cast<int32_t>(llTime - pInfo->llStartTime);
}

int CFrameWork::SetFilePlayTime(int nPos) {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayFile) return 0;
    if (nPos <= 0 || nPos > GetFileLength()) return 0;
    return KX_PLAY_SetPlayTime(pInfo->nPort, pInfo->llStartTime + nPos) == KX_PLAY_FAIL ? 0 : 1;
}

int CFrameWork::GetStreamLength() {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayStream) return 0;
    // While the worker may hold the stream library, the value read last stands.
    if (m_worker.Idle()) {
        m_nStreamLength[m_nCurIndex] = KX_NET_GetVideoLength(pInfo->lRealHandle) / 1000;
    }
    return m_nStreamLength[m_nCurIndex];
}

int CFrameWork::GetStreamPlayTime() {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayStream) return 0;
    if (m_worker.Idle()) {
        m_nStreamTime[m_nCurIndex] = KX_NET_GetCurrentTime(pInfo->lRealHandle) / 1000;
    }
    return m_nStreamTime[m_nCurIndex];
}

int CFrameWork::SetStreamPlayTime(int nPos) {
    const PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType != kPlayStream) return 0;
    // Bounded by the length in seconds, so the position in milliseconds fits 32 bits.
    if (nPos < 0 || nPos > GetStreamLength()) return 0;
    // The port is closed only by a later job of the worker, so it is still this play's.
    const int32_t lReal = pInfo->lRealHandle;
    const int32_t nPort = pInfo->nPort;
    m_worker.Post([lReal, nPort, nPos] {
        if (KX_NET_SeekAndPlay(lReal, nPos * 1000) == KX_NET_OK) KX_PLAY_ResetBuffer(nPort);
    });
    return 1;
}

int CFrameWork::SetRotate(int nRotate) {
    PlayWndInfo* pInfo = Current();
    if (pInfo == nullptr || pInfo->nPlayType == kPlayNone) return 0;
    nRotate = std::clamp(nRotate, 0, 3);
    if (KX_PLAY_SetRotate(pInfo->nPort, nRotate) == KX_PLAY_FAIL) return 0;
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
