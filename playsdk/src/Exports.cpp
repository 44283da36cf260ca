// The exported C functions: argument checks, the port lookup, and no exception past here.
#include <string>

#include "FileProbe.h"
#include "KXPlaySdk.h"
#include "PortTable.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

using kx::play::Port;
using kx::play::PortTable;

template <typename F>
int32_t guarded(F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        return KX_PLAY_FAIL;
    }
}

// Runs f on the port when it exists (of the kind asked, when one is).
template <typename F>
int32_t onPort(int32_t port, F&& f) noexcept {
    return guarded([&]() -> int32_t {
        auto p = PortTable::instance().get(port);
        if (!p) return KX_PLAY_FAIL;
        return f(*p);
    });
}

bool validPath(const char* path) {
    return path != nullptr && path[0] != '\0';
}

void quietLibraries() {
    static const bool once = [] {
        av_log_set_level(AV_LOG_FATAL);  // damaged input is expected, not worth a line each
        return true;
    }();
    (void)once;
}

int32_t openFilePort(const char* path, bool aviOnly) {
    quietLibraries();
    if (!validPath(path)) return KX_PLAY_FAIL;
    const std::string p(path);
    const auto kind = kx::play::probeFile(p);
    if (kind == kx::play::FileKind::Missing) return KX_PLAY_FAIL;
    std::unique_ptr<kx::play::MediaSource> source;
    if (kind == kx::play::FileKind::Avi || aviOnly) {
        source = kx::play::openAvi(p);
    } else {
        source = kx::play::openQf(p);
    }
    if (!source) return KX_PLAY_FAIL;
    return PortTable::instance().open(Port::Kind::File, std::move(source));
}

}  // namespace

