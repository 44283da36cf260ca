#include "AACDataSink.h"

#include <new>

namespace kx::sdk {

AACDataSink* AACDataSink::createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient) {
    return CheckCreated(new (std::nothrow) AACDataSink(env, liveClient));
}

}  // namespace kx::sdk
