// The shared library exports the KX_PLAY_* functions and nothing of its inside.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "KXPlaySdk.h"

namespace {

// The result names keep the values callers were built against.
static_assert(KX_PLAY_OK == 0 && KX_PLAY_FAIL == -1);
static_assert(KX_PLAY_TRUE == 1 && KX_PLAY_FALSE == 0);

TEST(Exports, EveryFunctionByNameAndNothingElse) {
    void* lib = dlopen(KXPLAY_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    const char* names[] = {
        "KX_PLAY_Init",           "KX_PLAY_Cleanup",     "KX_PLAY_OpenFile",
        "KX_PLAY_CloseFile",      "KX_PLAY_OpenStream",  "KX_PLAY_CloseStream",
        "KX_PLAY_SetPlayWnd",     "KX_PLAY_Play",        "KX_PLAY_Stop",
        "KX_PLAY_Pause",          "KX_PLAY_SetSpeed",    "KX_PLAY_GetSpeed",
        "KX_PLAY_SetPlayTime",    "KX_PLAY_GetPlayTime", "KX_PLAY_GetFileTime",
        "KX_PLAY_OpenSound",      "KX_PLAY_CloseSound",  "KX_PLAY_InputData",
        "KX_PLAY_SetDecCallBack", "KX_PLAY_SetFillMode", "KX_PLAY_SetVolume",
        "KX_PLAY_CapturePicture", "KX_PLAY_OpenAviFile", "KX_PLAY_CloseAviFile",
        "KX_PLAY_GetAviFileTime", "KX_PLAY_ResetBuffer", "KX_PLAY_SetFileEndCallBack",
        "KX_PLAY_SetRotate"};
    for (const char* n : names) EXPECT_NE(dlsym(lib, n), nullptr) << n;
    EXPECT_EQ(dlsym(lib, "_ZN2kx4play9PortTable8instanceEv"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN2kx5frame8scanNextEPKhmmm"), nullptr);

    // The library works through its exports alone.
    using Open = int32_t (*)();
    using Close = int32_t (*)(int32_t);
    auto open = reinterpret_cast<Open>(dlsym(lib, "KX_PLAY_OpenStream"));
    auto close = reinterpret_cast<Close>(dlsym(lib, "KX_PLAY_CloseStream"));
    const int32_t port = open();
    EXPECT_GE(port, 0);
    EXPECT_GE(close(port), 0);
    EXPECT_LT(close(port), 0);
    dlclose(lib);
}

}  // namespace
