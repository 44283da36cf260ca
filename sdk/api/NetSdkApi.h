// The library's exported operations as C++ functions over the single instance. The exports
// in KXRtspSdk.cpp forward here and catch anything thrown; tests call these directly.
#pragma once

#include <cstdint>

#include "KXRtspSdk.h"

namespace kx::sdk::api {

int32_t Init(int32_t reserved1, int32_t reserved2, int32_t logLevelMask);
void Cleanup();
bool IsInitialised();
int32_t Login(const char* host, uint16_t port, const char* userName, const char* password);
int32_t Logout(int32_t loginHandle);
int32_t RealPlay(int32_t loginHandle, uint16_t portOffset, int32_t reserved, int32_t useTcp,
                 const char* path, int32_t forceMulticast);
int32_t StopRealPlay(int32_t realHandle);
int32_t SetRealPlayEndCallBack(int32_t realHandle, RealPlayEndCallBack fn, void* user);
int32_t SetRealPlayAutoReconnect(int32_t realHandle, AutoReconnectCallBack fn, void* user,
                                 int32_t reserved);
int32_t SetRealDataCallBack(int32_t realHandle, RealDataCallBack fn, void* user);
int32_t SaveRealData(int32_t realHandle, const char* fileName);
int32_t StopSaveRealData(int32_t realHandle);
int32_t OpenSound(int32_t realHandle);
int32_t CloseSound(int32_t realHandle);
int32_t GetVideoLength(int32_t realHandle);
int32_t SeekAndPlay(int32_t realHandle, int32_t position);
int32_t GetCurrentTime(int32_t realHandle);

}  // namespace kx::sdk::api
