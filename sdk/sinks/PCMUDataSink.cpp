#include "PCMUDataSink.h"

#include <new>

namespace kx::sdk {

PCMUDataSink* PCMUDataSink::createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient,
                                      uint16_t dataType) {
    return CheckCreated(new (std::nothrow) PCMUDataSink(env, liveClient, dataType));
}

}  // namespace kx::sdk