extern "C" {

KX_PLAY_API int32_t KX_PLAY_Init(int32_t) {
    return guarded([] {
        quietLibraries();
        return KX_PLAY_TRUE;
    });
}

KX_PLAY_API void KX_PLAY_Cleanup(void) {
    guarded([] {
        PortTable::instance().closeAll();
        return KX_PLAY_OK;
    });
}

KX_PLAY_API int32_t KX_PLAY_OpenFile(const char* szPath) {
    return guarded([&] { return openFilePort(szPath, false); });
}

KX_PLAY_API int32_t KX_PLAY_CloseFile(int32_t nPort) {
    return guarded([&] { return PortTable::instance().close(nPort, Port::Kind::File); });
}

KX_PLAY_API int32_t KX_PLAY_OpenStream(void) {
    return guarded([] {
        quietLibraries();
        return PortTable::instance().open(Port::Kind::Stream, nullptr);
    });
}

KX_PLAY_API int32_t KX_PLAY_CloseStream(int32_t nPort) {
    return guarded([&] { return PortTable::instance().close(nPort, Port::Kind::Stream); });
}

KX_PLAY_API int32_t KX_PLAY_SetPlayWnd(int32_t nPort, KX_PLAY_HWND hWnd) {
    return onPort(nPort, [&](Port& p) { return p.setRenderTarget(hWnd); });
}

KX_PLAY_API int32_t KX_PLAY_Play(int32_t nPort) {
    return onPort(nPort, [&](Port& p) { return p.play(); });
}

KX_PLAY_API int32_t KX_PLAY_Stop(int32_t nPort) {
    return onPort(nPort, [&](Port& p) { return p.onOwnThread() ? KX_PLAY_FAIL : p.stop(); });
}

KX_PLAY_API int32_t KX_PLAY_Pause(int32_t nPort, int32_t bPause) {
    return onPort(nPort, [&](Port& p) { return p.pause(bPause != 0); });
}

KX_PLAY_API int32_t KX_PLAY_SetSpeed(int32_t nPort, int32_t nLevel) {
    return onPort(nPort, [&](Port& p) { return p.setSpeed(nLevel); });
}

KX_PLAY_API int32_t KX_PLAY_GetSpeed(int32_t nPort, int32_t* pLevel) {
    return onPort(nPort, [&](Port& p) -> int32_t {
        if (pLevel == nullptr) return KX_PLAY_FAIL;
        *pLevel = p.speed();
        return KX_PLAY_OK;
    });
}

KX_PLAY_API int32_t KX_PLAY_SetPlayTime(int32_t nPort, int64_t llTime) {
    return onPort(nPort, [&](Port& p) { return p.setPlayTime(llTime); });
}

KX_PLAY_API int32_t KX_PLAY_GetPlayTime(int32_t nPort, int64_t* pTime) {
    return onPort(nPort, [&](Port& p) -> int32_t {
        if (pTime == nullptr) return KX_PLAY_FAIL;
        int64_t t = 0;
        if (p.playTime(t) < 0) return KX_PLAY_FAIL;
        *pTime = t;
        return KX_PLAY_OK;
    });
}

KX_PLAY_API int32_t KX_PLAY_GetFileTime(const char* szPath, int64_t* pStart, int64_t* pEnd) {
    return guarded([&]() -> int32_t {
        quietLibraries();
        if (!validPath(szPath) || pStart == nullptr || pEnd == nullptr) return KX_PLAY_FAIL;
        const std::string p(szPath);
        const auto kind = kx::play::probeFile(p);
        int64_t s = 0;
        int64_t e = 0;
        bool ok = false;
        if (kind == kx::play::FileKind::Avi) ok = kx::play::aviFileTime(p, s, e);
        if (kind == kx::play::FileKind::Qf) ok = kx::play::qfFileTime(p, s, e);
        if (!ok) return KX_PLAY_FAIL;
        *pStart = s;
        *pEnd = e;
        return KX_PLAY_OK;
    });
}

KX_PLAY_API int32_t KX_PLAY_OpenSound(int32_t nPort) {
    return onPort(nPort, [&](Port& p) { return p.openSound(); });
}

KX_PLAY_API int32_t KX_PLAY_CloseSound(int32_t nPort) {
    return onPort(nPort, [&](Port& p) { return p.closeSound(); });
}

KX_PLAY_API int32_t KX_PLAY_InputData(int32_t nPort, const uint8_t* pBuf, uint32_t nSize) {
    return onPort(nPort, [&](Port& p) { return p.inputData(pBuf, nSize); });
}

KX_PLAY_API int32_t KX_PLAY_SetDecCallBack(int32_t nPort, KX_PLAY_DecCallBack fnDec, void* pUser) {
    return onPort(nPort, [&](Port& p) { return p.setDecCallback(fnDec, pUser); });
}

KX_PLAY_API int32_t KX_PLAY_SetFillMode(int32_t nPort, int32_t nMode) {
    const int32_t rc = onPort(nPort, [&](Port& p) { return p.setFillMode(nMode); });
    return rc == KX_PLAY_FAIL ? KX_PLAY_FALSE : KX_PLAY_TRUE;
}

KX_PLAY_API int32_t KX_PLAY_SetVolume(int32_t nPort, int32_t nVolume) {
    return onPort(nPort, [&](Port& p) { return p.setVolume(nVolume); });
}

KX_PLAY_API int32_t KX_PLAY_CapturePicture(int32_t nPort, const char* szPath, int32_t) {
    return onPort(nPort, [&](Port& p) -> int32_t {
        if (!validPath(szPath)) return KX_PLAY_FAIL;
        return p.capturePicture(szPath) < 0 ? KX_PLAY_FAIL : KX_PLAY_OK;
    });
}

KX_PLAY_API int32_t KX_PLAY_OpenAviFile(const char* szPath) {
    return guarded([&] { return openFilePort(szPath, true); });
}

KX_PLAY_API int32_t KX_PLAY_CloseAviFile(int32_t nPort) {
    return guarded([&] { return PortTable::instance().close(nPort, Port::Kind::File); });
}

KX_PLAY_API int32_t KX_PLAY_GetAviFileTime(const char* szPath, int64_t* pStart, int64_t* pEnd) {
    return guarded([&]() -> int32_t {
        quietLibraries();
        if (!validPath(szPath) || pStart == nullptr || pEnd == nullptr) return KX_PLAY_FAIL;
        int64_t s = 0;
        int64_t e = 0;
        if (!kx::play::aviFileTime(szPath, s, e)) return KX_PLAY_FAIL;
        *pStart = s;
        *pEnd = e;
        return KX_PLAY_OK;
    });
}

KX_PLAY_API int32_t KX_PLAY_ResetBuffer(int32_t nPort) {
    return onPort(nPort, [&](Port& p) { return p.resetBuffer(); });
}

KX_PLAY_API int32_t KX_PLAY_SetFileEndCallBack(int32_t nPort, KX_PLAY_FileEndCallBack fnEnd,
                                               void* pUser) {
    return onPort(nPort, [&](Port& p) { return p.setFileEndCallback(fnEnd, pUser); });
}

KX_PLAY_API int32_t KX_PLAY_SetRotate(int32_t nPort, int32_t nRotate) {
    return onPort(nPort, [&](Port& p) { return p.setRotate(nRotate); });
}

}  // extern "C"
