#include "G7221DataSink.h"

#include <new>

namespace kx::sdk {

G7221DataSink* G7221DataSink::createNew(kx::media::UsageEnvironment& env, CLiveClient* liveClient) {
    return CheckCreated(new (std::nothrow) G7221DataSink(env, liveClient));
}

}  // namespace kx::sdk
